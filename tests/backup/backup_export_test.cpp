#include "backup/backup_export.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backup/backup_import.h"
#include "backup_test_util.h"
#include "registry/registry_store.h"
#include "registry_test_util.h"
#include "stores/open_store.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;
using test::backupFileBytes;
using test::StoredValue;
using Lines = std::vector<std::u16string_view>;

constexpr std::u16string_view kHeader = u"Tovik レジストリ退避ファイル Ver1.0";

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> directoryEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        openInMemoryRegistryStore();
        std::string pattern = (fs::temp_directory_path() / "tovik-export-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        target_ = dir_ / "backup.txt";
    }
    void TearDown() override {
        closeRegistryStore();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static void set(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data) {
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static void makeKey(HKEY root, const std::u16string& path) {
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ExportResult exportKey(HKEY root, std::u16string_view path) {
        return exportKeyToFile(target_.string(), root, path);
    }

    // Imports the exported file into a fresh store.
    ImportResult importIntoFreshStore() {
        const std::optional<BackupFileLines> file = readBackupFileAt(target_.string());
        EXPECT_TRUE(file.has_value());
        openInMemoryRegistryStore();
        return file ? importBackupLines(file->lines) : ImportResult{};
    }

    fs::path dir_;
    fs::path target_;
};

TEST_F(ExportTest, WritesTheExampleFileByteForByte) {
    const std::u16string sample = u"Software\\Sample";
    set(HKEY_LOCAL_MACHINE, sample, u"", REG_SZ, stringToBytes(std::u16string(u"Sample application\0", 19)));
    set(HKEY_LOCAL_MACHINE, sample, u"Version", REG_DWORD, dwordToBytes(260));
    set(HKEY_LOCAL_MACHINE, sample, u"Flags", REG_DWORD, dwordToBytes(0xFFFFFFFF));
    set(HKEY_LOCAL_MACHINE, sample, u"Data", REG_BINARY, {0x0A, 0xFF, 0x00});
    set(HKEY_LOCAL_MACHINE, sample, u"Paths", REG_MULTI_SZ,
        stringToBytes(std::u16string(u"\\Windows\0\\Temp\0\0", 16)));
    set(HKEY_LOCAL_MACHINE, sample + u"\\Options", u"Order", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0});
    set(HKEY_LOCAL_MACHINE, sample + u"\\Options", u"Empty", REG_NONE, {});
    set(HKEY_LOCAL_MACHINE, u"Software\\Other", u"x", REG_SZ, stringToBytes(u"not exported"));

    const ExportResult r = exportKey(HKEY_LOCAL_MACHINE, sample);
    EXPECT_EQ(r.outcome, ExportOutcome::Written);
    EXPECT_TRUE(exportOutcomeMessage(r.outcome).empty());
    EXPECT_EQ(r.keys, 2u);
    EXPECT_EQ(r.values, 7u);
    EXPECT_EQ(readBytes(target_), test::exampleFileBytes());
    EXPECT_THAT(directoryEntries(dir_), ::testing::ElementsAre("backup.txt"));
}

TEST_F(ExportTest, WalksDepthFirstWithValuesBeforeSubkeysInRegistryOrder) {
    // Created out of order: subkeys enumerate by name (case-insensitively), values in creation order.
    set(HKEY_CURRENT_USER, u"Top\\b", u"z", REG_DWORD, dwordToBytes(1));
    set(HKEY_CURRENT_USER, u"Top\\b", u"a", REG_DWORD, dwordToBytes(2));
    set(HKEY_CURRENT_USER, u"Top\\A\\deep", u"", REG_SZ, stringToBytes(u"x"));
    makeKey(HKEY_CURRENT_USER, u"Top\\C");
    set(HKEY_CURRENT_USER, u"Top", u"v", REG_MULTI_SZ, TextToMultiSz(u"p|q||"));
    set(HKEY_CURRENT_USER, u"", u"atRoot", REG_DWORD, dwordToBytes(0xFFFFFFFF));
    set(HKEY_LOCAL_MACHINE, u"Elsewhere", u"w", REG_SZ, stringToBytes(u"other root"));

    ASSERT_EQ(exportKey(HKEY_CURRENT_USER, u"").outcome, ExportOutcome::Written);
    EXPECT_EQ(readBytes(target_),
              backupFileBytes(Lines{kHeader, u"\\\\HKEY_CURRENT_USER", u"[]", u"\"atRoot\"=DW:-1(FFFFFFFF)", u"[Top]",
                                    u"\"v\"=MLT:p|q||", u"[Top\\A]", u"[Top\\A\\deep]", u"\"@\"=SZ:x", u"[Top\\b]",
                                    u"\"z\"=DW:1(1)", u"\"a\"=DW:2(2)", u"[Top\\C]"}));

    // A key without values or subkeys gives its key line only; the path is the full one.
    ASSERT_EQ(exportKey(HKEY_CURRENT_USER, u"Top\\C").outcome, ExportOutcome::Written);
    EXPECT_EQ(readBytes(target_), backupFileBytes(Lines{kHeader, u"\\\\HKEY_CURRENT_USER", u"[Top\\C]"}));
}

TEST_F(ExportTest, EveryTypeLargeValuesAndLongNamesComeBackThroughImport) {
    const std::u16string longValueName(3000, u'名');
    const std::u16string longKeyName = u"\U0001F600" + std::u16string(kMaxKeyNameLength - 2, u'k');
    const struct {
        std::u16string path, name;
        DWORD type;
        Bytes data;
    } values[] = {
        {u"Types", u"", REG_SZ, stringToBytes(u"既定")},
        {u"Types", u"small", REG_DWORD, dwordToBytes(7)},
        {u"Types", u"third of 4000 bytes", REG_BINARY, Bytes(4000, 0x5A)},
        {u"Types", u"exp", REG_EXPAND_SZ, stringToBytes(u"%TEMP%\\\U00020BB7")},
        {u"Types", u"mlt", REG_MULTI_SZ, stringToBytes(std::u16string(u"甲\0\U0001F600\0\0", 6))},
        {u"Types", u"non", REG_NONE, {}},
        {u"Types", u"dwe", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0}},
        {u"Types", u"lnk", REG_LINK, {0x5C, 0x00}},
        {u"Types", u"rsc", REG_RESOURCE_LIST, Bytes(70000, 0xA5)},
        {u"Types", u"megabyte", REG_SZ, stringToBytes(std::u16string(500000, u'字'))},
        {u"Types", longValueName, REG_SZ, stringToBytes(u"after a long name")},
        {u"Types", u"last", REG_DWORD, dwordToBytes(0x80000000)},
        {u"Types\\" + longKeyName, u"値\U0001F600", REG_SZ, stringToBytes(u"below a long key name")},
        {u"Types\\鍵\\\U00020BB7", u"深い", REG_BINARY, {1, 2, 3}},
        {u"Types\\zz after", u"z", REG_DWORD, dwordToBytes(3)},
    };
    for (const auto& v : values) set(HKEY_LOCAL_MACHINE, v.path, v.name, v.type, v.data);
    const test::Snapshot written = test::takeSnapshot();

    const ExportResult exported = exportKey(HKEY_LOCAL_MACHINE, u"Types");
    ASSERT_EQ(exported.outcome, ExportOutcome::Written);
    EXPECT_EQ(exported.values, std::size(values));
    EXPECT_EQ(exported.keys, 5u);

    const ImportResult imported = importIntoFreshStore();
    EXPECT_EQ(imported.outcome, ImportOutcome::Finished);
    EXPECT_EQ(imported.valuesWritten, std::size(values));
    EXPECT_EQ(imported.linesSkipped(), 0u);
    EXPECT_EQ(test::takeSnapshot(), written);
}

// The export counts a value exactly when its import would not give it back as it was: each value
// alone is exported from a store of its own and imported into another.
TEST_F(ExportTest, AValueIsCountedExactlyWhenItWouldNotComeBack) {
    const struct {
        std::u16string name;
        DWORD type;
        Bytes data;
        bool comesBack;
    } values[] = {
        {u"plain", REG_SZ, stringToBytes(u"text"), true},
        {u"a=b", REG_SZ, stringToBytes(u"an equals sign in the name only"), true},
        {u"equals", REG_SZ, stringToBytes(u"x=y"), false},
        {u"equals in bytes", REG_BINARY, {'=', 0, '\r', 0}, true},
        {u"equals as a number", REG_DWORD, dwordToBytes(0x3D3D), true},
        {u"two lines", REG_EXPAND_SZ, stringToBytes(u"one\r\ntwo"), false},
        {u"line\nbreak", REG_DWORD, dwordToBytes(1), false},
        {u"@", REG_SZ, stringToBytes(u"at"), false},
        {u"bar", REG_MULTI_SZ, stringToBytes(std::u16string(u"a|b\0c\0\0", 7)), false},
        {u"no bar", REG_MULTI_SZ, stringToBytes(std::u16string(u"a\0b\0\0", 5)), true},
        // Types above 8 are written with the tag "??", which no import takes.
        {u"quad", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}, false},
        {u"nameless type", 0x1234, {'=', '\n'}, false},
    };
    for (const auto& v : values) {
        SCOPED_TRACE(std::string(v.name.begin(), v.name.end()));
        openInMemoryRegistryStore();
        set(HKEY_LOCAL_MACHINE, u"Round", v.name, v.type, v.data);
        const ExportResult exported = exportKey(HKEY_LOCAL_MACHINE, u"Round");
        ASSERT_EQ(exported.outcome, ExportOutcome::Written);
        importIntoFreshStore();
        const auto back = test::keyValues(HKEY_LOCAL_MACHINE, u"Round");
        const bool same = back.size() == 1 && back[0].first == v.name && back[0].second == StoredValue{v.type, v.data};
        EXPECT_EQ(same, v.comesBack);
        EXPECT_EQ(exported.notRestorable, same ? 0u : 1u);
    }
}

TEST_F(ExportTest, TheDeepestTreeIsWalkedWithoutRecursion) {
    std::u16string deepest;
    for (int level = 0; level < kMaxKeyDepth; ++level) deepest += level == 0 ? u"d" : u"\\d";
    set(HKEY_CURRENT_USER, deepest, u"bottom", REG_DWORD, dwordToBytes(512));
    const ExportResult r = exportKey(HKEY_CURRENT_USER, u"");
    ASSERT_EQ(r.outcome, ExportOutcome::Written);
    EXPECT_EQ(r.keys, static_cast<std::size_t>(kMaxKeyDepth) + 1);
    const std::optional<BackupFileLines> file = readBackupFileAt(target_.string());
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->lines.size(), 2u + kMaxKeyDepth + 1 + 1);
    EXPECT_EQ(file->lines[file->lines.size() - 2], u"[" + deepest + u"]");
    EXPECT_EQ(file->lines.back(), u"\"bottom\"=DW:512(200)");
}

TEST_F(ExportTest, FailuresLeaveAnExistingFileAsItWas) {
    set(HKEY_LOCAL_MACHINE, u"Big", u"data", REG_BINARY, Bytes(300000, 0x11));
    const std::string before = "the previous backup\r\n";
    writeBytes(target_, before);
    const Bytes beforeBytes(before.begin(), before.end());

    ExportResult r = exportKey(0, u"");
    EXPECT_EQ(r.outcome, ExportOutcome::NoKeySelected);
    EXPECT_EQ(exportOutcomeMessage(r.outcome), u"キーが選択されていません");
    EXPECT_EQ(readBytes(target_), beforeBytes);

    r = exportKey(HKEY_LOCAL_MACHINE, u"Missing\\Key");
    EXPECT_EQ(r.outcome, ExportOutcome::KeyNotOpened);
    EXPECT_EQ(r.keyPath, u"Missing\\Key");
    EXPECT_FALSE(exportOutcomeMessage(r.outcome).empty());
    EXPECT_EQ(readBytes(target_), beforeBytes);

    // A full disk part-way: the file size limit makes the writes fail after 64 KiB.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    r = exportKey(HKEY_LOCAL_MACHINE, u"Big");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(r.outcome, ExportOutcome::WriteFailed);
    EXPECT_EQ(r.error, EFBIG);
    EXPECT_EQ(exportOutcomeMessage(r.outcome),
              u"ファイルに書き込めません。エクスポートを中止しました。選んだファイルは変更していません。");
    EXPECT_EQ(readBytes(target_), beforeBytes);

    EXPECT_THAT(directoryEntries(dir_), ::testing::ElementsAre("backup.txt"));  // no temporary file stays
    ASSERT_EQ(exportKey(HKEY_LOCAL_MACHINE, u"Big").outcome, ExportOutcome::Written);
    const std::optional<BackupFileLines> file = readBackupFileAt(target_.string());
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->lines.size(), 4u);
    EXPECT_EQ(file->lines[3].size(), std::u16string_view(u"\"data\"=BIN:").size() + 300000 * 3);
}

TEST_F(ExportTest, WithoutAKeyANewFileHoldsTheMarkAndTheHeaderOnly) {
    const ExportResult r = exportKey(0x80000003, u"");
    EXPECT_EQ(r.outcome, ExportOutcome::NoKeySelected);
    EXPECT_EQ(readBytes(target_), backupFileBytes(Lines{kHeader}));
    EXPECT_THAT(directoryEntries(dir_), ::testing::ElementsAre("backup.txt"));

    // A key that cannot be opened creates nothing at all.
    fs::remove(target_);
    EXPECT_EQ(exportKey(HKEY_CURRENT_USER, u"Nowhere").outcome, ExportOutcome::KeyNotOpened);
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(ExportTest, TargetsThatCannotBeWrittenAreRefusedBeforeAnythingIsWritten) {
    target_ = dir_ / "missing" / "backup.txt";
    ExportResult r = exportKey(HKEY_CURRENT_USER, u"");
    EXPECT_EQ(r.outcome, ExportOutcome::FileNotCreated);
    EXPECT_EQ(r.error, ENOENT);
    EXPECT_EQ(exportOutcomeMessage(r.outcome), u"ファイルを作成できません。エクスポートしませんでした。");

    fs::create_directory(dir_ / "folder");
    target_ = dir_ / "folder";
    r = exportKey(HKEY_CURRENT_USER, u"");
    EXPECT_EQ(r.outcome, ExportOutcome::FileNotCreated);
    EXPECT_EQ(r.error, EISDIR);
    EXPECT_TRUE(fs::is_directory(target_));
    EXPECT_TRUE(fs::is_empty(target_));
    EXPECT_THAT(directoryEntries(dir_), ::testing::ElementsAre("folder"));
}

TEST_F(ExportTest, ReplacingKeepsTheFilesModeAndFollowsALink) {
    set(HKEY_CURRENT_USER, u"K", u"v", REG_SZ, stringToBytes(u"new"));
    const Bytes expected = backupFileBytes(Lines{kHeader, u"\\\\HKEY_CURRENT_USER", u"[K]", u"\"v\"=SZ:new"});

    writeBytes(target_, "old");
    fs::permissions(target_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(exportKey(HKEY_CURRENT_USER, u"K").outcome, ExportOutcome::Written);
    EXPECT_EQ(readBytes(target_), expected);
    EXPECT_EQ(fs::status(target_).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    const fs::path link = dir_ / "link.txt";
    fs::create_symlink(target_.filename(), link);
    fs::remove(target_);
    writeBytes(target_, "old");
    target_ = link;
    ASSERT_EQ(exportKey(HKEY_CURRENT_USER, u"K").outcome, ExportOutcome::Written);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readBytes(dir_ / "backup.txt"), expected);

    // A new file is private, as the registry it holds, whatever the umask.
    const mode_t saved = ::umask(000);
    target_ = dir_ / "new.txt";
    const ExportResult r = exportKey(HKEY_CURRENT_USER, u"K");
    ::umask(saved);
    ASSERT_EQ(r.outcome, ExportOutcome::Written);
    EXPECT_EQ(fs::status(target_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_THAT(directoryEntries(dir_), ::testing::ElementsAre("backup.txt", "link.txt", "new.txt"));
}

TEST_F(ExportTest, StoredKeyPathGivesTheNamesAsTheRegistryHoldsThem) {
    makeKey(HKEY_LOCAL_MACHINE, u"Software\\Tovik\\Ünïcode");
    EXPECT_EQ(storedKeyPath(HKEY_LOCAL_MACHINE, u"SOFTWARE\\tovik\\üNÏCODE"), u"Software\\Tovik\\Ünïcode");
    EXPECT_EQ(storedKeyPath(HKEY_LOCAL_MACHINE, u"software\\Missing\\x"), u"Software\\Missing\\x");
    EXPECT_EQ(storedKeyPath(HKEY_LOCAL_MACHINE, u""), u"");
}

TEST_F(ExportTest, StoppedByItsProgressTheTargetStaysAsItWas) {
    for (int k = 0; k < 50; ++k)
        makeKey(HKEY_LOCAL_MACHINE, u"Big\\K" + std::u16string(1, static_cast<char16_t>(u'A' + k)));
    const std::string before = "the previous backup\r\n";
    writeBytes(target_, before);
    std::vector<std::size_t> seen;
    BackupExport file(target_.string());
    file.setProgress([&seen](std::size_t keys) {
        seen.push_back(keys);
        return keys < 10;  // stops at the tenth key
    });
    ASSERT_TRUE(file.begin(HKEY_LOCAL_MACHINE));
    file.writeKeyTree(HKEY_LOCAL_MACHINE, u"Big");
    const ExportResult r = file.finish();
    EXPECT_EQ(r.outcome, ExportOutcome::Cancelled);
    EXPECT_EQ(exportOutcomeMessage(r.outcome), u"エクスポートを中止しました。選んだファイルは変更していません。");
    EXPECT_EQ(seen, (std::vector<std::size_t>{2, 3, 4, 5, 6, 7, 8, 9, 10}));  // after each key below the first
    EXPECT_EQ(readBytes(target_), Bytes(before.begin(), before.end()));
    EXPECT_THAT(directoryEntries(dir_), ::testing::ElementsAre("backup.txt"));
}

TEST(FillTemplate, ReplacesNumberedPlaceholdersOnly) {
    EXPECT_EQ(fillTemplate(u"値が%1個、キーが%2個（%3）", {u"5", u"0", u"理由"}), u"値が5個、キーが0個（理由）");
    EXPECT_EQ(fillTemplate(u"%2 then %1, 100% and %4", {u"a", u"b"}), u"b then a, 100% and %4");
    EXPECT_EQ(fillTemplate(u"ends with %", {u"x"}), u"ends with %");
}

}  // namespace
}  // namespace tovik
