#include "app/SaveResult.h"

#include <sys/stat.h>

#include "app/AppTexts.h"
#include "app/RecycleBin.h"

namespace plume {
namespace {

// Combo index -> code; the reverse is found by search.
constexpr int kCodeOfComboIndex[kSaveMethodCount] = {
    smResultFolder, smRecycleBin, smBackupExtension, smOriginalFolder, smOverwrite};

// NAME.EXT -> NAME.bak; a name without a dot gets ".bak" appended.
std::string BackupName(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ".bak";
}

// An unknown code must never replace the input: it counts as smResultFolder.
int KnownSaveMethod(int code) {
    return code >= 0 && code < kSaveMethodCount ? code : smResultFolder;
}

// Whether the file at path is still the one that was loaded.
bool IsStill(const std::string& path, const TFileIdentity& loaded) {
    const std::optional<TFileIdentity> now = IdentityOf(path);
    return now && SameFile(*now, loaded);
}

// False for a file whose permission bits give its owner no write access.
bool OwnerMayWrite(const std::string& path) {
    const std::optional<TFileAttributes> attributes = ReadAttributes(path);
    return !attributes || (attributes->Mode & S_IWUSR) != 0;
}

}  // namespace

int GetSaveMethod(int comboIndex) {
    if (comboIndex < 0 || comboIndex >= kSaveMethodCount) return smResultFolder;
    return kCodeOfComboIndex[comboIndex];
}

int SetSaveMethod(int code, int currentComboIndex) {
    for (int index = 0; index < kSaveMethodCount; ++index)
        if (kCodeOfComboIndex[index] == code) return index;
    return currentComboIndex;
}

TSavePaths SavePathsFor(int saveMethod, const std::string& path) {
    saveMethod = KnownSaveMethod(saveMethod);
    const std::string folder = FolderPart(path);
    const std::string name = FileNamePart(path);
    switch (saveMethod) {
        case smResultFolder:
            return {folder + "result", "", folder + "result/" + name};
        case smBackupExtension:
            return {"", folder + BackupName(name), path};
        case smOriginalFolder:
            return {folder + "original", folder + "original/" + name, path};
        default:  // smRecycleBin, smOverwrite
            return {"", "", path};
    }
}

bool WriteResultFile(const TMemoryStream& data, const std::string& target, const TFileTimes& times,
                     const TSaveOptions& options, const std::optional<TFileAttributes>& attributes,
                     const std::optional<TFileIdentity>& replaced) {
    TFileTimes wanted;
    if (options.KeepTimeStampCreate) wanted.Creation = times.Creation;
    if (options.KeepTimeStampWrite) wanted.LastWrite = times.LastWrite;
    return WriteFileReplacing(target, data.Bytes(), wanted, attributes, replaced);
}

TSaveOutcome SaveResult(const TMemoryStream& data, const std::string& path, const TFileTimes& times,
                        const TSaveOptions& options, const std::optional<TFileIdentity>& loaded) {
    const int method = KnownSaveMethod(options.SaveMethod);
    const TSavePaths paths = SavePathsFor(method, path);
    std::optional<TFileAttributes> attributes;
    // Overwrite, ".bak" and "original" write the output over the input
    // itself; the result folder's output replaces no input, and after the
    // trash nothing stands at its path.
    const bool overInput = method != smResultFolder && method != smRecycleBin;
    // The file the output replaces must be the one loaded.
    const std::optional<TFileIdentity> replaced = overInput ? loaded : std::nullopt;

    // Keep step: the kept copy is complete on disk before the input is replaced.
    switch (method) {
        case smResultFolder:
            // A failure shows when the output cannot be written into it.
            EnsureFolder(paths.Folder);
            break;
        case smRecycleBin:
            // Only the file that was loaded goes to the trash.
            if (loaded && !IsStill(path, *loaded)) return TSaveOutcome::InputChanged;
            // Its permission bits and owner go to the file that takes its place.
            attributes = ReadAttributes(path);
            if (!MoveToRecycleBin(path)) return TSaveOutcome::KeepFailed;
            break;
        case smOriginalFolder:
            if (!EnsureFolder(paths.Folder)) return TSaveOutcome::KeepFailed;
            [[fallthrough]];
        case smBackupExtension:
            switch (CopyFileWithTimes(path, paths.KeptCopy, times)) {
                case TCopyOutcome::Copied:
                    break;
                case TCopyOutcome::NameTaken:
                    return TSaveOutcome::KeptCopyNameTaken;
                case TCopyOutcome::Failed:
                    return TSaveOutcome::KeepFailed;
            }
            break;
        default:  // smOverwrite
            break;
    }
    if (overInput && !OwnerMayWrite(path))
        throw EStreamError(FormatPathText(kFileCannotCreate, path));
    if (!WriteResultFile(data, paths.Output, times, options, attributes, replaced))
        return TSaveOutcome::InputChanged;
    return TSaveOutcome::Saved;
}

}  // namespace plume
