// Storing the result of one file by the chosen save method: the input is
// kept (in a "result" folder's neighbour, the recycle bin, a ".bak" copy, an
// "original" folder, or not at all) before the output takes its place.
#pragma once

#include <string>

#include "BitStreamFile/MemoryStream.h"
#include "app/files/FileAccess.h"

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
    // The save was refused before the input was touched, for the path that
    // TSaveResult::Path names:
    NotRegularFile,   // a link, folder, device or pipe stands where a file would go
    UntrustedLink,    // the path is a link of another user (TrustedOwner)
    UntrustedFolder,  // the result or original folder is a link or another user's folder
    OutputIsInput,    // the output would be the input itself, by a link or a mount
    ReadOnlyInput,    // the photo's owner may not write it, and the method writes over it
};

struct TSaveResult {
    TSaveOutcome Outcome = TSaveOutcome::Saved;
    std::string Path;  // what a refusal or a taken name concerns
};

// Keeps the input by options.SaveMethod, then writes all of data to the
// method's output path and gives it the input's times as the two options say.
//
// Nothing is lost on the way: the output is written whole and flushed to
// disk before anything else happens (a full disk ends the save there), the
// kept copy is complete before the input is replaced, and the trash holds
// the input before the output takes its name (a hard link, where the file
// system has them; else the input moves there first). Every file takes its
// name through a folder held open, never through a link, and replaces
// nothing but a regular file; the result and original folders must be real
// folders of a trusted owner (TrustedOwner), and no output may be the input
// itself. A link at the input's path is followed only where its owner is
// trusted, when the input is kept or replaced. The output and the kept
// copies carry the input's permission bits (and owner, where it is handed
// on), so nothing becomes readable that was not.
//
// Kept copies always receive both times; an existing file of a kept copy's
// name is replaced only when it holds the same bytes. A photo that its owner
// may not write (no owner write bit) is not replaced by the methods that
// write over it (overwrite, ".bak", "original"): they refuse it before
// anything is written (ReadOnlyInput). With loaded given, the methods that
// replace the input first make sure that the file at path is still that one.
// A write failure throws EStreamError ("ファイル %s を作成できません", with
// the cause on a second line) and leaves the input in place and nothing
// behind.
TSaveResult SaveResult(const TMemoryStream& data, const std::string& path, const TFileTimes& times,
                       const TSaveOptions& options,
                       const std::optional<TFileIdentity>& loaded = std::nullopt);

// The console's -o: writes all of data to target by the same rules, with
// the times the two options ask for and the input's permission bits; target
// may be new or a regular file, but not the input.
TSaveResult WriteOutputFile(const TMemoryStream& data, const std::string& target,
                            const TFileTimes& times, const TSaveOptions& options,
                            const TFileIdentity& input);

}  // namespace plume
