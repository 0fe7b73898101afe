#pragma once
// A home folder as a user of every launcher has it, built in a temporary folder: Steam with two
// libraries (one reached through a symlinked root) and a Flatpak install, Lutris, Bottles native
// and Flatpak, Heroic native and Flatpak, PlayOnLinux, $WINEPREFIX and ~/.wine; and beside them a
// damaged file of each kind and folders that are no prefix, which discovery must skip.
#include <filesystem>
#include <string>
#include <vector>

#include "discover/user_folders.h"
#include "wine_test_support.h"

namespace fake_home {

namespace fs = std::filesystem;

struct Expected {
    std::string kind;    // as tovik-reg registries prints it
    std::string name;    // UTF-8
    std::string folder;  // canonical
};

class FakeHome {
public:
    FakeHome();
    const fs::path& home() const { return home_; }
    tovik::discover::UserFolders folders() const;
    // "HOME=... XDG_DATA_HOME=... XDG_CONFIG_HOME=... WINEPREFIX=..." quoted for the shell.
    std::string environment() const;
    // What discovery must report, each once, and nothing else.
    const std::vector<Expected>& expected() const { return expected_; }
    // The folder of the prefix expected with name.
    std::string folderOf(const std::string& name) const;

private:
    void prefix(const std::string& kind, const std::string& name, const fs::path& folder);

    wine_test::ScratchDir scratch_;
    fs::path home_;
    std::vector<Expected> expected_;
};

}  // namespace fake_home
