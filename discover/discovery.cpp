#include "discover/discovery.h"

#include <algorithm>

#include "discover/config_files.h"
#include "discover/launcher_readers.h"

namespace tovik::discover {

namespace {

namespace fs = std::filesystem;

// PlayOnLinux keeps every prefix in ~/.PlayOnLinux/wineprefix/<name>.
void findPlayOnLinuxPrefixes(const UserFolders& folders, FoundSink& sink) {
    std::vector<fs::path> prefixes;
    std::error_code ec;
    fs::directory_iterator it(fs::path(folders.home) / ".PlayOnLinux/wineprefix", ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) prefixes.push_back(it->path());
    std::sort(prefixes.begin(), prefixes.end());
    for (const fs::path& prefix : prefixes)
        sink.addPrefix(RegistryKind::PlayOnLinux, prefix.filename().string(), prefix);
}

void findWinePrefixes(const UserFolders& folders, FoundSink& sink) {
    if (!folders.winePrefix.empty()) sink.addPrefix(RegistryKind::Wine, {}, folders.winePrefix);
    sink.addPrefix(RegistryKind::Wine, {}, fs::path(folders.home) / ".wine");
}

}  // namespace

std::string_view kindWord(RegistryKind kind) {
    switch (kind) {
    case RegistryKind::TovikStore: return "tovik";
    case RegistryKind::Wine: return "wine";
    case RegistryKind::Proton: return "proton";
    case RegistryKind::Lutris: return "lutris";
    case RegistryKind::Bottles: return "bottles";
    case RegistryKind::Heroic: return "heroic";
    case RegistryKind::PlayOnLinux: return "playonlinux";
    }
    return "wine";
}

void discoverRegistries(const UserFolders& folders, const FoundCallback& onFound, std::stop_token stop) {
    FoundSink sink(onFound, std::move(stop));
    sink.addStore("Tovik", folders.tovikStorePath());
    for (const auto reader : {findProtonPrefixes, findLutrisPrefixes, findBottles, findHeroicPrefixes,
                              findPlayOnLinuxPrefixes, findWinePrefixes}) {
        if (sink.stopped()) return;
        reader(folders, sink);
    }
}

std::vector<FoundRegistry> discoverAllRegistries(const UserFolders& folders) {
    std::vector<FoundRegistry> found;
    discoverRegistries(folders, [&found](const FoundRegistry& registry) { found.push_back(registry); });
    return found;
}

std::optional<std::string> findSteamAppPrefix(const UserFolders& folders, std::string_view appId) {
    if (appId.empty() || appId.find('/') != std::string_view::npos || appId == "." || appId == "..")
        return std::nullopt;
    for (const std::string& library : steamLibraries(folders)) {
        const fs::path prefix = fs::path(library) / "steamapps/compatdata" / appId / "pfx";
        if (isWinePrefix(prefix)) return canonicalText(prefix);
    }
    return std::nullopt;
}

}  // namespace tovik::discover
