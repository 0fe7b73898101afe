#include "stores/registry_source_args.h"

namespace tovik {

namespace {

// The value of option name at args[i] (joined with '=' or the next argument); false when args[i]
// is not that option.
bool TakeValue(std::span<const std::string_view> args, std::size_t& i, std::string_view name, std::string& value,
               std::string& error) {
    const std::string_view arg = args[i];
    if (arg == name) {
        if (i + 1 < args.size()) value = std::string(args[++i]);
        else value.clear();
    } else if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        value = std::string(arg.substr(name.size() + 1));
    } else {
        return false;
    }
    if (value.empty()) error = std::string(name) + " needs a value.";
    return true;
}

bool SetKind(RegistrySource& source, RegistrySource::Kind kind, std::string path, std::string& error) {
    if (source.kind != RegistrySource::Kind::UserStore) {
        error = "name one registry only: --registry, --wine-prefix, --windows and --hive exclude each other.";
        return true;
    }
    source.kind = kind;
    source.path = std::move(path);
    return true;
}

// The options of Windows hive files.
bool TakeHiveSourceOption(std::span<const std::string_view> args, std::size_t& i, RegistrySource& source,
                          std::string& error) {
    std::string value;
    if (args[i] == "--write") {
        if (source.writable) error = "--write is given twice.";
        source.writable = true;
        return true;
    }
    if (TakeValue(args, i, "--windows", value, error)) {
        return error.empty() ? SetKind(source, RegistrySource::Kind::Windows, value, error) : true;
    }
    if (TakeValue(args, i, "--hive", value, error)) {
        return error.empty() ? SetKind(source, RegistrySource::Kind::Hive, value, error) : true;
    }
    if (TakeValue(args, i, "--user", value, error)) {
        if (error.empty() && !source.userHive.empty()) error = "--user is given twice.";
        source.userHive = value;
        return true;
    }
    if (TakeValue(args, i, "--as", value, error)) {
        if (error.empty() && !source.mountAs.empty()) error = "--as is given twice.";
        source.mountAs = value;
        return true;
    }
    return false;
}

}  // namespace

bool TakeRegistrySourceOption(std::span<const std::string_view> args, std::size_t& i, RegistrySource& source,
                              std::string& error) {
    error.clear();
    if (i >= args.size()) return false;
    std::string value;
    if (TakeValue(args, i, "--wine-prefix", value, error)) {
        return error.empty() ? SetKind(source, RegistrySource::Kind::WinePrefix, value, error) : true;
    }
    return TakeHiveSourceOption(args, i, source, error);
}

std::string CheckRegistrySource(const RegistrySource& source) {
    using Kind = RegistrySource::Kind;
    if (!source.userHive.empty() && source.kind != Kind::Windows) return "--user goes with --windows DIR.";
    if (!source.mountAs.empty() && source.kind != Kind::Hive) return "--as goes with --hive FILE.";
    if (source.kind == Kind::Hive && source.mountAs.empty()) {
        return "--hive needs --as KEY, the key to show the hive under (for example 'HKLM\\SOFTWARE').";
    }
    if (source.writable && source.kind != Kind::Windows && source.kind != Kind::Hive) {
        return "--write goes with --windows or --hive; the other registries are written without it.";
    }
    return {};
}

}  // namespace tovik
