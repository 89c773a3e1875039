#include "app/RecycleBin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStorageInfo>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "app/AppTexts.h"

namespace plume {
namespace {

// The trash folders are the user's alone (freedesktop.org Trash 1.0, "Contents
// of a trash directory"; XDG Base Directory for the data home).
constexpr mode_t kPrivateFolder = 0700;

std::string NativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// Makes folder and whichever of its parents are missing, each with mode
// 0700. True when a folder stands at folder afterwards.
bool EnsurePrivateFolder(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    if (errno != ENOENT) return false;
    const std::string parent = WithoutTrailingSlash(FolderPart(folder));
    if (!parent.empty() && parent != folder && !EnsurePrivateFolder(parent)) return false;
    if (::mkdir(folder.c_str(), kPrivateFolder) == 0) return true;
    return errno == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The home trash, with its "files" and "info" folders made where missing.
// Qt's move to the trash needs it: when it cannot set the home trash up, it
// puts the file into "files" and "info" below the current folder and still
// reports success. Nothing when it cannot be made.
std::optional<std::string> PrepareHomeTrash() {
    // The folder Qt takes the home trash from, XDG_DATA_HOME or ~/.local/share.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    // A relative data home is no valid one (XDG Base Directory).
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome)) return std::nullopt;
    const std::string trash = Join(NativePath(QDir::cleanPath(dataHome)), "Trash");
    if (!EnsurePrivateFolder(Join(trash, "files")) || !EnsurePrivateFolder(Join(trash, "info")))
        return std::nullopt;
    return trash;
}

bool SameFolder(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           S_ISDIR(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// True when the entry at landed is the one that stood at the input's path
// (before) and lies directly in one of the trashes' "files" folders.
bool LandedInTrash(const std::string& landed, const struct stat& before,
                   const std::vector<std::string>& trashFiles) {
    struct stat now {};
    if (landed.empty() || ::lstat(landed.c_str(), &now) != 0) return false;
    if (now.st_dev != before.st_dev || now.st_ino != before.st_ino) return false;
    const std::string folder = FolderPart(landed).empty() ? "." : FolderPart(landed);
    for (const std::string& files : trashFiles)
        if (SameFolder(folder, files)) return true;
    return false;
}

// Moves the entry back from where it landed, never over a file that has
// taken its path meanwhile, and removes the record written for it.
void PutBack(const std::string& landed, const std::string& path) {
    if (::renameat2(AT_FDCWD, landed.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0 &&
        errno == EINVAL) {
        // A file system that cannot refuse to replace: look first.
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) ::rename(landed.c_str(), path.c_str());
    }
    // The record: info/NAME.trashinfo beside the "files" folder it landed in.
    const std::string trash = FolderPart(WithoutTrailingSlash(FolderPart(landed)));
    ::unlink((trash + "info/" + FileNamePart(landed) + ".trashinfo").c_str());
}

}  // namespace

bool MoveToRecycleBin(const std::string& path) {
    const std::optional<std::string> homeTrash = PrepareHomeTrash();
    if (!homeTrash) return false;
    struct stat before {};
    if (::lstat(path.c_str(), &before) != 0) return false;

    // The trashes the file may go to: its file system's top-directory trash,
    // where Qt looks first for a file outside the home file system, and the
    // home trash.
    const QString source = QFile::decodeName(QByteArray::fromStdString(path));
    const std::string top = NativePath(QStorageInfo(source).rootPath());
    const std::string user = std::to_string(::getuid());
    std::vector<std::string> trashFiles{Join(*homeTrash, "files")};
    if (!top.empty()) {
        trashFiles.push_back(Join(Join(Join(top, ".Trash"), user), "files"));
        trashFiles.push_back(Join(Join(top, ".Trash-" + user), "files"));
    }

    QString landedIn;
    if (!QFile::moveToTrash(source, &landedIn)) return false;
    const std::string landed = NativePath(landedIn);
    if (landed.empty()) return false;  // moved, but nobody says where
    if (LandedInTrash(landed, before, trashFiles)) return true;
    PutBack(landed, path);
    return false;
}

}  // namespace plume
