#include "settings/settings_folder.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace velnar {

std::string DesktopSettingsFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/velnar";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.config/velnar";
    return {};
}

bool MakePrivateFolder(const std::string& path)
{
    std::error_code error;
    if (path.empty())
        return false;
    if (std::filesystem::is_directory(path, error))
        return true;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && parent != path && !MakePrivateFolder(parent.string()))
        return false;
    // Another program may have made it meanwhile.
    return ::mkdir(path.c_str(), 0700) == 0 ||
           (errno == EEXIST && std::filesystem::is_directory(path, error));
}

}  // namespace velnar
