#include "stores/registry_source_args.h"

namespace tovik {

namespace {

struct OptionSpec {
    std::string_view name;       // "--wine-prefix"
    std::string_view valueName;  // "a folder", for "--wine-prefix needs a folder."
};

bool TakeValue(std::span<const std::string_view> args, std::size_t& i, const OptionSpec& spec,
               std::optional<std::string>& slot, bool& matched, std::string& error)
{
    const std::string_view arg = args[i];
    std::optional<std::string_view> value;
    if (arg == spec.name) {
        matched = true;
        if (i + 1 == args.size()) {
            error = std::string(spec.name) + " needs " + std::string(spec.valueName) + ".";
            return false;
        }
        value = args[++i];
    } else if (arg.size() > spec.name.size() && arg.starts_with(spec.name) && arg[spec.name.size()] == '=') {
        matched = true;
        value = arg.substr(spec.name.size() + 1);
    } else {
        return true;
    }
    if (value->empty()) {
        error = std::string(spec.name) + " needs " + std::string(spec.valueName) + ".";
        return false;
    }
    if (slot) {
        error = std::string(spec.name) + " was given twice.";
        return false;
    }
    slot = std::string(*value);
    return true;
}

}  // namespace

RegistrySourceArgs::Taken RegistrySourceArgs::take(std::span<const std::string_view> args, std::size_t& i,
                                                   std::string& error)
{
    if (args[i] == "--write") {
        if (write_) {
            error = "--write was given twice.";
            return Taken::Error;
        }
        write_ = true;
        return Taken::Taken;
    }
    const std::pair<OptionSpec, std::optional<std::string>*> options[] = {
        {{"--registry", "a file name"}, &registry_},
        {{"--wine-prefix", "a folder"}, &winePrefix_},
        {{"--windows", "a folder"}, &windows_},
        {{"--user", "a file name"}, &user_},
        {{"--hive", "a file name"}, &hive_},
        {{"--as", "a key"}, &as_},
    };
    for (const auto& [spec, slot] : options) {
        bool matched = false;
        if (!TakeValue(args, i, spec, *slot, matched, error)) return Taken::Error;
        if (matched) return Taken::Taken;
    }
    return Taken::NotMine;
}

std::optional<RegistrySource> RegistrySourceArgs::finish(std::string& error) const
{
    const int named = int(registry_.has_value()) + int(winePrefix_.has_value()) + int(windows_.has_value()) +
                      int(hive_.has_value());
    if (named > 1) {
        error = "--registry, --wine-prefix, --windows and --hive each name a registry; give only one.";
        return std::nullopt;
    }
    if (user_ && !windows_) {
        error = "--user goes with --windows.";
        return std::nullopt;
    }
    if (as_ && !hive_) {
        error = "--as goes with --hive.";
        return std::nullopt;
    }
    if (hive_ && !as_) {
        error = "--hive needs --as KEY, the key the hive is shown at (for example HKLM\\SOFTWARE).";
        return std::nullopt;
    }
    if (write_ && !hive_ && !windows_) {
        error = "--write goes with --hive or --windows; the other registries are written without it.";
        return std::nullopt;
    }
    RegistrySource source;
    source.writable = write_;
    if (registry_) {
        source.kind = RegistrySource::Kind::StoreFile;
        source.path = *registry_;
    } else if (winePrefix_) {
        source.kind = RegistrySource::Kind::WinePrefix;
        source.path = *winePrefix_;
    } else if (windows_) {
        source.kind = RegistrySource::Kind::Windows;
        source.path = *windows_;
        source.userHive = user_.value_or(std::string());
    } else if (hive_) {
        source.kind = RegistrySource::Kind::Hive;
        source.path = *hive_;
        source.mountAs = *as_;
    }
    return source;
}

std::string_view RegistrySourceHelpText()
{
    return "  --registry FILE            Use the Tovik registry store FILE instead of the user's\n"
           "                             ($XDG_DATA_HOME/tovik/registry.db). A new store is filled\n"
           "                             with the default device registry.\n"
           "  --wine-prefix DIR          Use the registry of the Wine prefix DIR: HKLM is its\n"
           "                             system.reg, HKCU its user.reg, HKCR is HKLM\\Software\\Classes.\n"
           "                             Writes are refused while Wine runs the prefix.\n";
}

}  // namespace tovik
