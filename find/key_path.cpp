#include "find/key_path.h"

#include "find/key_lookup.h"
#include "registry/key_handle.h"
#include "registry/registry_api.h"

namespace tovik::find {

ResolvedKeyPath resolveKeyPath(HKEY root, std::u16string_view path) {
    ResolvedKeyPath resolved;
    if (rootKeyName(root)[0] == 0) return resolved;
    KeyHandle current;
    HKEY parent = root;
    for (const std::u16string_view name : splitKeyPath(path)) {
        detail::SubkeySlot slot = detail::locateSubkey(parent, name);
        HKEY child = 0;
        if (!slot.exists || RegOpenKeyExW(parent, slot.storedName.c_str(), 0, 0, &child) != ERROR_SUCCESS) {
            resolved.missingName.assign(name);
            return resolved;
        }
        current = KeyHandle(child);
        parent = child;
        if (resolved.existingNames > 0) resolved.existingPath += u'\\';
        resolved.existingPath += slot.storedName;
        ++resolved.existingNames;
    }
    resolved.exists = true;
    return resolved;
}

}  // namespace tovik::find
