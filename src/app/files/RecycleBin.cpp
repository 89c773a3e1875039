#include "app/files/RecycleBin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "app/files/FileAccess.h"
#include "app/files/FileDescriptor.h"
#include "app/files/SafeWrite.h"
#include "app/files/UserFolders.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

// The trash folders are the user's alone (freedesktop.org Trash 1.0, "Contents
// of a trash directory"; XDG Base Directory for the data home).
constexpr mode_t kPrivateFolder = 0700;
// Names tried for one file before giving up: NAME, NAME-0001, NAME-0002 ...
constexpr int kNameAttempts = 100000;

std::string Join(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// The home trash, with its "files" and "info" folders made where missing.
// Nothing when it cannot be made.
std::optional<std::string> PrepareHomeTrash() {
    const std::string trash = Join(BaseFolder("XDG_DATA_HOME", ".local/share"), "Trash");
    if (!EnsureFolderPath(Join(trash, "files"), kPrivateFolder) ||
        !EnsureFolderPath(Join(trash, "info"), kPrivateFolder))
        return std::nullopt;
    return trash;
}

std::optional<std::string> RealPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// path made absolute against the current folder, with "." and ".." and
// doubled slashes taken out by their letters (links are not followed).
std::optional<std::string> AbsolutePath(const std::string& path) {
    std::string whole = path;
    if (!path.starts_with('/')) {
        const std::optional<std::string> current = RealPath(".");
        if (!current) return std::nullopt;
        whole = *current + "/" + path;
    }
    std::vector<std::string> parts;
    std::istringstream pieces(whole);
    for (std::string part; std::getline(pieces, part, '/');) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else {
            parts.push_back(part);
        }
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

// A mount point as /proc/self/mountinfo writes it: space, tab, newline and
// backslash as three octal digits after a backslash.
std::string UnescapeMountPoint(const std::string& field) {
    std::string result;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i > 3) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                result += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        result += field[i];
    }
    return result;
}

struct TMount {
    std::string Id;
    std::string Point;
};

// The mount that holds the canonical path: the one with the longest mount
// point above it, the last listed where one is mounted over another.
std::optional<TMount> MountOf(const std::string& canonical) {
    std::ifstream table("/proc/self/mountinfo");
    std::optional<TMount> best;
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (!(fields >> id >> parent >> device >> root >> point)) continue;
        point = UnescapeMountPoint(point);
        const bool above = point == "/" || canonical == point ||
                           (canonical.starts_with(point) && canonical[point.size()] == '/');
        if (above && (!best || point.size() >= best->Point.size())) best = TMount{id, point};
    }
    return best;
}

// A per-user trash folder inside a top directory: made (0700) where missing;
// usable when it is a real folder of this user's.
bool UsableUserTrash(const std::string& folder) {
    if (::mkdir(folder.c_str(), kPrivateFolder) == 0) ::chmod(folder.c_str(), kPrivateFolder);
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid();
}

// The trash of the file system mounted at top (Trash 1.0, "Trash
// directories"): $topdir/.Trash/$uid when an administrator made
// $topdir/.Trash, a real folder with the sticky bit; else $topdir/.Trash-$uid.
std::optional<std::string> TopDirectoryTrash(const std::string& top) {
    const std::string user = std::to_string(::getuid());
    const std::string shared = Join(top, ".Trash");
    struct stat info {};
    if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) &&
        UsableUserTrash(Join(shared, user)))
        return Join(shared, user);
    if (UsableUserTrash(Join(top, ".Trash-" + user))) return Join(top, ".Trash-" + user);
    return std::nullopt;
}

// The original location as the record keeps it: bytes other than letters,
// digits, "-._~" and '/' as %XX (RFC 3986, section 2).
std::string PercentEncoded(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
            c == '/') {
            result += c;
        } else {
            result += '%';
            result += kHex[byte >> 4];
            result += kHex[byte & 0x0F];
        }
    }
    return result;
}

std::string TrashInfo(const std::string& recordedPath) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char date[32] = "";
    if (::localtime_r(&now, &local) != nullptr)
        std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return "[Trash Info]\nPath=" + PercentEncoded(recordedPath) + "\nDeletionDate=" + date + "\n";
}

bool WriteWhole(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reserves a name in the trash by creating its record with O_EXCL, as Trash
// 1.0 asks ("the implementation MUST create the corresponding file in
// $trash/info first"), and writes the record. The name, or nothing when no
// record could be made.
std::optional<std::string> ReserveName(const std::string& trash, const std::string& name,
                                       const std::string& info) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        char suffix[16] = "";
        if (attempt > 0) std::snprintf(suffix, sizeof suffix, "-%04d", attempt);
        const std::string candidate = name + suffix;
        struct stat taken {};
        if (::lstat(Join(Join(trash, "files"), candidate).c_str(), &taken) == 0) continue;
        const std::string record = Join(Join(trash, "info"), candidate + ".trashinfo");
        const int fd = ::open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return std::nullopt;
        const bool written = WriteWhole(fd, info);
        if (::close(fd) == 0 && written) return candidate;
        ::unlink(record.c_str());
        return std::nullopt;
    }
    return std::nullopt;
}

// Moves from to to unless something stands at to.
bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL) return false;
    // A file system that cannot refuse to replace: look first.
    struct stat info {};
    return ::lstat(to.c_str(), &info) != 0 && errno == ENOENT &&
           ::rename(from.c_str(), to.c_str()) == 0;
}

// The trash a file at the absolute path goes to, and the path its record
// names; nothing when no trash can take it.
struct TTrashChoice {
    std::string Trash;
    std::string Recorded;
};
std::optional<TTrashChoice> ChooseTrash(const std::string& absolute) {
    const std::optional<std::string> homeTrash = PrepareHomeTrash();
    if (!homeTrash) return std::nullopt;
    const std::string name = FileNamePart(absolute);
    const std::optional<std::string> folder = RealPath(FolderPart(absolute));
    if (!folder || name.empty()) return std::nullopt;

    // A file on another file system than the home trash goes to that file
    // system's own trash; where there is none, to the home trash, which a
    // rename cannot reach, so the file stays.
    TTrashChoice choice{*homeTrash, absolute};
    const std::optional<TMount> fileMount = MountOf(*folder);
    const std::optional<std::string> homeTrashFolder = RealPath(*homeTrash);
    const std::optional<TMount> trashMount =
        homeTrashFolder ? MountOf(*homeTrashFolder) : std::nullopt;
    if (fileMount && trashMount && fileMount->Id != trashMount->Id) {
        if (const std::optional<std::string> top = TopDirectoryTrash(fileMount->Point)) {
            choice.Trash = *top;
            // Below its top directory, the record names the file relative to it.
            if (fileMount->Point != "/") {
                const std::string canonical = Join(*folder, name);
                choice.Recorded = canonical.substr(fileMount->Point.size() + 1);
            }
            if (!EnsureFolderPath(Join(choice.Trash, "files"), kPrivateFolder) ||
                !EnsureFolderPath(Join(choice.Trash, "info"), kPrivateFolder))
                return std::nullopt;
        }
    }
    return choice;
}

}  // namespace

std::optional<TTrashSlot> TTrashSlot::Reserve(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    const std::optional<std::string> absolute = AbsolutePath(path);
    if (!absolute) return std::nullopt;
    const std::optional<TTrashChoice> choice = ChooseTrash(*absolute);
    if (!choice) return std::nullopt;
    const std::string name = FileNamePart(*absolute);
    const std::optional<std::string> reserved =
        ReserveName(choice->Trash, name, TrashInfo(choice->Recorded));
    if (!reserved) return std::nullopt;
    TTrashSlot slot;
    slot.files_ = Join(choice->Trash, "files");
    slot.record_ = Join(Join(choice->Trash, "info"), *reserved + ".trashinfo");
    slot.name_ = *reserved;
    return slot;
}

TTrashSlot::TTrashSlot(TTrashSlot&& other) noexcept
    : files_(std::move(other.files_)),
      record_(std::move(other.record_)),
      name_(std::move(other.name_)),
      linked_(std::exchange(other.linked_, false)),
      kept_(std::exchange(other.kept_, true)) {}

TTrashSlot::~TTrashSlot() {
    if (kept_) return;
    if (linked_) ::unlink(TrashedPath().c_str());
    ::unlink(record_.c_str());
}

std::string TTrashSlot::TrashedPath() const {
    return Join(files_, name_);
}

bool TTrashSlot::Link(int fd) {
    TFileDescriptor files(::open(files_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!files.Valid() || !LinkOpenFile(fd, files.Get(), name_)) return false;
    // The copy in the trash is on disk before the file's own name is given away.
    ::fsync(files.Get());
    linked_ = true;
    return true;
}

bool TTrashSlot::Move(const std::string& path) {
    return MoveWithoutReplacing(path, TrashedPath());
}

bool TTrashSlot::MoveBack(const std::string& path) {
    return MoveWithoutReplacing(TrashedPath(), path);
}

bool MoveToRecycleBin(const std::string& path) {
    std::optional<TTrashSlot> slot = TTrashSlot::Reserve(path);
    if (!slot || !slot->Move(path)) return false;
    slot->Keep();
    return true;
}

}  // namespace plume
