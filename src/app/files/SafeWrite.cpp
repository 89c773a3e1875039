#include "app/files/SafeWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/texts/AppTexts.h"

namespace plume {
namespace {

constexpr std::string_view kTemporaryPrefix = ".plume-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTemporaryDigits = 16;
// Links followed at most on the way to a file, as the kernel's own limit.
constexpr int kMaxLinkHops = 40;

// The create error, with the cause on a second line where the system named one.
[[noreturn]] void ThrowCannotCreate(const std::string& path, int error = errno) {
    throw EStreamError(CannotCreateText(path, error));
}

// A fresh hidden name of plume's own form: ".plume-<16 hex digits>.tmp".
std::string TemporaryName() {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937_64 random(std::random_device{}() ^
                                        (std::uint64_t{static_cast<unsigned>(::getpid())} << 32) ^
                                        counter.fetch_add(1));
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random()));
    return std::string(kTemporaryPrefix) + digits + std::string(kTemporarySuffix);
}

bool IsTemporaryName(std::string_view name) {
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    const std::string_view digits = name.substr(kTemporaryPrefix.size(), kTemporaryDigits);
    return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// Removes the temporary files of plume's own naming that belong to this user
// and that no process holds (a live write keeps its file locked), once per
// folder and process: what a killed run left behind.
void SweepLeftovers(const TFolder& folder) {
    // A folder is known by its inode and, where the file system keeps one,
    // its birth time: a folder made where another was removed may get the
    // same inode.
    struct statx birth {};
    if (::statx(folder.Fd(), "", AT_EMPTY_PATH, STATX_BTIME, &birth) != 0 ||
        !(birth.stx_mask & STATX_BTIME))
        birth.stx_btime = {};
    const auto key = std::make_tuple(folder.Status().st_dev, folder.Status().st_ino,
                                     birth.stx_btime.tv_sec, birth.stx_btime.tv_nsec);
    static std::mutex mutex;
    static std::set<std::remove_const_t<decltype(key)>> swept;
    {
        const std::lock_guard lock(mutex);
        if (!swept.insert(key).second) return;
    }
    const int listing = ::fcntl(folder.Fd(), F_DUPFD_CLOEXEC, 0);
    if (listing < 0) return;
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryName(entry->d_name)) continue;
        const std::optional<struct stat> there = folder.Entry(entry->d_name);
        if (!there || !S_ISREG(there->st_mode) || there->st_uid != ::geteuid()) continue;
        struct stat opened {};
        TFileDescriptor fd(OpenRegularFile(folder.Fd(), entry->d_name, opened, O_NOFOLLOW));
        if (!fd.Valid() || opened.st_ino != there->st_ino) continue;
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) ::unlinkat(folder.Fd(), entry->d_name, 0);
    }
    ::closedir(dir);
}

// Writes bytes whole, a megabyte at a time: the disk is asked to start on
// each as soon as it is in the page cache, so that the fsync that follows
// waits only for the last ones.
bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kStep = std::size_t{1} << 20;
    std::size_t done = 0, started = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, std::min(kStep, bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
        if (done - started >= kStep || done == bytes.size()) {
            // Only a hint: the fsync still makes the bytes durable.
            ::sync_file_range(fd, static_cast<off_t>(started), static_cast<off_t>(done - started),
                              SYNC_FILE_RANGE_WRITE);
            started = done;
        }
    }
    return true;
}

// Sets the times that are given; the last-access time is left alone
// (UTIME_OMIT). The creation time cannot be set on Linux and is skipped.
void ApplyTimes(int fd, const TFileTimes& times) {
    if (!times.LastWrite) return;
    const timespec both[2] = {{0, UTIME_OMIT}, *times.LastWrite};
    ::futimens(fd, both);  // a time that cannot be set is no reason to fail the save
}

bool HandOnAttributes(int fd, const std::optional<TFileAttributes>& attributes) {
    if (!attributes) return ::fchmod(fd, NewFileMode()) == 0;
    // The owner first: a change of owner clears the set-id bits.
    struct stat info {};
    if (::fstat(fd, &info) == 0) {
        const uid_t owner = attributes->Owner.value_or(info.st_uid);
        const gid_t group = attributes->Group.value_or(info.st_gid);
        if (owner != info.st_uid || group != info.st_gid)
            (void)::fchown(fd, owner, group);  // refused unless privileged
    }
    return ::fchmod(fd, attributes->Mode) == 0;
}

// Whether the regular file seen as info at name holds exactly bytes.
bool Holds(const TFolder& folder, const std::string& name, const struct stat& info,
           std::span<const std::uint8_t> bytes) {
    if (static_cast<std::uint64_t>(info.st_size) != bytes.size()) return false;
    struct stat opened {};
    TFileDescriptor fd(OpenRegularFile(folder.Fd(), name, opened, O_NOFOLLOW));
    if (!fd.Valid() || opened.st_ino != info.st_ino) return false;
    std::vector<std::uint8_t> existing;
    return ReadWholeFile(fd.Get(), existing, bytes.size(), bytes.size()) &&
           std::equal(existing.begin(), existing.end(), bytes.begin(), bytes.end());
}

mode_t ReadUmask() {
    // Read, not set: umask() itself would change it for every thread.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (!line.starts_with("Umask:")) continue;
        try {
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
        } catch (const std::exception&) {
            break;
        }
    }
    return 022;
}

}  // namespace

bool TrustedOwner(uid_t owner, uid_t folderOwner) {
    return owner == ::geteuid() || owner == folderOwner || owner == 0;
}

mode_t NewFileMode() {
    static const mode_t mode = 0666 & ~ReadUmask();
    return mode;
}

bool LinkOpenFile(int fd, int folderFd, const std::string& name) {
    // Without the capability AT_EMPTY_PATH asks for, the file's entry in
    // /proc names it just as well.
    if (::linkat(fd, "", folderFd, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM) return false;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

TFolder::TFolder(TFileDescriptor fd, std::string path, const struct stat& status)
    : fd_(std::move(fd)), path_(std::move(path)), status_(status) {
    if (!path_.empty() && !path_.ends_with('/')) path_ += '/';
}

std::optional<TFolder> TFolder::Open(const std::string& path) {
    TFileDescriptor fd(
        ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!fd.Valid() || ::fstat(fd.Get(), &status) != 0) return std::nullopt;
    return TFolder(std::move(fd), path, status);
}

std::optional<TFolder> TFolder::OpenSubFolder(const std::string& name, TSubFolder& outcome) const {
    // Where it exists already, it is looked at below.
    const bool made = ::mkdirat(Fd(), name.c_str(), 0777) == 0;
    const int makeError = made || errno == EEXIST ? 0 : errno;
    TFileDescriptor fd(
        ::openat(Fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!fd.Valid()) {
        // Why it could not be made, rather than that it is not there.
        if (makeError != 0) errno = makeError;
        const int error = errno;
        outcome = TSubFolder::CannotMake;
        const std::optional<struct stat> there = Entry(name);
        if (there && S_ISLNK(there->st_mode)) {
            // A link is never written through; one back to this folder
            // would make the output the input.
            const bool here = ::fstatat(Fd(), name.c_str(), &status, 0) == 0 &&
                              status.st_dev == status_.st_dev && status.st_ino == status_.st_ino;
            outcome = here ? TSubFolder::SameFolder : TSubFolder::Untrusted;
        }
        errno = error;
        return std::nullopt;
    }
    if (::fstat(fd.Get(), &status) != 0) {
        outcome = TSubFolder::CannotMake;
        return std::nullopt;
    }
    if (!TrustedOwner(status.st_uid, status_.st_uid)) {
        outcome = TSubFolder::Untrusted;
        return std::nullopt;
    }
    if (status.st_dev == status_.st_dev && status.st_ino == status_.st_ino) {
        outcome = TSubFolder::SameFolder;
        return std::nullopt;
    }
    outcome = TSubFolder::Opened;
    TFolder folder(std::move(fd), path_ + name, status);
    folder.made_ = made;
    return folder;
}

std::optional<struct stat> TFolder::Entry(const std::string& name) const {
    struct stat info {};
    if (::fstatat(Fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return info;
}

void TFolder::Sync() const {
    ::fsync(Fd());
}

TNamedTarget ResolveNamedTarget(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        const std::string folder = FolderPart(current);
        struct stat folderStatus {};
        if (::stat(folder.empty() ? "." : folder.c_str(), &folderStatus) != 0 ||
            !S_ISDIR(folderStatus.st_mode))
            return {TNamedTarget::TKind::NoFolder};
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return {TNamedTarget::TKind::Followed, folder, FileNamePart(current)};
        if (!TrustedOwner(info.st_uid, folderStatus.st_uid))
            return {TNamedTarget::TKind::UntrustedLink, folder, FileNamePart(current)};
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
            return {TNamedTarget::TKind::NoFolder};
        const std::string next(target, static_cast<std::size_t>(length));
        current = next.starts_with('/') ? next : folder + next;
    }
    return {TNamedTarget::TKind::NoFolder};
}

TPendingFile::TPendingFile(const TFolder& folder, std::span<const std::uint8_t> bytes,
                           const TFileTimes& times,
                           const std::optional<TFileAttributes>& attributes, std::string shownPath)
    : folder_(folder), shownPath_(std::move(shownPath)) {
    SweepLeftovers(folder_);
    // Unnamed: nobody can open it, and a kill leaves nothing behind.
    fd_ = TFileDescriptor(::openat(folder_.Fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!fd_.Valid()) {
        // A file system without unnamed files: a hidden one that only this
        // user may open.
        for (int attempt = 0; attempt < 100 && !fd_.Valid(); ++attempt) {
            const std::string name = TemporaryName();
            TFileDescriptor fd(::openat(folder_.Fd(), name.c_str(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                        0600));
            if (!fd.Valid()) {
                if (errno == EEXIST) continue;
                ThrowCannotCreate(shownPath_);
            }
            // Another run's sweep may have taken the name between the open
            // and the lock: the file is ours only if the name still leads to it.
            struct stat opened {};
            ::flock(fd.Get(), LOCK_EX);
            const std::optional<struct stat> there = folder_.Entry(name);
            if (::fstat(fd.Get(), &opened) == 0 && there && there->st_ino == opened.st_ino) {
                fd_ = std::move(fd);
                hidden_ = name;
            }
        }
        if (!fd_.Valid()) ThrowCannotCreate(shownPath_);
    } else {
        ::flock(fd_.Get(), LOCK_EX);
    }
    bool written = WriteAll(fd_.Get(), bytes) && HandOnAttributes(fd_.Get(), attributes);
    if (written) {
        ApplyTimes(fd_.Get(), times);
        written = ::fsync(fd_.Get()) == 0;
    }
    if (!written) {
        const int error = errno;
        DropHiddenName();
        ThrowCannotCreate(shownPath_, error);
    }
}

TPendingFile::~TPendingFile() {
    if (!placed_) DropHiddenName();
}

bool TPendingFile::LinkAs(const std::string& name) {
    if (hidden_.empty()) return LinkOpenFile(fd_.Get(), folder_.Fd(), name);
    if (::renameat2(folder_.Fd(), hidden_.c_str(), folder_.Fd(), name.c_str(), RENAME_NOREPLACE) ==
        0) {
        hidden_.clear();
        return true;
    }
    // A file system that cannot refuse to replace in a rename: a link refuses.
    if (errno != EINVAL ||
        ::linkat(folder_.Fd(), hidden_.c_str(), folder_.Fd(), name.c_str(), 0) != 0)
        return false;
    DropHiddenName();
    return true;
}

void TPendingFile::GiveHiddenName() {
    for (int attempt = 0; attempt < 100 && hidden_.empty(); ++attempt) {
        const std::string name = TemporaryName();
        if (LinkOpenFile(fd_.Get(), folder_.Fd(), name)) {
            hidden_ = name;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (hidden_.empty()) ThrowCannotCreate(shownPath_);
}

void TPendingFile::DropHiddenName() {
    if (hidden_.empty()) return;
    // Only while the name still leads to this file.
    struct stat own {};
    const std::optional<struct stat> there = folder_.Entry(hidden_);
    if (there && ::fstat(fd_.Get(), &own) == 0 && there->st_ino == own.st_ino)
        ::unlinkat(folder_.Fd(), hidden_.c_str(), 0);
    hidden_.clear();
}

TPlaced TPendingFile::Place(const std::string& name, const TPlaceRule& rule) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::optional<struct stat> there = folder_.Entry(name);
        if (!there) {
            if (errno != ENOENT) ThrowCannotCreate(shownPath_);
            if (rule.Expected) return TPlaced::Changed;
            if (LinkAs(name)) {
                placed_ = true;
                folder_.Sync();
                return TPlaced::Done;
            }
            if (errno == EEXIST) continue;  // taken meanwhile: look again
            ThrowCannotCreate(shownPath_);
        }
        if (!S_ISREG(there->st_mode)) return TPlaced::NotRegular;
        const TFileIdentity existing = IdentityOfStat(*there);
        if (rule.NotThis && SameInode(existing, *rule.NotThis)) return TPlaced::IsTheInput;
        if (rule.MustBeFree) return TPlaced::Changed;
        if (rule.Expected && !SameFile(existing, *rule.Expected)) return TPlaced::Changed;
        if (rule.OnlyIfHolding && !Holds(folder_, name, *there, *rule.OnlyIfHolding))
            return TPlaced::NameTaken;
        GiveHiddenName();
        // As late as can be: what another program wrote meanwhile is not lost.
        if (rule.Expected) {
            const std::optional<struct stat> now = folder_.Entry(name);
            if (!now || !S_ISREG(now->st_mode) || !SameFile(IdentityOfStat(*now), *rule.Expected))
                return TPlaced::Changed;
        }
        if (::renameat(folder_.Fd(), hidden_.c_str(), folder_.Fd(), name.c_str()) != 0)
            ThrowCannotCreate(shownPath_);
        hidden_.clear();
        placed_ = true;
        folder_.Sync();
        return TPlaced::Done;
    }
    ThrowCannotCreate(shownPath_);
}

bool WriteFileReplacing(const std::string& target, std::span<const std::uint8_t> bytes,
                        const TFileTimes& times, const std::optional<TFileAttributes>& attributes,
                        const std::optional<TFileIdentity>& replaced) {
    const TNamedTarget named = ResolveNamedTarget(target);
    if (named.Kind == TNamedTarget::TKind::UntrustedLink) return false;
    const std::optional<TFolder> folder =
        named.Kind == TNamedTarget::TKind::Followed ? TFolder::Open(named.Folder) : std::nullopt;
    if (!folder) ThrowCannotCreate(target, ENOENT);
    std::optional<TFileAttributes> handedOn = attributes;
    if (!handedOn) {
        if (const std::optional<struct stat> there = folder->Entry(named.Name);
            there && S_ISREG(there->st_mode))
            handedOn = TFileAttributes{static_cast<mode_t>(there->st_mode & 07777), there->st_uid,
                                       there->st_gid};
    }
    TPendingFile file(*folder, bytes, times, handedOn, target);
    return file.Place(named.Name, {.Expected = replaced}) == TPlaced::Done;
}

}  // namespace plume
