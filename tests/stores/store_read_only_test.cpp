// Stores opened read-only: everything reads as written before, every write through the registry
// operations is refused with ERROR_ACCESS_DENIED, and the files stay byte for byte as they were.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <ostream>
#include <string>

#include "hive_test_store.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "wine_test_support.h"

namespace {

struct ReadOnlyKind {
    std::string name;
    std::function<bool(const std::string& path, bool writable)> open;
};

void PrintTo(const ReadOnlyKind& kind, std::ostream* out) {
    *out << kind.name;
}

std::map<std::string, std::string> folderBytes(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.is_directory()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().lexically_relative(dir).string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// A Wine prefix in the folder path, read-only while a wineserver runs it: the open says so and
// why. The server stops at the next open or when the tests end.
bool openWinePrefix(const std::string& path, bool writable) {
    static std::unique_ptr<wine_test::RunningWineserver> server;
    server.reset();
    if (!std::filesystem::exists(path + "/system.reg")) wine_test::makeEmptyPrefix(path);
    if (!writable) {
        server = std::make_unique<wine_test::RunningWineserver>(path);
        if (!server->holding()) return false;
    }
    tovik::RegistrySource source;
    source.kind = tovik::RegistrySource::Kind::WinePrefix;
    source.path = path;
    const tovik::StoreOpenResult opened = tovik::openRegistry(source);
    if (!opened.ok || opened.readOnly == writable || opened.location != path) return false;
    return writable || (opened.readOnlyReason.find("wineserver") != std::string::npos &&
                        tovik::currentBackend()->readOnlyReason() == opened.readOnlyReason);
}

class ReadOnlyStore : public ::testing::TestWithParam<ReadOnlyKind> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovik-read-only-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/registry";
        ASSERT_TRUE(GetParam().open(path_, true));
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Kept\\Inner", 0, nullptr, 0, 0, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const DWORD value = 5;
        ASSERT_EQ(RegSetValueExW(key, u"Five", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        tovik::closeRegistryStore();
        before_ = folderBytes(dir_);
        ASSERT_TRUE(GetParam().open(path_, false));
    }
    void TearDown() override {
        tovik::closeRegistryStore();
        std::filesystem::remove_all(dir_);
    }
    std::string dir_, path_;
    std::map<std::string, std::string> before_;
};

TEST_P(ReadOnlyStore, ReadsWorkAndEveryWriteIsRefusedWithoutTouchingTheFiles) {
    EXPECT_TRUE(tovik::currentBackend()->readOnly());
    HKEY inner = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"kept\\INNER", 0, 0, &inner), ERROR_SUCCESS);
    WCHAR name[16];
    DWORD length = 16, type = 0, size = 4;
    BYTE data[4];
    ASSERT_EQ(RegEnumValueW(inner, 0, name, &length, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, length), u"Five");
    EXPECT_EQ(data[0], 5);

    const DWORD one = 1;
    HKEY created = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"New", 0, nullptr, 0, 0, nullptr, &created, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExW(inner, u"Five", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(inner, u"Five"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Kept\\Inner"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"Kept\\Inner", u"Other"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegRenameValueW(inner, u"Five", u"Six"), ERROR_ACCESS_DENIED);
    {
        tovik::RegistryBatch batch;
        EXPECT_EQ(RegSetValueExW(inner, u"InBatch", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
                  ERROR_ACCESS_DENIED);
    }
    // Opening an existing key for writing is no write.
    HKEY opened = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Kept", 0, nullptr, 0, 0, nullptr, &opened, nullptr), ERROR_SUCCESS);
    RegCloseKey(opened);
    RegCloseKey(inner);
    tovik::closeRegistryStore();
    EXPECT_EQ(folderBytes(dir_), before_) << "a read-only store changed, added or removed a file";
}

INSTANTIATE_TEST_SUITE_P(EveryReadOnlyStore, ReadOnlyStore,
                         ::testing::Values(ReadOnlyKind{"HiveFiles", tovik::testing::openTestHives},
                                           ReadOnlyKind{"WinePrefixWhileWineRuns", openWinePrefix}),
                         [](const ::testing::TestParamInfo<ReadOnlyKind>& info) { return info.param.name; });

}  // namespace
