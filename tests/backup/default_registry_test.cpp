#include "backup/default_registry.h"

#include <algorithm>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "backup/backup_format.h"
#include "backup/backup_import.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry_test_util.h"
#include "resources/default_registry_data.h"
#include "stores/open_store.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

class DefaultRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tovik_default_registry_test_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        path_ = (dir_ / "sub" / "registry.db").string();
    }
    void TearDown() override {
        closeRegistryStore();
        fs::remove_all(dir_);
    }

    // What the store holds after the built-in data is imported into an empty store.
    static test::Snapshot defaultContent() {
        openInMemoryRegistryStore();
        importConcatenatedBackups(kDefaultRegistryData, kDefaultRegistrySize);
        test::Snapshot s = test::takeSnapshot();
        closeRegistryStore();
        return s;
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(DefaultRegistryTest, FirstOpenBuildsTheStoreFromTheDefaultRegistry) {
    // Leftovers of a first start that was killed while building.
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_ + ".new") << "half a store";
    std::ofstream(path_ + ".new-journal") << "x";
    const test::Snapshot expected = defaultContent();

    const StoreOpenResult r = openUserRegistry(path_);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.created);
    // Everything the data holds, plus the values of types no backup file carries.
    test::Snapshot actual = test::takeSnapshot();
    const auto diagnostics = actual.find(u"HKEY_LOCAL_MACHINE|System\\Diagnostics");
    ASSERT_NE(diagnostics, actual.end());
    std::vector<DWORD> types;
    for (const auto& [name, value] : diagnostics->second) types.push_back(value.type);
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, (std::vector<DWORD>{9, 10, 11, 0x12345}));
    actual.erase(diagnostics);
    EXPECT_EQ(actual, expected);
    EXPECT_FALSE(fs::exists(path_ + ".new") || fs::exists(path_ + ".new-journal"));
    EXPECT_EQ(fs::status(path_).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
}

TEST_F(DefaultRegistryTest, ExistingStoreIsOpenedAsItIs) {
    ASSERT_TRUE(openUserRegistry(path_).ok);
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Mine", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    const BYTE one[4] = {1, 0, 0, 0};
    ASSERT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, one, 4), ERROR_SUCCESS);
    RegCloseKey(key);
    const test::Snapshot changed = test::takeSnapshot();
    closeRegistryStore();

    const StoreOpenResult r = openUserRegistry(path_);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.created);
    EXPECT_EQ(test::takeSnapshot(), changed);
}

TEST(ConcatenatedBackups, EachMarkThatStartsALineBeginsAFile) {
    openInMemoryRegistryStore();
    const Bytes bom{0xFE, 0xFF};  // U+FEFF as data, not at a line start
    Bytes all;
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE}) {
        BackupWriter w;
        w.writeStart(root);
        w.writeKeyLine(u"K");
        w.writeValueLine(u"v", REG_BINARY, bom.data(), bom.size());
        w.writeValueLine(u"s", REG_SZ, bom.data(), bom.size());
        const Bytes part = w.takeBytes();
        all.insert(all.end(), part.begin(), part.end());
    }
    const std::vector<ImportResult> results = importConcatenatedBackups(all.data(), all.size());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].root, HKEY_CLASSES_ROOT);
    EXPECT_EQ(results[1].root, HKEY_LOCAL_MACHINE);
    for (const ImportResult& r : results) EXPECT_TRUE(r.outcome == ImportOutcome::Finished && r.valuesWritten == 2);
    EXPECT_EQ(test::readValue(HKEY_LOCAL_MACHINE, u"K", u"s"), (test::StoredValue{REG_SZ, bom}));
    EXPECT_TRUE(importConcatenatedBackups(nullptr, 0).empty());
    closeRegistryStore();
}

TEST(ConcatenatedBackups, TheBuiltInDefaultRegistryImportsCleanly) {
    openInMemoryRegistryStore();
    for (const ImportResult& r : importConcatenatedBackups(kDefaultRegistryData, kDefaultRegistrySize)) {
        EXPECT_EQ(r.outcome, ImportOutcome::Finished) << "line " << r.brokenLineNumber;
        EXPECT_EQ(r.linesSkipped(), 0u) << "root " << r.root;
    }
    closeRegistryStore();
}

}  // namespace
}  // namespace tovik
