// Escaped text and value lines in Wine's forms.
#include <gtest/gtest.h>

#include <string>

#include "stores/wine/wine_registry_file.h"
#include "stores/wine/wine_text.h"
#include "wine_test_support.h"

namespace {

using namespace tovik::wine;
using wine_test::dword;
using wine_test::sz;

std::u16string unescape(std::string_view text, char delimiter, long* used = nullptr) {
    std::u16string out;
    const long n = parseEscaped(text, delimiter, out);
    if (used) *used = n;
    return out;
}

std::string escape(std::u16string_view text, const char quoted[2] = "\"\"") {
    std::string out;
    appendEscaped(out, text, quoted);
    return out;
}

std::string valueLine(std::u16string_view name, std::uint32_t type, const std::string& data) {
    std::string out;
    appendValueLine(out, name, type, data);
    return out;
}

TEST(WineText, ReadsEveryEscape) {
    EXPECT_EQ(unescape(R"(a\\b\"c\a\b\t\n\v\f\r\e")", '"'), std::u16string(u"a\\b\"c\a\b\t\n\v\f\r") + char16_t(0x1B));
    // Octal up to three digits, \x up to four hex digits; an unknown escape is the character.
    EXPECT_EQ(unescape(R"(\0\101\1234\x41\x30423\xg\q")", '"'),
              std::u16string(u"\0A", 2) + char16_t(0123) + u"4A" + char16_t(0x3042) + u"3xgq");
    // UTF-8 is read; a 4-byte sequence becomes a surrogate pair; invalid bytes are dropped.
    EXPECT_EQ(unescape("\xE3\x81\x82\xF0\x9F\x8C\x8E\xFFz\"", '"'), std::u16string(u"\u3042\U0001F30Ez"));
    EXPECT_EQ(unescape("\xC0\x80x\"", '"'), u"x");  // overlong
}

TEST(WineText, FindsTheDelimiterOrFails) {
    long used = 0;
    EXPECT_EQ(unescape(R"(Soft\]ware] 123)", ']', &used), u"Soft]ware");
    EXPECT_EQ(used, 11);
    unescape("no end", '"', &used);
    EXPECT_EQ(used, -1);
    unescape("ends in a backslash\\", '"', &used);
    EXPECT_EQ(used, -1);
    std::string withZero("ab\0\"", 4);
    unescape(withZero, '"', &used);
    EXPECT_EQ(used, -1) << "a zero byte ends the line for Wine";
}

TEST(WineText, WritesEscapesAsWine) {
    EXPECT_EQ(escape(u"a\\b\"c[d]"), R"(a\\b\"c[d])");
    EXPECT_EQ(escape(u"[d]", "[]"), R"(\[d\])");
    EXPECT_EQ(escape(std::u16string(u"\t\x1b\x01"
                                    u"9\x01"
                                    u"7",
                                    6)),
              R"(\t\e\19\0017)");
    // Characters above 127 as \x, padded to four digits before a hex digit.
    EXPECT_EQ(escape(u"\u3042z\u3042a\u00e9"), R"(\x3042z\x3042a\xe9)");
    EXPECT_EQ(escape(u"\u3042"
                     u"1"),
              R"(\x30421)");
    EXPECT_EQ(escape(u"\U0001F30E"), R"(\xd83c\xdf0e)");
}

TEST(WineText, EscapesReadBackToTheSameText) {
    std::u16string all;
    for (char16_t c = 1; c < 400; ++c) all.push_back(c);
    all += u"\u3042\U0001F30E\xFFFF";
    const std::string text = escape(all) + "\"";
    EXPECT_EQ(unescape(text, '"'), all);
}

TEST(WineText, ValueLinesInWineForms) {
    EXPECT_EQ(valueLine(u"", kRegSz, sz(u"x")), "@=\"x\"\n");
    EXPECT_EQ(valueLine(u"N\"", kRegSz, sz(u"")), "\"N\\\"\"=\"\"\n");
    EXPECT_EQ(valueLine(u"P", kRegExpandSz, sz(u"%PATH%")), "\"P\"=str(2):\"%PATH%\"\n");
    EXPECT_EQ(valueLine(u"M", kRegMultiSz, sz(std::u16string(u"a\0b\0", 4))), "\"M\"=str(7):\"a\\0b\\0\"\n");
    EXPECT_EQ(valueLine(u"D", kRegDword, dword(42)), "\"D\"=dword:0000002a\n");
    EXPECT_EQ(valueLine(u"B", kRegBinary, std::string("\x01\xff", 2)), "\"B\"=hex:01,ff\n");
    EXPECT_EQ(valueLine(u"E", kRegBinary, ""), "\"E\"=hex:\n");
    EXPECT_EQ(valueLine(u"T", 0xffff0007u, "\x10"), "\"T\"=hex(ffff0007):10\n");
    // Strings without their terminating zero or of odd size, and dwords of another size, as hex.
    EXPECT_EQ(valueLine(u"S", kRegSz, std::string("a\0", 2) + "b"), "\"S\"=hex(1):61,00,62\n");
    EXPECT_EQ(valueLine(u"S", kRegSz, std::string("a\0", 2)), "\"S\"=hex(1):61,00\n");
    EXPECT_EQ(valueLine(u"D", kRegDword, "\1\2"), "\"D\"=hex(4):01,02\n");
}

TEST(WineText, LongHexListsContinueAsWineBreaksThem) {
    const std::string data(40, '\xab');
    // "B"=hex: is 8 characters; each byte adds 3 with its comma; the line breaks once past 76.
    std::string expected = "\"B\"=hex:";
    std::size_t count = expected.size();
    for (int i = 0; i < 40; ++i) {
        expected += "ab";
        count += 2;
        if (i < 39) {
            expected += ",";
            if (++count > 76) {
                expected += "\\\n  ";
                count = 2;
            }
        }
    }
    expected += "\n";
    const std::string line = valueLine(u"B", kRegBinary, data);
    EXPECT_EQ(line, expected);
    EXPECT_EQ(line.substr(0, line.find('\n')).size(), 78u) << line;
    // And it reads back to the same bytes.
    auto file = wine_test::parseOk(wine_test::machineHeader() + "\n[K] 1\n" + line);
    WineKey* key = file->root().findSubkey(u"K");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->value(0).data(), data);
}

TEST(WineText, HexNumbersAsTheCLibraryReadsThem) {
    std::size_t used = 0;
    EXPECT_EQ(parseHexNumber("  2a,", used), 0x2au);
    EXPECT_EQ(used, 4u);
    EXPECT_EQ(parseHexNumber("0x10)", used), 0x10u);
    EXPECT_EQ(parseHexNumber("-1", used), 0xFFFFFFFFu);
    EXPECT_EQ(parseHexNumber("123456789abcdef0123", used), 0xFFFFFFFFu);
    EXPECT_EQ(parseHexNumber("zz", used), 0u);
    EXPECT_EQ(used, 0u);
}

}  // namespace
