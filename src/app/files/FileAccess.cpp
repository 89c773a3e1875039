#include "app/files/FileAccess.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/files/FileDescriptor.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

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

// Gives the system `advice` about the whole pages of the buffer's capacity
// (a hint only: nothing fails without it).
void AdviseMemory(void* data, std::size_t size, int advice) {
    const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<std::uintptr_t>(data) + pageSize - 1) & ~(pageSize - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(pageSize - 1);
    if (last > first) (void)::madvise(reinterpret_cast<void*>(first), last - first, advice);
}

void AdviseBuffer(std::vector<std::uint8_t>& bytes, int advice) {
    AdviseMemory(bytes.data(), bytes.capacity(), advice);
}

// Huge pages where the system offers them on request: a buffer of many
// megabytes is then filled with a few hundred page faults instead of
// thousands. Only pages not yet touched are affected.
constexpr std::size_t kHugePagesWorthIt = std::size_t{4} << 20;

// All the pages at once, which costs less than a fault for each as the
// buffer is filled (MADV_POPULATE_WRITE, Linux 5.14; ignored before).
void PrefaultBuffer(std::vector<std::uint8_t>& bytes) {
    constexpr int kPopulateWrite = 23;
    AdviseBuffer(bytes, kPopulateWrite);
}

}  // namespace

void ReserveLargeBuffer(std::vector<std::uint8_t>& bytes, std::size_t capacity) {
    if (capacity <= bytes.capacity()) return;
    bytes.reserve(capacity);
    if (capacity >= kHugePagesWorthIt) AdviseBuffer(bytes, MADV_HUGEPAGE);
}

void AdviseLargeBuffer(void* data, std::size_t size) {
    if (size >= kHugePagesWorthIt) AdviseMemory(data, size, MADV_HUGEPAGE);
}

bool SameFile(const TFileIdentity& a, const TFileIdentity& b) {
    return SameInode(a, b) && a.Size == b.Size && a.LastWrite.tv_sec == b.LastWrite.tv_sec &&
           a.LastWrite.tv_nsec == b.LastWrite.tv_nsec;
}

bool SameInode(const TFileIdentity& a, const TFileIdentity& b) {
    return a.Device == b.Device && a.Inode == b.Inode;
}

TFileIdentity IdentityOfStat(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim,
            static_cast<mode_t>(info.st_mode & 07777)};
}

std::optional<TFileIdentity> IdentityOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return IdentityOfStat(info);
}

int OpenRegularFile(int at, const std::string& path, struct stat& info, int flags) {
    const int fd = ::openat(at, path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags);
    if (fd < 0) return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ReadWholeFile(int fd, std::vector<std::uint8_t>& bytes, std::size_t sizeHint,
                   std::uint64_t maxBytes) {
    // One byte more than expected, so that the end shows without a bigger buffer.
    const bool grown = sizeHint + 1 > bytes.capacity();
    ReserveLargeBuffer(bytes, sizeHint + 1);
    if (grown) PrefaultBuffer(bytes);
    bytes.resize(sizeHint + 1);
    std::size_t done = 0;
    for (;;) {
        if (done > maxBytes) return false;  // the file grew past the limit while read
        if (done == bytes.size()) bytes.resize(bytes.size() + 65536);
        const ssize_t n =
            ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return true;
}

void LoadFile(const std::string& path, TMemoryStream& stream, TFileTimes& times,
              TFileIdentity* identity, std::uint64_t maxBytes) {
    stream.Clear();
    struct stat info {};
    TFileDescriptor fd(OpenRegularFile(AT_FDCWD, path, info));
    if (!fd.Valid()) throw EStreamError(FormatPathText(kFileCannotOpen, path));
    // Refused before a byte is read: a sparse file of many gigabytes costs
    // nothing on disk but would take all memory.
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
        throw EFileTooLarge(FormatPathText(kFileTooLarge, path));
    times = TimesOf(fd.Get());
    if (identity != nullptr) *identity = IdentityOfStat(info);
    if (!ReadWholeFile(fd.Get(), stream.Bytes(), static_cast<std::size_t>(info.st_size),
                       maxBytes)) {
        stream.Clear();
        throw EStreamError(kStreamReadError);
    }
    stream.SetPosition(0);
}

std::optional<TFileAttributes> ReadAttributes(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return TFileAttributes{static_cast<mode_t>(info.st_mode & 07777), info.st_uid, info.st_gid};
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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
