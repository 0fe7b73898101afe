#include "stores/registry_source_args.h"

#include <algorithm>

#include "discover/discovery.h"
#include "language/messages.h"

namespace tovik {

namespace {

std::string twice(std::string_view option) {
    return say({"%1 is given twice.", "%1 が2回あります。"}, {option});
}

// The value of option name at args[i] (joined with '=' or the next argument); false when args[i]
// is not that option.
bool takeValue(std::span<const std::string_view> args, std::size_t& i, std::string_view name, std::string& value,
               std::string& error) {
    const std::string_view arg = args[i];
    if (arg == name) {
        if (i + 1 < args.size())
            value = std::string(args[++i]);
        else
            value.clear();
    } else if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        value = std::string(arg.substr(name.size() + 1));
    } else {
        return false;
    }
    if (value.empty()) error = say({"%1 needs a value.", "%1 には値が必要です。"}, {name});
    return true;
}

bool setKind(RegistrySource& source, RegistrySource::Kind kind, std::string path, std::string& error) {
    if (source.kind != RegistrySource::Kind::UserStore) {
        error = say(kOneRegistryOnly);
        return true;
    }
    source.kind = kind;
    source.path = std::move(path);
    return true;
}

// The options of Windows hive files.
bool takeHiveSourceOption(std::span<const std::string_view> args, std::size_t& i, RegistrySource& source,
                          std::string& error) {
    std::string value;
    if (args[i] == "--write") {
        if (source.writable) error = twice("--write");
        source.writable = true;
        return true;
    }
    if (takeValue(args, i, "--windows", value, error)) {
        return error.empty() ? setKind(source, RegistrySource::Kind::Windows, value, error) : true;
    }
    if (takeValue(args, i, "--hive", value, error)) {
        return error.empty() ? setKind(source, RegistrySource::Kind::Hive, value, error) : true;
    }
    if (takeValue(args, i, "--user", value, error)) {
        if (error.empty() && !source.userHive.empty()) error = twice("--user");
        source.userHive = value;
        return true;
    }
    if (takeValue(args, i, "--as", value, error)) {
        if (error.empty() && !source.mountAs.empty()) error = twice("--as");
        source.mountAs = value;
        return true;
    }
    return false;
}

}  // namespace

bool takeRegistrySourceOption(std::span<const std::string_view> args, std::size_t& i, RegistrySource& source,
                              std::string& error, std::span<const std::string_view> commandWords) {
    error.clear();
    if (i >= args.size()) return false;
    std::string value;
    if (args[i] == "--wine-prefix") {
        // Without a folder: the default prefix, found when the registry is opened.
        const bool bare = i + 1 == args.size() || args[i + 1].starts_with('-') ||
                          std::find(commandWords.begin(), commandWords.end(), args[i + 1]) != commandWords.end();
        if (bare) return setKind(source, RegistrySource::Kind::WinePrefix, {}, error);
    }
    if (takeValue(args, i, "--wine-prefix", value, error)) {
        return error.empty() ? setKind(source, RegistrySource::Kind::WinePrefix, value, error) : true;
    }
    if (takeValue(args, i, "--steam-app", value, error)) {
        if (!error.empty()) return true;
        if (value.size() > 20 ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            error = say({"--steam-app needs a Steam app's number (APPID), such as 1091500.",
                         "--steam-app にはSteamのアプリの番号（APPID、例えば 1091500）が必要です。"});
            return true;
        }
        setKind(source, RegistrySource::Kind::WinePrefix, {}, error);
        if (error.empty()) source.steamApp = value;
        return true;
    }
    return takeHiveSourceOption(args, i, source, error);
}

std::string checkRegistrySource(const RegistrySource& source) {
    using Kind = RegistrySource::Kind;
    if (!source.userHive.empty() && source.kind != Kind::Windows)
        return say({"--user goes with --windows DIR.", "--user は --windows DIR と一緒に使います。"});
    if (!source.mountAs.empty() && source.kind != Kind::Hive)
        return say({"--as goes with --hive FILE.", "--as は --hive FILE と一緒に使います。"});
    if (source.kind == Kind::Hive && source.mountAs.empty()) {
        return say({"--hive needs --as KEY, the key to show the hive under (for example 'HKLM\\SOFTWARE').",
                    "--hive には --as KEY（ハイブを表示するキー、例えば 'HKLM\\SOFTWARE'）が必要です。"});
    }
    if (source.writable && source.kind != Kind::Windows && source.kind != Kind::Hive) {
        return say({"--write goes with --windows or --hive; the other registries are written without it.",
                    "--write は --windows か --hive と一緒に使います。ほかのレジストリはそれなしで書き込めます。"});
    }
    return {};
}

std::string resolveRegistrySource(RegistrySource& source, const discover::UserFolders& folders) {
    if (source.kind != RegistrySource::Kind::WinePrefix || !source.path.empty()) return {};
    if (source.steamApp.empty()) {
        source.path = folders.defaultWinePrefix();
        return {};
    }
    if (auto prefix = discover::findSteamAppPrefix(folders, source.steamApp)) {
        source.path = std::move(*prefix);
        return {};
    }
    return say({"Steam app %1 has no Proton prefix in the Steam libraries (steamapps/compatdata/%1/pfx): run the "
                "game once with Proton, or name the prefix with --wine-prefix DIR.",
                "Steamのライブラリに、Steamアプリ %1 のProtonのプレフィックス（steamapps/compatdata/%1/pfx）が"
                "ありません。Protonでゲームを一度起動するか、--wine-prefix DIR でプレフィックスを指定してください。"},
               {source.steamApp});
}

}  // namespace tovik
