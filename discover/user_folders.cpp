#include "discover/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tovik::discover {

namespace {

// The XDG base-directory variables hold only absolute paths; a relative one is ignored, as the
// XDG base-directory rules ask.
std::string absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

}  // namespace

UserFolders UserFolders::fromEnvironment() {
    UserFolders folders;
    const char* home = std::getenv("HOME");
    if (home && home[0]) {
        folders.home = home;
    } else {
        const passwd* pw = getpwuid(getuid());
        folders.home = pw && pw->pw_dir ? pw->pw_dir : "/tmp";
    }
    folders.dataHome = absoluteVariable("XDG_DATA_HOME");
    if (folders.dataHome.empty()) folders.dataHome = folders.home + "/.local/share";
    folders.configHome = absoluteVariable("XDG_CONFIG_HOME");
    if (folders.configHome.empty()) folders.configHome = folders.home + "/.config";
    if (const char* prefix = std::getenv("WINEPREFIX")) folders.winePrefix = prefix;
    return folders;
}

std::string UserFolders::tovikStorePath() const {
    return dataHome + "/tovik/registry.db";
}

std::string UserFolders::defaultWinePrefix() const {
    return winePrefix.empty() ? home + "/.wine" : winePrefix;
}

}  // namespace tovik::discover
