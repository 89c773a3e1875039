// The current user's folders as freedesktop.org's XDG base directories
// (version 0.8) name them: where settings are kept and where the data home
// (with the trash) lies. Read from the environment at each call.
#pragma once

#include <string>
#include <vector>

namespace plume {

// HOME, or "/" when it is not set (as Qt's home path).
std::string HomeFolder();

// The folder a base-directory variable names (XDG_CONFIG_HOME,
// XDG_DATA_HOME) when its value is an absolute path; otherwise the folder
// belowHome in the home folder (".config", ".local/share"): "If
// $XDG_..._HOME is either not set or empty, a default ... should be used",
// and relative paths are invalid. No trailing slash.
std::string BaseFolder(const char* variable, const char* belowHome);

// The absolute entries of XDG_CONFIG_DIRS in order, or {"/etc/xdg"} when
// there is none.
std::vector<std::string> ConfigFolders();

}  // namespace plume
