#include "regfile/reg_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regfile/reg_lines.h"
#include "regfile/reg_text.h"
#include "regfile_test_util.h"

namespace tovik {
namespace {

using test::Entry;
using test::joinLines;
using test::LineEnd;
using test::readEntries;
using test::utf16Data;

constexpr std::u16string_view kV5 = u"Windows Registry Editor Version 5.00";

std::vector<Entry> readV5(const std::vector<std::u16string_view>& body, LineEnd end = LineEnd::CrLf) {
    std::vector<std::u16string_view> lines{kV5};
    lines.insert(lines.end(), body.begin(), body.end());
    return readEntries(joinLines(lines, end));
}

// The single value of a file with one key line and one value line.
Entry readOneValue(std::u16string_view valueLine, std::u16string_view header = kV5) {
    const auto entries = readEntries(joinLines({header, u"", u"[HKEY_CURRENT_USER\\T]", valueLine}));
    EXPECT_EQ(entries.size(), 2u);
    return entries.size() == 2 ? entries[1] : Entry{};
}

TEST(RegFileHeader, OnlyTheTwoHeadersAreRead) {
    RegFileFormat format{};
    readEntries(u"REGEDIT4\r\n", &format);
    EXPECT_EQ(format, RegFileFormat::Regedit4);
    readEntries(u"  Windows Registry Editor Version 5.00 \r\n[HKLM\\A]\r\n", &format);
    EXPECT_EQ(format, RegFileFormat::Version5);
    readEntries(u"REGEDIT4", &format);  // the header alone, without a line end
    EXPECT_EQ(format, RegFileFormat::Regedit4);
    const struct {
        std::u16string_view header;
        RegFileFormat format;
    } others[] = {
        {u"", RegFileFormat::Unknown},
        {u"Tovik レジストリ退避ファイル Ver1.0", RegFileFormat::Unknown},
        {u"[HKLM\\A]", RegFileFormat::Unknown},
        {u"REGEDIT", RegFileFormat::UnknownHeader},
        {u"REGEDIT5", RegFileFormat::UnknownHeader},
        {u"regedit4", RegFileFormat::UnknownHeader},
        {u"Windows Registry Editor Version 5.0", RegFileFormat::UnknownHeader},
    };
    for (const auto& other : others) {
        const auto entries = readEntries(std::u16string(other.header) + u"\r\n[HKLM\\A]\r\n\"a\"=dword:1\r\n", &format);
        EXPECT_EQ(format, other.format) << std::string(other.header.begin(), other.header.end());
        EXPECT_TRUE(entries.empty());
    }
}

TEST(RegFileReaderData, EveryDataFormGivesItsTypeAndBytes) {
    struct Case {
        std::u16string_view line;
        std::u16string name;
        DWORD type;
        Bytes data;
    };
    const std::vector<Case> cases = {
        {u"\"s\"=\"text\"", u"s", REG_SZ, utf16Data(std::u16string(u"text") + u'\0')},
        {u"@=\"\"", u"", REG_SZ, Bytes{0, 0}},
        {u"\"esc\"=\"a\\\\b\\\"c\\nd\\re\\qf\"", u"esc", REG_SZ,
         utf16Data(std::u16string(u"a\\b\"c\nd\re"
                                  u"qf") +
                   u'\0')},
        {u"\"eq\"=\"a=b;c\" ; comment", u"eq", REG_SZ, utf16Data(std::u16string(u"a=b;c") + u'\0')},
        {u"\"d\"=dword:0000002a", u"d", REG_DWORD, Bytes{0x2a, 0, 0, 0}},
        {u"\"d2\" = dword: FFFFFFFF ;max", u"d2", REG_DWORD, Bytes{0xff, 0xff, 0xff, 0xff}},
        {u"\"d3\"=dword:1", u"d3", REG_DWORD, Bytes{1, 0, 0, 0}},
        {u"\"b\"=hex:0a,ff,00", u"b", REG_BINARY, Bytes{0x0a, 0xff, 0x00}},
        {u"\"b2\"=hex: 1, A ", u"b2", REG_BINARY, Bytes{0x01, 0x0a}},
        {u"\"b3\"=hex:1,A,0b,", u"b3", REG_BINARY, Bytes{0x01, 0x0a, 0x0b}},
        {u"\"empty\"=hex:", u"empty", REG_BINARY, Bytes{}},
        {u"\"none\"=hex(0):01", u"none", REG_NONE, Bytes{0x01}},
        {u"\"exp\"=hex(2):25,00,41,00,00,00", u"exp", REG_EXPAND_SZ, Bytes{0x25, 0, 0x41, 0, 0, 0}},
        {u"\"multi\"=hex(7):61,00,00,00,00,00", u"multi", REG_MULTI_SZ, Bytes{0x61, 0, 0, 0, 0, 0}},
        {u"\"q\"=hex(b):01,02,03,04,05,06,07,08", u"q", 11, Bytes{1, 2, 3, 4, 5, 6, 7, 8}},
        {u"\"dw5\"=hex(4):01,02", u"dw5", REG_DWORD, Bytes{1, 2}},
        {u"\"big\"=hex(ffffffff):ff", u"big", 0xFFFFFFFFu, Bytes{0xff}},
        {u"\"big2\"=hex(12345678):", u"big2", 0x12345678u, Bytes{}},
        {u"\"quote\\\"name\"=dword:0", u"quote\"name", REG_DWORD, Bytes{0, 0, 0, 0}},
        {u"\"@\"=dword:0", u"@", REG_DWORD, Bytes{0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
        const Entry e = readOneValue(c.line);
        ASSERT_EQ(e.kind, RegFileEntryKind::Value);
        EXPECT_EQ(e.line, 4u);
        EXPECT_EQ(e.target, RegFileValueTarget::CurrentKey);
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.data, c.data);
    }
}

TEST(RegFileReaderData, MalformedLinesAreSkippedWithTheirReason) {
    struct Case {
        std::u16string_view line;
        RegFileProblemKind problem;
    };
    const std::vector<Case> cases = {
        {u"\"s\"=\"open", RegFileProblemKind::UnterminatedString},
        {u"\"open=\"x\"", RegFileProblemKind::BadValueLine},  // the name ends at the second quote
        {u"\"name=dword:1", RegFileProblemKind::UnterminatedString},
        {u"\"s\"=\"a\\0b\"", RegFileProblemKind::BadEscape},
        {u"\"s\"=\"a\\", RegFileProblemKind::BadEscape},
        {u"\"s\"=\"a\" b", RegFileProblemKind::BadValueLine},
        {u"\"s\" dword:1", RegFileProblemKind::BadValueLine},
        {u"@ \"x\"", RegFileProblemKind::BadValueLine},
        {u"\"d\"=dword:", RegFileProblemKind::BadDword},
        {u"\"d\"=dword:123456789", RegFileProblemKind::BadDword},
        {u"\"d\"=dword:12g", RegFileProblemKind::BadDword},
        {u"\"b\"=hex:0g", RegFileProblemKind::BadHex},
        {u"\"b\"=hex:100", RegFileProblemKind::BadHex},
        {u"\"b\"=hex:01,,02", RegFileProblemKind::BadHex},
        {u"\"b\"=hex:01 02", RegFileProblemKind::BadHex},
        {u"\"b\"=hex:01 ,02", RegFileProblemKind::BadHex},
        {u"\"b\"=hex:01\\", RegFileProblemKind::BadHex},
        {u"\"b\"=hex:01,\\ x", RegFileProblemKind::BadHex},
        {u"\"x\"=hex(100000000):00", RegFileProblemKind::UnknownDataForm},
        {u"\"x\"=hex(0x2):00", RegFileProblemKind::UnknownDataForm},
        {u"\"x\"=hex(2:00", RegFileProblemKind::UnknownDataForm},
        {u"\"x\"=str:\"a\"", RegFileProblemKind::UnknownDataForm},
        {u"\"x\"=HEX:00", RegFileProblemKind::UnknownDataForm},
        {u"\"x\"=", RegFileProblemKind::UnknownDataForm},
        {u"\"x\"=-1", RegFileProblemKind::UnknownDataForm},
        {u"x=1", RegFileProblemKind::UnexpectedLine},
        {u"# not a comment here", RegFileProblemKind::UnexpectedLine},
        {u"[HKEY_CURRENT_USER\\No close", RegFileProblemKind::BadKeyLine},
        {u"[ HKEY_CURRENT_USER\\Blank]", RegFileProblemKind::BadKeyLine},
        {u"[HKEY_LOCAL_MACHINEX\\A]", RegFileProblemKind::UnknownRoot},
        {u"[Software\\A]", RegFileProblemKind::UnknownRoot},
        {u"[-HKEY_LOCAL_MACHINE]", RegFileProblemKind::RootDeletion},
        {u"[-HKCU\\]", RegFileProblemKind::RootDeletion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
        // Nothing after the broken line is lost.
        const auto entries = readV5({u"[HKEY_CURRENT_USER\\T]", c.line, u"[HKLM\\Next]", u"\"after\"=dword:2"});
        ASSERT_EQ(entries.size(), 4u);
        EXPECT_EQ(entries[1].kind, RegFileEntryKind::Malformed);
        EXPECT_EQ(entries[1].problem, c.problem);
        EXPECT_EQ(entries[1].line, 3u);
        EXPECT_FALSE(RegFileProblemText(c.problem).empty());
        EXPECT_EQ(entries[2].kind, RegFileEntryKind::Key);
        EXPECT_EQ(entries[2].path, u"Next");
        EXPECT_EQ(entries[3].name, u"after");
        EXPECT_EQ(entries[3].target, RegFileValueTarget::CurrentKey);
    }
}

TEST(RegFileReaderLines, EveryLineEndGivesTheSameEntriesAndLineNumbers) {
    const std::vector<std::u16string_view> body = {
        u"",
        u"; a comment",
        u"[HKEY_LOCAL_MACHINE\\Software\\A]",
        u"@=\"x\"",
        u"",
        u"\"bin\"=hex:01,02,\\",
        u"  03",
        u"\t",
        u"[HKCU\\B]",
        u"\"d\"=dword:00000001",
    };
    const auto crlf = readV5(body, LineEnd::CrLf);
    ASSERT_EQ(crlf.size(), 5u);
    EXPECT_EQ(crlf[0].line, 4u);
    EXPECT_EQ(crlf[1].line, 5u);
    EXPECT_EQ(crlf[2].line, 7u);
    EXPECT_EQ(crlf[2].data, (Bytes{1, 2, 3}));
    EXPECT_EQ(crlf[3].line, 10u);
    EXPECT_EQ(crlf[3].root, HKEY_CURRENT_USER);
    EXPECT_EQ(crlf[4].line, 11u);
    for (LineEnd end : {LineEnd::Lf, LineEnd::Cr}) {
        const auto other = readV5(body, end);
        ASSERT_EQ(other.size(), crlf.size());
        for (std::size_t i = 0; i < other.size(); ++i) {
            EXPECT_EQ(other[i].kind, crlf[i].kind);
            EXPECT_EQ(other[i].line, crlf[i].line);
            EXPECT_EQ(other[i].data, crlf[i].data);
        }
    }
    // Mixed ends, and a last line without one.
    const auto mixed = readEntries(u"REGEDIT4\n[HKCU\\A]\r\"a\"=dword:1\r\n\n\r\"b\"=hex:01,\\\r\n02");
    ASSERT_EQ(mixed.size(), 3u);
    EXPECT_EQ(mixed[1].line, 3u);
    EXPECT_EQ(mixed[2].line, 6u);
    EXPECT_EQ(mixed[2].data, (Bytes{1, 2}));
}

TEST(RegFileReaderLines, ContinuationLinesJoinOneHexList) {
    const auto entries = readV5({
        u"[HKCU\\A]", u"\"long\"=hex(2):41,00,\\", u"  ; a comment inside the list", u"",
        u"  42,00,  \\  ; and after a backslash", u"  00,00",
        u"\"end\"=hex:01,\\",  // the list goes on to the end of the file
    });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].type, REG_EXPAND_SZ);
    EXPECT_EQ(entries[1].data, utf16Data(std::u16string(u"AB") + u'\0'));
    EXPECT_EQ(entries[1].line, 3u);
    EXPECT_EQ(entries[2].data, (Bytes{1}));
}

TEST(RegFileReaderLines, ABrokenContinuationDropsTheLineThatBrokeIt) {
    const auto entries =
        readV5({u"[HKCU\\A]", u"\"b\"=hex:01,\\", u"[HKCU\\B]", u"\"c\"=hex:02,\\", u"", u"  zz", u"\"d\"=dword:3"});
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[1].kind, RegFileEntryKind::Malformed);
    EXPECT_EQ(entries[1].problem, RegFileProblemKind::BadHex);
    EXPECT_EQ(entries[2].kind, RegFileEntryKind::Malformed);  // the key line, dropped
    EXPECT_EQ(entries[2].problem, RegFileProblemKind::LineAfterBrokenHex);
    EXPECT_EQ(entries[2].line, 4u);
    EXPECT_EQ(entries[3].problem, RegFileProblemKind::BadHex);
    EXPECT_EQ(entries[4].problem, RegFileProblemKind::LineAfterBrokenHex);  // "zz", after the blank line
    EXPECT_EQ(entries[4].line, 7u);
    EXPECT_EQ(entries[5].name, u"d");
    EXPECT_EQ(entries[5].line, 8u);
    EXPECT_EQ(entries[5].target, RegFileValueTarget::CurrentKey);  // still in A, as the platform reads it
}

TEST(RegFileReaderKeys, RootsInFullOrShortFormAnyCaseAndOtherRootsSkipped) {
    const auto entries = readV5({
        u"\"early\"=dword:1",
        u"[HKEY_LOCAL_MACHINE\\Software\\X]",
        u"[hkey_current_user\\A\\B] trailing text is ignored",
        u"[HKCR\\.txt]",
        u"[HKLM]",
        u"[HKEY_CURRENT_USER\\Name]With] ; a comment",
        u"[HKEY_USERS\\.DEFAULT\\Software]",
        u"\"skipped\"=\"x\"",
        u"\"gone\"=-",
        u"[HKEY_CURRENT_CONFIG\\System]",
        u"[-HKU\\S-1-5-18]",
        u"[-HKEY_LOCAL_MACHINE\\Software\\Old]",
        u"\"afterDeletion\"=dword:1",
        u"[HKEY_LOCAL_MACHINE\\Software\\New]",
        u"\"old\"=-",
    });
    ASSERT_EQ(entries.size(), 15u);
    EXPECT_EQ(entries[0].target, RegFileValueTarget::NoKey);
    EXPECT_EQ(entries[1].root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(entries[1].path, u"Software\\X");
    EXPECT_EQ(entries[2].root, HKEY_CURRENT_USER);
    EXPECT_EQ(entries[2].path, u"A\\B");
    EXPECT_EQ(entries[3].root, HKEY_CLASSES_ROOT);
    EXPECT_EQ(entries[4].kind, RegFileEntryKind::Key);
    EXPECT_EQ(entries[4].path, u"");
    EXPECT_EQ(entries[5].path, u"Name]With");
    EXPECT_EQ(entries[6].kind, RegFileEntryKind::OtherRootKey);
    EXPECT_EQ(entries[6].path, u".DEFAULT\\Software");
    EXPECT_EQ(entries[7].target, RegFileValueTarget::OtherRoot);
    EXPECT_EQ(entries[8].kind, RegFileEntryKind::DeleteValue);
    EXPECT_EQ(entries[8].target, RegFileValueTarget::OtherRoot);
    EXPECT_EQ(entries[9].kind, RegFileEntryKind::OtherRootKey);
    EXPECT_EQ(entries[10].kind, RegFileEntryKind::OtherRootKey);
    EXPECT_EQ(entries[11].kind, RegFileEntryKind::DeleteKey);
    EXPECT_EQ(entries[11].root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(entries[11].path, u"Software\\Old");
    EXPECT_EQ(entries[12].target, RegFileValueTarget::NoKey);
    EXPECT_EQ(entries[14].kind, RegFileEntryKind::DeleteValue);
    EXPECT_EQ(entries[14].name, u"old");
    EXPECT_EQ(entries[14].target, RegFileValueTarget::CurrentKey);
}

TEST(RegFileReaderRegedit4, StringDataInHexIsEightBitTextMadeUtf16) {
    // "é" as UTF-8 (c3 a9) and as Windows-1252 (e9), "€" as 1252 (80).
    const struct {
        std::u16string_view line;
        DWORD type;
        std::u16string text;
    } cases[] = {
        {u"\"e\"=hex(2):25,53,59,53,25,00", REG_EXPAND_SZ, std::u16string(u"%SYS%") + u'\0'},
        {u"\"m\"=hex(7):61,00,62,00,00", REG_MULTI_SZ, std::u16string(u"a\0b\0\0", 5)},
        {u"\"s\"=hex(1):c3,a9", REG_SZ, std::u16string(u"é") + u'\0'},  // the zero is added
        {u"\"w\"=hex(2):e9,80,00", REG_EXPAND_SZ, std::u16string(u"é€") + u'\0'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
        const Entry e = readOneValue(c.line, u"REGEDIT4");
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.data, utf16Data(c.text));
    }
    // Binary data and other types stay bytes; version 5 string data is UTF-16 already.
    EXPECT_EQ(readOneValue(u"\"b\"=hex:e9,00", u"REGEDIT4").data, (Bytes{0xe9, 0}));
    EXPECT_EQ(readOneValue(u"\"e\"=hex(2):e9,00,00,00").data, (Bytes{0xe9, 0, 0, 0}));
}

TEST(RegFileLineIndex, LinesAreViewsWithoutTheirEnds) {
    const std::u16string text = u"REGEDIT4\r\n[HKCU\\A]\n\r\"a\"=\"b\"\r\r\nlast";
    const RegFileLineIndex index(text);
    ASSERT_EQ(index.size(), 6u);
    EXPECT_EQ(index.line(0), u"REGEDIT4");
    EXPECT_EQ(index.line(1), u"[HKCU\\A]");
    EXPECT_EQ(index.line(2), u"");
    EXPECT_EQ(index.line(3), u"\"a\"=\"b\"");
    EXPECT_EQ(index.line(4), u"");
    EXPECT_EQ(index.line(5), u"last");
    EXPECT_EQ(RegFileLineIndex(u"A\r\n").size(), 1u);
    EXPECT_EQ(RegFileLineIndex(u"").size(), 0u);
    // The same numbering as the reader's: the value on line 4 of the index (1-based) is entry line 4.
    const auto entries = readEntries(text);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(index.line(entries[1].line - 1), u"\"a\"=\"b\"");
}

}  // namespace
}  // namespace tovik
