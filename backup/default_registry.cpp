#include "backup/default_registry.h"

#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "registry/value_types.h"
#include "resources/default_registry_data.h"

namespace tovik {

namespace {

// Values of types the backup file cannot carry (it writes them with the tag "??", which no reader
// takes back), so that a new registry shows such values too.
void addValuesOfOtherTypes() {
    struct OtherValue {
        const char16_t* name;
        DWORD type;
        Bytes data;
    };
    const OtherValue values[] = {
        {u"BootConfiguration", 9, {0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}},
        {u"ResourceRequirements", 10, {0x20, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00}},
        {u"UptimeTicks", 11, {0x00, 0x5C, 0x26, 0x05, 0x00, 0x00, 0x00, 0x00}},
        {u"VendorBlob", 0x12345, {0xDE, 0xAD, 0xBE, 0xEF}},
    };
    KeyHandle key;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"System\\Diagnostics", 0, nullptr, 0, 0, nullptr, key.receive(),
                        &disposition) != ERROR_SUCCESS)
        return;
    for (const OtherValue& value : values)
        RegSetValueExW(key.get(), value.name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

}  // namespace

std::vector<ImportResult> importConcatenatedBackups(const BYTE* data, std::size_t size) {
    std::vector<ImportResult> results;
    if (data == nullptr) return results;
    const auto unitAt = [data](std::size_t at) { return static_cast<char16_t>(data[at] | (data[at + 1] << 8)); };
    std::size_t begin = 0;
    for (std::size_t at = 2; at + 1 < size; at += 2) {
        const char16_t before = unitAt(at - 2);
        if (unitAt(at) == 0xFEFF && (before == u'\n' || before == u'\r')) {
            results.push_back(importBackup(data + begin, at - begin));
            begin = at;
        }
    }
    if (begin < size) results.push_back(importBackup(data + begin, size - begin));
    return results;
}

void fillDefaultRegistry() {
    // An empty or partial default registry still gives a usable store: the roots and whatever
    // the data holds.
    importConcatenatedBackups(kDefaultRegistryData, kDefaultRegistrySize);
    addValuesOfOtherTypes();
}

}  // namespace tovik
