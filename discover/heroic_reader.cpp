// Heroic keeps one JSON file per game in GamesConfig/<appName>.json: { "<appName>": {
// "winePrefix": "...", ... } }. With Proton the prefix folder holds pfx/, where the registry is.
#include <nlohmann/json.hpp>

#include <algorithm>

#include "discover/config_files.h"
#include "discover/launcher_readers.h"

namespace tovik::discover {

namespace {

namespace fs = std::filesystem;

std::string winePrefixOf(const nlohmann::json& game) {
    if (!game.is_object()) return {};
    const auto it = game.find("winePrefix");
    return it != game.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

void findHeroicPrefixes(const UserFolders& folders, FoundSink& sink) {
    for (const fs::path& configs :
         {fs::path(folders.configHome) / "heroic/GamesConfig",
          fs::path(folders.home) / ".var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig"}) {
        if (!sink.firstVisit(configs)) continue;
        std::vector<fs::path> files;
        std::error_code ec;
        fs::directory_iterator it(configs, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            if (it->path().extension() == ".json") files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            if (sink.stopped()) return;
            const auto text = readConfigFile(file, 4u << 20);
            if (!text) continue;
            const nlohmann::json config = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
            if (!config.is_object()) continue;
            const auto game = config.find(file.stem().string());
            if (game == config.end()) continue;
            const fs::path prefix = expandHome(winePrefixOf(*game), folders.home);
            if (prefix.empty()) continue;
            // Heroic's default prefix folder is named after the game's title.
            const std::string name = prefix.filename().string();
            if (!sink.addPrefix(RegistryKind::Heroic, name, prefix))
                sink.addPrefix(RegistryKind::Heroic, name, prefix / "pfx");
        }
    }
}

}  // namespace tovik::discover
