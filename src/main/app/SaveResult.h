// Storing the result of one file by the chosen save method: the input is
// kept (in a "result" folder's neighbour, the recycle bin, a ".bak" copy, an
// "original" folder, or not at all) before the output takes its place.
#pragma once

#include <string>

#include "BitStreamFile/MemoryStream.h"
#include "app/FileAccess.h"

namespace plume {

// Save-method codes, as stored in gSaveMethod.
enum TSaveMethod : int {
    smResultFolder = 0,     // output into "result/" beside the input; input untouched
    smRecycleBin = 1,       // input to the recycle bin, output in its place
    smBackupExtension = 2,  // input copied to NAME.bak, output in its place
    smOverwrite = 3,        // output in the input's place, input not kept
    smOriginalFolder = 4,   // input copied into "original/", output in its place
};
inline constexpr int kSaveMethodCount = 5;

// cbo_SaveMethod lists the methods in the order 0, 1, 2, 4, 3.
// GetSaveMethod: the code of a combo index; an unknown index (-1 for no
// selection included) gives smResultFolder.
int GetSaveMethod(int comboIndex);
// SetSaveMethod: the combo index that selects code; an unknown code leaves
// currentComboIndex.
int SetSaveMethod(int code, int currentComboIndex);

// What SaveResult reads from the options at the moment it runs.
struct TSaveOptions {
    int SaveMethod = smResultFolder;
    bool KeepTimeStampCreate = true;  // chk_KeepTimeStamp_Create
    bool KeepTimeStampWrite = true;   // chk_KeepTimeStamp_Write
};

// The paths one save method uses for the input path P.
struct TSavePaths {
    std::string Folder;    // made if missing ("result" or "original"), else empty
    std::string KeptCopy;  // the copy of the input (".bak" or in "original"), else empty
    std::string Output;    // where the data is written
};
TSavePaths SavePathsFor(int saveMethod, const std::string& path);

enum class TSaveOutcome {
    Saved,
    // The input could not be kept (copy, folder or recycle bin failed); it was
    // left as it was and nothing was written.
    KeepFailed,
    // The kept copy's name is taken by a file with other bytes than the
    // input's (a copy kept earlier, of this input or of a name twin such as
    // photo.JPG beside photo.jpg): that file stays, nothing was written.
    KeptCopyNameTaken,
    // The file at the input's path is no longer the one that was loaded
    // (another program wrote or replaced it): it was not replaced, and a
    // copy already kept stays.
    InputChanged,
};

// Keeps the input by options.SaveMethod, then writes all of data to the
// method's output path and gives it the input's times as the two options say.
// Kept copies always receive both times; an existing file of a kept copy's
// name is replaced only when it holds the same bytes. A photo that its owner
// may not write (no owner write bit) is not replaced by the methods that
// write over it (overwrite, ".bak", "original"): after the keep step they
// throw the create error with its path, as writing over a read-only file
// does on the system this tool comes from. With loaded given, the methods that
// replace the input first make sure that the file at path is still that one
// (right before it goes to the trash, or is replaced). A write failure throws
// EStreamError ("ファイル %s を作成できません") and leaves the input in place.
TSaveOutcome SaveResult(const TMemoryStream& data, const std::string& path, const TFileTimes& times,
                        const TSaveOptions& options,
                        const std::optional<TFileIdentity>& loaded = std::nullopt);

// Writes all of data to target safely, with the times the two options ask
// for; the write step of SaveResult, and the console's -o. False, with
// nothing written, when replaced is given and target is no longer that file.
bool WriteResultFile(const TMemoryStream& data, const std::string& target, const TFileTimes& times,
                     const TSaveOptions& options,
                     const std::optional<TFileAttributes>& attributes = std::nullopt,
                     const std::optional<TFileIdentity>& replaced = std::nullopt);

}  // namespace plume
