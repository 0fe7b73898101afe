#pragma once
// Finding the registries on this machine: Tovik's store, Wine prefixes ($WINEPREFIX, ~/.wine)
// and the prefixes of Steam's Proton, Lutris, Bottles, Heroic and PlayOnLinux. Each is reported
// as soon as it is found, once, and a stop request ends the search between two entries. Nothing
// here asks Wine whether it runs a prefix; the caller adds that.
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "discover/found_registry.h"
#include "discover/found_sink.h"
#include "discover/user_folders.h"

namespace tovik::discover {

// Calls onFound for each registry, in the order: the Tovik store, the launchers' prefixes, then
// $WINEPREFIX and ~/.wine (a folder a launcher names is reported with the launcher's name).
void discoverRegistries(const UserFolders& folders, const FoundCallback& onFound, std::stop_token stop = {});
std::vector<FoundRegistry> discoverAllRegistries(const UserFolders& folders);

// The Proton prefix of Steam app appId in any Steam library; nothing when it has none.
std::optional<std::string> findSteamAppPrefix(const UserFolders& folders, std::string_view appId);

}  // namespace tovik::discover
