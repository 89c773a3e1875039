// Writing files so that nothing can turn a save against the user: not a
// kill or a power cut, not a full disk, not a link or folder that another
// user planted, not another user watching the folder.
//
// - A file is written whole, given its permission bits and times and
//   flushed to disk before it takes any name: as an unnamed file (O_TMPFILE)
//   where the file system offers them, else as a hidden
//   ".plume-<16 hex digits>.tmp" made with no permission for anyone else.
//   It is locked (flock) for as long as this process holds it.
// - It takes its name relative to a folder held open, never through a link,
//   and replaces nothing but a regular file. To replace one it passes through
//   a hidden name for the two calls between link and rename: Linux has no
//   call that links an unnamed file over an existing name.
// - A hidden temporary file that a killed run left in a folder is removed by
//   the next run that writes into that folder, once no process holds it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "app/files/FileAccess.h"
#include "app/files/FileDescriptor.h"

namespace plume {

// Whether a link or folder of owner may be written through or into by this
// run: one of the run's user, or, as the kernel's protected_symlinks rule
// has it, of the user who owns the folder that holds it (a planted link or
// folder belongs to neither).
bool TrustedOwner(uid_t owner, uid_t folderOwner);

// The mode a new file gets when nothing is handed on: 0666 less the umask.
mode_t NewFileMode();

// A folder held open: what is done in it stays in that folder, whatever is
// renamed or linked in place of its path meanwhile.
class TFolder {
  public:
    // The folder at path ("" or a path ending in "/" as the folder part of a
    // path gives it; "" is the current folder). Links in the path are
    // followed: the user named it. Nothing when no folder is there.
    static std::optional<TFolder> Open(const std::string& path);

    enum class TSubFolder {
        Opened,
        CannotMake,  // nothing can be made there, or a file stands there
        Untrusted,   // a link, or a folder of another user (TrustedOwner)
        SameFolder,  // this very folder, reached through a mount
    };
    // The sub-folder name of this one, made where missing (mode 0777 less
    // the umask). Only a real folder of a trusted owner is opened. When it
    // cannot be made, errno says why.
    std::optional<TFolder> OpenSubFolder(const std::string& name, TSubFolder& outcome) const;

    int Fd() const { return fd_.Get(); }
    // Whether OpenSubFolder made it.
    bool Made() const { return made_; }
    // As given, ending in "/" unless empty: Path() + name is a path for messages.
    const std::string& Path() const { return path_; }
    const struct stat& Status() const { return status_; }
    // What stands at name in this folder, a link not followed.
    std::optional<struct stat> Entry(const std::string& name) const;
    // Flushes the folder's entries to disk, so that a rename or link made in
    // it outlives a power cut.
    void Sync() const;

  private:
    TFolder(TFileDescriptor fd, std::string path, const struct stat& status);

    TFileDescriptor fd_;
    std::string path_;
    struct stat status_ {};
    bool made_ = false;
};

// Where a user-named path leads when it is written: a link is followed to
// the file it names only where the link has a trusted owner.
struct TNamedTarget {
    enum class TKind {
        Followed,       // Folder and Name are where the path leads (itself if no link)
        UntrustedLink,  // a link of another user on the way
        NoFolder,       // the folder it would be in is missing
    } Kind = TKind::NoFolder;
    std::string Folder = {};  // as FolderPart gives it
    std::string Name = {};
};
TNamedTarget ResolveNamedTarget(const std::string& path);

// What stands where a file is to take its name, and what may stand there.
struct TPlaceRule {
    // The file there must be this one (the input as loaded), else nothing is done.
    std::optional<TFileIdentity> Expected = std::nullopt;
    // The file there must not be this inode (the input itself).
    std::optional<TFileIdentity> NotThis = std::nullopt;
    // A file there is replaced only when it holds these bytes.
    std::optional<std::span<const std::uint8_t>> OnlyIfHolding = std::nullopt;
    // The name must be free.
    bool MustBeFree = false;
};

enum class TPlaced {
    Done,
    Changed,     // Expected or MustBeFree did not hold: what stands there stays
    NotRegular,  // a link, folder, device or pipe stands there: it stays
    IsTheInput,  // NotThis stands there
    NameTaken,   // a file with other bytes than OnlyIfHolding stands there
};

// A file written whole and flushed to disk that has not yet taken a name.
class TPendingFile {
  public:
    // Writes bytes into a new file in folder with the attributes given (else
    // NewFileMode()) and the times given. Throws EStreamError
    // ("ファイル %s を作成できません" with shownPath) when the file cannot
    // be made or written whole; nothing is then left behind.
    TPendingFile(const TFolder& folder, std::span<const std::uint8_t> bytes,
                 const TFileTimes& times, const std::optional<TFileAttributes>& attributes,
                 std::string shownPath);
    // A file that took no name is removed.
    ~TPendingFile();
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    // Gives the file the name in its folder, as rule allows. Throws the
    // create error when the system refuses; the name is then as it was.
    [[nodiscard]] TPlaced Place(const std::string& name, const TPlaceRule& rule);

  private:
    bool LinkAs(const std::string& name);
    void GiveHiddenName();
    void DropHiddenName();

    const TFolder& folder_;
    std::string shownPath_;
    TFileDescriptor fd_;
    std::string hidden_;  // the hidden name the file has, if any
    bool placed_ = false;
};

// Replaces the file at target with bytes, or creates it, by the rules above;
// a link at target is followed where its owner is trusted. Attributes
// default to those of the file being replaced (else NewFileMode()). False,
// with nothing written, when target is no regular file, is a link of
// another user, or (with replaced given) is no longer that file. Throws the
// create error with target when the write fails.
bool WriteFileReplacing(const std::string& target, std::span<const std::uint8_t> bytes,
                        const TFileTimes& times,
                        const std::optional<TFileAttributes>& attributes = std::nullopt,
                        const std::optional<TFileIdentity>& replaced = std::nullopt);

// Hard-links the open file fd into folder under name, which must be free.
// False with errno set when the file system cannot.
bool LinkOpenFile(int fd, int folderFd, const std::string& name);

}  // namespace plume
