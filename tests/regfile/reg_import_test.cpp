#include "regfile/reg_import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "regfile_test_util.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "stores/sqlite/sqlite_db.h"
#include "stores/sqlite/sqlite_store.h"
#include "tests/backup/registry_test_util.h"

namespace tovik {
namespace {

using test::joinLines;
using test::keyExists;
using test::readValue;
using test::StoredValue;
using test::subkeyNames;
using test::utf16Data;

class RegImportTest : public ::testing::Test {
protected:
    void SetUp() override { openInMemoryRegistryStore(); }
    void TearDown() override { closeRegistryStore(); }

    static RegFileImportReport import(std::vector<std::u16string_view> body,
                                      std::u16string_view header = u"Windows Registry Editor Version 5.00") {
        body.insert(body.begin(), header);
        return importRegFileText(joinLines(body));
    }
    static void setValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type, Bytes data) {
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())), 0);
        RegCloseKey(key);
    }
};

StoredValue sz(std::u16string_view text) {
    return {REG_SZ, utf16Data(std::u16string(text) + u'\0')};
}

TEST_F(RegImportTest, KeysAndValuesAreWrittenWhereverTheFileGoes) {
    const RegFileImportReport r = import({
        u"",
        u"[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App]",
        u"@=\"default\"",
        u"\"Count\"=dword:00000010",
        u"[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App\\Sub\\Deep]",
        u"\"bin\"=hex:01,02",
        u"[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Other]",  // back up to a sibling of an open key
        u"\"x\"=hex(2):41,00,00,00",
        u"[HKCU\\Software\\Vendor\\App]",  // the same path under another root
        u"\"user\"=\"yes\"",
        u"[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App\\Sub]",  // a key that exists already
        u"\"later\"=dword:1",
        u"[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App]",
        u"\"Count\"=dword:00000020",  // overwrites
        u"[HKEY_LOCAL_MACHINE]",
        u"\"atRoot\"=dword:2",
    });
    EXPECT_EQ(r.format, RegFileFormat::Version5);
    EXPECT_EQ(r.keysWritten, 7u);
    EXPECT_EQ(r.valuesWritten, 8u);
    EXPECT_EQ(r.skipped(), 0u);
    EXPECT_EQ(r.failed(), 0u);
    EXPECT_TRUE(r.problems.empty());

    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\App", u""), sz(u"default"));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\App", u"Count"),
              (StoredValue{REG_DWORD, {0x20, 0, 0, 0}}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\App\\Sub\\Deep", u"bin"),
              (StoredValue{REG_BINARY, {1, 2}}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\App\\Sub", u"later"),
              (StoredValue{REG_DWORD, {1, 0, 0, 0}}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\Other", u"x"),
              (StoredValue{REG_EXPAND_SZ, {0x41, 0, 0, 0}}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"Software\\Vendor\\App", u"user"), sz(u"yes"));
    EXPECT_FALSE(readValue(HKEY_CURRENT_USER, u"Software\\Vendor\\App", u"Count").has_value());
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, u"", u"atRoot"), (StoredValue{REG_DWORD, {2, 0, 0, 0}}));
    EXPECT_EQ(subkeyNames(HKEY_LOCAL_MACHINE, u"Software\\Vendor"), (std::vector<std::u16string>{u"App", u"Other"}));
}

TEST_F(RegImportTest, DeletionsRemoveSubtreesAndValuesButNeverARoot) {
    setValue(HKEY_CURRENT_USER, u"Software\\Old\\A\\B", u"v", REG_DWORD, {1, 0, 0, 0});
    setValue(HKEY_CURRENT_USER, u"Software\\Keep", u"gone", REG_DWORD, {1, 0, 0, 0});
    setValue(HKEY_CURRENT_USER, u"Software\\Keep", u"stays", REG_DWORD, {1, 0, 0, 0});
    setValue(HKEY_CURRENT_USER, u"", u"rootValue", REG_DWORD, {1, 0, 0, 0});
    const RegFileImportReport r = import({
        u"[HKEY_CURRENT_USER\\Software\\Old\\A]",  // opened, then deleted from under the open handle
        u"[-HKEY_CURRENT_USER\\Software\\Old]",
        u"[-HKEY_CURRENT_USER\\Software\\NeverThere]",
        u"[-HKEY_CURRENT_USER]",
        u"[HKEY_CURRENT_USER\\Software\\Old\\A\\New]",  // made again after the deletion
        u"[HKEY_CURRENT_USER\\Software\\Keep]",
        u"\"gone\"=-",
        u"\"absent\"=-",
    });
    EXPECT_EQ(r.keysDeleted, 1u);
    EXPECT_EQ(r.keysAbsent, 1u);
    EXPECT_EQ(r.valuesDeleted, 1u);
    EXPECT_EQ(r.valuesAbsent, 1u);
    EXPECT_EQ(r.linesMalformed, 1u);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0], (RegFileProblem{5, RegFileProblemKind::RootDeletion}));
    EXPECT_EQ(r.failed(), 0u);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, u"Software\\Old\\A\\B"));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, u"Software\\Old\\A\\New"));
    EXPECT_FALSE(readValue(HKEY_CURRENT_USER, u"Software\\Keep", u"gone").has_value());
    EXPECT_TRUE(readValue(HKEY_CURRENT_USER, u"Software\\Keep", u"stays").has_value());
    EXPECT_TRUE(readValue(HKEY_CURRENT_USER, u"", u"rootValue").has_value());
}

TEST_F(RegImportTest, SkippedAndMalformedLinesAreCountedAndTheRestIsWritten) {
    std::vector<std::u16string_view> body = {
        u"\"orphan\"=dword:1",  // line 2: before any key
        u"[HKEY_USERS\\.DEFAULT\\X]",
        u"\"u1\"=dword:1",
        u"\"u2\"=-",
        u"[HKEY_CURRENT_CONFIG\\Y]",
        u"[HKEY_CURRENT_USER\\A]",
        u"\"bad\"=hex:zz",  // line 8
        u"\"good\"=dword:7",
        u"[NOWHERE\\B]",  // line 10
        u"\"lost\"=dword:1",
    };
    // Twelve more malformed lines: only the first ten problems are kept, all are counted.
    for (int i = 0; i < 12; ++i) body.push_back(u"garbage");
    body.push_back(u"[HKEY_CURRENT_USER\\C]");
    body.push_back(u"\"last\"=\"written\"");
    const RegFileImportReport r = import(body);
    EXPECT_EQ(r.keysOtherRoot, 2u);
    EXPECT_EQ(r.valuesOtherRoot, 2u);
    EXPECT_EQ(r.valuesWithoutKey, 2u);
    EXPECT_EQ(r.linesMalformed, 14u);
    EXPECT_EQ(r.skipped(), 20u);
    EXPECT_EQ(r.keysWritten, 2u);
    EXPECT_EQ(r.valuesWritten, 2u);
    ASSERT_EQ(r.problems.size(), kRegFileReportedProblems);
    EXPECT_EQ(r.problems[0], (RegFileProblem{8, RegFileProblemKind::BadHex}));
    EXPECT_EQ(r.problems[1], (RegFileProblem{10, RegFileProblemKind::UnknownRoot}));
    EXPECT_EQ(r.problems[2], (RegFileProblem{12, RegFileProblemKind::UnexpectedLine}));
    EXPECT_EQ(r.problems[9].line, 19u);
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"A", u"good"), (StoredValue{REG_DWORD, {7, 0, 0, 0}}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"C", u"last"), sz(u"written"));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, u".DEFAULT"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, u".DEFAULT"));
}

TEST_F(RegImportTest, WritesTheRegistryRefusesAreFailuresNotSuccesses) {
    const std::u16string longKey = u"[HKEY_CURRENT_USER\\" + std::u16string(300, u'k') + u"]";
    const std::u16string longName = u"\"" + std::u16string(kMaxValueNameLength + 1, u'n') + u"\"=dword:1";
    std::u16string deep = u"[HKEY_CURRENT_USER";
    for (int i = 0; i <= kMaxKeyDepth; ++i) deep += u"\\d";
    deep += u"]";
    const RegFileImportReport r = import({
        longKey,
        u"\"v\"=dword:1",  // lines 2, 3
        deep,              // line 4
        u"[HKEY_CURRENT_USER\\Fine]",
        longName,  // lines 5, 6
        u"\"ok\"=dword:1",
    });
    EXPECT_EQ(r.keyWritesFailed, 2u);
    EXPECT_EQ(r.valueWritesFailed, 1u);
    EXPECT_EQ(r.valuesWithoutKey, 1u);
    EXPECT_EQ(r.keysWritten, 1u);
    EXPECT_EQ(r.valuesWritten, 1u);
    ASSERT_EQ(r.problems.size(), 3u);
    EXPECT_EQ(r.problems[0], (RegFileProblem{2, RegFileProblemKind::KeyNotCreated}));
    EXPECT_EQ(r.problems[1], (RegFileProblem{4, RegFileProblemKind::KeyNotCreated}));
    EXPECT_EQ(r.problems[2], (RegFileProblem{6, RegFileProblemKind::ValueNotWritten}));
    EXPECT_EQ(subkeyNames(HKEY_CURRENT_USER, u""), (std::vector<std::u16string>{u"Fine"}));

    // What the user is told: never the end message alone, and the lines concerned.
    EXPECT_EQ(RegFileNotWrittenMessage(r), u"書き込めなかった値が1個、キーが2個あります。");
    EXPECT_EQ(RegFileImportSummary(r),
              u"キーを1個、値を1個書き込み、キーを0個、値を0個削除しました。1行を読み飛ばしました。\n"
              u"2行目: キーを作成できません\n4行目: キーを作成できません\n6行目: 値を書き込めません");

    // In another language every sentence is translated before its numbers are filled in.
    const RegFileTextTranslator english = [](std::u16string_view text) -> std::u16string {
        if (text == kRegImportCountsTemplate) return u"Wrote %1 keys and %2 values; deleted %3 keys and %4 values.";
        if (text == kRegImportSkippedTemplate) return u" Skipped %1 lines.";
        if (text == kRegImportProblemTemplate) return u"Line %1: %2";
        if (text == kRegImportNotWrittenTemplate) return u"%1 values and %2 keys were not written.";
        return u"<" + std::u16string(text) + u">";
    };
    EXPECT_EQ(RegFileNotWrittenMessage(r, english), u"1 values and 2 keys were not written.");
    EXPECT_EQ(RegFileImportSummary(r, english),
              u"Wrote 1 keys and 1 values; deleted 0 keys and 0 values. Skipped 1 lines.\n"
              u"Line 2: <キーを作成できません>\nLine 4: <キーを作成できません>\nLine 6: <値を書き込めません>");
}

TEST(RegImportFullDiskTest, AStoreThatCannotGrowMakesTheImportAFailure) {
    char pattern[] = "/tmp/tovik-reg-import-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string store = std::string(pattern) + "/store.db";
    ASSERT_TRUE(openRegistryStore(store).ok);
    std::int64_t pages = 0;
    {
        sqlite::Query count = currentSqliteDatabase()->query("PRAGMA page_count");
        ASSERT_TRUE(count.step());
        pages = count.columnInt64(0);
    }
    currentSqliteDatabase()->exec(("PRAGMA max_page_count = " + std::to_string(pages + 2)).c_str());
    std::u16string text = u"REGEDIT4\r\n[HKEY_CURRENT_USER\\Big]\r\n";
    const std::u16string hex = u"hex:" + [] {
        std::u16string bytes;
        for (int i = 0; i < 4000; ++i) bytes += i == 0 ? u"ab" : u",ab";
        return bytes;
    }();
    for (int i = 0; i < 50; ++i)
        text += u"\"v" + std::u16string(1, static_cast<char16_t>(u'A' + i)) + u"\"=" + hex + u"\r\n";
    const RegFileImportReport r = importRegFileText(text);
    closeRegistryStore();
    std::filesystem::remove_all(pattern);
    EXPECT_GT(r.failed(), 0u);
    EXPECT_FALSE(RegFileNotWrittenMessage(r).empty());
}

TEST_F(RegImportTest, AFileOfAnotherKindWritesNothing) {
    const Bytes backup = test::utf16File(u"Tovik レジストリ退避ファイル Ver1.0\r\n\\\\HKEY_CURRENT_USER\r\n[A]\r\n");
    const RegFileImportReport r = importRegFileBytes(backup.data(), backup.size());
    EXPECT_EQ(r.format, RegFileFormat::Unknown);
    EXPECT_TRUE(subkeyNames(HKEY_CURRENT_USER, u"").empty());
    EXPECT_EQ(importRegFileBytes(nullptr, 0).format, RegFileFormat::Unknown);
}

TEST_F(RegImportTest, EightBitFilesOfEitherVersionAreImported) {
    // REGEDIT4 in Windows-1252; version 5 written by a script in UTF-8 with a mark, its hex(2) UTF-16LE.
    const Bytes ansi = test::eightBitFile("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Caf\xe9]\r\n\"N\xe9\"=\"\x80\"\r\n"
                                          "\"E\"=hex(2):e9,00\r\n");
    const RegFileImportReport r4 = importRegFileBytes(ansi.data(), ansi.size());
    EXPECT_EQ(r4.format, RegFileFormat::Regedit4);
    EXPECT_EQ(r4.valuesWritten, 2u);
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"Café", u"Né"), sz(u"€"));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"Café", u"E"),
              (StoredValue{REG_EXPAND_SZ, utf16Data(std::u16string(u"é") + u'\0')}));

    const Bytes utf8 = test::eightBitFile("Windows Registry Editor Version 5.00\n[HKCU\\\xe3\x81\x82]\n"
                                          "\"E\"=hex(2):42,30,00,00\n",
                                          true);
    const RegFileImportReport r5 = importRegFileBytes(utf8.data(), utf8.size());
    EXPECT_EQ(r5.format, RegFileFormat::Version5);
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, u"あ", u"E"), (StoredValue{REG_EXPAND_SZ, {0x42, 0x30, 0, 0}}));
}

TEST_F(RegImportTest, StoppingKeepsWhatWasWrittenAndSaysSo) {
    std::u16string text = u"REGEDIT4\r\n[HKEY_CURRENT_USER\\Many]\r\n";
    for (int i = 0; i < 10000; ++i) {
        const std::string number = std::to_string(i);
        text += u"\"v" + std::u16string(number.begin(), number.end()) + u"\"=dword:1\r\n";
    }
    std::size_t calls = 0, lastDone = 0, total = 0;
    const RegFileImportReport r = importRegFileText(text, [&](std::size_t done, std::size_t all) {
        ++calls;
        lastDone = done;
        total = all;
        return calls < 2;
    });
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(calls, 2u);
    EXPECT_EQ(total, text.size());
    EXPECT_LT(lastDone, total);
    EXPECT_EQ(r.keysWritten + r.valuesWritten, 2u * 4096u);
    EXPECT_EQ(test::keyValues(HKEY_CURRENT_USER, u"Many").size(), r.valuesWritten);
}

}  // namespace
}  // namespace tovik
