#include "registry/value_types.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using ::testing::ElementsAreArray;

Bytes u16(std::u16string_view text) {
    return stringToBytes(text);
}

TEST(ValueTypes, TagsNamesAndIconClasses) {
    const char16_t* tags[] = {u"NON", u"SZ", u"EXP", u"BIN", u"DW", u"DWE", u"LNK", u"MLT", u"RSC"};
    for (DWORD t = 0; t <= 8; ++t) EXPECT_TRUE(typeTag(t) == tags[t] && isSupportedType(t)) << t;
    for (DWORD t : {9u, 0x12345u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(typeTag(t) == u"??" && !isSupportedType(t) && typeLongName(t).empty()) << t;
    }
    EXPECT_EQ(typeLongName(REG_DWORD_BIG_ENDIAN), u"REG_DWORD_BIG_ENDIAN");
    EXPECT_TRUE(typeLongName(REG_DWORD).empty());
    EXPECT_EQ(typeIconClass(REG_MULTI_SZ), IconClass::String);
    EXPECT_EQ(typeIconClass(REG_DWORD), IconClass::Number);
    EXPECT_EQ(typeIconClass(REG_DWORD_BIG_ENDIAN), IconClass::Binary);
}

// Each row reads back from its number, its tag and its platform name, in any case; the tag is
// what the value list shows and the platform name what other tools print.
TEST(ValueTypes, TableRoundTripsNumberTagAndPlatformName) {
    const auto lower = [](std::u16string_view text) {
        std::u16string out(text);
        for (char16_t& c : out) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
        return out;
    };
    DWORD expected = 0;
    for (const tovik::ValueTypeInfo& info : tovik::valueTypes()) {
        EXPECT_EQ(info.number, expected++) << "rows stand in number order";
        EXPECT_EQ(tovik::findValueType(info.number), &info);
        EXPECT_EQ(tovik::findValueTypeByName(info.platformName), &info);
        EXPECT_EQ(tovik::findValueTypeByName(lower(info.platformName)), &info);
        EXPECT_EQ(tovik::findValueTypeByName(info.platformName, false), nullptr) << "tags only";
        if (!info.typedTag.empty()) {
            EXPECT_EQ(tovik::findValueTypeByName(lower(info.typedTag)), &info);
            EXPECT_EQ(tovik::findValueTypeByName(info.typedTag, false), nullptr) << "tags only";
            EXPECT_EQ(tovik::findValueTypeByTag(info.typedTag), nullptr) << "never a tag of the backup file";
        }
        if (info.tag.empty()) {
            EXPECT_EQ(typeTag(info.number), u"??");
            EXPECT_FALSE(isSupportedType(info.number));
            continue;
        }
        EXPECT_EQ(typeTag(info.number), info.tag);
        EXPECT_TRUE(isSupportedType(info.number));
        EXPECT_EQ(tovik::findValueTypeByTag(info.tag), &info);
        EXPECT_EQ(tovik::findValueTypeByTag(lower(info.tag)), nullptr) << "a file's tags are exact";
        EXPECT_EQ(tovik::findValueTypeByName(lower(info.tag), false), &info);
        // The text form decides both directions of the data text.
        const Bytes data = valueDataFromText(info.number, u"12");
        EXPECT_EQ(formatValueText(info.number, data.data(), data.size(), 100),
                  info.textForm == tovik::ValueTextForm::Number
                      ? u"12(C)"
                      : u"12" + std::u16string(info.textForm == tovik::ValueTextForm::HexBytes ? u" " : u""));
    }
    EXPECT_EQ(tovik::findValueTypeByName(u"reg_qword")->number, REG_QWORD);
    EXPECT_EQ(tovik::findValueTypeByName(u"REG_DWORD")->tag, u"DW");
    EXPECT_EQ(tovik::findValueTypeByName(u"QW")->number, REG_QWORD);
    for (std::u16string_view unknown : {u"", u"??", u"REG_", u"QWORD", u"S Z", u"REG_SZ "})
        EXPECT_EQ(tovik::findValueTypeByName(unknown), nullptr) << testing::PrintToString(std::u16string(unknown));
    EXPECT_EQ(tovik::findValueType(12), nullptr);
    EXPECT_EQ(tovik::findValueType(0xFFFFFFFFu), nullptr);
}

// Every type that the list shows as "??" still reads apart from every other one: by its platform
// name where it has one, else by its number.
TEST(ValueTypes, DescriptionTellsEveryTypeApart) {
    EXPECT_EQ(tovik::typeDescription(REG_QWORD), u"REG_QWORD (11)");
    EXPECT_EQ(tovik::typeDescription(REG_FULL_RESOURCE_DESCRIPTOR), u"REG_FULL_RESOURCE_DESCRIPTOR (9)");
    EXPECT_EQ(tovik::typeDescription(REG_DWORD), u"REG_DWORD (4)");
    EXPECT_EQ(tovik::typeDescription(REG_NONE), u"REG_NONE (0)");
    EXPECT_EQ(tovik::typeDescription(12), u"12 (0xC)");
    EXPECT_EQ(tovik::typeDescription(0xFFFF0012u), u"4294901778 (0xFFFF0012)");
    EXPECT_EQ(tovik::typeDescription(0xFFFFFFFFu), u"4294967295 (0xFFFFFFFF)");
}

TEST(FormatValue, DataTextFormsAndTheirCutPrefixes) {
    const struct {
        DWORD type;
        Bytes data;
        std::u16string_view text;
    } cases[] = {
        {REG_SZ, u16(std::u16string(u"abc\0", 4)), u"abc"},
        {REG_SZ, {}, u""},
        {REG_EXPAND_SZ, u16(std::u16string(u"ab\0cd", 5)), u"ab"},
        {REG_SZ, Bytes{'x', 0, 'y', 0, 'z'}, u"xy"},  // no terminator, odd last byte
        {REG_DWORD, dwordToBytes(255), u"255(FF)"},
        {REG_DWORD, dwordToBytes(0), u"0(0)"},
        {REG_DWORD, dwordToBytes(0xFFFFFFFF), u"-1(FFFFFFFF)"},
        {REG_DWORD, dwordToBytes(0x80000000), u"-2147483648(80000000)"},
        {REG_DWORD, Bytes{0x34, 0x12}, u"4660(1234)"},
        {REG_DWORD, Bytes{1, 0, 0, 0, 0xFF}, u"1(1)"},
        {REG_MULTI_SZ, u16(std::u16string(u"one\0two\0\0", 9)), u"one|two||"},
        {REG_MULTI_SZ, Bytes{0, 0}, u"|"},
        {REG_MULTI_SZ, Bytes{'a', 0, 'b', 0, 'c'}, u"ab"},
        {REG_BINARY, Bytes{0x0A, 0xFF}, u"0A FF "},
        {REG_BINARY, {}, u""},
        {REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 0}, u"00 00 01 00 "},
        {0x12345, Bytes{0x5C, 0xAB}, u"5C AB "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatValue(c.type, c.data.data(), c.data.size()).text, c.text) << "type " << c.type;
        for (std::size_t n = 0; n <= c.text.size() + 1; ++n) {
            EXPECT_EQ(formatValueText(c.type, c.data.data(), c.data.size(), n), c.text.substr(0, n))
                << "type " << c.type << " maxChars " << n;
        }
    }
    EXPECT_EQ(FormatValue(REG_BINARY, nullptr, 0).tag, u"BIN");
    // Nothing past size is read.
    const Bytes buf{'a', 0, 'b', 0, 'c', 0, 0x77, 0x77};
    EXPECT_EQ(FormatValue(REG_SZ, buf.data(), 4).text, u"ab");
    EXPECT_EQ(FormatValue(REG_DWORD, buf.data(), 3).text, u"6422625(620061)");

    std::u16string line = u"x=";
    appendValueText(line, REG_BINARY, buf.data(), 2);
    EXPECT_EQ(line, u"x=61 00 ");
    const Bytes big(8 << 20, 0xAB);
    EXPECT_EQ(formatValueText(REG_BINARY, big.data(), big.size(), 100).substr(93), u"AB AB A");
}

TEST(HexText, HexToNumberAndHexTextToBytes) {
    const std::pair<std::u16string_view, DWORD> numbers[] = {{u"FF", 255},
                                                             {u"ff", 255},
                                                             {u"12345678", 0x12345678},
                                                             {u"123456789", 0x23456789},
                                                             {u"", 0},
                                                             {u" 1", 0},
                                                             {u"x1", 0},
                                                             {u"1F ", 0x1F},
                                                             {u"1:2", 1},
                                                             {u"1@2", 1},
                                                             {u"1G2", 1},
                                                             {u"1`2", 1},
                                                             {u"1g", 1},
                                                             {u"１", 0}};
    for (const auto& [text, value] : numbers)
        EXPECT_EQ(HexToNumber(text), value) << std::string(text.begin(), text.end());

    const std::pair<std::u16string_view, Bytes> bytes[] = {{u"0A FF ", {0x0A, 0xFF}}, {u"0A  FF", {0x0A, 0x00, 0xFF}},
                                                           {u" 0A", {0x00, 0x0A}},    {u"", {}},
                                                           {u"123", {0x23}},          {u"a", {0x0A}},
                                                           {u"0a0b", {0x0B}},         {u"0A\r\n0B", {0x0A}},
                                                           {u"zz 1", {0x00, 0x01}},   {u"\t", {0x00}}};
    for (const auto& [text, expected] : bytes) {
        EXPECT_THAT(HexTextToBytes(text), ElementsAreArray(expected)) << std::string(text.begin(), text.end());
    }
    BYTE buf[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};  // 3 spaces: at most 4 bytes may be written
    EXPECT_EQ(HexTextToBytes(u"01  02 FF", buf), 4u);
    EXPECT_EQ(buf[4], 0xEE);
}

TEST(DecimalTextToLong, LeadingNumberClampedToTheRange) {
    constexpr LONG kMin = std::numeric_limits<LONG>::min();
    const std::pair<std::u16string, LONG> cases[] = {{u"255(FF)", 255},
                                                     {u"-1(FFFFFFFF)", -1},
                                                     {u" \t\n\v\f\r+42x", 42},
                                                     {u"", 0},
                                                     {u"abc", 0},
                                                     {u"- 5", 0},
                                                     {u"+-5", 0},
                                                     {u"\u30005", 0},
                                                     {u"2147483647", 2147483647},
                                                     {u"2147483648", 2147483647},
                                                     {u"-2147483648(80000000)", kMin},
                                                     {u"-2147483649", kMin},
                                                     {std::u16string(5000, u'9'), 2147483647},
                                                     {u"-" + std::u16string(5000, u'9'), kMin},
                                                     {std::u16string(5000, u'0') + u"12", 12}};
    for (const auto& [text, value] : cases) EXPECT_EQ(decimalTextToLong(text), value) << text.size() << " chars";
}

TEST(ValueDataFromText, EveryFormReadsBackToItsData) {
    const std::pair<DWORD, Bytes> cases[] = {
        {REG_SZ, u16(u"C:\\Program Files\\表 \U0001F600")},
        {REG_EXPAND_SZ, u16(u"%windir%|")},
        {REG_MULTI_SZ, u16(std::u16string(u"\\Windows\0\\Temp\0\0", 16))},
        {REG_DWORD, dwordToBytes(0x80000000)},
        {REG_DWORD, dwordToBytes(0xDEADBEEF)},
        {REG_NONE, {}},
        {REG_BINARY, {0, 1, 0x7F, 0x80, 0xFF}},
        {REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0}},
        {REG_LINK, {0x20}},
        {REG_RESOURCE_LIST, Bytes(1000, 0x5A)},
        {42, {9, 8, 7}},
    };
    for (const auto& [type, data] : cases) {
        EXPECT_EQ(valueDataFromText(type, FormatValue(type, data.data(), data.size()).text), data) << type;
    }
    EXPECT_EQ(valueDataFromText(REG_DWORD, u"abc"), dwordToBytes(0));
    EXPECT_EQ(valueDataFromText(REG_DWORD, u"260(104)"), (Bytes{0x04, 0x01, 0, 0}));
    // A "|" inside a string cannot be told from a separator.
    EXPECT_EQ(valueDataFromText(REG_MULTI_SZ, u"a|b"), u16(std::u16string(u"a\0b", 3)));
    for (DWORD t : {0u, 3u, 5u, 6u, 8u, 9u}) EXPECT_EQ(valueDataFromText(t, u"0a  ff"), (Bytes{0x0A, 0, 0xFF})) << t;
}

}  // namespace
