#pragma once
// One reader per launcher. Each reports the prefixes it finds to the sink and skips whatever it
// cannot read: a missing folder, a damaged or foreign file, a prefix that is gone.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discover/found_sink.h"
#include "discover/user_folders.h"

namespace tovik::discover {

// Steam's Proton prefixes, steamapps/compatdata/<appid>/pfx of every Steam library.
void findProtonPrefixes(const UserFolders& folders, FoundSink& sink);
// The libraries of every Steam installation (native and Flatpak), each once.
std::vector<std::string> steamLibraries(const UserFolders& folders);

void findLutrisPrefixes(const UserFolders& folders, FoundSink& sink);
void findBottles(const UserFolders& folders, FoundSink& sink);
void findHeroicPrefixes(const UserFolders& folders, FoundSink& sink);

}  // namespace tovik::discover
