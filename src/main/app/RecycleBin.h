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

#include <string>

namespace plume {

// Moves the file at path into the trash. False when it is not in a trash
// afterwards; the file is then at path as it was. The home trash is made
// first where it is missing (folders of mode 0700), as on a fresh account;
// when it cannot be made, nothing is moved.
bool MoveToRecycleBin(const std::string& path);

}  // namespace plume
