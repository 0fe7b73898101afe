#include "backup/backup_import.h"

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/backup_format.h"
#include "backup_test_util.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_store.h"
#include "registry_test_util.h"
#include "stores/open_store.h"

namespace tovik {
namespace {

using test::backupFileBytes;
using test::keyExists;
using test::readValue;
using test::StoredValue;
using Lines = std::vector<std::u16string_view>;

constexpr std::u16string_view kHeader = u"Tovik レジストリ退避ファイル Ver1.0";

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override { openInMemoryRegistryStore(); }
    void TearDown() override { closeRegistryStore(); }

    // A file under HKEY_CURRENT_USER with the given lines after the root line.
    static ImportResult importData(Lines data) {
        std::vector<std::u16string> lines{std::u16string(kHeader), u"\\\\HKEY_CURRENT_USER"};
        lines.insert(lines.end(), data.begin(), data.end());
        return importBackupLines(lines);
    }
    static void setValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
                         const Bytes& data) {
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())), 0);
        RegCloseKey(key);
    }
    static std::filesystem::path tempDir() {
        const auto dir = std::filesystem::temp_directory_path() / ("tovik_import_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir;
    }
};

TEST_F(ImportTest, ExampleFileWritesItsKeysAndValues) {
    const Bytes file = test::exampleFileBytes();
    const ImportResult r = importBackup(file.data(), file.size());
    EXPECT_EQ(r.outcome, ImportOutcome::Finished);
    EXPECT_EQ(importOutcomeMessage(r.outcome), u"インポート終了、表示を初期化します");
    EXPECT_EQ(r.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(r.keysCreated, 2u);
    EXPECT_EQ(r.valuesWritten, 7u);
    EXPECT_EQ(r.linesSkipped(), 0u);

    const std::u16string sample = u"Software\\Sample";
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, u"Software"));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, sample, u""), (StoredValue{REG_SZ, stringToBytes(u"Sample application")}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, sample, u"Flags"), (StoredValue{REG_DWORD, dwordToBytes(0xFFFFFFFF)}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, sample, u"Data"), (StoredValue{REG_BINARY, Bytes{0x0A, 0xFF, 0x00}}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, sample, u"Paths"),
              (StoredValue{REG_MULTI_SZ, stringToBytes(std::u16string(u"\\Windows\0\\Temp\0\0", 16))}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, sample + u"\\Options", u"Order"),
              (StoredValue{REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 0}}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, sample + u"\\Options", u"Empty"), (StoredValue{REG_NONE, Bytes{}}));
    EXPECT_TRUE(test::subkeyNames(HKEY_CURRENT_USER, u"").empty());
}

TEST_F(ImportTest, ChecksBeforeWritingLeaveTheStoreUnchanged) {
    setValue(HKEY_CURRENT_USER, u"Keep", u"v", REG_DWORD, dwordToBytes(1));
    const test::Snapshot before = test::takeSnapshot();
    const std::u16string_view notUnicode = u"Unicodeではありません";
    const std::u16string_view formatError = u"ファイル形式エラー インポート失敗";
    const std::u16string_view noRoot = u"ルートキーなし インポート失敗";
    const struct {
        Bytes file;
        ImportOutcome outcome;
        std::u16string_view message;
    } cases[] = {
        {Bytes{0xFE, 0xFF, 'T', 0, '\r', 0}, ImportOutcome::NotUnicode, notUnicode},
        {Bytes{'T', 'o', 'v', 'i', 'k', '\r', '\n'}, ImportOutcome::NotUnicode, notUnicode},
        {Bytes{}, ImportOutcome::FormatError, formatError},
        {Bytes{0xFF}, ImportOutcome::FormatError, formatError},
        {Bytes{0xFF, 0xFE}, ImportOutcome::FormatError, formatError},
        {backupFileBytes(Lines{u"tovik", u"\\\\HKEY_CURRENT_USER", u"[Keep]", u"\"v\"=DW:2"}),
         ImportOutcome::FormatError, formatError},
        {backupFileBytes(Lines{u"Tovik"}), ImportOutcome::NoRootKey, noRoot},
        {backupFileBytes(Lines{u"TovikXYZ", u"\\\\HKEY_CURRENT_USER ", u"[Keep]", u"\"v\"=DW:2"}),
         ImportOutcome::NoRootKey, noRoot},
        {backupFileBytes(Lines{u"Tovik", u"\\HKEY_CURRENT_USER", u"[Keep]", u"\"v\"=DW:2"}), ImportOutcome::NoRootKey,
         noRoot},
    };
    for (const auto& c : cases) {
        const ImportResult r = importBackup(c.file.data(), c.file.size());
        EXPECT_EQ(r.outcome, c.outcome) << "file of " << c.file.size() << " bytes";
        EXPECT_EQ(importOutcomeMessage(r.outcome), c.message);
        EXPECT_EQ(test::takeSnapshot(), before);
    }
    EXPECT_EQ(importOutcomeMessage(ImportOutcome::BrokenLine),
              u"インポートファイルが壊れています。ロード途中で終了しました。表示も不正になります。");
    EXPECT_EQ(importData({}).outcome, ImportOutcome::Finished);  // header and root alone
    EXPECT_EQ(test::takeSnapshot(), before);
}

TEST_F(ImportTest, ValuesNeedACurrentKey) {
    const ImportResult r = importData({
        u"\"early\"=DW:1(1)",  // before any key line
        u"[]",                 // the root itself
        u"\"atRoot\"=SZ:r",
        u"[Missing\"Child]",  // its parent does not exist
        u"\"lost\"=SZ:x",
        u"[A\\B]",
        u"[A\"C]",  // parent A exists now: creates A\C
        u"\"c\"=SZ:c",
    });
    EXPECT_EQ(r.outcome, ImportOutcome::Finished);
    EXPECT_EQ(r.keysCreated, 3u);
    EXPECT_EQ(r.keyLinesFailed, 1u);
    EXPECT_EQ(r.valuesWritten, 2u);
    EXPECT_EQ(r.valueLinesWithoutKey, 2u);
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"", u"atRoot"), (StoredValue{REG_SZ, stringToBytes(u"r")}));
    EXPECT_FALSE(readValue(HKEY_CURRENT_USER, u"", u"early"));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, u"Missing") || keyExists(HKEY_CURRENT_USER, u"Child"));
    EXPECT_TRUE(test::keyValues(HKEY_CURRENT_USER, u"A\\B").empty());
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"A\\C", u"c"), (StoredValue{REG_SZ, stringToBytes(u"c")}));
}

// Key lines name their parent by path; the importer keeps the keys of earlier lines open and
// must still find the parent the path names, wherever the file jumps and whatever happened to
// the keys it holds open.
TEST_F(ImportTest, KeyLinesFindTheParentTheirPathNames) {
    BackupLineImporter importer(HKEY_CURRENT_USER);
    for (const std::u16string_view line : Lines{u"[A]", u"[A\"B]", u"[A\\B\"C]", u"\"c\"=SZ:1",
                                                u"[A\"D]",           // back up one level, past the open A\B\C
                                                u"[A\\B\"E]",        // A\B is no longer open: found from the root
                                                u"[a\\b\"F]",        // another case of the same path
                                                u"[A\\B\\E\"G\\H]",  // several names at once
                                                u"[A\\B\\E\\G\\H\"I]", u"\"i\"=DW:2(2)"}) {
        ASSERT_TRUE(importer.take(line)) << std::string(line.begin(), line.end());
    }
    // Another writer deletes the open key A\B\E\G\H (with I); a new key takes its path.
    ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"A\\B\\E\\G\\H"));
    ASSERT_TRUE(importer.take(u"[A\\B\\E\\G\"H]"));     // makes H again
    ASSERT_TRUE(importer.take(u"[A\\B\\E\\G\\H\"J]"));  // under the new H
    ASSERT_TRUE(importer.take(u"\"j\"=SZ:3"));
    // J, still open in the importer, is deleted and made again: K goes under the new J.
    const std::u16string j = u"A\\B\\E\\G\\H\\J";
    ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, j));
    HKEY again = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, j.c_str(), 0, nullptr, 0, 0, nullptr, &again, nullptr), 0);
    RegCloseKey(again);
    ASSERT_TRUE(importer.take(u"[A\\B\\E\\G\\H\\J\"K]"));
    ASSERT_TRUE(importer.take(u"\"k\"=SZ:4"));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, j + u"\\K", u"k"), (StoredValue{REG_SZ, stringToBytes(u"4")}));
    // K is deleted while open: a key line under it fails, and so does its value line.
    ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, j + u"\\K"));
    ASSERT_TRUE(importer.take(u"[A\\B\\E\\G\\H\\J\\K\"L]"));
    ASSERT_TRUE(importer.take(u"\"l\"=SZ:5"));
    const ImportResult& r = importer.finish();

    EXPECT_EQ(r.keysCreated, 11u);
    EXPECT_EQ(r.keyLinesFailed, 1u);
    EXPECT_EQ(r.valuesWritten, 4u);
    EXPECT_EQ(r.valueLinesWithoutKey, 1u);
    for (const char16_t* path : {u"A\\B\\C", u"A\\D", u"A\\B\\E", u"A\\B\\F", u"A\\B\\E\\G\\H\\J"})
        EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, path)) << std::u16string(path).size();
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"A\\B\\C", u"c"), (StoredValue{REG_SZ, stringToBytes(u"1")}));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, u"A\\B\\E\\G\\H\\I"));
    EXPECT_FALSE(readValue(HKEY_CURRENT_USER, j, u"j"));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, j + u"\\K") || keyExists(HKEY_CURRENT_USER, u"L"));
}

TEST_F(ImportTest, UnknownTagsAndUnusableLinesAreSkipped) {
    setValue(HKEY_CURRENT_USER, u"K", u"Same", REG_SZ, stringToBytes(u"old"));
    setValue(HKEY_CURRENT_USER, u"K", u"Other", REG_DWORD, dwordToBytes(7));
    const ImportResult r = importData({
        u"[k]", u"\"a\"=DW:5(5)",
        u"\"b\"=??:01 02 ",  // the writer's tag for types above 8
        u"\"c\"=sz:x",
        u"\"d\"=SZ:x=y",  // splits at the last "=": tag not found
        u"\"e\"=", u"\"f\"",
        u"\"SAME\"=BIN:0a  ff",  // overwrites, names fold case
    });
    EXPECT_EQ(r.outcome, ImportOutcome::Finished);
    EXPECT_EQ(r.valuesWritten, 2u);
    EXPECT_EQ(r.valueLinesUnknownTag, 3u);
    EXPECT_EQ(r.valueLinesIgnored, 2u);
    EXPECT_EQ(r.linesSkipped(), 5u);
    const auto values = test::keyValues(HKEY_CURRENT_USER, u"K");
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].second, (StoredValue{REG_BINARY, Bytes{0x0A, 0x00, 0xFF}}));
    EXPECT_EQ(values[1].second, (StoredValue{REG_DWORD, dwordToBytes(7)}));
    EXPECT_EQ(values[2].first, u"a");
    EXPECT_EQ(values[2].second, (StoredValue{REG_DWORD, dwordToBytes(5)}));
}

TEST_F(ImportTest, EmptyLineEndsTheDataAndABrokenLineStopsIt) {
    ImportResult r = importData({u"[A]", u"[B]", u"[C]", u"\"c\"=SZ:", u"", u"[D]", u"\"d\"=SZ:d"});
    EXPECT_EQ(r.outcome, ImportOutcome::Finished);
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"C", u"c"), (StoredValue{REG_SZ, Bytes{}}));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, u"D"));

    for (std::u16string_view broken : {u" [B]", u"\\\\HKEY_CURRENT_USER", u"B]"}) {
        openInMemoryRegistryStore();
        r = importData({u"[A]", u"\"a\"=SZ:1", broken, u"[B]", u"\"b\"=SZ:2"});
        EXPECT_EQ(r.outcome, ImportOutcome::BrokenLine);
        EXPECT_EQ(r.brokenLineNumber, 5u);  // the header is line 1
        EXPECT_EQ(r.brokenLine, broken);
        EXPECT_EQ(r.keysCreated + r.valuesWritten, 2u);
        EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"A", u"a"), (StoredValue{REG_SZ, stringToBytes(u"1")}));
        EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, u"B"));
    }
}

TEST_F(ImportTest, TheLineImporterTakesNothingAfterTheDataEnds) {
    for (const std::u16string_view end : {u"", u"broken"}) {
        openInMemoryRegistryStore();
        BackupLineImporter importer(HKEY_LOCAL_MACHINE);
        EXPECT_TRUE(importer.take(u"[A]"));
        EXPECT_TRUE(importer.take(u"\"a\"=SZ:1"));
        EXPECT_FALSE(importer.take(end));
        EXPECT_FALSE(importer.take(u"[B]"));
        EXPECT_FALSE(importer.take(u"\"b\"=SZ:2"));
        const ImportResult& r = importer.finish();
        EXPECT_EQ(r.outcome, end.empty() ? ImportOutcome::Finished : ImportOutcome::BrokenLine);
        EXPECT_EQ(r.brokenLineNumber, end.empty() ? 0u : 5u);
        EXPECT_EQ(r.keysCreated + r.valuesWritten, 2u);
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, u"B"));
        EXPECT_FALSE(importer.take(u"[C]"));  // nor after Finish
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, u"C"));
    }
    EXPECT_EQ(unknownTagNotice(12), u"型の分からない値の行を12行読み飛ばしました");
}

TEST_F(ImportTest, EveryTypeRoundTripsThroughAFile) {
    const std::u16string sub = u"Types\\\U0001F600鍵";
    const struct {
        std::u16string path, name;
        DWORD type;
        Bytes data;
    } values[] = {
        {u"Types", u"", REG_SZ, stringToBytes(u"既定")},
        {u"Types", u"exp", REG_EXPAND_SZ, stringToBytes(u"%TEMP%\\x")},
        {u"Types", u"mlt", REG_MULTI_SZ, stringToBytes(std::u16string(u"甲\0\U00020BB7\0\0", 6))},
        {u"Types", u"dw", REG_DWORD, dwordToBytes(0x80000000)},
        {u"Types", u"non", REG_NONE, {}},
        {u"Types", u"bin", REG_BINARY, {0x00, 0x0D, 0x0A, 0xFF}},
        {u"Types", u"dwe", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0}},
        {u"Types", u"lnk", REG_LINK, {0x5C, 0x00}},
        {u"Types", u"rsc", REG_RESOURCE_LIST, Bytes(5000, 0xA5)},
        {sub, u"名前\U0001F600", REG_SZ, stringToBytes(std::u16string(50000, u'字'))},
    };
    for (const auto& v : values) setValue(HKEY_LOCAL_MACHINE, v.path, v.name, v.type, v.data);

    // Written the way an export walks the tree: key line, its values, then its subkeys.
    BackupWriter writer;
    writer.writeStart(HKEY_LOCAL_MACHINE);
    for (const std::u16string& path : {std::u16string(u"Types"), sub}) {
        writer.writeKeyLine(path);
        for (const auto& [name, value] : test::keyValues(HKEY_LOCAL_MACHINE, path)) {
            writer.writeValueLine(name, value.type, value.data.data(), value.data.size());
        }
    }
    const Bytes file = writer.takeBytes();
    const test::Snapshot written = test::takeSnapshot();

    openInMemoryRegistryStore();
    const ImportResult r = importBackup(file.data(), file.size());
    EXPECT_EQ(r.valuesWritten, std::size(values));
    EXPECT_EQ(r.linesSkipped(), 0u);
    EXPECT_EQ(test::takeSnapshot(), written);
}

TEST_F(ImportTest, FilesOnDiskReadLikeBytesInMemory) {
    const std::filesystem::path dir = tempDir();
    const std::string path = (dir / "backup.txt").string();
    std::vector<std::u16string> many{std::u16string(kHeader), u"\\\\HKEY_CURRENT_USER"};
    for (int i = 0; i < 5000; ++i) many.push_back(u"\"name\"=SZ:" + std::u16string(i % 97, u'表'));
    Bytes large = backupFileBytes(many);
    large[2 + 70000] = large[2 + 70001] = 0;  // a zero unit past the reader's first piece

    Bytes example = test::exampleFileBytes();
    const Bytes tail = test::encodeUtf16(u"[NoLineEnd]");  // not a line: no CR after it
    example.insert(example.end(), tail.begin(), tail.end());
    for (const Bytes& bytes : {example, large, Bytes{0xFE, 0xFF, 1, 2}, Bytes{0xFF}, Bytes{}}) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        const std::optional<BackupFileLines> fromDisk = readBackupFileAt(path);
        const BackupFileLines fromMemory = readBackupFile(bytes.data(), bytes.size());
        ASSERT_TRUE(fromDisk.has_value());
        EXPECT_EQ(fromDisk->notUnicode, fromMemory.notUnicode);
        EXPECT_EQ(fromDisk->underTwoBytes, bytes.size() < 2);
        EXPECT_EQ(fromMemory.underTwoBytes, bytes.size() < 2);
        EXPECT_EQ(fromDisk->lines, fromMemory.lines) << bytes.size() << " bytes";
    }
    EXPECT_EQ(readBackupFile(example.data(), example.size()).lines.size(), 11u);
    EXPECT_TRUE(readBackupFile(tail.data(), tail.size()).notUnicode);
    EXPECT_FALSE(readBackupFileAt((dir / "missing.txt").string()).has_value());
    EXPECT_FALSE(readBackupFileAt(dir.string()).has_value());
    std::filesystem::remove_all(dir);
}

TEST_F(ImportTest, LargeImportIsCommittedAndSurvivesReopening) {
    const std::filesystem::path dir = tempDir();
    const std::string path = (dir / "store.db").string();
    ASSERT_TRUE(openRegistryStore(path).ok);
    std::vector<std::u16string> lines{std::u16string(kHeader), u"\\\\HKEY_CLASSES_ROOT", u"[Bulk]"};
    const std::size_t count = 2 * kImportCommitLines + 500;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        lines.push_back(u"\"v" + std::u16string(n.begin(), n.end()) + u"\"=DW:" + std::u16string(n.begin(), n.end()));
    }
    lines.push_back(u"broken");
    const ImportResult r = importBackupLines(lines);
    EXPECT_EQ(r.outcome, ImportOutcome::BrokenLine);
    EXPECT_EQ(r.brokenLineNumber, lines.size());
    EXPECT_EQ(r.valuesWritten, count);

    closeRegistryStore();
    ASSERT_TRUE(openRegistryStore(path).ok);
    EXPECT_EQ(test::keyValues(HKEY_CLASSES_ROOT, u"Bulk").size(), count);
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, u"Bulk", u"v20499"), (StoredValue{REG_DWORD, dwordToBytes(20499)}));
    closeRegistryStore();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tovik
