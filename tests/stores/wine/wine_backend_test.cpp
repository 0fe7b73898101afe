// A Wine prefix through the registry operations: HKEY_CLASSES_ROOT is the machine's
// Software\Classes itself, every write outside a batch is saved and a batch saves once, changes
// by another program are seen, and a wineserver that starts later stops the next save.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files/durable_writer.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "stores/wine/wine_backend.h"
#include "wine_test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using wine_test::readBytes;
using wine_test::writeBytes;

const std::string kSystem = wine_test::machineHeader() +
                            "\n[Software\\\\Classes\\\\.txt] 1700000000\n#time=1d0000000000001\n@=\"txtfile\"\n"
                            "\n[Software\\\\Wine] 1700000000\n#time=1d0000000000002\n\"Version\"=\"win10\"\n";

class WineBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = (scratch_.path() / "prefix").string();
        wine_test::makeEmptyPrefix(dir_);
        writeBytes(dir_ + "/system.reg", kSystem);
    }
    void TearDown() override { tovik::closeRegistryStore(); }
    tovik::StoreOpenResult open() {
        tovik::RegistrySource source;
        source.kind = tovik::RegistrySource::Kind::WinePrefix;
        source.path = dir_;
        return tovik::openRegistry(source);
    }
    std::string system() const { return readBytes(dir_ + "/system.reg"); }
    std::string user() const { return readBytes(dir_ + "/user.reg"); }
    tovik::KeyId id(HKEY root, std::u16string_view path) {
        tovik::Backend& store = *tovik::currentBackend();
        tovik::KeyId key = store.rootKey(root);
        while (!path.empty() && key != tovik::kNoKey) {
            const std::size_t cut = std::min(path.find(u'\\'), path.size());
            key = store.findChild(key, path.substr(0, cut));
            path.remove_prefix(std::min(cut + 1, path.size()));
        }
        return key;
    }

    wine_test::ScratchDir scratch_;
    std::string dir_;
};

LONG setSz(HKEY root, const char16_t* path, const char16_t* name, std::u16string_view text) {
    HKEY key = 0;
    LONG rc = RegCreateKeyExW(root, path, 0, nullptr, 0, 0, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    std::u16string data(text);
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * 2));
    RegCloseKey(key);
    return rc;
}

TEST_F(WineBackendTest, OpeningSaysWhereAndTheClassesRootIsTheMachinesClassesKey) {
    const tovik::StoreOpenResult opened = open();
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(opened.location, dir_);
    EXPECT_FALSE(opened.readOnly);
    EXPECT_EQ(id(HKEY_CLASSES_ROOT, u".txt"), id(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.txt"));
    EXPECT_EQ(id(HKEY_CLASSES_ROOT, u""), id(HKEY_LOCAL_MACHINE, u"software\\CLASSES"));

    ASSERT_EQ(setSz(HKEY_CLASSES_ROOT, u".txt", u"Content Type", u"text/plain"), ERROR_SUCCESS);
    HKEY machine = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.txt", 0, 0, &machine), ERROR_SUCCESS);
    WCHAR name[32];
    DWORD length = 32;
    ASSERT_EQ(RegEnumValueW(machine, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, length), u"Content Type") << "one change through either name";
    RegCloseKey(machine);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.txt"), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u".txt", 0, 0, &machine), ERROR_FILE_NOT_FOUND);
    EXPECT_THAT(system(), Not(HasSubstr("Classes\\\\.txt")));
    EXPECT_EQ(tovik::currentBackend()->deleteKey(id(HKEY_LOCAL_MACHINE, u"Software\\Classes")), ERROR_ACCESS_DENIED)
        << "the key behind a root was deleted";
}

TEST_F(WineBackendTest, WithoutSoftwareClassesTheClassesRootIsEmptyUntilTheFirstWriteMakesIt) {
    writeBytes(dir_ + "/system.reg", wine_test::machineHeader());
    ASSERT_TRUE(open().ok);
    WCHAR name[32];
    DWORD length = 32;
    EXPECT_EQ(RegEnumKeyExW(HKEY_CLASSES_ROOT, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(system(), wine_test::machineHeader()) << "reading made the key";
    ASSERT_EQ(setSz(HKEY_CLASSES_ROOT, u".md", u"", u"markdown"), ERROR_SUCCESS);
    EXPECT_THAT(system(), HasSubstr("[Software\\\\Classes\\\\.md]"));
    EXPECT_EQ(id(HKEY_CLASSES_ROOT, u".md"), id(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.md"));
}

TEST_F(WineBackendTest, EveryWriteIsSavedAtOnceAndABatchSavesOnceAtItsEnd) {
    ASSERT_TRUE(open().ok);
    const std::string userBefore = user();
    ASSERT_EQ(setSz(HKEY_CURRENT_USER, u"Software\\One", u"V", u"1"), ERROR_SUCCESS);
    EXPECT_THAT(user(), HasSubstr("[Software\\\\One]"));
    EXPECT_EQ(readBytes(dir_ + "/user.reg.tovik-backup"), userBefore) << "the state before the first change";
    EXPECT_EQ(system(), kSystem) << "a file without changes was written";

    const std::optional<tovik::files::FileIdentity> before = tovik::files::identityOf(dir_ + "/user.reg");
    ASSERT_TRUE(before);
    {
        tovik::RegistryBatch batch;
        for (int i = 0; i < 50; ++i) {
            const std::u16string name = u"V" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                        std::u16string(1, static_cast<char16_t>(u'a' + i / 26));
            ASSERT_EQ(setSz(HKEY_CURRENT_USER, u"Software\\Batch", name.c_str(), u"x"), ERROR_SUCCESS);
        }
        EXPECT_EQ(tovik::files::identityOf(dir_ + "/user.reg"), before) << "the batch saved before its end";
        EXPECT_TRUE(batch.finish());
    }
    EXPECT_THAT(user(), HasSubstr("\"VXa\"=\"x\""));
    EXPECT_EQ(readBytes(dir_ + "/user.reg.tovik-backup"), userBefore) << "the backup is made once";
}

TEST_F(WineBackendTest, ChangesByAnotherProgramAreSeenAndKeyIdsStay) {
    ASSERT_TRUE(open().ok);
    const tovik::KeyId wine = id(HKEY_LOCAL_MACHINE, u"Software\\Wine");
    ASSERT_NE(wine, tovik::kNoKey);
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Wine", 0, 0, &key), ERROR_SUCCESS);
    DWORD length = 32;
    WCHAR name[32];
    ASSERT_EQ(RegEnumValueW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    const tovik::ChangeStamp stamp = tovik::currentBackend()->changeStamp();

    // Another editor replaces the file, as Wine and Tovik save: a new file renamed over it.
    std::string replaced = kSystem + "\"Added\"=dword:00000001\n";
    ASSERT_TRUE(tovik::files::replaceFile(dir_ + "/system.reg", replaced).ok());
    EXPECT_NE(tovik::currentBackend()->changeStamp(), stamp);
    length = 32;
    ASSERT_EQ(RegEnumValueW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, length), u"Added");
    EXPECT_EQ(id(HKEY_LOCAL_MACHINE, u"Software\\Wine"), wine) << "a reload changed the key's id";

    // A write after the change keeps it: the file is read again under the lock.
    ASSERT_EQ(setSz(HKEY_LOCAL_MACHINE, u"Software\\Wine", u"Mine", u"y"), ERROR_SUCCESS);
    EXPECT_THAT(system(), HasSubstr("\"Added\"=dword:00000001"));
    EXPECT_THAT(system(), HasSubstr("\"Mine\"=\"y\""));
    RegCloseKey(key);
}

TEST_F(WineBackendTest, AWineserverStartedAfterOpeningStopsTheNextWriteAndSaysWhy) {
    ASSERT_TRUE(open().ok);
    ASSERT_EQ(setSz(HKEY_CURRENT_USER, u"Software\\Before", u"V", u"1"), ERROR_SUCCESS);
    const std::string saved = user();
    wine_test::RunningWineserver server(dir_);
    ASSERT_TRUE(server.holding());
    EXPECT_EQ(setSz(HKEY_CURRENT_USER, u"Software\\Before", u"W", u"2"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(tovik::currentBackend()->readOnly());
    EXPECT_THAT(tovik::currentBackend()->readOnlyReason(), HasSubstr("wineserver -k"));
    EXPECT_EQ(user(), saved);
}

TEST_F(WineBackendTest, NoWineserverCanStartDuringABatchSoTheBatchIsKept) {
    ASSERT_TRUE(open().ok);
    tovik::RegistryBatch batch;
    ASSERT_EQ(setSz(HKEY_CURRENT_USER, u"Software\\Kept", u"V", u"1"), ERROR_SUCCESS);
    {
        wine_test::RunningWineserver server(dir_);
        EXPECT_FALSE(server.holding()) << "a wineserver started while a batch was open";
    }
    EXPECT_TRUE(batch.finish());
    EXPECT_THAT(user(), HasSubstr("[Software\\\\Kept]"));
}

TEST_F(WineBackendTest, ABatchThatCannotBeSavedKeepsNothingAndSaysSo) {
    ASSERT_TRUE(open().ok);
    tovik::RegistryBatch batch;
    ASSERT_EQ(setSz(HKEY_CURRENT_USER, u"Software\\Lost", u"V", u"1"), ERROR_SUCCESS);
    // Another program saves user.reg meanwhile, as Wine saves: a new file renamed over it.
    const std::string other = user() + "\n[Software\\\\Other] 1700000000\n";
    writeBytes(dir_ + "/user.reg.other", other);
    std::filesystem::rename(dir_ + "/user.reg.other", dir_ + "/user.reg");
    EXPECT_FALSE(batch.finish());
    EXPECT_EQ(batch.error(), ERROR_CANTWRITE);
    EXPECT_THAT(tovik::currentBackend()->lastFailure(), HasSubstr("changed by another program"));
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Lost", 0, 0, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Other", 0, 0, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(user(), other);
}

TEST_F(WineBackendTest, APrefixThatWineWouldRejectIsRefusedWithAReason) {
    writeBytes(dir_ + "/user.reg", "WINE REGISTRY Version 1\n");
    const tovik::StoreOpenResult opened = open();
    EXPECT_FALSE(opened.ok);
    EXPECT_THAT(opened.error, HasSubstr("user.reg"));
    EXPECT_EQ(tovik::currentBackend(), nullptr);
}

}  // namespace
