#include "registry/key_handle.h"

#include "registry/registry_api.h"
#include "registry/roots.h"

namespace tovik {

void KeyHandle::reset(HKEY key) {
    if (key_ != 0 && key_ != key && !isHeldRoot(key_)) RegCloseKey(key_);
    key_ = key;
}

LONG openKeyHandle(HKEY parent, const std::u16string& path, KeyHandle& key) {
    if (path.empty() && isHeldRoot(parent)) {
        key.reset(parent);
        return ERROR_SUCCESS;
    }
    return RegOpenKeyExW(parent, path.c_str(), 0, 0, key.receive());
}

}  // namespace tovik
