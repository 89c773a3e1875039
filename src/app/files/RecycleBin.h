// The recycle bin of this platform: the freedesktop.org trash (Trash 1.0).
// A file goes to the home trash, $XDG_DATA_HOME/Trash (~/.local/share/Trash
// when the variable is not set or not absolute), or, when it lies on another
// file system than the home trash, to that file system's top-directory trash
// ($topdir/.Trash/$uid or $topdir/.Trash-$uid); it is renamed, never copied.
// It keeps its name in the trash's "files" folder, or gets "-0001",
// "-0002" ... appended when the name is taken. Each trashed file has a record
// in the trash's "info" folder that says where it came from (percent-encoded;
// relative to the top directory in a top-directory trash), so a file manager
// can restore it.
#pragma once

#include <optional>
#include <string>

namespace plume {

// A name reserved in the trash for the file at one path: its record is
// written (Trash 1.0 asks that first), its name in "files" is free. A slot
// that is not kept gives everything back when it goes: its record, and the
// link that Link made.
class TTrashSlot {
  public:
    // Nothing when no trash can take the file: the home trash cannot be made
    // (folders of mode 0700, as on a fresh account), or no record can be
    // written.
    static std::optional<TTrashSlot> Reserve(const std::string& path);
    TTrashSlot(TTrashSlot&& other) noexcept;
    TTrashSlot& operator=(TTrashSlot&&) = delete;
    ~TTrashSlot();

    // Puts the open file fd into the trash as a second name of it, flushed
    // to disk; the file keeps its own name too. False (errno set) where the
    // file system has no hard links.
    [[nodiscard]] bool Link(int fd);
    // Moves the file at path into the trash, replacing nothing.
    [[nodiscard]] bool Move(const std::string& path);
    // Moves it back to path, replacing nothing.
    [[nodiscard]] bool MoveBack(const std::string& path);
    // The file stays in the trash.
    void Keep() { kept_ = true; }

    std::string TrashedPath() const;

  private:
    TTrashSlot() = default;

    std::string files_;   // the trash's "files" folder
    std::string record_;  // the record in its "info" folder
    std::string name_;
    bool linked_ = false;
    bool kept_ = false;
};

// Moves the file at path into the trash. False when it is not in a trash
// afterwards; the file is then at path as it was.
bool MoveToRecycleBin(const std::string& path);

}  // namespace plume
