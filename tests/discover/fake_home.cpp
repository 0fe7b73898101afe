#include "fake_home.h"

#include <sys/stat.h>

namespace fake_home {

namespace {

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    wine_test::writeBytes(file, text);
}

std::string manifest(const std::string& appId, const std::string& quotedName) {
    return "\"AppState\"\n{\n\t\"appid\"\t\t\"" + appId + "\"\n\t\"Universe\"\t\t\"1\"\n\t\"name\"\t\t" + quotedName +
           "\n\t\"UserConfig\"\n\t{\n\t\t\"language\"\t\t\"english\"\n\t}\n}\n";
}

}  // namespace

void FakeHome::prefix(const std::string& kind, const std::string& name, const fs::path& folder) {
    wine_test::makeEmptyPrefix(folder);
    expected_.push_back({kind, name, fs::canonical(folder).string()});
}

FakeHome::FakeHome() : home_(fs::canonical(scratch_.path()) / "home") {
    const fs::path data = home_ / ".local/share";
    const fs::path config = home_ / "settings";  // a $XDG_CONFIG_HOME of its own
    expected_.push_back({"tovik", "Tovik", (data / "tovik/registry.db").string()});

    // Steam: the native root, also reached as ~/.steam/steam; a second library it lists; a
    // Flatpak install whose library list is damaged.
    const fs::path steam = data / "Steam";
    const fs::path library2 = home_ / "games/SteamLibrary";
    write(steam / "steamapps/libraryfolders.vdf",
          "// written by Steam\n\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + steam.string() +
              "\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"220\"\t\t\"4000\"\n\t\t}\n\t}\n\t\"1\"\n\t{"
              "\n\t\t\"path\"\t\t\"" +
              library2.string() + "\" [$LINUX]\n\t}\n}\n");
    fs::create_directories(home_ / ".steam");
    fs::create_symlink(steam, home_ / ".steam/steam");
    prefix("proton", "Half-Life 2", steam / "steamapps/compatdata/220/pfx");
    write(steam / "steamapps/appmanifest_220.acf", manifest("220", "\"Half-Life 2\""));
    fs::create_directories(steam / "steamapps/compatdata/228980");  // no pfx: not a prefix
    prefix("proton", "Steam app 2147483649",
           steam / "steamapps/compatdata/2147483649/pfx");  // a non-Steam game
    prefix("proton", "The \"Quoted\" Game", library2 / "steamapps/compatdata/1091500/pfx");
    write(library2 / "steamapps/appmanifest_1091500.acf", manifest("1091500", "\"The \\\"Quoted\\\" Game\""));
    prefix("proton", "Steam app 570", library2 / "steamapps/compatdata/570/pfx");
    write(library2 / "steamapps/appmanifest_570.acf", "\"AppState\"\n{\n\t\"name\"\t\t\"Dota 2");  // damaged
    const fs::path flatpakSteam = home_ / ".var/app/com.valvesoftware.Steam/.local/share/Steam";
    write(flatpakSteam / "steamapps/libraryfolders.vdf", "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\" }}}");
    prefix("proton", "Counter-Strike 2", flatpakSteam / "steamapps/compatdata/730/pfx");
    write(flatpakSteam / "steamapps/appmanifest_730.acf", manifest("730", "\"Counter-Strike 2\""));

    // Lutris: game files in the data folder and in the configuration folder.
    write(data / "lutris/games/gta-v-1617291234.yml",
          "game:\n  exe: drive_c/gta/GTA5.exe\n  prefix: ~/Games/gta-v\nwine:\n  version: lutris-7.2\n");
    prefix("lutris", "gta-v", home_ / "Games/gta-v");
    write(config / "lutris/games/overwatch-1600000000.yml",
          "name: Overwatch 2\ngame:\n  prefix: " + (home_ / "Games/overwatch").string() + "\n");
    prefix("lutris", "Overwatch 2", home_ / "Games/overwatch");
    // The same prefix again, spelt another way: reported once, under the name found first.
    write(config / "lutris/games/gta-v-1700000000.yml",
          "game:\n  prefix: " + (home_ / "Games/../Games/./gta-v").string() + "\n");
    write(data / "lutris/games/broken-1.yml", "game: [prefix: {\n  \"unclosed");
    write(data / "lutris/games/native-2.yml",
          "game:\n  exe: /usr/games/native\n");  // no prefix: a native game
    write(data / "lutris/games/notes.txt", "game:\n  prefix: " + (home_ / ".wine").string() + "\n");
    ::mkfifo((data / "lutris/games/fifo-3.yml").c_str(), 0600);  // opened, it would block a reader

    // Bottles, native and Flatpak, and a bottle whose file is damaged.
    write(data / "bottles/bottles/Office/bottle.yml", "Name: Office 2010\nPath: Office\nEnvironment: Software\n");
    prefix("bottles", "Office 2010", data / "bottles/bottles/Office");
    write(data / "bottles/bottles/Broken/bottle.yml", "Name: [unclosed\n");
    wine_test::makeEmptyPrefix(data / "bottles/bottles/Broken");
    const fs::path flatpakBottles = home_ / ".var/app/com.usebottles.bottles/data/bottles/bottles";
    write(flatpakBottles / "Games/bottle.yml", "Name: Gaming\nPath: Games\n");
    prefix("bottles", "Gaming", flatpakBottles / "Games");

    // Heroic: a Wine prefix, a Proton one (the registry in pfx/) from the Flatpak, damaged JSON.
    const fs::path fortnite = home_ / "Games/Heroic/Prefixes/default/Fortnite";
    write(config / "heroic/GamesConfig/Fortnite.json",
          "{\"Fortnite\": {\"winePrefix\": \"" + fortnite.string() +
              "\", \"wineVersion\": {\"type\": \"wine\"}}, \"version\": \"v0\"}");
    prefix("heroic", "Fortnite", fortnite);
    write(home_ / ".var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig/Min.json",
          "{\"Min\": {\"winePrefix\": \"~/Games/Heroic/Prefixes/Hades\", \"wineVersion\": {\"type\": "
          "\"proton\"}}}");
    prefix("heroic", "Hades", home_ / "Games/Heroic/Prefixes/Hades/pfx");
    write(config / "heroic/GamesConfig/broken.json", "{\"broken\": {\"winePrefix\": ");
    write(config / "heroic/GamesConfig/other.json", "{\"other\": {\"winePrefix\": 42}}");

    // PlayOnLinux, with a folder that holds no registry.
    prefix("playonlinux", "Notepad++", home_ / ".PlayOnLinux/wineprefix/Notepad++");
    fs::create_directories(home_ / ".PlayOnLinux/wineprefix/empty");

    prefix("wine", "custom", home_ / "prefixes/custom");  // $WINEPREFIX
    prefix("wine", ".wine", home_ / ".wine");
}

tovik::discover::UserFolders FakeHome::folders() const {
    tovik::discover::UserFolders folders;
    folders.home = home_.string();
    folders.dataHome = (home_ / ".local/share").string();
    folders.configHome = (home_ / "settings").string();
    folders.winePrefix = (home_ / "prefixes/custom").string();
    return folders;
}

std::string FakeHome::environment() const {
    const tovik::discover::UserFolders f = folders();
    return "HOME=" + wine_test::shellQuoted(f.home) + " XDG_DATA_HOME=" + wine_test::shellQuoted(f.dataHome) +
           " XDG_CONFIG_HOME=" + wine_test::shellQuoted(f.configHome) +
           " WINEPREFIX=" + wine_test::shellQuoted(f.winePrefix);
}

std::string FakeHome::folderOf(const std::string& name) const {
    for (const Expected& e : expected_) {
        if (e.name == name) return e.folder;
    }
    return {};
}

}  // namespace fake_home
