#include "app/files/InputCollection.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "app/files/FileAccess.h"
#include "app/files/FileDescriptor.h"
#include "app/files/SaveResult.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

struct TFolderEntries {
    std::vector<std::string> Files;
    std::vector<std::string> Folders;
};

// The visible entries of a folder, sorted; a link counts as what it points
// to for files and is never taken as a folder.
TFolderEntries ReadFolder(const std::string& path) {
    TFolderEntries entries;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;  // hidden, "." and ".."
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            entries.Folders.push_back(name);
        } else if (S_ISLNK(info.st_mode)) {
            if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0 && !S_ISDIR(info.st_mode))
                entries.Files.push_back(name);
        } else {
            entries.Files.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(entries.Files.begin(), entries.Files.end());
    std::sort(entries.Folders.begin(), entries.Folders.end());
    return entries;
}

// The folders that the save methods write into beside a photo.
bool IsSaveFolderName(const std::string& name) {
    return name == SavePathsFor(smResultFolder, name).Folder ||
           name == SavePathsFor(smOriginalFolder, name).Folder;
}

}  // namespace

bool HasJpgExtension(const std::string& path) {
    const std::string name = FileNamePart(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension == ".jpg";
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

void ScanFolder(const std::string& path, std::vector<std::string>& fileList,
                std::vector<std::string>* skipped) {
    const TFolderEntries entries = ReadFolder(path);
    for (const std::string& name : entries.Files)
        if (HasJpgExtension(name)) fileList.push_back(JoinPath(path, name));
    for (const std::string& name : entries.Folders) {
        if (IsSaveFolderName(name)) {
            if (skipped != nullptr) skipped->push_back(JoinPath(path, name));
            continue;
        }
        ScanFolder(JoinPath(path, name), fileList, skipped);
    }
}

bool StartsAsJpeg(const std::string& path) {
    struct stat info {};
    TFileDescriptor fd(OpenRegularFile(AT_FDCWD, path, info));
    std::uint8_t start[3] = {};
    return fd.Valid() && ::pread(fd.Get(), start, sizeof start, 0) == sizeof start &&
           start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF;
}

bool AcceptPath(const std::string& path, std::vector<std::string>& fileList,
                std::vector<std::string>* skipped) {
    if (IsFolder(path)) {
        ScanFolder(path, fileList, skipped);
        return true;
    }
    if (!HasJpgExtension(path) && !StartsAsJpeg(path)) return false;
    fileList.push_back(path);
    return true;
}

}  // namespace plume
