#include "support/registry_fixture.h"

#include <stdexcept>

#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace testing_support {

void FreshRegistry() {
    tovik::openInMemoryRegistryStore();
}

void MakeKey(HKEY root, const std::u16string& path) {
    HKEY key = 0;
    DWORD disposition = 0;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create test key");
    RegCloseKey(key);
}

void SetValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data) {
    HKEY key = 0;
    DWORD disposition = 0;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create test key");
    const LONG rc = RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot set test value");
}

}  // namespace testing_support
