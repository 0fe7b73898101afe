// A key's values in the SQLite store as they grow from a few small ones to many or large ones,
// inside and outside a batch: order, names in any case, overwrites, renames and deletions hold
// across the change of form and across reopening; a damaged record of values is reported.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace {

namespace fs = std::filesystem;

struct Value {
    std::u16string name;
    DWORD type = 0;
    std::string data;
    bool operator==(const Value&) const = default;
};

std::u16string ascii(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string number(DWORD n) {
    return std::string(reinterpret_cast<const char*>(&n), sizeof n);
}

// Every value of root\path in enumeration order; empty with failure set when reading failed.
std::vector<Value> valuesOf(HKEY root, const std::u16string& path, LONG* failure = nullptr) {
    std::vector<Value> values;
    HKEY key = 0;
    LONG rc = RegOpenKeyExW(root, path.c_str(), 0, 0, &key);
    std::vector<WCHAR> name(16384);
    std::string data(1 << 20, '\0');
    for (DWORD i = 0; rc == ERROR_SUCCESS; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        rc = RegEnumValueW(key, i, name.data(), &length, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        if (rc == ERROR_SUCCESS) values.push_back({std::u16string(name.data(), length), type, data.substr(0, size)});
    }
    RegCloseKey(key);
    if (failure) *failure = rc == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : rc;
    return values;
}

LONG setValue(HKEY key, const std::u16string& name, const std::string& data, DWORD type = REG_BINARY) {
    return RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()));
}

class StoreValues : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovik-values-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        store_ = (dir_ / "registry.db").string();
        reopen();
    }
    void TearDown() override {
        tovik::closeRegistryStore();
        fs::remove_all(dir_);
    }
    void reopen() {
        tovik::closeRegistryStore();
        const tovik::StoreOpenResult opened = tovik::openRegistryStore(store_);
        ASSERT_TRUE(opened.ok) << opened.error;
    }
    HKEY create(const std::u16string& path) {
        HKEY key = 0;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    fs::path dir_;
    std::string store_;
};

TEST_F(StoreValues, AKeyThatOutgrowsTheSmallFormKeepsOrderNamesAndPlaces) {
    for (const bool batched : {false, true}) {
        SCOPED_TRACE(batched ? "in a batch" : "one by one");
        const std::u16string path = batched ? u"Grown\\Batched" : u"Grown\\Single";
        std::vector<Value> expected;
        {
            auto batch = batched ? std::make_unique<tovik::RegistryBatch>() : nullptr;
            const HKEY key = create(path);
            for (DWORD i = 0; i < 1500; ++i) {
                const std::u16string name = ascii("v" + std::to_string(i));
                ASSERT_EQ(setValue(key, name, number(i)), ERROR_SUCCESS) << i;
                expected.push_back({name, REG_BINARY, number(i)});
            }
            // An overwrite in another case keeps the place and the name's case; a rename keeps
            // the place; a deletion closes the gap.
            ASSERT_EQ(setValue(key, u"V10", "ten", REG_SZ), ERROR_SUCCESS);
            expected[10] = {u"v10", REG_SZ, "ten"};
            ASSERT_EQ(RegDeleteValueW(key, u"V20"), ERROR_SUCCESS);
            EXPECT_EQ(RegDeleteValueW(key, u"v20"), ERROR_FILE_NOT_FOUND);
            ASSERT_EQ(RegRenameValueW(key, u"v30", u"Thirty"), ERROR_SUCCESS);
            EXPECT_EQ(RegRenameValueW(key, u"Thirty", u"V31"), ERROR_ALREADY_EXISTS);
            expected[30].name = u"Thirty";
            expected.erase(expected.begin() + 20);
            ASSERT_EQ(setValue(key, u"last", "z"), ERROR_SUCCESS);
            expected.push_back({u"last", REG_BINARY, "z"});
            EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, path), expected);
            RegCloseKey(key);
            if (batch) EXPECT_TRUE(batch->finish());
        }
        reopen();
        EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, path), expected);
    }
}

TEST_F(StoreValues, ALargeValueAmongSmallOnesKeepsItsPlaceAndTheirs) {
    const std::string large(100000, 'L');
    for (const bool batched : {false, true}) {
        SCOPED_TRACE(batched ? "in a batch" : "one by one");
        const std::u16string path = batched ? u"Large\\Batched" : u"Large\\Single";
        {
            auto batch = batched ? std::make_unique<tovik::RegistryBatch>() : nullptr;
            const HKEY key = create(path);
            ASSERT_EQ(setValue(key, u"a", "1"), ERROR_SUCCESS);
            ASSERT_EQ(setValue(key, u"b", "2"), ERROR_SUCCESS);
            ASSERT_EQ(setValue(key, u"big", large), ERROR_SUCCESS);
            ASSERT_EQ(setValue(key, u"c", "3"), ERROR_SUCCESS);
            ASSERT_EQ(setValue(key, u"A", "one"), ERROR_SUCCESS);
            RegCloseKey(key);
            if (batch) EXPECT_TRUE(batch->finish());
        }
        const std::vector<Value> expected = {
            {u"a", REG_BINARY, "one"}, {u"b", REG_BINARY, "2"}, {u"big", REG_BINARY, large}, {u"c", REG_BINARY, "3"}};
        EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, path), expected);
        reopen();
        EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, path), expected);
    }
    // A new key whose first value is large.
    const HKEY key = create(u"Large\\First");
    ASSERT_EQ(setValue(key, u"big", large), ERROR_SUCCESS);
    ASSERT_EQ(setValue(key, u"small", "s"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, u"Large\\First"),
              (std::vector<Value>{{u"big", REG_BINARY, large}, {u"small", REG_BINARY, "s"}}));
}

TEST_F(StoreValues, ValuesSetInABatchAreReadChangedAndDeletedWithTheirKeyInsideIt) {
    {
        tovik::RegistryBatch batch;
        const HKEY a = create(u"A");
        const HKEY b = create(u"B");
        ASSERT_EQ(setValue(b, u"p", "p"), ERROR_SUCCESS);
        for (const char* name : {"x", "y", "z"}) ASSERT_EQ(setValue(a, ascii(name), name), ERROR_SUCCESS);
        // Read while the key is the one being written.
        EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, u"A"),
                  (std::vector<Value>{{u"x", REG_BINARY, "x"}, {u"y", REG_BINARY, "y"}, {u"z", REG_BINARY, "z"}}));
        ASSERT_EQ(setValue(a, u"w", "w"), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValueW(a, u"Y"), ERROR_SUCCESS);
        ASSERT_EQ(setValue(a, u"v", "v"), ERROR_SUCCESS);
        EXPECT_EQ(RegRenameValueW(a, u"z", u"Zed"), ERROR_SUCCESS);
        ASSERT_EQ(setValue(b, u"q", "q"), ERROR_SUCCESS);

        const HKEY c = create(u"C");
        ASSERT_EQ(setValue(c, u"gone", "g"), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"C"), ERROR_SUCCESS);
        EXPECT_EQ(setValue(c, u"after", "a"), ERROR_KEY_DELETED);
        HKEY below = 0;
        EXPECT_EQ(RegCreateKeyExW(c, u"D", 0, nullptr, 0, 0, nullptr, &below, nullptr), ERROR_KEY_DELETED);
        for (const HKEY key : {a, b, c}) RegCloseKey(key);
        EXPECT_TRUE(batch.finish());
    }
    reopen();
    EXPECT_EQ(
        valuesOf(HKEY_LOCAL_MACHINE, u"A"),
        (std::vector<Value>{
            {u"x", REG_BINARY, "x"}, {u"Zed", REG_BINARY, "z"}, {u"w", REG_BINARY, "w"}, {u"v", REG_BINARY, "v"}}));
    EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, u"B"),
              (std::vector<Value>{{u"p", REG_BINARY, "p"}, {u"q", REG_BINARY, "q"}}));
    HKEY c = 0;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"C", 0, 0, &c), ERROR_FILE_NOT_FOUND);
}

TEST_F(StoreValues, ADamagedRecordOfValuesIsReportedAndOtherKeysStillRead) {
    for (const char* path : {"Broken", "Sound"}) {
        const HKEY key = create(ascii(path));
        ASSERT_EQ(setValue(key, u"one", "1"), ERROR_SUCCESS);
        ASSERT_EQ(setValue(key, u"two", "2"), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    tovik::closeRegistryStore();
    // The record of Broken cut short in the middle of its first value.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE packs SET data = substr(data, 1, 4) "
                           "WHERE key = (SELECT id FROM keys WHERE name = X'420072006F006B0065006E00')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_close(db);
    reopen();

    LONG failure = ERROR_SUCCESS;
    valuesOf(HKEY_LOCAL_MACHINE, u"Broken", &failure);
    EXPECT_EQ(failure, ERROR_BADDB);
    HKEY broken = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Broken", 0, 0, &broken), ERROR_SUCCESS);
    EXPECT_EQ(setValue(broken, u"three", "3"), ERROR_BADDB);
    RegCloseKey(broken);
    EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, u"Sound", &failure),
              (std::vector<Value>{{u"one", REG_BINARY, "1"}, {u"two", REG_BINARY, "2"}}));
    EXPECT_EQ(failure, ERROR_SUCCESS);
}

using StoreKeys = StoreValues;

// Key ids are counted in the process while a transaction lasts; another connection's keys made
// in between must never be given the same id, nor a key deleted earlier lend its id to a new one.
TEST_F(StoreKeys, KeyIdsAreNeverGivenOutTwice) {
    const HKEY old = create(u"Old");
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Old"), ERROR_SUCCESS);
    // A key of a one-letter name below HKEY_LOCAL_MACHINE, made by a connection of its own with the
    // id the store gives: above every key there is and every key deleted.
    auto foreignKey = [&](char letter) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(store_.c_str(), &db), SQLITE_OK);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", letter);
        const std::string sql = std::string("INSERT INTO keys(parent, fold, id, name, depth) VALUES(3, X'00") + hex +
                                "', (SELECT max(last, (SELECT max(id) FROM keys)) + 1 FROM key_ids), X'" + hex +
                                "00', 1)";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    };
    for (int round = 0; round < 2; ++round) {
        {
            tovik::RegistryBatch batch;
            RegCloseKey(create(u"InBatch\\" + ascii(std::to_string(round)) + u"\\a"));
            EXPECT_TRUE(batch.commit());
            RegCloseKey(create(u"InBatch\\" + ascii(std::to_string(round)) + u"\\b"));
            EXPECT_TRUE(batch.finish());
        }
        foreignKey(round == 0 ? 'F' : 'G');
        RegCloseKey(create(u"Single" + ascii(std::to_string(round))));
        foreignKey(round == 0 ? 'H' : 'I');
    }
    const HKEY again = create(u"Old");
    EXPECT_EQ(setValue(old, u"stale", "s"), ERROR_KEY_DELETED);
    // The key of the highest id deleted: the next key still takes a new id.
    const HKEY newest = create(u"Newest");
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Newest"), ERROR_SUCCESS);
    const HKEY next = create(u"Next");
    EXPECT_EQ(setValue(newest, u"stale", "s"), ERROR_KEY_DELETED);
    RegCloseKey(newest);
    RegCloseKey(next);
    EXPECT_EQ(setValue(again, u"fresh", "f"), ERROR_SUCCESS);
    RegCloseKey(old);
    RegCloseKey(again);
    EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, u"Old"), (std::vector<Value>{{u"fresh", REG_BINARY, "f"}}));
    std::vector<std::u16string> names;
    HKEY machine = HKEY_LOCAL_MACHINE;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(machine, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"F", u"G", u"H", u"I", u"InBatch", u"Next", u"Old", u"Single0",
                                                  u"Single1"}));
}

}  // namespace
