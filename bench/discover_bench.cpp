#include "bench/discover_bench.h"

#include <filesystem>
#include <fstream>

#include "stores/registry_discovery.h"

namespace tovik::bench {

namespace {

namespace fs = std::filesystem;

constexpr int kSteamGames = 200;
constexpr int kPrefixesPerLauncher = 50 / 5;  // Lutris, Bottles, Heroic, PlayOnLinux, a second Steam root's games
constexpr std::uint64_t kRegistries = 1 + kSteamGames + 5 * kPrefixesPerLauncher;  // with the Tovik store

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

void prefix(const fs::path& dir) {
    write(dir / "system.reg", "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n");
    write(dir / "user.reg",
          "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n");
}

std::string manifest(int appId) {
    const std::string id = std::to_string(appId);
    return "\"AppState\"\n{\n\t\"appid\"\t\t\"" + id + "\"\n\t\"Universe\"\t\t\"1\"\n\t\"name\"\t\t\"Game " + id +
           "\"\n\t\"StateFlags\"\t\t\"4\"\n\t\"installdir\"\t\t\"Game " + id +
           "\"\n\t\"InstalledDepots\"\n\t{\n\t\t\"" + id +
           "1\"\n\t\t{\n\t\t\t\"manifest\"\t\t\"123456789\"\n\t\t}\n\t}\n}\n";
}

// The home, made once under dataDir and kept (its files never change).
fs::path makeHome(const std::string& dataDir) {
    const fs::path home = fs::path(dataDir) / "discover-home";
    if (fs::exists(home / ".made")) return home;
    std::error_code ignored;
    fs::remove_all(home, ignored);
    const fs::path steam = home / ".local/share/Steam";
    std::string apps;
    for (int game = 0; game < kSteamGames; ++game) {
        const int id = 1000000 + game * 10;
        prefix(steam / "steamapps/compatdata" / std::to_string(id) / "pfx");
        write(steam / "steamapps" / ("appmanifest_" + std::to_string(id) + ".acf"), manifest(id));
        apps += "\t\t\t\"" + std::to_string(id) + "\"\t\t\"1000000\"\n";
    }
    const fs::path library2 = home / "games/SteamLibrary";
    write(steam / "steamapps/libraryfolders.vdf",
          "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + steam.string() + "\"\n\t\t\"apps\"\n\t\t{\n" +
              apps + "\t\t}\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + library2.string() + "\"\n\t}\n}\n");
    fs::create_directories(home / ".steam");
    fs::create_symlink(steam, home / ".steam/steam");
    for (int i = 0; i < kPrefixesPerLauncher; ++i) {
        const std::string n = std::to_string(i);
        const int id = 2000000 + i;
        prefix(library2 / "steamapps/compatdata" / std::to_string(id) / "pfx");
        write(library2 / "steamapps" / ("appmanifest_" + std::to_string(id) + ".acf"), manifest(id));
        write(home / ".local/share/lutris/games" / ("game-" + n + "-1700000000.yml"),
              "name: Lutris game " + n + "\ngame:\n  exe: drive_c/game.exe\n  prefix: " +
                  (home / "Games/lutris" / n).string() + "\nwine:\n  version: lutris-7.2\n");
        prefix(home / "Games/lutris" / n);
        write(home / ".local/share/bottles/bottles" / ("Bottle" + n) / "bottle.yml",
              "Name: Bottle " + n + "\nPath: Bottle" + n + "\nEnvironment: Gaming\nRunner: soda-7.0\n");
        prefix(home / ".local/share/bottles/bottles" / ("Bottle" + n));
        write(home / ".config/heroic/GamesConfig" / ("App" + n + ".json"),
              "{\"App" + n + "\": {\"winePrefix\": \"" +
                  (home / "Games/Heroic/Prefixes/default" / ("Game " + n)).string() +
                  "\", \"wineVersion\": {\"type\": \"wine\"}}, \"version\": \"v0\"}");
        prefix(home / "Games/Heroic/Prefixes/default" / ("Game " + n));
        prefix(home / ".PlayOnLinux/wineprefix" / ("Prefix" + n));
    }
    std::ofstream(home / ".made") << "made by tovik-bench\n";
    return home;
}

}  // namespace

void timeDiscovery(BenchRunner& runner, const std::string& dataDir) {
    const CaseSpec spec{kDiscoverOperation, kDiscoverWorkload, "registries", kRegistries};
    if (!runner.wanted(spec)) return;
    const fs::path home = makeHome(dataDir);
    discover::UserFolders folders;
    folders.home = home.string();
    folders.dataHome = (home / ".local/share").string();
    folders.configHome = (home / ".config").string();
    runner.run(spec, [&](Stopwatch& watch) {
        watch.start();
        const std::vector<discover::FoundRegistry> found = tovik::discoverAllRegistries(folders);
        watch.stop();
        RunResult result;
        result.items = found.size();
        return result;
    });
}

}  // namespace tovik::bench
