#pragma once
// Reading the current store back through the registry operations, for import tests.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "registry/registry_api.h"
#include "registry/value_types.h"

namespace tovik::test {

struct StoredValue {
    DWORD type = 0;
    Bytes data;
    bool operator==(const StoredValue&) const = default;
};

inline bool keyExists(HKEY root, const std::u16string& path) {
    HKEY key = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Every value of a key, name to type and data, in enumeration order.
inline std::vector<std::pair<std::u16string, StoredValue>> keyValues(HKEY root, const std::u16string& path) {
    std::vector<std::pair<std::u16string, StoredValue>> values;
    HKEY key = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        std::u16string name(16384, u'\0');
        Bytes data(1024);
        DWORD nameLen = static_cast<DWORD>(name.size());
        DWORD dataLen = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG rc = RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
        if (rc == ERROR_MORE_DATA) {
            data.resize(dataLen);
            nameLen = static_cast<DWORD>(name.size());
            rc = RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
        }
        if (rc != ERROR_SUCCESS) break;
        name.resize(nameLen);
        data.resize(dataLen);
        values.push_back({name, StoredValue{type, data}});
    }
    RegCloseKey(key);
    return values;
}

inline std::optional<StoredValue> readValue(HKEY root, const std::u16string& path, const std::u16string& name) {
    for (auto& [n, v] : keyValues(root, path)) {
        if (n == name) return v;
    }
    return std::nullopt;
}

inline std::vector<std::u16string> subkeyNames(HKEY root, const std::u16string& path) {
    std::vector<std::u16string> names;
    HKEY key = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        std::u16string name(256, u'\0');
        DWORD len = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        name.resize(len);
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

// The whole content of the three roots: "root|path" to its values. Small stores only.
using Snapshot = std::map<std::u16string, std::vector<std::pair<std::u16string, StoredValue>>>;
inline void snapshotKey(HKEY root, const std::u16string& path, Snapshot& out) {
    out[std::u16string(rootKeyName(root)) + u"|" + path] = keyValues(root, path);
    for (const std::u16string& sub : subkeyNames(root, path)) {
        snapshotKey(root, path.empty() ? sub : path + u"\\" + sub, out);
    }
}
inline Snapshot takeSnapshot() {
    Snapshot s;
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) snapshotKey(root, u"", s);
    return s;
}

}  // namespace tovik::test
