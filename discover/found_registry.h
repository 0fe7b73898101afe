#pragma once
// One registry found on this machine, as discovery reports it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovik::discover {

enum class RegistryKind { TovikStore, Wine, Proton, Lutris, Bottles, Heroic, PlayOnLinux };

struct FoundRegistry {
    RegistryKind kind = RegistryKind::Wine;
    std::u16string name;     // the game's or bottle's name where known, else the folder's
    std::string folder;      // the prefix folder; for a Tovik store, the store file
    std::string steamAppId;  // Proton prefixes: the app they belong to
    // When the registry last changed (its newest .reg file or the store file), seconds since 1970.
    std::optional<std::int64_t> changedAt;
    // Filled by the caller, which can ask the wineserver: the registry opens read-only, and why.
    bool readOnly = false;
    std::string readOnlyReason;
};

// A short lower-case word for kind, as the command line prints it: tovik, wine, proton, lutris,
// bottles, heroic, playonlinux.
std::string_view kindWord(RegistryKind kind);

}  // namespace tovik::discover
