// Hive files opened as the registry: a Windows installation's layout, HKEY_CLASSES_ROOT as
// SOFTWARE\Classes, renames, batches over several hives, and tovik-reg on hives (read-only by
// default, --write saving what hivexget then reads).
#include <sys/stat.h>

#include <filesystem>

#include "files/file_identity.h"
#include "hive_test_support.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace tovik::hive::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::u16string> subkeys(HKEY root, const std::u16string& path) {
    HKEY key = 0;
    std::vector<std::u16string> names;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return {u"(cannot open)"};
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

LONG setDword(HKEY root, const std::u16string& path, const std::u16string& name, DWORD value) {
    HKEY key = 0;
    LONG rc = RegOpenKeyExW(root, path.c_str(), 0, 0, &key);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(key);
    }
    return rc;
}

// A Windows folder whose System32/config holds SOFTWARE (with Classes\.txt), SYSTEM and a sam in
// lower case, as a copied disk may spell it, and an NTUSER.DAT beside it.
struct WindowsFolder : ::testing::Test {
    TempFolder disk;
    std::string windows = disk.file("Windows");
    std::string config = windows + "/System32/config";
    std::string user = disk.file("NTUSER.DAT");

    void SetUp() override {
        std::filesystem::create_directories(config);
        for (const char* name : {"SOFTWARE", "SYSTEM", "sam"}) writeFile(config + "/" + name, emptyHiveBytes());
        writeFile(user, emptyHiveBytes());
        hivexSh(config + "/SOFTWARE", "add Classes\ncd Classes\nadd .txt\ncommit\n", true);
        hivexSh(config + "/SYSTEM", "add Select\ncommit\n", true);
    }
    void TearDown() override { closeRegistryStore(); }

    StoreOpenResult open(bool writable, bool withUser = false) {
        RegistrySource source;
        source.kind = RegistrySource::Kind::Windows;
        source.path = windows;
        source.userHive = withUser ? user : std::string();
        source.writable = writable;
        return openRegistry(source);
    }
};

TEST_F(WindowsFolder, MachineHivesAppearUnderHklmAndClassesAsHkcr) {
    const StoreOpenResult opened = open(false);
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_TRUE(opened.readOnly);
    EXPECT_THAT(opened.readOnlyReason, HasSubstr("--write"));
    EXPECT_EQ(opened.location, windows);
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE, u""), ElementsAre(u"SAM", u"SOFTWARE", u"SYSTEM"));
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE, u"system"), ElementsAre(u"Select"));
    EXPECT_THAT(subkeys(HKEY_CLASSES_ROOT, u""), ElementsAre(u".txt"));
    EXPECT_THAT(subkeys(HKEY_CURRENT_USER, u""), ElementsAre());
    EXPECT_EQ(setDword(HKEY_CLASSES_ROOT, u".txt", u"x", 1), ERROR_ACCESS_DENIED);
}

TEST_F(WindowsFolder, WritesGoIntoTheHiveAndKeysAboveTheHivesRefuse) {
    ASSERT_TRUE(open(true, true).ok);
    ASSERT_EQ(setDword(HKEY_CLASSES_ROOT, u".txt", u"Seen", 3), ERROR_SUCCESS);
    EXPECT_EQ(runCommand("hivexget '" + config + "/SOFTWARE' 'Classes\\.txt' Seen"), "3\n");
    // HKCR and HKLM\SOFTWARE\Classes are one key.
    HKEY viaMachine = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.txt", 0, 0, &viaMachine), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(viaMachine, u"seen"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(viaMachine, u"seen"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(viaMachine);

    HKEY key = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"NOTAHIVE", 0, nullptr, 0, 0, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_THAT(currentBackend()->lastFailure(), HasSubstr("inside a hive"));
    EXPECT_EQ(setDword(HKEY_LOCAL_MACHINE, u"", u"x", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SYSTEM"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes"), ERROR_ACCESS_DENIED) << "HKCR's key was deleted";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Tovik", 0, nullptr, 0, 0, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(hivexSh(user, "cd Software\nls\n"), "Tovik\n");
    // Only the hives written got a copy.
    EXPECT_TRUE(std::filesystem::exists(config + "/SOFTWARE.tovik-backup"));
    EXPECT_TRUE(std::filesystem::exists(user + ".tovik-backup"));
    EXPECT_FALSE(std::filesystem::exists(config + "/SYSTEM.tovik-backup"));
}

TEST_F(WindowsFolder, ABatchWritesSeveralHivesOfOneFolderAndSavesEachOnce) {
    ASSERT_TRUE(open(true).ok);
    const auto identity = [this](const char* name) { return files::identityOf(config + "/" + name); };
    const auto softwareBefore = identity("SOFTWARE");
    {
        RegistryBatch batch;
        for (DWORD i = 0; i < 20; ++i) {
            ASSERT_EQ(setDword(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes", u"n" + std::u16string(1, u'a' + i), i),
                      ERROR_SUCCESS);
        }
        ASSERT_EQ(setDword(HKEY_LOCAL_MACHINE, u"SYSTEM\\Select", u"Current", 1), ERROR_SUCCESS);
        EXPECT_EQ(identity("SOFTWARE"), softwareBefore) << "a batch saved before its end";
        EXPECT_TRUE(batch.finish());
    }
    EXPECT_EQ(runCommand("hivexget '" + config + "/SOFTWARE' Classes nt"), "19\n");
    EXPECT_EQ(runCommand("hivexget '" + config + "/SYSTEM' Select Current"), "1\n");
}

TEST_F(WindowsFolder, RenamingAKeyCopiesItsSubtreeAndHandlesFollowIt) {
    ASSERT_TRUE(open(true).ok);
    HKEY deep = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old\\Inner", 0, nullptr, 0, 0, nullptr, &deep, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setDword(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old\\Inner", u"Kept", 9), ERROR_SUCCESS);
    Backend& store = *currentBackend();
    const KeyId software = store.findChild(store.rootKey(HKEY_LOCAL_MACHINE), u"SOFTWARE");
    const KeyId old = store.findChild(software, u"Old");
    EXPECT_EQ(store.renameKey(old, u"New"), ERROR_SUCCESS);
    EXPECT_EQ(store.renameKey(software, u"Other"), ERROR_ACCESS_DENIED) << "a hive's top was renamed";
    EXPECT_EQ(runCommand("hivexget '" + config + "/SOFTWARE' 'New\\Inner' Kept"), "9\n");
    EXPECT_EQ(hivexSh(config + "/SOFTWARE", "ls\n"), "Classes\nNew\n");
    // The open handle below the renamed key still works.
    const DWORD two = 2;
    EXPECT_EQ(RegSetValueExW(deep, u"After", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof two),
              ERROR_SUCCESS);
    RegCloseKey(deep);
    EXPECT_EQ(runCommand("hivexget '" + config + "/SOFTWARE' 'New\\Inner' After"), "2\n");
}

TEST_F(WindowsFolder, ValuesTooLargeForHivexAreRefusedWithASentence) {
    ASSERT_TRUE(open(true).ok);
    const std::vector<BYTE> big(1000000, 0xAB);
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes", 0, 0, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"Big", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size())),
              ERROR_INVALID_PARAMETER);
    EXPECT_THAT(currentBackend()->lastFailure(), HasSubstr("hivex can write at most"));
    RegCloseKey(key);
}

TEST_F(WindowsFolder, AnyTypeNumberIsWrittenAndReadBack) {
    ASSERT_TRUE(open(true).ok);
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Select", 0, 0, &key), ERROR_SUCCESS);
    const BYTE data[] = {1, 2};
    for (DWORD type : {DWORD{0xFFFFFFFF}, DWORD{0x80000001}, DWORD{12345}}) {
        ASSERT_EQ(RegSetValueExW(key, u"Odd", 0, type, data, sizeof data), ERROR_SUCCESS);
        closeRegistryStore();
        ASSERT_TRUE(open(false).ok);
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Select", 0, 0, &key), ERROR_SUCCESS);
        WCHAR name[8];
        DWORD length = 8, read = 0, size = 2;
        BYTE back[2];
        ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, &read, back, &size), ERROR_SUCCESS);
        EXPECT_EQ(read, type);
        closeRegistryStore();
        ASSERT_TRUE(open(true).ok);
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Select", 0, 0, &key), ERROR_SUCCESS);
    }
    RegCloseKey(key);
}

// A delete of the key where a hive begins, or of a key above one (HKCR is SOFTWARE\Classes),
// would stop there after deleting everything else: it is refused before anything goes.
TEST_F(WindowsFolder, DeletingWhereAHiveBeginsIsRefusedBeforeAnythingGoes) {
    hivexSh(config + "/SYSTEM", "cd Select\nadd Below\ncommit\n", true);
    const std::string reg = std::string(TOVIK_REG_PATH) + " --windows '" + windows + "' --write ";
    const auto software = readFile(config + "/SOFTWARE");
    const auto system = readFile(config + "/SYSTEM");
    int status = -1;
    for (const char* key : {"HKLM\\SYSTEM", "HKLM\\SOFTWARE", "HKLM\\SOFTWARE\\Classes"}) {
        const std::string refused = runCommand(reg + "delete-key '" + key + "' 2>&1", &status);
        EXPECT_EQ(status, 1) << key;
        EXPECT_THAT(refused, HasSubstr("nothing was deleted")) << key;
    }
    TempFolder scratch;
    const std::string file = scratch.file("delete.reg");
    const std::string text = "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n[-HKEY_LOCAL_MACHINE\\SYSTEM]\n";
    writeFile(file, std::vector<std::uint8_t>(text.begin(), text.end()));
    runCommand(reg + "import '" + file + "' 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(readFile(config + "/SOFTWARE"), software);
    EXPECT_EQ(readFile(config + "/SYSTEM"), system);

    // Below the hive's own keys a subtree goes as ever.
    runCommand(reg + "delete-key 'HKLM\\SYSTEM\\Select' 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(hivexSh(config + "/SYSTEM", "ls\n"), "");
}

// tovik-reg on the same folder: read-only refusals say why, --write saves.
TEST_F(WindowsFolder, TovikRegReadsByDefaultAndWritesWithWrite) {
    const std::string reg = std::string(TOVIK_REG_PATH) + " --windows '" + windows + "' ";
    int status = -1;
    EXPECT_EQ(runCommand(reg + "query 'HKCR\\.txt' 2>&1", &status), "[.txt]\n");
    EXPECT_EQ(status, 0);
    const std::string refused = runCommand(reg + "set 'HKLM\\SYSTEM\\Select' Current DW 4 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_THAT(refused, HasSubstr("read-only"));
    EXPECT_THAT(refused, HasSubstr("--write"));
    EXPECT_FALSE(std::filesystem::exists(config + "/SYSTEM.tovik-backup"));

    runCommand(reg + "--write set 'HKLM\\SYSTEM\\Select' Current DW 4 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(runCommand("hivexget '" + config + "/SYSTEM' Select Current"), "4\n");
    const std::string above = runCommand(reg + "--write add-key 'HKLM\\Elsewhere' 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_THAT(above, HasSubstr("inside a hive"));

    const std::string one = std::string(TOVIK_REG_PATH) + " --hive '" + user + "' --as 'HKLM\\Mounted\\User' ";
    runCommand(one + "--write add-key 'HKLM\\Mounted\\User\\Software' 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(hivexSh(user, "ls\n"), "Software\n");
}

// A hive that Windows left unfinished stays read-only: tovik-reg says why once, before anything
// else about the refused write, whether the other hives take writes or not.
TEST_F(WindowsFolder, TovikRegSaysWhyAnUnfinishedHiveRefusesAWriteOnce) {
    const auto count = [](const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    };
    auto system = readFile(config + "/SYSTEM");
    system[4] += 1;  // the base block's first sequence number: a write Windows did not finish
    fixChecksum(system);
    writeFile(config + "/SYSTEM", system);
    const std::string reg = std::string(TOVIK_REG_PATH) + " --windows '" + windows + "' --write ";
    int status = -1;
    const std::string one = runCommand(reg + "set 'HKLM\\SYSTEM\\Select' Current DW 4 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(count(one, "did not shut down cleanly"), 1u) << one;
    EXPECT_EQ(one.rfind("tovik-reg: Windows did not shut down cleanly: SYSTEM", 0), 0u) << one;

    // Every hive unfinished: the registry is read-only, and the reasons are each said once.
    writeFile(config + "/SOFTWARE", emptyHiveBytes({.sequence1 = 5, .sequence2 = 4}));
    writeFile(config + "/sam", emptyHiveBytes({.sequence1 = 5, .sequence2 = 4}));
    const std::string all = runCommand(reg + "set 'HKLM\\SYSTEM\\Select' Current DW 4 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(count(all, "did not shut down cleanly"), 3u) << all;
    EXPECT_EQ(count(all, "SYSTEM was being written"), 1u) << all;
    EXPECT_EQ(readFile(config + "/SYSTEM"), system) << "nothing was written";
}

// tovik-reg --hive given a link: the change lands in the hive the link names, and a FIFO given
// as a hive is refused at once.
TEST(TovikRegOnAHive, WritesThroughALinkAndRefusesAFifo) {
    TempFolder folder;
    std::filesystem::create_directory(folder.file("real"));
    const std::string real = folder.file("real/NTUSER.DAT");
    writeFile(real, emptyHiveBytes());
    const std::string link = folder.file("link");
    std::filesystem::create_symlink(real, link);
    const std::string reg = std::string(TOVIK_REG_PATH) + " --hive '" + link + "' --as 'HKLM\\User' ";
    int status = -1;
    const std::string set = runCommand(reg + "--write set 'HKLM\\User\\Software' Name SZ value 2>&1", &status);
    EXPECT_EQ(status, 0) << set;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(runCommand("hivexget '" + real + "' Software Name"), "value\n");

    const std::string fifo = folder.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string refused = runCommand("timeout 20 " + std::string(TOVIK_REG_PATH) + " --hive '" + fifo +
                                               "' --as 'HKLM\\User' query 'HKLM\\User' 2>&1",
                                           &status);
    EXPECT_EQ(status, 1) << refused;
    EXPECT_THAT(refused, HasSubstr(fifo));
}

}  // namespace
}  // namespace tovik::hive::testing
