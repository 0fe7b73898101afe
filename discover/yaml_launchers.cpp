// Lutris and Bottles describe their prefixes in YAML: a Lutris game file
// (<slug>-<timestamp>.yml) holds game: prefix:, a bottle's folder holds bottle.yml with Name:.
#include <yaml-cpp/yaml.h>

#include <algorithm>

#include "discover/config_files.h"
#include "discover/launcher_readers.h"

namespace tovik::discover {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxYamlBytes = 1u << 20;

// The document in file, or a null node when it cannot be read or is not YAML.
YAML::Node loadYaml(const fs::path& file) {
    const auto text = readConfigFile(file, kMaxYamlBytes);
    if (!text) return YAML::Node();
    try {
        return YAML::Load(*text);
    } catch (const std::exception&) {  // YAML::Exception, and its depth guard
        return YAML::Node();
    }
}

// The text of map[key] when map is a map and that entry a scalar; else empty.
std::string scalarOf(const YAML::Node& map, const char* key) {
    if (!map.IsMap()) return {};
    try {
        const YAML::Node node = map[key];
        return node.IsScalar() ? node.Scalar() : std::string();
    } catch (const std::exception&) {
        return {};
    }
}

// The files of folder, in name order so that what is found first does not depend on the disk.
std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

// "quake-darkplaces-1617291234" -> "quake-darkplaces": the game's slug.
std::string slugOf(const fs::path& file) {
    std::string stem = file.stem().string();
    const std::size_t dash = stem.rfind('-');
    if (dash != std::string::npos && dash + 1 < stem.size() &&
        std::all_of(stem.begin() + static_cast<std::ptrdiff_t>(dash) + 1, stem.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
        stem.erase(dash);
    }
    return stem;
}

}  // namespace

void findLutrisPrefixes(const UserFolders& folders, FoundSink& sink) {
    const fs::path flatpak = fs::path(folders.home) / ".var/app/net.lutris.Lutris";
    for (const fs::path& gamesFolder :
         {fs::path(folders.dataHome) / "lutris/games", fs::path(folders.configHome) / "lutris/games",
          flatpak / "data/lutris/games", flatpak / "config/lutris/games"}) {
        if (!sink.firstVisit(gamesFolder)) continue;
        for (const fs::path& file : filesIn(gamesFolder)) {
            if (sink.stopped()) return;
            if (file.extension() != ".yml" && file.extension() != ".yaml") continue;
            const YAML::Node game = loadYaml(file);
            const fs::path prefix =
                expandHome(scalarOf(game.IsMap() ? game["game"] : YAML::Node(), "prefix"), folders.home);
            if (prefix.empty()) continue;
            std::string name = scalarOf(game, "name");
            if (name.empty()) name = slugOf(file);
            sink.addPrefix(RegistryKind::Lutris, name, prefix);
        }
    }
}

void findBottles(const UserFolders& folders, FoundSink& sink) {
    for (const fs::path& bottles : {fs::path(folders.dataHome) / "bottles/bottles",
                                    fs::path(folders.home) / ".var/app/com.usebottles.bottles/data/bottles/bottles"}) {
        if (!sink.firstVisit(bottles)) continue;
        for (const fs::path& bottle : filesIn(bottles)) {
            if (sink.stopped()) return;
            // A bottle whose bottle.yml is damaged is one Bottles itself does not offer.
            const YAML::Node config = loadYaml(bottle / "bottle.yml");
            if (!config.IsMap()) continue;
            sink.addPrefix(RegistryKind::Bottles, scalarOf(config, "Name"), bottle);
        }
    }
}

}  // namespace tovik::discover
