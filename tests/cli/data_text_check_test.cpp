#include "cli/data_text_check.h"

#include <gtest/gtest.h>

#include "registry/value_types.h"

namespace {

using tovik::cli::checkDataText;

// An accepted text must convert to data that displays as the expected text form.
void expectAccepted(DWORD type, std::u16string_view text, std::u16string_view shown) {
    EXPECT_FALSE(checkDataText(type, text).has_value()) << testing::PrintToString(std::u16string(text));
    const Bytes data = valueDataFromText(type, text);
    EXPECT_EQ(FormatValue(type, data.data(), data.size()).text, shown) << testing::PrintToString(std::u16string(text));
}

// As tovik-reg writes it: checked, then put in the form the conversion reads.
void expectStored(std::u16string_view text, std::u16string_view shown) {
    EXPECT_FALSE(checkDataText(REG_DWORD, text).has_value()) << testing::PrintToString(std::u16string(text));
    const Bytes data = valueDataFromText(REG_DWORD, tovik::cli::dataTextToStore(REG_DWORD, text));
    EXPECT_EQ(FormatValue(REG_DWORD, data.data(), data.size()).text, shown)
        << testing::PrintToString(std::u16string(text));
}

void expectRefused(DWORD type, std::u16string_view text) {
    EXPECT_TRUE(checkDataText(type, text).has_value()) << type << " " << testing::PrintToString(std::u16string(text));
}

TEST(DataTextCheck, NumbersInThe32BitRangeWithAnAgreeingHexPart) {
    expectAccepted(REG_DWORD, u"260", u"260(104)");
    expectAccepted(REG_DWORD, u"260(104)", u"260(104)");
    expectAccepted(REG_DWORD, u"-1(FFFFFFFF)", u"-1(FFFFFFFF)");
    expectAccepted(REG_DWORD, u"-1(ffffffff)", u"-1(FFFFFFFF)");
    expectAccepted(REG_DWORD, u"+7", u"7(7)");
    expectAccepted(REG_DWORD, u"  42", u"42(2A)");
    expectAccepted(REG_DWORD, u"0(0)", u"0(0)");
    expectAccepted(REG_DWORD, u"2147483647", u"2147483647(7FFFFFFF)");
    expectAccepted(REG_DWORD, u"-2147483648(80000000)", u"-2147483648(80000000)");
    expectAccepted(REG_DWORD, u"007", u"7(7)");

    for (std::u16string_view bad : {u"",
                                    u" ",
                                    u"-",
                                    u"abc",
                                    u"0x10(10)",
                                    u"12abc",
                                    u"1 ",
                                    u"1.5",
                                    u"-2147483649",
                                    u"4294967296",
                                    u"99999999999999999999",
                                    u"0x",
                                    u"0x1G",
                                    u"0x100000000",
                                    u"0x-1",
                                    u"-0x1",
                                    u"0x 1",
                                    u"4294967295(FFFFFFFE)",
                                    u"260(105)",
                                    u"260()",
                                    u"260(104",
                                    u"260 (104)",
                                    u"-1(1FFFFFFFF)",
                                    u"260(1O4)"}) {
        expectRefused(REG_DWORD, bad);
    }
}

TEST(DataTextCheck, HexadecimalAndUnsignedNumbersStoreTheirBits) {
    expectStored(u"0x104", u"260(104)");
    expectStored(u"0X0", u"0(0)");
    expectStored(u"0xffffffff", u"-1(FFFFFFFF)");
    expectStored(u"0x80000000", u"-2147483648(80000000)");
    expectStored(u"0x7FFFFFFF", u"2147483647(7FFFFFFF)");
    expectStored(u"2147483648", u"-2147483648(80000000)");
    expectStored(u"4294967295", u"-1(FFFFFFFF)");
    expectStored(u"4294967295(FFFFFFFF)", u"-1(FFFFFFFF)");
    expectStored(u"-5", u"-5(FFFFFFFB)");
    EXPECT_EQ(tovik::cli::dataTextToStore(REG_BINARY, u"0x10"), u"0x10") << "only DW numbers are rewritten";
}

// A QW number is stored as its eight bytes, lowest first, and reads back as the unsigned number.
TEST(DataTextCheck, QuadNumbersStoreEightBytesLittleEndian) {
    struct Case {
        std::u16string_view typed;
        std::u16string_view bytes;
        std::u16string_view shown;
    };
    for (const Case& c : {
             Case{u"0", u"00 00 00 00 00 00 00 00 ", u"0"},
             Case{u"1", u"01 00 00 00 00 00 00 00 ", u"1"},
             Case{u"+258", u"02 01 00 00 00 00 00 00 ", u"258"},
             Case{u"0x0102030405060708", u"08 07 06 05 04 03 02 01 ", u"72623859790382856"},
             Case{u"0Xff", u"FF 00 00 00 00 00 00 00 ", u"255"},
             Case{u"18446744073709551615", u"FF FF FF FF FF FF FF FF ", u"18446744073709551615"},
             Case{u"-1", u"FF FF FF FF FF FF FF FF ", u"18446744073709551615"},
             Case{u"-9223372036854775808", u"00 00 00 00 00 00 00 80 ", u"9223372036854775808"},
             Case{u"4294967296", u"00 00 00 00 01 00 00 00 ", u"4294967296"},
         }) {
        EXPECT_FALSE(checkDataText(REG_QWORD, c.typed).has_value()) << testing::PrintToString(std::u16string(c.typed));
        EXPECT_EQ(tovik::cli::dataTextToStore(REG_QWORD, c.typed), c.typed) << "accepted as it stands";
        const Bytes data = tovik::cli::quadData(c.typed).value_or(Bytes{});
        EXPECT_EQ(FormatValue(REG_QWORD, data.data(), data.size()).text, c.bytes);
        EXPECT_EQ(tovik::typedValueText(REG_QWORD, data.data(), data.size()), c.shown);
    }
    for (std::u16string_view bad : {u"", u"-", u"0x", u"18446744073709551616", u"-9223372036854775809",
                                    u"0x10000000000000000", u"1 ", u" 1", u"12abc", u"0x1G", u"01 02", u"1.5"}) {
        expectRefused(REG_QWORD, bad);
        EXPECT_FALSE(tovik::cli::quadData(bad).has_value());
    }
    // Data of another size than eight bytes is no number: it shows as its bytes.
    const Bytes odd{1, 2, 3};
    EXPECT_EQ(tovik::typedValueText(REG_QWORD, odd.data(), odd.size()), u"01 02 03 ");
}

TEST(DataTextCheck, HexBytesForEveryNonStringType) {
    for (DWORD type : {REG_NONE, REG_BINARY, REG_DWORD_BIG_ENDIAN, REG_LINK, REG_RESOURCE_LIST, DWORD{9},
                       DWORD{0x12345}, DWORD{0xFFFFFFFF}}) {
        expectAccepted(type, u"", u"");
        expectAccepted(type, u"0A FF 00 ", u"0A FF 00 ");
        expectAccepted(type, u"0a ff", u"0A FF ");
        expectAccepted(type, u"a 1", u"0A 01 ");
        for (std::u16string_view bad : {u" ", u" 0A", u"0A  FF", u"0A FF  ", u"123", u"0AFF", u"zz", u"0x0A", u"0A,FF",
                                        u"0A\tFF", u"0A\nFF", u"\uFF10A"}) {
            expectRefused(type, bad);
        }
    }
}

TEST(DataTextCheck, StringTypesTakeAnyText) {
    expectAccepted(REG_SZ, u"", u"");
    expectAccepted(REG_SZ, u"0x10 = \"anything\" |", u"0x10 = \"anything\" |");
    expectAccepted(REG_EXPAND_SZ, u"%windir%\\\u6771\u4EAC", u"%windir%\\\u6771\u4EAC");
    expectAccepted(REG_MULTI_SZ, u"one|two||", u"one|two||");
    expectAccepted(REG_MULTI_SZ, u"no terminator", u"no terminator");
}

}  // namespace
