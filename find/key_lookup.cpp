#include "find/key_lookup.h"

#include <utility>

#include "registry/name_fold.h"
#include "registry/registry_api.h"

namespace tovik::find::detail {

OwnedKey& OwnedKey::operator=(OwnedKey&& other) noexcept {
    std::swap(key_, other.key_);
    return *this;
}

OwnedKey::~OwnedKey() {
    if (key_ != 0) RegCloseKey(key_);
}

LONG EnumSubkeyName(HKEY key, DWORD index, std::u16string& buffer, std::size_t& length) {
    if (buffer.size() < kMaxKeyNameLength + 1) buffer.resize(kMaxKeyNameLength + 1);
    // A name that keeps outgrowing the buffer is being renamed under us; a few tries are enough.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const LONG rc = RegEnumKeyExW(key, index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA && size >= buffer.size()) {
            buffer.resize(std::size_t{size} + 1);
            continue;
        }
        length = rc == ERROR_SUCCESS ? size : 0;
        return rc;
    }
    return ERROR_MORE_DATA;
}

namespace {

bool hasSubkey(HKEY key, DWORD index) {
    // A one-character buffer fits no name: ERROR_MORE_DATA says the index exists without a copy.
    WCHAR name[1];
    DWORD size = 1;
    const LONG rc = RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA;
}

}  // namespace

DWORD CountSubkeys(HKEY key) {
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

SubkeySlot LocateSubkey(HKEY key, std::u16string_view name) {
    SubkeySlot slot;
    std::u16string buffer;
    std::size_t length = 0;
    DWORD low = 0;
    DWORD high = CountSubkeys(key);
    const DWORD count = high;
    while (low < high) {
        const DWORD mid = low + (high - low) / 2;
        if (EnumSubkeyName(key, mid, buffer, length) != ERROR_SUCCESS) break;
        const int order = CompareNames(std::u16string_view(buffer.data(), length), name);
        if (order == 0) {
            slot.index = mid;
            slot.exists = true;
            slot.storedName.assign(buffer.data(), length);
            return slot;
        }
        if (order < 0) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    slot.index = low;
    HKEY probe = 0;
    if (RegOpenKeyExW(key, std::u16string(name).c_str(), 0, 0, &probe) != ERROR_SUCCESS) return slot;
    RegCloseKey(probe);
    for (DWORD index = 0; index < count; ++index) {
        if (EnumSubkeyName(key, index, buffer, length) != ERROR_SUCCESS) break;
        if (CompareNames(std::u16string_view(buffer.data(), length), name) == 0) {
            slot.index = index;
            slot.exists = true;
            slot.storedName.assign(buffer.data(), length);
            break;
        }
    }
    return slot;
}

}  // namespace tovik::find::detail
