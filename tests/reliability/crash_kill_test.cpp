// Crash safety. tovik-reg import of a generated workload runs beside a writer that acknowledges
// each write once it returned; both are killed with SIGKILL at 20 random moments of the import.
// After every kill the store passes SQLite's integrity check, opens, holds a prefix of the
// file's writes (keys and values in file order, each with its data) and every acknowledged write.
//
// The workload has TOVIK_KILL_KEYS keys (default 10,000) with 10 values each; TOVIK_KILL_KEYS=100000
// gives workload M (1,000,000 values). TOVIK_KILL_SEED repeats a run's moments.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

using namespace reliability;

constexpr int kKills = 20;

// One write of the file: a key line (name empty) or a value line.
struct FileWrite {
    std::u16string path;  // below HKEY_LOCAL_MACHINE
    std::u16string name;
    bool isKey = false;
    DWORD type = 0;
    Bytes data;
};

std::u16string number(std::uint64_t n) {
    return Ascii(std::to_string(n));
}

// Keys Kill\G<n>\K<m> (100 per group), each with ten values of four types, in file order.
std::vector<FileWrite> makeWorkload(std::uint64_t keys) {
    std::vector<FileWrite> writes;
    std::mt19937 random(1);
    for (std::uint64_t k = 0; k < keys; ++k) {
        if (k % 100 == 0) writes.push_back({u"Kill\\G" + number(k / 100), {}, true, 0, {}});
        const std::u16string path = u"Kill\\G" + number(k / 100) + u"\\K" + number(k);
        writes.push_back({path, {}, true, 0, {}});
        for (int v = 0; v < 10; ++v) {
            FileWrite w{path, u"v" + number(v), false, 0, {}};
            switch (v % 4) {
            case 0:
                w.type = REG_SZ;
                w.data = stringToBytes(u"text of value " + number(k * 10 + v));
                break;
            case 1:
                w.type = REG_DWORD;
                w.data = dwordToBytes(static_cast<DWORD>(random()));
                break;
            case 2:
                w.type = REG_BINARY;
                for (int b = 0; b < 16; ++b) w.data.push_back(static_cast<BYTE>(random()));
                break;
            default:
                w.type = REG_MULTI_SZ;
                w.data = TextToMultiSz(u"one|two " + number(k) + u"||");
                break;
            }
            writes.push_back(std::move(w));
        }
    }
    return writes;
}

void writeBackupFile(const std::string& file, const std::vector<FileWrite>& writes) {
    std::vector<std::u16string> lines{u"Tovik レジストリ退避ファイル Ver1.0", u"\\\\HKEY_LOCAL_MACHINE"};
    for (const FileWrite& w : writes) {
        if (w.isKey) {
            lines.push_back(u"[" + w.path + u"]");
        } else {
            const FormattedValue v = FormatValue(w.type, w.data.data(), w.data.size());
            lines.push_back(u"\"" + w.name + u"\"=" + v.tag + u":" + v.text);
        }
    }
    WriteFileBytes(file, BackupFile(lines));
}

// Every key below HKLM\Kill and every value in them, read in one walk.
struct StoreContents {
    std::set<std::u16string> keys;
    std::map<std::pair<std::u16string, std::u16string>, std::pair<DWORD, Bytes>> values;
};

StoreContents readContents() {
    StoreContents contents;
    tovik::RegistryReadSnapshot snapshot;
    std::vector<std::u16string> pending{u"Kill"};
    std::u16string name(kMaxKeyNameLength + 1, u'\0');
    while (!pending.empty()) {
        const std::u16string path = std::move(pending.back());
        pending.pop_back();
        HKEY key = 0;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) continue;
        contents.keys.insert(path);
        for (auto& [valueName, value] : ReadValues(HKEY_LOCAL_MACHINE, path))
            contents.values[{path, valueName}] = {value.type, std::move(value.data)};
        for (DWORD i = 0;; ++i) {
            DWORD length = static_cast<DWORD>(name.size());
            if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            pending.push_back(path + u"\\" + name.substr(0, length));
        }
        RegCloseKey(key);
    }
    return contents;
}

// The number of the file's writes the store holds, when they form a prefix of the file's order
// and hold the file's data; -1 (with a failure recorded) otherwise.
long prefixOfWrites(const std::vector<FileWrite>& writes, const StoreContents& contents) {
    std::size_t present = 0;
    bool gap = false;
    std::size_t keysSeen = 0, valuesSeen = 0;
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const FileWrite& w = writes[i];
        bool here = false;
        if (w.isKey) {
            here = contents.keys.count(w.path) != 0;
            keysSeen += here;
        } else {
            const auto found = contents.values.find({w.path, w.name});
            here = found != contents.values.end();
            if (here && (found->second.first != w.type || found->second.second != w.data)) {
                ADD_FAILURE() << "write " << i << " holds other data than the file's";
                return -1;
            }
            valuesSeen += here;
        }
        if (here && gap) {
            ADD_FAILURE() << "write " << i << " is in the store although an earlier one is missing";
            return -1;
        }
        if (!here) gap = true;
        if (here) ++present;
    }
    // Nothing beyond the file's writes (the Kill key itself is the first key line's parent).
    EXPECT_EQ(contents.values.size(), valuesSeen);
    EXPECT_LE(contents.keys.size(), keysSeen + 1);
    return static_cast<long>(present);
}

// Acknowledged writes v0..v(acked-1) are there; nothing past one unacknowledged write is.
void checkAcknowledged(std::size_t acknowledged) {
    const auto values = ReadValues(HKEY_CURRENT_USER, u"Acked");
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].first, u"v" + number(i)) << "values are written in order";
        EXPECT_EQ(values[i].second.data, dwordToBytes(static_cast<DWORD>(i)));
    }
    EXPECT_GE(values.size(), acknowledged) << "an acknowledged write was lost";
    EXPECT_LE(values.size(), acknowledged + 1);
}

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::stoull(text) : fallback;
}

TEST(CrashSafety, ImportAndAcknowledgedWritesSurviveSigkillAtRandomMoments) {
    const std::uint64_t keys = envNumber("TOVIK_KILL_KEYS", 10000);
    const std::uint64_t seed = envNumber("TOVIK_KILL_SEED", std::random_device()());
    std::cout << "workload: " << keys << " keys, " << keys * 10 << " values; seed " << seed << std::endl;
    TempDir dir;
    const std::vector<FileWrite> writes = makeWorkload(keys);
    const std::string file = dir.File("workload.txt");
    writeBackupFile(file, writes);

    // A whole import with the writer beside it, to know how long one takes.
    const auto freshStore = [&dir](int round) {
        const std::string store = dir.File("registry-" + std::to_string(round) + ".db");
        const tovik::StoreOpenResult opened = tovik::openRegistryStore(store);
        EXPECT_TRUE(opened.ok) << opened.error;
        tovik::closeRegistryStore();
        return store;
    };
    const auto removeStore = [](const std::string& store) {
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(store + suffix);
    };
    double importSeconds = 0;
    {
        const std::string store = freshStore(-1);
        Child writer({{HELPER_PATH, "ack-writer", store, "Acked", "0"}, {}, {}, {}, {}});
        std::string line;
        ASSERT_TRUE(writer.ReadLine(line, 20000) && line == "ready");
        const ChildExit run = RunChild({{TOVIK_REG_PATH, "--registry", store, "import", file}, {}, {}, {}, {}});
        writer.Kill(SIGKILL);
        writer.Wait();
        ASSERT_EQ(run.code, 0) << run.err;
        importSeconds = run.seconds;
        ASSERT_TRUE(tovik::openRegistryStore(store).ok);
        EXPECT_EQ(prefixOfWrites(writes, readContents()), static_cast<long>(writes.size()));
        tovik::closeRegistryStore();
        removeStore(store);
    }
    std::cout << "a whole import took " << importSeconds << " s" << std::endl;

    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> moment(0.0, importSeconds);
    int kills = 0, rounds = 0;
    std::vector<long> prefixes;
    while (kills < kKills && rounds < 3 * kKills) {
        ++rounds;
        const std::string store = freshStore(rounds);
        Child writer({{HELPER_PATH, "ack-writer", store, "Acked", "0"}, {}, {}, {}, {}});
        std::string line;
        ASSERT_TRUE(writer.ReadLine(line, 20000) && line == "ready");
        Child import({{TOVIK_REG_PATH, "--registry", store, "import", file}, {}, {}, {}, {}});
        std::this_thread::sleep_for(std::chrono::duration<double>(moment(random)));
        import.Kill(SIGKILL);
        writer.Kill(SIGKILL);
        const ChildExit imported = import.Wait();
        std::size_t acknowledged = 0;
        while (writer.ReadLine(line, 1000)) acknowledged += line != "ready";
        writer.Wait();
        if (imported.exited) {  // it had finished before the kill: not a kill in the middle
            removeStore(store);
            continue;
        }
        ASSERT_EQ(imported.signal, SIGKILL);
        ++kills;

        EXPECT_EQ(IntegrityCheck(store), "ok") << "after kill " << kills;
        const tovik::StoreOpenResult opened = tovik::openRegistryStore(store);
        ASSERT_TRUE(opened.ok) << "after kill " << kills << ": " << opened.error;
        const long prefix = prefixOfWrites(writes, readContents());
        EXPECT_GE(prefix, 0) << "after kill " << kills;
        prefixes.push_back(prefix);
        checkAcknowledged(acknowledged);
        tovik::closeRegistryStore();
        removeStore(store);
    }
    EXPECT_EQ(kills, kKills) << "the import ended before too many of the moments";
    std::cout << "kills survived: " << kills << " of " << rounds << " rounds; writes in the store after each:";
    for (const long p : prefixes) std::cout << ' ' << p;
    std::cout << " of " << writes.size() << std::endl;
}

}  // namespace
