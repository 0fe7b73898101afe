#pragma once
// Key paths looked up in the registry; reading and writing them is registry/key_path.h's.
#include <cstddef>
#include <string>
#include <string_view>

#include "registry/key_path.h"
#include "registry/win_types.h"

namespace tovik::find {

struct ResolvedKeyPath {
    bool exists = false;
    // The longest part of the path that exists, with each name as the registry keeps it (its
    // case); the whole path when it exists, empty when not even the first name does.
    std::u16string existingPath;
    std::size_t existingNames = 0;  // how many names of the asked path that part holds
    std::u16string missingName;     // the first name that does not exist, as it was asked for
};

// Looks the path up in the current registry, name by name.
ResolvedKeyPath resolveKeyPath(HKEY root, std::u16string_view path);

}  // namespace tovik::find
