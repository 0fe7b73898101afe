// Opens the input as a writable hive (a copy in a scratch folder) under HKLM\H and writes to it
// through the hive backend and the registry operations: in one batch a value set and a value
// deleted on a few keys, a key created and deleted again, a subtree deleted; then single writes.
// A damaged hive must end every write with an error, never a crash or an abort inside hivex, and
// a hive that was saved opens again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/hive/hive_backend.h"
#include "stores/hive/hive_mounts.h"

namespace {

using namespace tovik;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

std::string scratchFolder() {
    char pattern[] = "/tmp/fuzz-hive-write-XXXXXX";
    return ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
}

std::vector<std::uint8_t> readAll(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
        std::fclose(in);
    }
    return bytes;
}

// The paths (below HKLM) of the first few keys of the hive, breadth first.
std::vector<std::u16string> someKeys(std::size_t most) {
    std::vector<std::u16string> keys{u"H"};
    for (std::size_t at = 0; at < keys.size() && keys.size() < most; ++at) {
        HKEY key = 0;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keys[at].c_str(), 0, 0, &key) != ERROR_SUCCESS) continue;
        for (DWORD i = 0; keys.size() < most; ++i) {
            WCHAR name[256];
            DWORD length = 256;
            if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            keys.push_back(keys[at] + u"\\" + std::u16string(name, length));
        }
        RegCloseKey(key);
    }
    return keys;
}

void writeTo(const std::u16string& path, bool andDelete) {
    HKEY key = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return;
    const DWORD number = 0x2a;
    RegSetValueExW(key, u"FuzzValue", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    WCHAR name[512];
    DWORD length = 512;
    if (RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS && andDelete) {
        RegDeleteValueW(key, std::u16string(name, length).c_str());
    }
    HKEY child = 0;
    if (RegCreateKeyExW(key, u"FuzzKey", 0, nullptr, 0, 0, nullptr, &child, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(child);
        if (andDelete) RegDeleteKeyW(key, u"FuzzKey");
    }
    RegCloseKey(key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = scratchFolder();
    const std::string path = folder + "/SOFTWARE";
    std::filesystem::remove(path);
    std::filesystem::remove(path + ".tovik-backup");
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
    } else {
        return 0;
    }
    hive::HiveMountSet mounts;
    if (!hive::mountHiveFile(path, u"HKLM\\H", hive::HiveOpenOptions{true}, mounts).ok()) return 0;
    setCurrentBackend(std::make_unique<hive::HiveBackend>(std::move(mounts)));
    const std::vector<std::u16string> keys = someKeys(12);
    {
        RegistryBatch batch;
        for (std::size_t i = 0; i < keys.size() && i < 4; ++i) writeTo(keys[i], true);
        if (keys.size() > 2) deleteKeyTree(HKEY_LOCAL_MACHINE, keys[2]);
        batch.finish();
    }
    if (keys.size() > 1) {
        writeTo(keys.back(), false);
        deleteKeyTree(HKEY_LOCAL_MACHINE, keys[1]);
    }
    closeRegistryStore();

    const std::vector<std::uint8_t> after = readAll(path);
    if (after != std::vector<std::uint8_t>(data, data + size)) {
        hive::HiveResult reopened;
        const auto model = hive::HiveModel::open(path, {}, reopened);
        check(model != nullptr, "a hive that was saved opens again");
    }
    return 0;
}
