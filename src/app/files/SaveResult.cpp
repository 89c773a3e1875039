#include "app/files/SaveResult.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <vector>

#include "app/files/RecycleBin.h"
#include "app/files/SafeWrite.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

// Combo index -> code; the reverse is found by search.
constexpr int kCodeOfComboIndex[kSaveMethodCount] = {
    smResultFolder, smRecycleBin, smBackupExtension, smOriginalFolder, smOverwrite};
constexpr const char* kResultFolderName = "result";
constexpr const char* kOriginalFolderName = "original";

// NAME.EXT -> NAME.bak; a name without a dot gets ".bak" appended.
std::string BackupName(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ".bak";
}

// An unknown code must never replace the input: it counts as smResultFolder.
int KnownSaveMethod(int code) {
    return code >= 0 && code < kSaveMethodCount ? code : smResultFolder;
}

TFileTimes WantedTimes(const TFileTimes& times, const TSaveOptions& options) {
    TFileTimes wanted;
    if (options.KeepTimeStampCreate) wanted.Creation = times.Creation;
    if (options.KeepTimeStampWrite) wanted.LastWrite = times.LastWrite;
    return wanted;
}

// What a file's placing means for the save; where is the path it concerns.
TSaveResult Outcome(TPlaced placed, const std::string& where) {
    switch (placed) {
        case TPlaced::Done:
            return {TSaveOutcome::Saved, ""};
        case TPlaced::NotRegular:
            return {TSaveOutcome::NotRegularFile, where};
        case TPlaced::IsTheInput:
            return {TSaveOutcome::OutputIsInput, where};
        case TPlaced::NameTaken:
            return {TSaveOutcome::KeptCopyNameTaken, where};
        case TPlaced::Changed:
            break;
    }
    return {TSaveOutcome::InputChanged, where};
}

// The photo itself, open, as the save is about to keep or replace it.
struct TInput {
    std::optional<TFolder> Folder;  // the folder that holds its file
    std::string Name;
    TFileDescriptor Fd;
    TFileIdentity Identity;
    TFileAttributes Attributes;  // handed on to what replaces it and to its copies
};

// Opens the file at path that a keeping method is about: a link is followed
// only where its owner is trusted; the file must be a regular one and, with
// loaded given, still the file that was loaded.
TSaveResult OpenInput(const std::string& path, const std::optional<TFileIdentity>& loaded,
                      TInput& input) {
    const TNamedTarget named = ResolveNamedTarget(path);
    if (named.Kind == TNamedTarget::TKind::UntrustedLink)
        return {TSaveOutcome::UntrustedLink, path};
    if (named.Kind == TNamedTarget::TKind::Followed) input.Folder = TFolder::Open(named.Folder);
    if (!input.Folder) return {TSaveOutcome::InputChanged, path};
    input.Name = named.Name;
    struct stat info {};
    input.Fd = TFileDescriptor(OpenRegularFile(input.Folder->Fd(), input.Name, info, O_NOFOLLOW));
    if (!input.Fd.Valid()) {
        const std::optional<struct stat> there = input.Folder->Entry(input.Name);
        return {there ? TSaveOutcome::NotRegularFile : TSaveOutcome::InputChanged, path};
    }
    input.Identity = IdentityOfStat(info);
    input.Attributes = {static_cast<mode_t>(info.st_mode & 07777), info.st_uid, info.st_gid};
    if (loaded && !SameFile(input.Identity, *loaded)) return {TSaveOutcome::InputChanged, path};
    return {};
}

bool StillTheSame(const TInput& input) {
    const std::optional<struct stat> now = input.Folder->Entry(input.Name);
    return now && SameFile(IdentityOfStat(*now), input.Identity);
}

// The result or original folder beside the photo: a real folder of a
// trusted owner, not the photo's own folder; shown is the output that
// would go into it, for a refusal's message.
TSaveResult OpenOwnFolder(const TFolder& parent, const std::string& name,
                          std::optional<TFolder>& folder, const std::string& shown) {
    TFolder::TSubFolder outcome{};
    folder = parent.OpenSubFolder(name, outcome);
    switch (outcome) {
        case TFolder::TSubFolder::Opened:
            return {};
        case TFolder::TSubFolder::Untrusted:
            return {TSaveOutcome::UntrustedFolder, parent.Path() + name};
        case TFolder::TSubFolder::SameFolder:
            return {TSaveOutcome::OutputIsInput, shown};
        case TFolder::TSubFolder::CannotMake:
            break;
    }
    return {TSaveOutcome::KeepFailed, parent.Path() + name};
}

// Copies the open input into folder under name, with the input's
// attributes and both its times; shown is the copy's path for messages.
TSaveResult KeepCopy(const TInput& input, const TFolder& folder, const std::string& name,
                     const std::string& shown, const TFileTimes& times) {
    std::vector<std::uint8_t> bytes;
    struct stat after {};
    if (!ReadWholeFile(input.Fd.Get(), bytes, static_cast<std::size_t>(input.Identity.Size),
                       kMaxPhotoBytes) ||
        ::fstat(input.Fd.Get(), &after) != 0)
        return {TSaveOutcome::KeepFailed, shown};
    // Written to while it was copied: the copy would not be what was loaded.
    if (!SameFile(IdentityOfStat(after), input.Identity))
        return {TSaveOutcome::InputChanged, shown};
    try {
        TPendingFile copy(folder, bytes, times, input.Attributes, shown);
        return Outcome(copy.Place(name, {.NotThis = input.Identity, .OnlyIfHolding = bytes}),
                       shown);
    } catch (const EStreamError&) {
        return {TSaveOutcome::KeepFailed, shown};
    }
}

TSaveResult SaveIntoResultFolder(const TMemoryStream& data, const std::string& path,
                                 const TFileTimes& wanted,
                                 const std::optional<TFileIdentity>& loaded) {
    const TSavePaths paths = SavePathsFor(smResultFolder, path);
    const std::optional<TFolder> parent = TFolder::Open(FolderPart(path));
    if (!parent) throw EStreamError(FormatPathText(kFileCannotCreate, paths.Output));
    std::optional<TFolder> folder;
    if (TSaveResult refused = OpenOwnFolder(*parent, kResultFolderName, folder, paths.Output);
        refused.Outcome != TSaveOutcome::Saved) {
        // A folder that cannot be made shows as the output that cannot be written.
        if (refused.Outcome == TSaveOutcome::KeepFailed)
            throw EStreamError(CannotCreateText(paths.Output, errno));
        return refused;
    }
    // The copy is as private as the photo.
    const std::optional<TFileIdentity> source = loaded ? loaded : IdentityOf(path);
    std::optional<TFileAttributes> attributes;
    if (source) attributes = TFileAttributes{source->Mode, std::nullopt, std::nullopt};
    TPendingFile output(*folder, data.Bytes(), wanted, attributes, paths.Output);
    return Outcome(output.Place(FileNamePart(path), {.NotThis = source}), paths.Output);
}

// The trash method: the output is already written; the photo goes to the
// trash, then the output takes its name. A hard link puts the photo into the
// trash while it keeps its name, so that at every moment the photo is at
// its path or the output is there and the photo in the trash.
TSaveResult ReplaceIntoTrash(TInput& input, TPendingFile& output, const std::string& path) {
    const std::string resolved = input.Folder->Path() + input.Name;
    std::optional<TTrashSlot> slot = TTrashSlot::Reserve(resolved);
    if (!slot) return {TSaveOutcome::KeepFailed, path};
    if (slot->Link(input.Fd.Get())) {
        const TSaveResult placed =
            Outcome(output.Place(input.Name, {.Expected = input.Identity}), path);
        if (placed.Outcome == TSaveOutcome::Saved) slot->Keep();
        return placed;  // else the slot takes the photo's second name back
    }
    // No hard links here: the photo moves to the trash first and the output
    // takes the name it leaves.
    if (!StillTheSame(input)) return {TSaveOutcome::InputChanged, path};
    if (!slot->Move(resolved)) return {TSaveOutcome::KeepFailed, path};
    TSaveResult placed{TSaveOutcome::InputChanged, path};
    try {
        placed = Outcome(output.Place(input.Name, {.MustBeFree = true}), path);
    } catch (const EStreamError&) {
        if (!slot->MoveBack(resolved)) slot->Keep();  // in the trash it stays restorable
        throw;
    }
    if (placed.Outcome == TSaveOutcome::Saved || !slot->MoveBack(resolved)) slot->Keep();
    return placed;
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
            return {folder + kResultFolderName, "", folder + kResultFolderName + "/" + name};
        case smBackupExtension:
            return {"", folder + BackupName(name), path};
        case smOriginalFolder:
            return {folder + kOriginalFolderName, folder + kOriginalFolderName + "/" + name, path};
        default:  // smRecycleBin, smOverwrite
            return {"", "", path};
    }
}

TSaveResult SaveResult(const TMemoryStream& data, const std::string& path, const TFileTimes& times,
                       const TSaveOptions& options, const std::optional<TFileIdentity>& loaded) {
    const int method = KnownSaveMethod(options.SaveMethod);
    const TFileTimes wanted = WantedTimes(times, options);
    if (method == smResultFolder) return SaveIntoResultFolder(data, path, wanted, loaded);

    TInput input;
    if (TSaveResult refused = OpenInput(path, loaded, input);
        refused.Outcome != TSaveOutcome::Saved)
        return refused;
    // As writing over a read-only file fails on the system this tool comes
    // from; the trash takes such a photo all the same.
    if (method != smRecycleBin && (input.Attributes.Mode & S_IWUSR) == 0)
        return {TSaveOutcome::ReadOnlyInput, path};
    // Written whole before the photo is touched: a full disk ends the save here.
    TPendingFile output(*input.Folder, data.Bytes(), wanted, input.Attributes, path);
    if (method == smRecycleBin) return ReplaceIntoTrash(input, output, path);

    // Keep step: the kept copy is complete on disk before the input is replaced.
    const TSavePaths paths = SavePathsFor(method, path);
    if (!paths.KeptCopy.empty()) {
        const std::optional<TFolder> listed = TFolder::Open(FolderPart(path));
        if (!listed) return {TSaveOutcome::KeepFailed, paths.KeptCopy};
        std::optional<TFolder> original;
        if (method == smOriginalFolder) {
            if (TSaveResult refused =
                    OpenOwnFolder(*listed, kOriginalFolderName, original, paths.KeptCopy);
                refused.Outcome != TSaveOutcome::Saved)
                return refused;
        }
        const TSaveResult kept = KeepCopy(input, original ? *original : *listed,
                                          FileNamePart(paths.KeptCopy), paths.KeptCopy, times);
        if (kept.Outcome != TSaveOutcome::Saved) {
            // A folder made for nothing does not stay.
            if (original && original->Made())
                ::unlinkat(listed->Fd(), kOriginalFolderName, AT_REMOVEDIR);
            return kept;
        }
    }
    return Outcome(output.Place(input.Name, {.Expected = input.Identity}), path);
}

TSaveResult WriteOutputFile(const TMemoryStream& data, const std::string& target,
                            const TFileTimes& times, const TSaveOptions& options,
                            const TFileIdentity& input) {
    const TNamedTarget named = ResolveNamedTarget(target);
    if (named.Kind == TNamedTarget::TKind::UntrustedLink)
        return {TSaveOutcome::UntrustedLink, target};
    std::optional<TFolder> folder;
    if (named.Kind == TNamedTarget::TKind::Followed) folder = TFolder::Open(named.Folder);
    if (!folder) throw EStreamError(FormatPathText(kFileCannotCreate, target));
    TPendingFile output(*folder, data.Bytes(), WantedTimes(times, options),
                        TFileAttributes{input.Mode, std::nullopt, std::nullopt}, target);
    return Outcome(output.Place(named.Name, {.NotThis = input}), target);
}

}  // namespace plume
