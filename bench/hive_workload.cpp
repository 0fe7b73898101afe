#include "bench/hive_workload.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/utf8.h"
#include "stores/open_store.h"

namespace tovik::bench {

namespace {

struct Copier {
    std::vector<hive_node_h> nodes;  // every key made, for its time
    hive_h* hive = nullptr;
    std::uint64_t keys = 0, values = 0;
    std::string error;

    bool copyValues(HKEY from, hive_node_h to) {
        std::vector<std::string> names;
        std::vector<std::string> data;
        std::vector<DWORD> types;
        for (DWORD i = 0;; ++i) {
            WCHAR name[16384];
            DWORD length = 16384, type = 0, size = 0;
            if (RegEnumValueW(from, i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
            std::string bytes(size, '\0');
            length = 16384;
            if (RegEnumValueW(from, i, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) !=
                ERROR_SUCCESS) {
                error = "a value could not be read";
                return false;
            }
            names.push_back(utf16ToUtf8(std::u16string_view(name, length)));
            data.push_back(std::move(bytes));
            types.push_back(type);
        }
        std::vector<hive_set_value> set(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            set[i] = hive_set_value{names[i].data(), hive_t_none, data[i].size(), data[i].data()};
            std::memcpy(&set[i].t, &types[i], sizeof types[i]);  // any type number, not only hivex's names
        }
        if (!set.empty() && hivex_node_set_values(hive, to, set.size(), set.data(), 0) != 0) {
            error = std::string("hivex could not write values: ") + std::strerror(errno);
            return false;
        }
        values += set.size();
        return true;
    }

    bool copyKey(HKEY from, hive_node_h to) {
        if (!copyValues(from, to)) return false;
        for (DWORD i = 0;; ++i) {
            WCHAR name[256];
            DWORD length = 256;
            if (RegEnumKeyExW(from, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            HKEY child = 0;
            if (RegOpenKeyExW(from, name, 0, 0, &child) != ERROR_SUCCESS) continue;
            const std::string utf8 = utf16ToUtf8(std::u16string_view(name, length));
            const hive_node_h made = hivex_node_add_child(hive, to, utf8.c_str());
            if (made != 0) nodes.push_back(made);
            const bool ok = made != 0 && copyKey(child, made);
            RegCloseKey(child);
            if (made == 0) error = std::string("hivex could not add a key: ") + std::strerror(errno);
            if (!ok) return false;
            ++keys;
        }
        return true;
    }
};

// Gives every key of the saved hive a time of its own, spread over a year: hivex writes none, and
// a timeline of keys that all share one time would sort and print nothing a real hive makes it do.
// A node handle is the file offset of the key's cell: its size, "nk", the flags, then the time.
bool stampKeyTimes(const std::string& path, const std::vector<hive_node_h>& nodes, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open the hive to give its keys times: " + std::string(std::strerror(errno));
        return false;
    }
    constexpr std::uint64_t kStart = 133'800'000'000'000'000;  // 2025-01-01 as a FILETIME, about
    constexpr std::uint64_t kYear = 365ULL * 24 * 3600 * 10'000'000;
    bool ok = true;
    for (std::size_t i = 0; ok && i < nodes.size(); ++i) {
        char mark[2] = {};
        ok = ::pread(fd, mark, 2, static_cast<off_t>(nodes[i] + 4)) == 2 && mark[0] == 'n' && mark[1] == 'k';
        const std::uint64_t time = kStart + (i * 0x9E3779B97F4A7C15ULL) % kYear;  // scattered, not in order
        unsigned char bytes[8];
        for (int b = 0; b < 8; ++b) bytes[b] = static_cast<unsigned char>(time >> (8 * b));
        ok = ok && ::pwrite(fd, bytes, 8, static_cast<off_t>(nodes[i] + 8)) == 8;
    }
    ::close(fd);
    if (!ok) error = "a key's record was not where hivex made it";
    return ok;
}

std::string stampOf(const Workload& from) {
    struct stat st {};
    ::stat(from.path.c_str(), &st);
    return describeOptions(from.options) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtime) +
           " timed2\n";
}

}  // namespace

bool prepareHiveWorkload(const Workload& from, const std::function<void(const std::string&)>& emptyHive,
                         HiveWorkload& hive, std::string& error) {
    hive.path = from.path + ".SOFTWARE";
    const std::string stampPath = hive.path + ".stamp";
    const std::string stamp = stampOf(from);
    std::error_code ec;
    {
        std::ifstream in(stampPath);
        const std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (old == stamp && std::filesystem::exists(hive.path, ec)) {
            hive.keys = from.keys;
            hive.values = from.values;
            hive.bytes = std::filesystem::file_size(hive.path, ec);
            return true;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    const std::string building = hive.path + ".new";
    emptyHive(building);
    const StoreOpenResult opened = openRegistryStore(from.path);
    if (!opened.ok) {
        error = opened.error;
        return false;
    }
    Copier copier;
    copier.hive = hivex_open(building.c_str(), HIVEX_OPEN_WRITE);
    bool ok = copier.hive != nullptr;
    if (!ok) copier.error = std::string("hivex cannot open the empty hive: ") + std::strerror(errno);
    {
        RegistryReadSnapshot snapshot;
        if (ok) ok = copier.copyKey(HKEY_LOCAL_MACHINE, hivex_root(copier.hive));
    }
    closeRegistryStore();
    if (ok && hivex_commit(copier.hive, nullptr, 0) != 0) {
        ok = false;
        copier.error = std::string("hivex could not save the hive: ") + std::strerror(errno);
    }
    if (copier.hive) hivex_close(copier.hive);
    if (ok) ok = stampKeyTimes(building, copier.nodes, copier.error);
    if (!ok) {
        error = copier.error;
        std::filesystem::remove(building, ec);
        return false;
    }
    std::filesystem::rename(building, hive.path, ec);
    std::ofstream(stampPath) << stamp;
    hive.keys = copier.keys;
    hive.values = copier.values;
    hive.bytes = std::filesystem::file_size(hive.path, ec);
    hive.generatedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return true;
}

}  // namespace tovik::bench
