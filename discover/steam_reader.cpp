// Steam keeps a Proton game's prefix in steamapps/compatdata/<appid>/pfx of the library that
// holds the game; the libraries are listed in libraryfolders.vdf and each game's name is in
// steamapps/appmanifest_<appid>.acf.
#include <algorithm>
#include <set>

#include "discover/config_files.h"
#include "discover/key_values.h"
#include "discover/launcher_readers.h"
#include "language/messages.h"

namespace tovik::discover {

namespace {

namespace fs = std::filesystem;

bool isAppId(std::string_view text) {
    return !text.empty() && text.size() <= 20 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<fs::path> steamRoots(const UserFolders& folders) {
    const fs::path home(folders.home);
    const fs::path flatpak = home / ".var/app/com.valvesoftware.Steam";
    return {home / ".steam/steam",
            home / ".steam/root",
            home / ".steam/debian-installation",
            fs::path(folders.dataHome) / "Steam",
            home / ".local/share/Steam",
            flatpak / ".local/share/Steam",
            flatpak / "data/Steam",
            flatpak / ".steam/steam"};
}

// The library paths a libraryfolders.vdf lists: { "0" { "path" "..." } } in current files,
// { "1" "..." } in older ones.
void listedLibraries(const fs::path& file, std::vector<fs::path>& out) {
    const auto text = readConfigFile(file);
    if (!text) return;
    const auto tree = parseKeyValues(*text);
    if (!tree || tree->children.empty() || !tree->children.front().isBlock) return;
    for (const KeyValues& entry : tree->children.front().children) {
        if (!isAppId(entry.key)) continue;
        const std::string path = entry.isBlock ? entry.text("path") : entry.value;
        if (!path.empty() && path.front() == '/') out.emplace_back(path);
    }
}

// The game's name from the manifest in any library, else empty.
std::string appName(const std::vector<std::string>& libraries, const std::string& appId) {
    for (const std::string& library : libraries) {
        const auto text = readConfigFile(fs::path(library) / "steamapps" / ("appmanifest_" + appId + ".acf"), 1u << 20);
        if (!text) continue;
        const auto tree = parseKeyValues(*text);
        if (!tree || tree->children.empty()) continue;
        std::string name = tree->children.front().text("name");
        if (!name.empty()) return name;
    }
    return {};
}

}  // namespace

std::vector<std::string> steamLibraries(const UserFolders& folders) {
    std::vector<std::string> libraries;
    std::set<std::string> seen;
    std::error_code ec;
    for (const fs::path& root : steamRoots(folders)) {
        if (!fs::is_directory(root, ec)) continue;
        std::vector<fs::path> candidates{root};
        listedLibraries(root / "steamapps/libraryfolders.vdf", candidates);
        listedLibraries(root / "config/libraryfolders.vdf", candidates);
        for (const fs::path& library : candidates) {
            if (!fs::is_directory(library / "steamapps", ec)) continue;
            std::string canonical = canonicalText(library);
            if (seen.insert(canonical).second) libraries.push_back(std::move(canonical));
        }
    }
    return libraries;
}

void findProtonPrefixes(const UserFolders& folders, FoundSink& sink) {
    const std::vector<std::string> libraries = steamLibraries(folders);
    for (const std::string& library : libraries) {
        std::error_code ec;
        fs::directory_iterator it(fs::path(library) / "steamapps/compatdata", ec);
        std::vector<std::string> appIds;
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::string id = it->path().filename().string();
            if (isAppId(id)) appIds.push_back(std::move(id));
        }
        // Numeric order, so a list shows a library's games in a stable order.
        std::sort(appIds.begin(), appIds.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        for (const std::string& id : appIds) {
            if (sink.stopped()) return;
            const fs::path prefix = fs::path(library) / "steamapps/compatdata" / id / "pfx";
            if (!isWinePrefix(prefix)) continue;
            std::string name = appName(libraries, id);
            // A non-Steam game added to Steam has no manifest.
            if (name.empty()) name = say({"Steam app %1", "Steamアプリ %1"}, {id});
            sink.addPrefix(RegistryKind::Proton, name, prefix, id);
        }
    }
}

}  // namespace tovik::discover
