#include "regfile/reg_export.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regfile/reg_import.h"
#include "regfile/reg_lines.h"
#include "regfile/reg_text.h"
#include "regfile_test_util.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "tests/backup/registry_test_util.h"

namespace tovik {
namespace {

using test::utf16Data;

void setValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())), 0);
    RegCloseKey(key);
}

void createKey(HKEY root, const std::u16string& path) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
}

Bytes terminated(std::u16string_view text) {
    return utf16Data(std::u16string(text) + u'\0');
}

// The lines of an exported file, decoded by the reader's own decoding.
std::vector<std::u16string> linesOf(const Bytes& file) {
    const RegFileText text = decodeRegFileBytes(file.data(), file.size());
    const RegFileLineIndex index(text.text);
    std::vector<std::u16string> lines;
    for (std::size_t i = 0; i < index.size(); ++i) lines.emplace_back(index.line(i));
    return lines;
}

class RegExportTest : public ::testing::Test {
protected:
    void SetUp() override { openInMemoryRegistryStore(); }
    void TearDown() override { closeRegistryStore(); }

    static Bytes Export(HKEY root, std::u16string_view path, RegFileFormat format = RegFileFormat::Version5,
                        RegFileExportResult* result = nullptr) {
        BytesSink sink;
        const RegFileExportResult r = exportRegFile(sink, root, path, format);
        EXPECT_EQ(r.outcome, RegFileExportOutcome::Written);
        if (result != nullptr) *result = r;
        return sink.bytes;
    }
};

TEST_F(RegExportTest, Version5IsLaidOutAsRegeditLaysItOut) {
    const std::u16string t = u"Software\\T";
    setValue(HKEY_CURRENT_USER, t, u"", REG_SZ, terminated(u"def"));
    setValue(HKEY_CURRENT_USER, t, u"path", REG_SZ, terminated(u"C:\\dir\\\"q\" ab"));
    setValue(HKEY_CURRENT_USER, t, u"eq", REG_SZ, terminated(u"a=b"));
    setValue(HKEY_CURRENT_USER, t, u"num", REG_DWORD, {0x2a, 0, 0, 0});
    setValue(HKEY_CURRENT_USER, t, u"three", REG_DWORD, {1, 2, 3});
    setValue(HKEY_CURRENT_USER, t, u"bin", REG_BINARY, {0x0a, 0xff, 0x00});
    setValue(HKEY_CURRENT_USER, t, u"unterminated", REG_SZ, utf16Data(u"ab"));
    setValue(HKEY_CURRENT_USER, t, u"crlf", REG_SZ, terminated(u"a\r\n"));
    setValue(HKEY_CURRENT_USER, t, u"n\"a\\m\ne", REG_SZ, terminated(u"é"));
    setValue(HKEY_CURRENT_USER, t, u"exp", REG_EXPAND_SZ, terminated(u"%A%"));
    setValue(HKEY_CURRENT_USER, t, u"q", 11, {1, 2, 3, 4, 5, 6, 7, 8});
    setValue(HKEY_CURRENT_USER, t, u"big", 0x12345678, {1});
    setValue(HKEY_CURRENT_USER, t, u"empty", REG_SZ, {});
    setValue(HKEY_CURRENT_USER, t, u"nothing", REG_BINARY, {});
    createKey(HKEY_CURRENT_USER, t + u"\\b");
    createKey(HKEY_CURRENT_USER, t + u"\\A\\Z");

    const Bytes file = Export(HKEY_CURRENT_USER, t);
    ASSERT_GE(file.size(), 2u);
    EXPECT_EQ(file[0], 0xFF);
    EXPECT_EQ(file[1], 0xFE);
    const std::u16string expected = u"Windows Registry Editor Version 5.00\r\n"
                                    u"\r\n"
                                    u"[HKEY_CURRENT_USER\\Software\\T]\r\n"
                                    u"@=\"def\"\r\n"
                                    u"\"path\"=\"C:\\\\dir\\\\\\\"q\\\" ab\"\r\n"
                                    u"\"eq\"=hex(1):61,00,3d,00,62,00,00,00\r\n"
                                    u"\"num\"=dword:0000002a\r\n"
                                    u"\"three\"=hex(4):01,02,03\r\n"
                                    u"\"bin\"=hex:0a,ff,00\r\n"
                                    u"\"unterminated\"=hex(1):61,00,62,00\r\n"
                                    u"\"crlf\"=hex(1):61,00,0d,00,0a,00,00,00\r\n"
                                    u"\"n\\\"a\\\\m\\ne\"=\"é\"\r\n"
                                    u"\"exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                                    u"\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                                    u"\"big\"=hex(12345678):01\r\n"
                                    u"\"empty\"=hex(1):\r\n"
                                    u"\"nothing\"=hex:\r\n"
                                    u"\r\n"
                                    u"[HKEY_CURRENT_USER\\Software\\T\\A]\r\n"
                                    u"\r\n"
                                    u"[HKEY_CURRENT_USER\\Software\\T\\A\\Z]\r\n"
                                    u"\r\n"
                                    u"[HKEY_CURRENT_USER\\Software\\T\\b]\r\n"
                                    u"\r\n";
    EXPECT_EQ(file, test::utf16File(expected));
}

TEST_F(RegExportTest, Regedit4IsUtf8WithStringDataAsEightBitText) {
    setValue(HKEY_LOCAL_MACHINE, u"Café", u"é", REG_SZ, terminated(u"€"));
    setValue(HKEY_LOCAL_MACHINE, u"Café", u"exp", REG_EXPAND_SZ, terminated(u"%A%"));
    setValue(HKEY_LOCAL_MACHINE, u"Café", u"multi", REG_MULTI_SZ, utf16Data(std::u16string(u"a\0é\0\0", 5)));
    setValue(HKEY_LOCAL_MACHINE, u"Café", u"bin", REG_BINARY, {0xe9});
    RegFileExportResult result;
    const Bytes file = Export(HKEY_LOCAL_MACHINE, u"Café", RegFileFormat::Regedit4, &result);
    EXPECT_EQ(result.inexact, 0u);
    EXPECT_EQ(result.keys, 1u);
    EXPECT_EQ(result.values, 4u);
    const std::string expected = "REGEDIT4\r\n"
                                 "\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Caf\xc3\xa9]\r\n"
                                 "\"\xc3\xa9\"=\"\xe2\x82\xac\"\r\n"
                                 "\"exp\"=hex(2):25,41,25,00\r\n"
                                 "\"multi\"=hex(7):61,00,c3,a9,00,00\r\n"
                                 "\"bin\"=hex:e9\r\n"
                                 "\r\n";
    EXPECT_EQ(file, test::eightBitFile(expected));
}

TEST_F(RegExportTest, HexListsWrapBeforeEightyColumns) {
    Bytes hundred(100);
    for (std::size_t i = 0; i < hundred.size(); ++i) hundred[i] = static_cast<BYTE>(i);
    setValue(HKEY_CURRENT_USER, u"W", u"bin", REG_BINARY, hundred);
    setValue(HKEY_CURRENT_USER, u"W", std::u16string(100, u'n'), REG_BINARY, {1, 2});
    const std::vector<std::u16string> lines = linesOf(Export(HKEY_CURRENT_USER, u"W"));
    ASSERT_EQ(lines.size(), 11u);
    // 23 bytes after the name, then 25 a line, each line ending in a comma and a backslash.
    EXPECT_EQ(lines[3].size(), 80u);
    EXPECT_EQ(lines[3].substr(0, 19), u"\"bin\"=hex:00,01,02,");
    EXPECT_EQ(lines[3].substr(76), u"16,\\");
    for (int i = 4; i <= 6; ++i) {
        EXPECT_EQ(lines[i].size(), 78u);
        EXPECT_EQ(lines[i].substr(0, 2), u"  ");
        EXPECT_EQ(lines[i].back(), u'\\');
    }
    EXPECT_EQ(lines[7], u"  62,63");
    // A name past the column wraps after the first byte.
    EXPECT_EQ(lines[8], u"\"" + std::u16string(100, u'n') + u"\"=hex:01,\\");
    EXPECT_EQ(lines[9], u"  02");
}

TEST_F(RegExportTest, FailuresAreReported) {
    setValue(HKEY_CURRENT_USER, u"F", u"v", REG_DWORD, {1, 0, 0, 0});
    BytesSink sink;
    EXPECT_EQ(exportRegFile(sink, HKEY_CURRENT_USER, u"Missing").outcome, RegFileExportOutcome::KeyNotOpened);
    EXPECT_EQ(exportRegFile(sink, 0x80000003u, u"").outcome, RegFileExportOutcome::NoKeySelected);

    struct RefusingSink final : ByteSink {
        bool write(const BYTE*, std::size_t) override { return false; }
    } refusing;
    EXPECT_EQ(exportRegFile(refusing, HKEY_CURRENT_USER, u"F").outcome, RegFileExportOutcome::WriteFailed);

    // A large tree stops at the first refused piece instead of walking on.
    for (int i = 0; i < 3000; ++i)
        setValue(HKEY_CURRENT_USER, u"F",
                 u"value" + std::u16string(i % 50 + 1, u'x') + std::u16string(i / 50 + 1, u'y'), REG_BINARY,
                 Bytes(40, 0xab));
    struct CountingSink final : ByteSink {
        int calls = 0;
        bool write(const BYTE*, std::size_t) override { return ++calls < 2; }
    } counting;
    const RegFileExportResult r = exportRegFile(counting, HKEY_CURRENT_USER, u"F");
    EXPECT_EQ(r.outcome, RegFileExportOutcome::WriteFailed);
    EXPECT_EQ(counting.calls, 2);
    EXPECT_LT(r.values, 3001u);
}

TEST_F(RegExportTest, ProgressIsToldAfterEachKeyBelowTheFirstAndCanStop) {
    for (const char16_t* path : {u"P", u"P\\a", u"P\\b", u"P\\c"})
        setValue(HKEY_CURRENT_USER, path, u"v", REG_DWORD, {1, 0, 0, 0});
    std::vector<std::size_t> told;
    BytesSink all;
    const RegFileExportResult whole =
        exportRegFile(all, HKEY_CURRENT_USER, u"P", RegFileFormat::Version5, [&told](std::size_t keys) {
            told.push_back(keys);
            return true;
        });
    EXPECT_EQ(whole.outcome, RegFileExportOutcome::Written);
    EXPECT_EQ(whole.keys, 4u);
    EXPECT_EQ(told, (std::vector<std::size_t>{1, 2, 3}));

    BytesSink part;
    const RegFileExportResult stopped = exportRegFile(part, HKEY_CURRENT_USER, u"P", RegFileFormat::Version5,
                                                      [](std::size_t keys) { return keys < 2; });
    EXPECT_EQ(stopped.outcome, RegFileExportOutcome::Cancelled);
    EXPECT_EQ(stopped.keys, 2u);
}

// Values that every type number and every awkward form can hold.
void fillEveryType(bool eightBitSafe) {
    const std::u16string k = u"Software\\Round";
    setValue(HKEY_LOCAL_MACHINE, k, u"", REG_SZ, terminated(u"default"));
    for (DWORD type = 0; type <= 11; ++type) {
        Bytes data = type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN ? Bytes{1, 2, 3, 4}
                     : type == 1 || type == 2 || type == 6 || type == 7
                         ? terminated(u"t%x%")
                         : Bytes{0, 1, 0xfe, 0xff, static_cast<BYTE>(type)};
        setValue(HKEY_LOCAL_MACHINE, k, u"type" + std::u16string(1, u'a' + type), type, data);
    }
    setValue(HKEY_LOCAL_MACHINE, k, u"large type", 0x12345678, {9, 8, 7});
    setValue(HKEY_LOCAL_MACHINE, k, u"largest type", 0xFFFFFFFF, {});
    setValue(HKEY_LOCAL_MACHINE, k, u"sz unterminated", REG_SZ, utf16Data(u"abc"));
    setValue(HKEY_LOCAL_MACHINE, k, u"sz embedded zero", REG_SZ, terminated(std::u16string(u"a\0b", 3)));
    setValue(HKEY_LOCAL_MACHINE, k, u"sz two terminators", REG_SZ, utf16Data(std::u16string(u"a\0\0", 3)));
    setValue(HKEY_LOCAL_MACHINE, k, u"sz only terminator", REG_SZ, terminated(u""));
    setValue(HKEY_LOCAL_MACHINE, k, u"sz empty", REG_SZ, {});
    setValue(HKEY_LOCAL_MACHINE, k, u"sz cr lf", REG_SZ, terminated(u"line\r\nnext\rx\n"));
    setValue(HKEY_LOCAL_MACHINE, k, u"sz escapes", REG_SZ, terminated(u"\\\"\\n\" ; = [x] @"));
    setValue(HKEY_LOCAL_MACHINE, k, u"sz unicode", REG_SZ, terminated(u"日本語ﾃｽﾄ𝄞"));
    setValue(HKEY_LOCAL_MACHINE, k, u"expand unterminated", REG_EXPAND_SZ, utf16Data(u"%x"));
    setValue(HKEY_LOCAL_MACHINE, k, u"multi unterminated", REG_MULTI_SZ, utf16Data(std::u16string(u"a\0b", 3)));
    setValue(HKEY_LOCAL_MACHINE, k, u"dword short", REG_DWORD, {1, 2, 3});
    setValue(HKEY_LOCAL_MACHINE, k, u"dword long", REG_DWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    setValue(HKEY_LOCAL_MACHINE, k, u"dword empty", REG_DWORD, {});
    Bytes large(10000);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<BYTE>(i * 7);
    setValue(HKEY_LOCAL_MACHINE, k, u"binary large", REG_BINARY, large);
    setValue(HKEY_LOCAL_MACHINE, k, u"@", REG_SZ, terminated(u"not the default"));
    setValue(HKEY_LOCAL_MACHINE, k, u"name \"quoted\" \\ = ; \r\n", REG_DWORD, {0, 0, 0, 0});
    setValue(HKEY_LOCAL_MACHINE, k + u"\\日本\\Sub]Bracket", u"名前", REG_EXPAND_SZ, terminated(u"%値%"));
    setValue(HKEY_LOCAL_MACHINE, k + u"\\Empty", u"x", REG_NONE, {});
    if (!eightBitSafe) {
        setValue(HKEY_LOCAL_MACHINE, k, u"sz odd", REG_SZ, {0x61, 0x00, 0x62});
        setValue(HKEY_LOCAL_MACHINE, k, u"expand odd", REG_EXPAND_SZ, {0x61});
        setValue(HKEY_LOCAL_MACHINE, k, u"sz lone surrogate", REG_SZ, {0x00, 0xd8, 0x41, 0x00, 0x00, 0x00});
        setValue(HKEY_LOCAL_MACHINE, k, u"multi lone surrogate", REG_MULTI_SZ, {0x00, 0xdc, 0x00, 0x00});
    }
}

// What an import makes of the snapshot's values: string data without its terminating zero gets
// one, as the platform imports it.
test::Snapshot asImported(test::Snapshot snapshot) {
    for (auto& [key, values] : snapshot) {
        for (auto& [name, value] : values) {
            const bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
            const std::size_t size = value.data.size();
            if (text && size >= 2 && size % 2 == 0 && (value.data[size - 2] != 0 || value.data[size - 1] != 0))
                value.data.insert(value.data.end(), {0, 0});
        }
    }
    return snapshot;
}

// Export, then import into a fresh store: every key and value comes back with the same bytes,
// strings with their terminating zero.
void expectExactRoundTrip(RegFileFormat format, bool eightBitSafe) {
    openInMemoryRegistryStore();
    fillEveryType(eightBitSafe);
    const test::Snapshot before = asImported(test::takeSnapshot());
    ASSERT_GE(before.size(), 5u);
    BytesSink sink;
    const RegFileExportResult exported = exportRegFile(sink, HKEY_LOCAL_MACHINE, u"Software\\Round", format);
    ASSERT_EQ(exported.outcome, RegFileExportOutcome::Written);
    EXPECT_EQ(exported.inexact, 0u);

    openInMemoryRegistryStore();
    const RegFileImportReport imported = importRegFileBytes(sink.bytes.data(), sink.bytes.size());
    EXPECT_EQ(imported.format, format);
    EXPECT_EQ(imported.skipped(), 0u);
    EXPECT_EQ(imported.failed(), 0u);
    EXPECT_EQ(imported.keysWritten, exported.keys);
    EXPECT_EQ(imported.valuesWritten, exported.values);
    const test::Snapshot after = test::takeSnapshot();
    EXPECT_EQ(after, before);
    for (const auto& [key, values] : before) {
        const auto found = after.find(key);
        ASSERT_NE(found, after.end()) << std::string(key.begin(), key.end());
        ASSERT_EQ(found->second.size(), values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(found->second[i], values[i]) << "value " << i << " of a key";
        }
    }
    closeRegistryStore();
}

TEST_F(RegExportTest, Version5BringsBackEveryTypeByteForByte) {
    expectExactRoundTrip(RegFileFormat::Version5, false);
}

TEST_F(RegExportTest, Regedit4BringsBackEveryTypeItsTextCanCarry) {
    expectExactRoundTrip(RegFileFormat::Regedit4, true);
}

TEST_F(RegExportTest, Regedit4CountsWhatItCannotCarry) {
    fillEveryType(false);
    BytesSink sink;
    const RegFileExportResult r = exportRegFile(sink, HKEY_LOCAL_MACHINE, u"Software\\Round", RegFileFormat::Regedit4);
    EXPECT_EQ(r.outcome, RegFileExportOutcome::Written);
    EXPECT_EQ(r.inexact, 4u);
    setValue(HKEY_LOCAL_MACHINE, u"Software\\Round\\Lone", std::u16string(1, char16_t{0xD800}), REG_DWORD,
             {0, 0, 0, 0});
    EXPECT_EQ(exportRegFile(sink, HKEY_LOCAL_MACHINE, u"Software\\Round\\Lone", RegFileFormat::Regedit4).inexact, 1u);
    EXPECT_EQ(exportRegFile(sink, HKEY_LOCAL_MACHINE, u"Software\\Round", RegFileFormat::Version5).inexact, 0u);
    // No key line can hold a line end, in either version.
    createKey(HKEY_LOCAL_MACHINE, u"Software\\Round\\Line\nBreak");
    EXPECT_EQ(exportRegFile(sink, HKEY_LOCAL_MACHINE, u"Software\\Round", RegFileFormat::Version5).inexact, 1u);
}

}  // namespace
}  // namespace tovik
