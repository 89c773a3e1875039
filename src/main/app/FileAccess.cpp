#include "app/FileAccess.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "app/AppTexts.h"

namespace plume {
namespace {

// Closes a descriptor on every way out of a scope.
class TFileDescriptor {
  public:
    explicit TFileDescriptor(int fd) : fd_(fd) {}
    ~TFileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Closes now and tells whether the close succeeded (it can report a
    // delayed write error).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

TFileTimes TimesOf(int fd) {
    TFileTimes times;
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_MTIME | STATX_BTIME, &info) == 0) {
        if (info.stx_mask & STATX_MTIME)
            times.LastWrite = timespec{info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec};
        if (info.stx_mask & STATX_BTIME)
            times.Creation = timespec{info.stx_btime.tv_sec, info.stx_btime.tv_nsec};
    }
    return times;
}

// Sets the times that are given; the last-access time is left alone
// (UTIME_OMIT). The creation time cannot be set on Linux and is skipped.
void ApplyTimes(int fd, const TFileTimes& times) {
    if (!times.LastWrite) return;
    const timespec both[2] = {{0, UTIME_OMIT}, *times.LastWrite};
    ::futimens(fd, both);  // a time that cannot be set is no reason to fail the save
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
#ifdef __linux__
        if (done - started >= kStep || done == bytes.size()) {
            // Only a hint: the fsync still makes the bytes durable.
            ::sync_file_range(fd, static_cast<off_t>(started), static_cast<off_t>(done - started),
                              SYNC_FILE_RANGE_WRITE);
            started = done;
        }
#endif
    }
    return true;
}

// Gives the system `advice` about the whole pages of the buffer's capacity
// (a hint only: nothing fails without it).
void AdviseBuffer(std::vector<std::uint8_t>& bytes, int advice) {
    const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto first =
        (reinterpret_cast<std::uintptr_t>(bytes.data()) + pageSize - 1) & ~(pageSize - 1);
    const auto last =
        (reinterpret_cast<std::uintptr_t>(bytes.data()) + bytes.capacity()) & ~(pageSize - 1);
    if (last > first) (void)::madvise(reinterpret_cast<void*>(first), last - first, advice);
}

// All the pages at once, which costs less than a fault for each as the
// buffer is filled (MADV_POPULATE_WRITE, Linux 5.14; ignored before).
void PrefaultBuffer(std::vector<std::uint8_t>& bytes) {
    constexpr int kPopulateWrite = 23;
    AdviseBuffer(bytes, kPopulateWrite);
}

// Reads an open regular file to its end into bytes.
bool ReadAll(int fd, std::vector<std::uint8_t>& bytes, std::size_t sizeHint) {
    // One byte more than expected, so that the end shows without a bigger buffer.
    const bool grown = sizeHint + 1 > bytes.capacity();
    ReserveLargeBuffer(bytes, sizeHint + 1);
    if (grown) PrefaultBuffer(bytes);
    bytes.resize(sizeHint + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) bytes.resize(bytes.size() + 65536);
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return true;
}

// Opens path for reading only if it is a regular file; O_NONBLOCK keeps a
// pipe or device that carries a ".jpg" name from blocking the run.
int OpenRegularFile(const std::string& path, struct stat& info) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The file a write to path lands on: a symbolic link is followed to its file,
// so that replacing it keeps the link.
std::string ResolveTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return path;
}

void SyncFolder(const std::string& folder) {
    TFileDescriptor dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) ::fsync(dir.Get());
}

// Creates a new hidden file beside the target; the leading dot keeps a
// leftover of a crash out of later folder scans.
int CreateTemporaryFile(const std::string& folder, std::string& name) {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    std::mt19937_64 random(seed() ^ (std::uint64_t{static_cast<unsigned>(::getpid())} << 32) ^
                           counter.fetch_add(1));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
        name = folder + ".plume-" + suffix + ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

enum class TExisting { None, Same, Other, Unreadable };

// What stands at path compared with bytes: nothing, a file with those bytes,
// a file with others, or something that cannot be read (a folder included).
TExisting HoldsBytes(const std::string& path, std::span<const std::uint8_t> bytes) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? TExisting::None : TExisting::Unreadable;
    TFileDescriptor fd(OpenRegularFile(path, info));
    if (!fd.Valid()) return TExisting::Unreadable;
    if (static_cast<std::uint64_t>(info.st_size) != bytes.size()) return TExisting::Other;
    std::vector<std::uint8_t> existing;
    if (!ReadAll(fd.Get(), existing, static_cast<std::size_t>(info.st_size)))
        return TExisting::Unreadable;
    return std::equal(existing.begin(), existing.end(), bytes.begin(), bytes.end())
               ? TExisting::Same
               : TExisting::Other;
}

TFileIdentity IdentityOfStat(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

void HandOnAttributes(int fd, const TFileAttributes& attributes) {
    // The owner first: a change of owner clears the set-id bits.
    struct stat info {};
    if (::fstat(fd, &info) == 0 &&
        (info.st_uid != attributes.Owner || info.st_gid != attributes.Group))
        (void)::fchown(fd, attributes.Owner, attributes.Group);  // refused unless privileged
    ::fchmod(fd, attributes.Mode);
}

}  // namespace

void ReserveLargeBuffer(std::vector<std::uint8_t>& bytes, std::size_t capacity) {
    if (capacity <= bytes.capacity()) return;
    bytes.reserve(capacity);
    // Huge pages where the system offers them on request: a buffer of many
    // megabytes is then filled with a few hundred page faults instead of
    // thousands. Only pages not yet touched are affected.
    constexpr std::size_t kWorthIt = std::size_t{4} << 20;
    if (capacity >= kWorthIt) AdviseBuffer(bytes, MADV_HUGEPAGE);
}

bool SameFile(const TFileIdentity& a, const TFileIdentity& b) {
    return a.Device == b.Device && a.Inode == b.Inode && a.Size == b.Size &&
           a.LastWrite.tv_sec == b.LastWrite.tv_sec && a.LastWrite.tv_nsec == b.LastWrite.tv_nsec;
}

std::optional<TFileIdentity> IdentityOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return IdentityOfStat(info);
}

void LoadFile(const std::string& path, TMemoryStream& stream, TFileTimes& times,
              TFileIdentity* identity) {
    stream.Clear();
    struct stat info {};
    TFileDescriptor fd(OpenRegularFile(path, info));
    if (!fd.Valid()) throw EStreamError(FormatPathText(kFileCannotOpen, path));
    times = TimesOf(fd.Get());
    if (identity != nullptr) *identity = IdentityOfStat(info);
    if (!ReadAll(fd.Get(), stream.Bytes(), static_cast<std::size_t>(info.st_size)))
        throw EStreamError(kStreamReadError);
    stream.SetPosition(0);
}

std::optional<TFileAttributes> ReadAttributes(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return TFileAttributes{static_cast<mode_t>(info.st_mode & 07777), info.st_uid, info.st_gid};
}

bool WriteFileReplacing(const std::string& target, std::span<const std::uint8_t> bytes,
                        const TFileTimes& times, const std::optional<TFileAttributes>& attributes,
                        const std::optional<TFileIdentity>& replaced) {
    const std::string destination = ResolveTarget(target);
    const std::string folder = FolderPart(destination);
    const std::optional<TFileAttributes> handedOn =
        attributes ? attributes : ReadAttributes(destination);

    std::string temporary;
    TFileDescriptor fd(CreateTemporaryFile(folder, temporary));
    if (!fd.Valid()) throw EStreamError(FormatPathText(kFileCannotCreate, target));
    bool written = WriteAll(fd.Get(), bytes);
    if (written) {
        if (handedOn) HandOnAttributes(fd.Get(), *handedOn);
        ApplyTimes(fd.Get(), times);
        written = ::fsync(fd.Get()) == 0;
    }
    written = fd.Close() && written;
    if (!written) {
        ::unlink(temporary.c_str());
        throw EStreamError(FormatPathText(kFileCannotCreate, target));
    }
    // As late as can be: what another program wrote meanwhile is not lost.
    if (replaced) {
        const std::optional<TFileIdentity> now = IdentityOf(destination);
        if (!now || !SameFile(*now, *replaced)) {
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw EStreamError(FormatPathText(kFileCannotCreate, target));
    }
    SyncFolder(folder);
    return true;
}

TCopyOutcome CopyFileWithTimes(const std::string& from, const std::string& to,
                               const TFileTimes& times) {
    struct stat info {};
    TFileDescriptor fd(OpenRegularFile(from, info));
    if (!fd.Valid()) return TCopyOutcome::Failed;
    std::vector<std::uint8_t> bytes;
    if (!ReadAll(fd.Get(), bytes, static_cast<std::size_t>(info.st_size)))
        return TCopyOutcome::Failed;
    switch (HoldsBytes(to, bytes)) {
        case TExisting::None:
        case TExisting::Same:
            break;
        case TExisting::Other:
            return TCopyOutcome::NameTaken;
        case TExisting::Unreadable:
            return TCopyOutcome::Failed;
    }
    const TFileAttributes attributes{static_cast<mode_t>(info.st_mode & 07777), info.st_uid,
                                     info.st_gid};
    try {
        return WriteFileReplacing(to, bytes, times, attributes) ? TCopyOutcome::Copied
                                                                : TCopyOutcome::Failed;
    } catch (const EStreamError&) {
        return TCopyOutcome::Failed;
    }
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool EnsureFolder(const std::string& path) {
    if (IsFolder(path)) return true;
    ::mkdir(path.c_str(), 0777);
    return IsFolder(path);
}

bool EnsureFolderPath(const std::string& path, mode_t mode) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    if (errno != ENOENT) return false;
    std::string parent = FolderPart(path);
    while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
    if (!parent.empty() && parent != path && !EnsureFolderPath(parent, mode)) return false;
    if (::mkdir(path.c_str(), mode) == 0) return true;
    return errno == EEXIST && IsFolder(path);
}

}  // namespace plume
