#include "find/key_lookup.h"

#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"

namespace tovik::find::detail {

namespace {

bool hasSubkey(HKEY key, DWORD index) {
    // A one-character buffer fits no name: ERROR_MORE_DATA says the index exists without a copy.
    WCHAR name[1];
    DWORD size = 1;
    const LONG rc = RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA;
}

}  // namespace

DWORD countSubkeys(HKEY key) {
    if (!hasSubkey(key, 0)) return 0;
    // Double until past the end, then halve the gap: every index below low exists.
    DWORD low = 1;
    DWORD high = 2;
    while (high < 0x40000000u && hasSubkey(key, high - 1)) {
        low = high;
        high *= 2;
    }
    while (low < high) {
        const DWORD mid = low + (high - low) / 2;
        if (hasSubkey(key, mid)) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

SubkeySlot locateSubkey(HKEY key, std::u16string_view name) {
    SubkeySlot slot;
    EnumBuffers buffers;
    std::u16string_view listed;
    DWORD low = 0;
    DWORD high = countSubkeys(key);
    const DWORD count = high;
    while (low < high) {
        const DWORD mid = low + (high - low) / 2;
        if (enumSubkeyName(key, mid, buffers, listed) != ERROR_SUCCESS) break;
        const int order = compareNames(listed, name);
        if (order == 0) {
            slot.index = mid;
            slot.exists = true;
            slot.storedName.assign(listed);
            return slot;
        }
        if (order < 0) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    slot.index = low;
    if (KeyHandle probe; RegOpenKeyExW(key, std::u16string(name).c_str(), 0, 0, probe.receive()) != ERROR_SUCCESS)
        return slot;
    for (DWORD index = 0; index < count; ++index) {
        if (enumSubkeyName(key, index, buffers, listed) != ERROR_SUCCESS) break;
        if (compareNames(listed, name) == 0) {
            slot.index = index;
            slot.exists = true;
            slot.storedName.assign(listed);
            break;
        }
    }
    return slot;
}

}  // namespace tovik::find::detail
