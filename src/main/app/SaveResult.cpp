#include "app/SaveResult.h"

#include <QFile>
#include <QString>

#include "app/AppTexts.h"

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

bool MoveToRecycleBin(const std::string& path) {
    return QFile::moveToTrash(QFile::decodeName(QByteArray::fromStdString(path)));
}

void WriteResultFile(const TMemoryStream& data, const std::string& target, const TFileTimes& times,
                     const TSaveOptions& options,
                     const std::optional<TFileAttributes>& attributes) {
    TFileTimes wanted;
    if (options.KeepTimeStampCreate) wanted.Creation = times.Creation;
    if (options.KeepTimeStampWrite) wanted.LastWrite = times.LastWrite;
    WriteFileReplacing(target, data.Bytes(), wanted, attributes);
}

TSaveOutcome SaveResult(const TMemoryStream& data, const std::string& path, const TFileTimes& times,
                        const TSaveOptions& options) {
    const int method = KnownSaveMethod(options.SaveMethod);
    const TSavePaths paths = SavePathsFor(method, path);
    std::optional<TFileAttributes> attributes;

    // Keep step: the kept copy is complete on disk before the input is replaced.
    switch (method) {
        case smResultFolder:
            // A failure shows when the output cannot be written into it.
            EnsureFolder(paths.Folder);
            break;
        case smRecycleBin:
            // The input's permission bits and owner go to the file that takes its place.
            attributes = ReadAttributes(path);
            if (!MoveToRecycleBin(path)) return TSaveOutcome::KeepFailed;
            break;
        case smBackupExtension:
            if (!CopyFileWithTimes(path, paths.KeptCopy, times)) return TSaveOutcome::KeepFailed;
            break;
        case smOriginalFolder:
            if (!EnsureFolder(paths.Folder) || !CopyFileWithTimes(path, paths.KeptCopy, times))
                return TSaveOutcome::KeepFailed;
            break;
        default:  // smOverwrite
            break;
    }
    WriteResultFile(data, paths.Output, times, options, attributes);
    return TSaveOutcome::Saved;
}

}  // namespace plume
