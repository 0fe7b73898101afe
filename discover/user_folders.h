#pragma once
// The folders discovery looks in, taken from the environment once ($HOME, $XDG_DATA_HOME,
// $XDG_CONFIG_HOME, $WINEPREFIX) so that tests and benchmarks can point them at a fake home.
#include <string>

namespace tovik::discover {

struct UserFolders {
    std::string home;
    std::string dataHome;    // $XDG_DATA_HOME, else ~/.local/share
    std::string configHome;  // $XDG_CONFIG_HOME, else ~/.config
    std::string winePrefix;  // $WINEPREFIX; empty when unset

    static UserFolders fromEnvironment();

    // Tovik's own store: <dataHome>/tovik/registry.db.
    std::string tovikStorePath() const;
    // The prefix Wine uses when none is named: $WINEPREFIX, else ~/.wine.
    std::string defaultWinePrefix() const;
};

}  // namespace tovik::discover
