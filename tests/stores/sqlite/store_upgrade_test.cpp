// Stores written by the earlier layouts (data/store_v1.db to store_v4.db, each made by that
// version's tovik-reg; make_store_v4.sh made the fourth) are upgraded on first open and keep every
// key and value, in order, with their names' case; keys of layouts without times are dated at the
// upgrade.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "registry/key_time.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int64_t userVersion(const fs::path& store) {
    sqlite3* db = nullptr;
    std::int64_t version = -1;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            version = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return version;
}

// The number the query gives, read straight from the file (no upgrade); -1 when there is none.
std::int64_t sqlNumber(const fs::path& store, const char* sql) {
    sqlite3* db = nullptr;
    std::int64_t number = -1;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            number = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return number;
}

constexpr std::int64_t kCurrentLayout = 5;

class StoreUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override {
        tovik::closeRegistryStore();
        char pattern[] = "/tmp/tovik-upgrade-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        store_ = dir_ / "registry.db";
    }
    void copyStore(const char* name) { fs::copy_file(fs::path(TOVIK_TEST_DATA) / name, store_); }
    void TearDown() override {
        tovik::closeRegistryStore();
        fs::remove_all(dir_);
    }
    // tovik-reg's command on the store; its output, or the error output after "failed: ".
    std::string reg(std::vector<std::string_view> args) {
        args.insert(args.begin(), {"--registry", store_.c_str()});
        std::ostringstream out, err;
        const int code = tovik::cli::runCommandLine(args, out, err);
        return code == 0 ? out.str() : "failed: " + err.str();
    }
    std::string everything() {
        return reg({"query", "HKCR", "-r"}) + reg({"query", "HKCU", "-r"}) + reg({"query", "HKLM", "-r"});
    }
    // When root\\path was last written, read through the registry operations.
    std::int64_t writeTime(HKEY root, const std::u16string& path) {
        EXPECT_TRUE(tovik::openRegistryStore(store_.string()).ok);
        HKEY key = 0;
        std::int64_t time = -1;
        if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) == ERROR_SUCCESS) {
            FILETIME ft{};
            if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, &ft) == ERROR_SUCCESS)
                time = static_cast<std::int64_t>((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
            RegCloseKey(key);
        }
        tovik::closeRegistryStore();
        return time;
    }
    fs::path dir_;
    fs::path store_;
};

TEST_F(StoreUpgradeTest, KeepsEveryKeyAndValueAndGoesOnWorking) {
    copyStore("store_v1.db");
    ASSERT_EQ(userVersion(store_), 1);
    EXPECT_EQ(everything(), readText(fs::path(TOVIK_TEST_DATA) / "store_v1_content.txt"));
    EXPECT_EQ(userVersion(store_), kCurrentLayout);

    // New values come after the old ones, overwrites keep their place, deleted keys stay gone
    // and names that the old store held still compare case-insensitively.
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Zeta", "Fourth", "SZ", "vier"}), "");
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Zeta", "SECOND", "SZ", "deux"}), "");
    EXPECT_EQ(reg({"query", "HKLM\\Software\\zeta"}),
              "[Software\\Zeta]\n\"Second\"=SZ:deux\n\"first\"=DW:8(8)\n\"@\"=SZ:\n\"Third\"=BIN:00 01 FF \n"
              "\"Fourth\"=SZ:vier\n");
    EXPECT_EQ(reg({"add-key", "HKLM\\Software\\Temp\\New"}), "");
    EXPECT_EQ(reg({"query", "HKLM\\Software\\Temp", "-r"}), "[Software\\Temp]\n[Software\\Temp\\New]\n");
    EXPECT_EQ(reg({"delete-key", "HKLM\\Software\\Beta"}), "");
    EXPECT_NE(reg({"query", "HKLM\\Software\\Beta"}).rfind("failed: ", 0), std::string::npos);

    // A second open finds the new layout and changes nothing.
    const std::string before = everything();
    EXPECT_EQ(everything(), before);
    EXPECT_EQ(userVersion(store_), kCurrentLayout);
}

// The second layout's store holds a key of 1,199 values (one deleted), a key with a value of
// 70,000 bytes, and a small key whose values were deleted, overwritten and added after.
TEST_F(StoreUpgradeTest, TheSecondLayoutKeepsEveryKeyAndValueAndGoesOnWorking) {
    copyStore("store_v2.db");
    ASSERT_EQ(userVersion(store_), 2);
    EXPECT_EQ(everything(), readText(fs::path(TOVIK_TEST_DATA) / "store_v2_content.txt"));
    EXPECT_EQ(userVersion(store_), kCurrentLayout);

    // The small key: overwrites keep the place and the case, new values come last, renames keep
    // the place, and names still compare case-insensitively.
    EXPECT_EQ(reg({"set", "HKCU\\Software\\Gaps", "mike", "DW", "3"}), "");
    EXPECT_EQ(reg({"set", "HKCU\\Software\\Gaps", "Lima", "SZ", "l"}), "");
    EXPECT_EQ(reg({"rename-value", "HKCU\\Software\\Gaps", "BRAVO", "Bravo2"}), "");
    EXPECT_EQ(reg({"delete-value", "HKCU\\Software\\Gaps", "echo"}), "");
    EXPECT_EQ(reg({"query", "HKCU\\Software\\Gaps"}),
              "[Software\\Gaps]\n\"Zulu\"=SZ:overwritten\n\"Mike\"=DW:3(3)\n\"Bravo2\"=SZ:bravo value\n"
              "\"Kilo\"=DW:11(B)\n\"Lima\"=SZ:l\n");

    // The wide key: the same rules over its 1,199 values.
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Wide", "entry_MIXED_0", "DW", "0"}), "");
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Wide", "Last", "DW", "1"}), "");
    EXPECT_EQ(reg({"delete-value", "HKLM\\Software\\Wide", "ENTRY0001"}), "");
    const std::string wide = reg({"query", "HKLM\\Software\\Wide"});
    EXPECT_EQ(wide.rfind("[Software\\Wide]\n\"ENTRY_mixed_0\"=DW:0(0)\n\"Entry0002\"=SZ:", 0), 0u)
        << wide.substr(0, 200);
    EXPECT_NE(wide.find("\n\"Entry1199\"=DW:8393(20C9)\n\"Last\"=DW:1(1)\n"), std::string::npos);
    EXPECT_EQ(std::count(wide.begin(), wide.end(), '\n'), 1 + 1199);

    // The key with the large value keeps it, and takes more.
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Big", "more", "SZ", "m"}), "");
    const std::string big = reg({"query", "HKLM\\Software\\Big"});
    EXPECT_EQ(big.rfind("[Software\\Big]\n\"small\"=SZ:before\n\"blob\"=BIN:00 1F 3E ", 0), 0u) << big.substr(0, 80);
    EXPECT_NE(big.find("\n\"after\"=DW:5(5)\n\"more\"=SZ:m\n"), std::string::npos);

    // A second open finds the new layout and changes nothing.
    const std::string before = everything();
    EXPECT_EQ(everything(), before);
    EXPECT_EQ(userVersion(store_), kCurrentLayout);
}

// The third layout kept no times: its keys, roots included, are dated at the upgrade, and later
// writes date the keys they touch.
TEST_F(StoreUpgradeTest, TheThirdLayoutsKeysAreDatedAtTheUpgradeAndKeepEverything) {
    copyStore("store_v3.db");
    ASSERT_EQ(userVersion(store_), 3);
    const std::int64_t before = tovik::fileTimeNow();
    EXPECT_EQ(everything(), readText(fs::path(TOVIK_TEST_DATA) / "store_v3_content.txt"));
    const std::int64_t after = tovik::fileTimeNow();
    EXPECT_EQ(userVersion(store_), kCurrentLayout);
    const std::int64_t upgraded = writeTime(HKEY_LOCAL_MACHINE, u"Software\\Old\\Nested\\Deeper");
    EXPECT_GE(upgraded, before);
    EXPECT_LE(upgraded, after);
    for (const auto& [root, path] : {std::pair{HKEY_LOCAL_MACHINE, u"Software\\Wide"},
                                     {HKEY_CURRENT_USER, u"Software"},
                                     {HKEY_CLASSES_ROOT, u""},
                                     {HKEY_CLASSES_ROOT, u".txt"}})
        EXPECT_EQ(writeTime(root, path), upgraded);

    // A value set in the wide key (its values are rows) and in a small one (a pack) dates that key alone.
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Wide", "Entry0001", "DW", "99"}), "");
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Old", "Count", "DW", "43"}), "");
    EXPECT_GT(writeTime(HKEY_LOCAL_MACHINE, u"Software\\Wide"), after);
    EXPECT_GT(writeTime(HKEY_LOCAL_MACHINE, u"Software\\Old"), after);
    EXPECT_EQ(writeTime(HKEY_LOCAL_MACHINE, u"Software\\Old\\Nested"), upgraded);
    EXPECT_EQ(writeTime(HKEY_LOCAL_MACHINE, u"Software"), upgraded);
    const std::string wide = reg({"query", "HKLM\\Software\\Wide"});
    EXPECT_EQ(wide.rfind("[Software\\Wide]\n\"Entry0001\"=DW:99(63)\n\"Entry0002\"=DW:14(E)\n", 0), 0u)
        << wide.substr(0, 100);
}

// The fourth layout raised key_ids by a trigger on every new key. The upgrade drops the trigger
// and keeps every key, value and time as they were; keys made afterwards take ids above every id
// the store gave out before, whoever makes them.
TEST_F(StoreUpgradeTest, TheFourthLayoutKeepsEveryKeyValueAndTimeAndKeyIdsGoOnGrowing) {
    copyStore("store_v4.db");
    ASSERT_EQ(userVersion(store_), 4);
    // "Layout4" as the store keeps a name: UTF-16LE.
    const std::int64_t made =
        sqlNumber(store_, "SELECT written FROM keys WHERE parent > 3 AND name = x'4C00610079006F00750074003400'");
    ASSERT_GT(made, 0);
    const std::int64_t lastId = sqlNumber(store_, "SELECT last FROM key_ids");
    ASSERT_GE(lastId, sqlNumber(store_, "SELECT max(id) FROM keys"));

    EXPECT_EQ(everything(), readText(fs::path(TOVIK_TEST_DATA) / "store_v4_content.txt"));
    EXPECT_EQ(userVersion(store_), kCurrentLayout);
    EXPECT_EQ(sqlNumber(store_, "SELECT count(*) FROM sqlite_schema WHERE type = 'trigger'"), 0);
    EXPECT_EQ(writeTime(HKEY_LOCAL_MACHINE, u"Software\\Layout4"), made);

    EXPECT_EQ(reg({"add-key", "HKLM\\Software\\Layout5\\A\\B"}), "");
    EXPECT_EQ(reg({"add-key", "HKLM\\Software\\Layout4\\Sub\\C"}), "");
    EXPECT_EQ(sqlNumber(store_, ("SELECT count(*) FROM keys WHERE id > " + std::to_string(lastId)).c_str()), 4);
    EXPECT_EQ(reg({"query", "HKLM\\Software\\Layout4", "-r"}),
              "[Software\\Layout4]\n\"Made\"=DW:4(4)\n[Software\\Layout4\\Sub]\n[Software\\Layout4\\Sub\\C]\n");
}

}  // namespace
