#pragma once
// Small pieces over the registry operations that the search walk and path resolution share.
#include <cstddef>
#include <string>
#include <string_view>

#include "registry/win_types.h"

namespace tovik::find::detail {

// How many subkeys the key has, found by probing indices: O(log n) calls, no names copied.
DWORD countSubkeys(HKEY key);

struct SubkeySlot {
    DWORD index = 0;  // the subkey's index, or where it would stand when absent
    bool exists = false;
    std::u16string storedName;  // its name as the registry keeps it, when it exists
};

// Where a name stands among a key's subkeys (names compare case-insensitively). Subkeys list in
// name order, so a binary search finds it; a registry listing in some other order is still
// answered right by a scan.
SubkeySlot locateSubkey(HKEY key, std::u16string_view name);

}  // namespace tovik::find::detail
