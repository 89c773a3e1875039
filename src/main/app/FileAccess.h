// Whole-file reading and crash-safe writing, with the file times that the run
// carries from an input to its output and kept copies.
//
// Times: the last-write time is read and set with nanosecond precision and
// the last-access time is never changed. Linux keeps a creation (birth) time
// on most file systems but offers no call to set it, so setting it is skipped
// without a word, like any time that cannot be set.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "BitStreamFile/MemoryStream.h"

namespace plume {

struct TFileTimes {
    std::optional<timespec> Creation;   // birth time, where the file system records one
    std::optional<timespec> LastWrite;  // modification time
};

// Permission bits and owner of a file, handed on to the file that replaces it.
struct TFileAttributes {
    mode_t Mode = 0;  // permission bits only (07777)
    uid_t Owner = 0;
    gid_t Group = 0;
};

// What tells whether the file at a path is still the one that was loaded:
// another program that replaces it (a new inode) or writes into it (size,
// modification time to the nanosecond) shows in one of the four.
struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec LastWrite{};
};
bool SameFile(const TFileIdentity& a, const TFileIdentity& b);
// The identity of the file at path (links followed); nothing when there is none.
std::optional<TFileIdentity> IdentityOf(const std::string& path);

// Empties stream and loads the whole regular file at path into it (position
// 0); times (and identity, when asked) receive what the same open file shows.
// Throws EStreamError("ファイル %s は開けません") when the path cannot be
// opened or names no regular file (a folder, a device, a pipe), and
// EStreamError(kStreamReadError) when reading fails.
void LoadFile(const std::string& path, TMemoryStream& stream, TFileTimes& times,
              TFileIdentity* identity = nullptr);

// Makes room for `capacity` bytes in bytes, asking for huge pages when the
// buffer is large (a hint only: nothing fails without them).
void ReserveLargeBuffer(std::vector<std::uint8_t>& bytes, std::size_t capacity);

// Attributes of the file at path (links followed); nothing when it cannot be read.
std::optional<TFileAttributes> ReadAttributes(const std::string& path);

// Replaces the file at target with bytes, or creates it, so that neither a
// crash nor a full disk can leave a half-written file there: the bytes go to
// a hidden temporary file in the target's folder, which is flushed to disk,
// given the times and the attributes and renamed over the target. Attributes
// default to those of the file being replaced (else the umask applies); the
// owner is handed on only where the system allows it. A target that is a
// symbolic link has the file it points to replaced.
// With replaced given, the file at target must still be that file when the
// rename is about to be made; if it is not (or is gone), nothing is written
// and the result is false. Otherwise the result is true.
// Throws EStreamError("ファイル %s を作成できません") with target; the
// target is then as it was and no temporary file is left.
bool WriteFileReplacing(const std::string& target, std::span<const std::uint8_t> bytes,
                        const TFileTimes& times,
                        const std::optional<TFileAttributes>& attributes = std::nullopt,
                        const std::optional<TFileIdentity>& replaced = std::nullopt);

enum class TCopyOutcome {
    Copied,
    Failed,     // from could not be read or to not written; to is as it was
    NameTaken,  // a file with other bytes than from's stands at to; it stays
};

// Copies the file at from to the path to in the same safe way; the copy
// takes from's attributes and the given times. A file already at to is
// replaced only when it holds the same bytes, so that a copy kept earlier of
// another file (or of this one before it changed) is never lost.
TCopyOutcome CopyFileWithTimes(const std::string& from, const std::string& to,
                               const TFileTimes& times);

bool IsFolder(const std::string& path);
// Makes the folder (one level) unless a folder of that name exists. False when
// there is no folder at path afterwards.
bool EnsureFolder(const std::string& path);
// Makes the folder and whichever of its parents are missing, each with mode
// (the umask applies). False when there is no folder at path afterwards.
bool EnsureFolderPath(const std::string& path, mode_t mode);

}  // namespace plume
