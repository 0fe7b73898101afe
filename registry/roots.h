#pragma once
// The predefined roots of the registry: their handles, long names and short names. Tovik holds
// three of them (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE); the others are known
// by name only, so that files naming them can be read and their keys skipped.
#include <span>
#include <string_view>

#include "registry/win_types.h"

namespace tovik {

struct RootInfo {
    HKEY handle;
    std::u16string_view longName;   // "HKEY_LOCAL_MACHINE"
    std::u16string_view shortName;  // "HKLM"; empty for a root that has none
    bool held;                      // the registry holds its keys
};

// Every predefined root, the held ones first, in handle order.
std::span<const RootInfo> allRoots();
// The roots the registry holds, in handle order: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE.
std::span<const RootInfo> heldRoots();

// The root named by its long or short name, in any case; null for any other text.
const RootInfo* findRootByName(std::u16string_view name);
// The root of a handle; null for a handle that is no predefined root.
const RootInfo* findRoot(HKEY handle);
// Whether a handle is one of the held roots.
bool isHeldRoot(HKEY handle);

}  // namespace tovik
