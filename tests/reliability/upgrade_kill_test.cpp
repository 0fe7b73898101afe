// The in-place upgrade of a store of the first layout is one step: a kill at any moment of it
// leaves either the old layout with all of its content or the new one complete, and the next
// open then finds every key and value.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

using namespace reliability;
namespace fs = std::filesystem;

// An ASCII name as the first layout stores it: UTF-16LE, and folded as big-endian upper case.
std::string nameBytes(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) bytes += {c, '\0'};
    return bytes;
}
std::string foldBytes(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) bytes += {'\0', static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c)};
    return bytes;
}

void exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    ASSERT_EQ(rc, SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
}

void bindBlob(sqlite3_stmt* stmt, int index, const std::string& blob) {
    sqlite3_bind_blob(stmt, index, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
}

// A committed store of an older layout grown by HKLM\Bulk with `keys` subkeys of ten values each,
// written straight into that layout's tables, so that its upgrade takes long enough to be killed
// in. keySql takes parent, name, fold and depth and returns the new key's id; valueSql takes the
// key's id, the value's position in the key, name, fold and data.
void makeLargeStore(const std::string& path, const char* committed, const char* keySql, const char* valueSql, int keys,
                    const char* setUp = nullptr) {
    fs::copy_file(fs::path(TOVIK_TEST_DATA) / committed, path);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    if (setUp) exec(db, setUp);
    exec(db, "BEGIN");
    sqlite3_stmt* key = nullptr;
    sqlite3_stmt* value = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, keySql, -1, &key, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    ASSERT_EQ(sqlite3_prepare_v2(db, valueSql, -1, &value, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    auto addKey = [&](sqlite3_int64 parent, const std::string& name, int depth) {
        sqlite3_bind_int64(key, 1, parent);
        bindBlob(key, 2, nameBytes(name));
        bindBlob(key, 3, foldBytes(name));
        sqlite3_bind_int(key, 4, depth);
        EXPECT_EQ(sqlite3_step(key), SQLITE_ROW);
        const sqlite3_int64 id = sqlite3_column_int64(key, 0);
        EXPECT_EQ(sqlite3_step(key), SQLITE_DONE);
        sqlite3_reset(key);
        return id;
    };
    const sqlite3_int64 bulk = addKey(3, "Bulk", 1);
    for (int k = 0; k < keys; ++k) {
        const sqlite3_int64 id = addKey(bulk, "Key" + std::to_string(k), 2);
        // Names in an order other than their creation: the order of values must survive.
        for (int v = 9; v >= 0; --v) {
            sqlite3_bind_int64(value, 1, id);
            sqlite3_bind_int(value, 2, 10 - v);
            bindBlob(value, 3, nameBytes("Value" + std::to_string(v)));
            bindBlob(value, 4, foldBytes("Value" + std::to_string(v)));
            bindBlob(value, 5, nameBytes("data " + std::to_string(k * 10 + v)));
            EXPECT_EQ(sqlite3_step(value), SQLITE_DONE);
            sqlite3_reset(value);
        }
    }
    sqlite3_finalize(key);
    sqlite3_finalize(value);
    exec(db, "COMMIT");
    sqlite3_close(db);
}

// The first layout: keys by rowid, values by a rowid of their own in the order of creation.
void makeLargeLayout1Store(const std::string& path, int keys) {
    makeLargeStore(path, "store_v1.db",
                   "INSERT INTO keys(parent, name, fold, depth) VALUES(?1, ?2, ?3, ?4) RETURNING id",
                   "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?3, ?4, 1, ?5)", keys);
}

// The second layout: keys keyed by (parent, fold) with ids from key_ids, each value a row whose
// id is its key's id times 2^27 plus its position.
void makeLargeLayout2Store(const std::string& path, int keys) {
    makeLargeStore(path, "store_v2.db",
                   "INSERT INTO keys(parent, name, fold, depth, id) "
                   "VALUES(?1, ?2, ?3, ?4, (SELECT last + 1 FROM key_ids)) RETURNING id",
                   "INSERT INTO vals(id, key, name, fold, type, data) VALUES((?1 << 27) + ?2, ?1, ?3, ?4, 1, ?5)",
                   keys);
}

// The third layout: the second's key tree, and a key's values one row of packs, or rows of vals
// with an empty pack as the mark (written here).
void makeLargeLayout3Store(const std::string& path, int keys) {
    makeLargeStore(path, "store_v3.db",
                   "INSERT INTO keys(parent, name, fold, depth, id) "
                   "VALUES(?1, ?2, ?3, ?4, (SELECT last + 1 FROM key_ids)) RETURNING id",
                   "INSERT INTO vals(id, key, name, fold, type, data) VALUES((?1 << 27) + ?2, ?1, ?3, ?4, 1, ?5)", keys,
                   "CREATE TEMP TRIGGER mark_rows AFTER INSERT ON vals BEGIN "
                   "INSERT OR IGNORE INTO packs(key, data) VALUES(NEW.key, x''); END");
}

// The fourth layout: the third's tables with the keys' times (their default serves the keys made
// here), and key_ids still raised by a trigger.
void makeLargeLayout4Store(const std::string& path, int keys) {
    makeLargeStore(path, "store_v4.db",
                   "INSERT INTO keys(parent, name, fold, depth, id) "
                   "VALUES(?1, ?2, ?3, ?4, (SELECT last + 1 FROM key_ids)) RETURNING id",
                   "INSERT INTO vals(id, key, name, fold, type, data) VALUES((?1 << 27) + ?2, ?1, ?3, ?4, 1, ?5)", keys,
                   "CREATE TEMP TRIGGER mark_rows AFTER INSERT ON vals BEGIN "
                   "INSERT OR IGNORE INTO packs(key, data) VALUES(NEW.key, x''); END");
}

std::int64_t userVersion(const std::string& path) {
    sqlite3* db = nullptr;
    std::int64_t version = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            version = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return version;
}

// Every key and value of the store, opened (and so upgraded) in this process.
std::string content(const std::string& path) {
    const tovik::StoreOpenResult opened = tovik::openRegistryStore(path);
    EXPECT_TRUE(opened.ok) << opened.error;
    std::string dump = opened.ok ? DumpRegistry() : std::string();
    tovik::closeRegistryStore();
    return dump;
}

std::uint64_t fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

constexpr std::int64_t kCurrentLayout = 5;

// Kills tovik-reg at moments spread over the upgrade of original (of layout oldLayout): every
// killed copy holds one layout or the other, and its next open finds every key and value.
// expectKillInside: the upgrade takes long enough for some kill to land inside it.
void expectEveryKillToLeaveOneLayout(const TempDir& dir, const std::string& original, std::int64_t oldLayout,
                                     bool expectKillInside = true) {
    // The whole upgrade once, uninterrupted: what every later open must find, and how long it takes.
    const std::string whole = dir.File("whole.db");
    fs::copy_file(original, whole);
    const double start = Now();
    const ChildExit run =
        RunChild({{TOVIK_REG_PATH, "--registry", whole, "query", "HKLM\\Bulk\\Key0"}, {}, {}, {}, {}});
    const double upgradeSeconds = Now() - start;
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(userVersion(whole), kCurrentLayout);
    const std::string expected = content(whole);
    ASSERT_NE(expected.find("[HKEY_LOCAL_MACHINE\\Bulk\\Key5999]"), std::string::npos);
    ASSERT_NE(expected.find("[HKEY_LOCAL_MACHINE\\Bulk\\Key0]\n\"Value9\"="), std::string::npos) << "creation order";

    constexpr int kKills = 12;
    int killedMidway = 0;  // kills that left uncommitted upgrade pages in the WAL: the old layout
    for (int i = 0; i < kKills; ++i) {
        const std::string store = dir.File("killed" + std::to_string(i) + ".db");
        fs::copy_file(original, store);
        Child child({{TOVIK_REG_PATH, "--registry", store, "query", "HKLM\\Bulk\\Key0"}, {}, {}, {}, {}});
        ASSERT_TRUE(child.started());
        std::this_thread::sleep_for(std::chrono::duration<double>(upgradeSeconds * (i + 1) / kKills));
        child.Kill(SIGKILL);
        const ChildExit exit = child.Wait();
        const std::uint64_t walBytes = fileSize(store + "-wal");
        const std::int64_t version = userVersion(store);
        if (!exit.exited && version == oldLayout && walBytes > 0) ++killedMidway;
        EXPECT_TRUE(version == oldLayout || version == kCurrentLayout) << "kill " << i;
        EXPECT_EQ(IntegrityCheck(store), "ok") << "kill " << i;
        EXPECT_EQ(content(store), expected) << "kill " << i << " after " << (i + 1) << "/" << kKills;
        EXPECT_EQ(userVersion(store), kCurrentLayout) << "kill " << i;
    }
    if (expectKillInside)
        EXPECT_GT(killedMidway, 0) << "no kill landed inside the upgrade (" << upgradeSeconds << " s)";
}

TEST(StoreUpgrade, AKillAtAnyMomentLeavesTheOldLayoutOrTheNewOneWithEveryKeyAndValue) {
    TempDir dir;
    const std::string original = dir.File("original.db");
    makeLargeLayout1Store(original, 6000);
    ASSERT_EQ(userVersion(original), 1);
    expectEveryKillToLeaveOneLayout(dir, original, 1);
}

TEST(StoreUpgrade, AKillAtAnyMomentOfTheSecondLayoutsUpgradeLeavesOneLayoutWithEveryKeyAndValue) {
    TempDir dir;
    const std::string original = dir.File("original.db");
    // Its upgrade moves values only, which is quick: more keys give the kills time to land in it.
    makeLargeLayout2Store(original, 20000);
    ASSERT_EQ(userVersion(original), 2);
    expectEveryKillToLeaveOneLayout(dir, original, 2);
}

// The third layout's upgrade adds the keys' times as one column, and the fourth's drops a trigger,
// each in one transaction, which rewrites no row and takes a moment whatever the store's size: the
// kills land before, inside or after it, and each must leave one layout with every key and value.
TEST(StoreUpgrade, AKillAtAnyMomentOfTheThirdOrFourthLayoutsUpgradeLeavesOneLayoutWithEveryKeyAndValue) {
    for (const auto& [layout, make] : {std::pair{3, &makeLargeLayout3Store}, std::pair{4, &makeLargeLayout4Store}}) {
        SCOPED_TRACE("layout " + std::to_string(layout));
        TempDir dir;
        const std::string original = dir.File("original.db");
        make(original, 6000);
        ASSERT_EQ(userVersion(original), layout);
        expectEveryKillToLeaveOneLayout(dir, original, layout, false);
    }
}

TEST(StoreUpgrade, AStoreOfANewerLayoutIsRefusedAndLeftByteForByte) {
    TempDir dir;
    const std::string store = dir.File("newer.db");
    fs::copy_file(fs::path(TOVIK_TEST_DATA) / "store_v1.db", store);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store.c_str(), &db), SQLITE_OK);
    const std::string newer =
        "PRAGMA journal_mode = DELETE; PRAGMA user_version = " + std::to_string(kCurrentLayout + 1);
    exec(db, newer.c_str());
    sqlite3_close(db);
    const Bytes before = ReadFileBytes(store);

    const ChildExit run =
        RunChild({{TOVIK_REG_PATH, "--registry", store, "set", "HKLM\\Software", "x", "SZ", "y"}, {}, {}, {}, {}});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("newer version"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(store), before);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"newer.db"});
}

}  // namespace
