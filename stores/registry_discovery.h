#pragma once
// The registries found on this machine (discover/), each with whether it opens read-only now:
// a prefix that a wineserver runs is read-only until Wine stops.
#include <stop_token>
#include <vector>

#include "discover/discovery.h"

namespace tovik {

// Like discover::discoverRegistries, with readOnly and readOnlyReason filled in.
void discoverRegistries(const discover::UserFolders& folders, const discover::FoundCallback& onFound,
                        std::stop_token stop = {});
std::vector<discover::FoundRegistry>
discoverAllRegistries(const discover::UserFolders& folders = discover::UserFolders::fromEnvironment());

}  // namespace tovik
