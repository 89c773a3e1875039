// Whole-file reading, the facts of a file that a save hands on or checks
// (times, permission bits, identity), and folder tests.
//
// Times: the last-write time is read and set with nanosecond precision and
// the last-access time is never changed. Linux keeps a creation (birth) time
// on most file systems but offers no call to set it, so setting it is skipped
// without a word, like any time that cannot be set.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "BitStreamFile/MemoryStream.h"

namespace plume {

// No photo is larger: a file beyond this is refused before it is read.
inline constexpr std::uint64_t kMaxPhotoBytes = std::uint64_t{1} << 30;  // 1 GiB

// A file refused for its size. Unlike a stream error, it fails only its own
// file: the run reports it and goes on.
class EFileTooLarge : public std::runtime_error {
  public:
    explicit EFileTooLarge(const std::string& text) : std::runtime_error(text) {}
};

struct TFileTimes {
    std::optional<timespec> Creation;   // birth time, where the file system records one
    std::optional<timespec> LastWrite;  // modification time
};

// Permission bits and, where it is to be handed on, the owner of a file.
struct TFileAttributes {
    mode_t Mode = 0;  // permission bits only (07777)
    std::optional<uid_t> Owner;
    std::optional<gid_t> Group;
};

// What tells whether the file at a path is still the one that was loaded:
// another program that replaces it (a new inode) or writes into it (size,
// modification time to the nanosecond) shows in one of the four. Mode is the
// file's permission bits as they were then; it takes no part in the test.
struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec LastWrite{};
    mode_t Mode = 0;
};
bool SameFile(const TFileIdentity& a, const TFileIdentity& b);
// Whether the two name one inode, whatever either was changed since.
bool SameInode(const TFileIdentity& a, const TFileIdentity& b);
TFileIdentity IdentityOfStat(const struct stat& info);
// The identity of the file at path (links followed); nothing when there is none.
std::optional<TFileIdentity> IdentityOf(const std::string& path);

// Empties stream and loads the whole regular file at path into it (position
// 0); times (and identity, when asked) receive what the same open file shows.
// Throws EStreamError("ファイル %s は開けません") when the path cannot be
// opened or names no regular file (a folder, a device, a pipe),
// EStreamError(kStreamReadError) when reading fails, and EFileTooLarge when
// the file holds more than maxBytes.
void LoadFile(const std::string& path, TMemoryStream& stream, TFileTimes& times,
              TFileIdentity* identity = nullptr, std::uint64_t maxBytes = kMaxPhotoBytes);

// Opens path for reading only if it is a regular file (links followed unless
// flags carry O_NOFOLLOW); -1 otherwise. O_NONBLOCK keeps a pipe or device
// that carries a ".jpg" name from blocking the run. at is the folder a
// relative path starts from (AT_FDCWD for the current one).
int OpenRegularFile(int at, const std::string& path, struct stat& info, int flags = 0);
// Reads an open file from its start to its end into bytes; false when
// reading fails or more than maxBytes come.
bool ReadWholeFile(int fd, std::vector<std::uint8_t>& bytes, std::size_t sizeHint,
                   std::uint64_t maxBytes);

// Makes room for `capacity` bytes in bytes, asking for huge pages when the
// buffer is large (a hint only: nothing fails without them).
void ReserveLargeBuffer(std::vector<std::uint8_t>& bytes, std::size_t capacity);
// The same for memory that nothing has touched yet.
void AdviseLargeBuffer(void* data, std::size_t size);

// Attributes of the file at path (links followed), owner included; nothing
// when they cannot be read.
std::optional<TFileAttributes> ReadAttributes(const std::string& path);

bool IsFolder(const std::string& path);
// Makes the folder and whichever of its parents are missing, each with mode
// (the umask applies). False when there is no folder at path afterwards.
bool EnsureFolderPath(const std::string& path, mode_t mode);

}  // namespace plume
