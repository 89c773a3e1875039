#include "app/files/UserFolders.h"

#include <cstdlib>
#include <string_view>

namespace plume {
namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string_view Environment(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

}  // namespace

std::string HomeFolder() {
    const std::string_view home = Environment("HOME");
    return home.empty() ? "/" : WithoutTrailingSlash(std::string(home));
}

std::string BaseFolder(const char* variable, const char* belowHome) {
    const std::string_view value = Environment(variable);
    if (value.starts_with('/')) return WithoutTrailingSlash(std::string(value));
    const std::string home = HomeFolder();
    return (home == "/" ? home : home + "/") + belowHome;
}

std::vector<std::string> ConfigFolders() {
    std::vector<std::string> folders;
    std::string_view list = Environment("XDG_CONFIG_DIRS");
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        const std::string_view entry = list.substr(0, colon);
        if (entry.starts_with('/')) folders.push_back(WithoutTrailingSlash(std::string(entry)));
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    if (folders.empty()) folders.push_back("/etc/xdg");
    return folders;
}

}  // namespace plume
