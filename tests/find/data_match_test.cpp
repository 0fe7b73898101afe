// Matching value data without building its text: every type, with and without case folding, as
// a part and as the whole, always giving the answer that matching the shown text gives.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "find/data_match.h"
#include "find/text_match.h"
#include "registry/value_types.h"

namespace {

using tovik::find::DataMatcher;
using tovik::find::TextMatcher;

// The answer of the text form: format the data as the list shows it and match that.
bool textFormMatches(std::u16string_view pattern, bool matchCase, bool whole, DWORD type, const Bytes& data) {
    return TextMatcher(pattern, matchCase, whole).matches(formatValueText(type, data.data(), data.size(), SIZE_MAX));
}

bool dataMatches(std::u16string_view pattern, bool matchCase, bool whole, DWORD type, const Bytes& data) {
    return DataMatcher(TextMatcher(pattern, matchCase, whole)).matches(type, data.data(), data.size());
}

Bytes b(std::initializer_list<int> bytes) {
    Bytes out;
    for (const int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

TEST(DataMatcher, BinaryDataMatchesItsHexFormAtEveryPlaceInAByteCell) {
    const Bytes data = b({0xAB, 0x0C, 0xD5});  // "AB 0C D5 "
    EXPECT_TRUE(dataMatches(u"AB 0C", true, false, REG_BINARY, data));
    EXPECT_TRUE(dataMatches(u"B 0", true, false, REG_BINARY, data));
    EXPECT_TRUE(dataMatches(u" 0C D", true, false, REG_BINARY, data));
    EXPECT_TRUE(dataMatches(u"D5 ", true, false, REG_BINARY, data));
    EXPECT_FALSE(dataMatches(u"D5  ", true, false, REG_BINARY, data));
    EXPECT_FALSE(dataMatches(u"AB0C", true, false, REG_BINARY, data));
    EXPECT_FALSE(dataMatches(u"BA", true, false, REG_BINARY, data));
    // The form's digits are capitals: small ones match only with case folding.
    EXPECT_FALSE(dataMatches(u"ab 0c", true, false, REG_BINARY, data));
    EXPECT_TRUE(dataMatches(u"ab 0c", false, false, REG_BINARY, data));
    // The whole form ends with the last byte's space.
    EXPECT_TRUE(dataMatches(u"ab 0c d5 ", false, true, REG_BINARY, data));
    EXPECT_FALSE(dataMatches(u"AB 0C D5", true, true, REG_BINARY, data));
    EXPECT_FALSE(dataMatches(u"0C D5 ", true, true, REG_BINARY, data));
    // Every type without a text of its own shows its bytes.
    for (const DWORD type : {REG_NONE, REG_DWORD_BIG_ENDIAN, REG_LINK, REG_RESOURCE_LIST, DWORD{11}, DWORD{0x12345}})
        EXPECT_TRUE(dataMatches(u"0C D5", true, false, type, data)) << type;
    EXPECT_TRUE(dataMatches(u"", true, true, REG_BINARY, Bytes{}));
    EXPECT_FALSE(dataMatches(u" ", true, false, REG_BINARY, Bytes{}));
}

TEST(DataMatcher, NumbersMatchTheirDecimalAndHexText) {
    EXPECT_TRUE(dataMatches(u"255(FF)", true, true, REG_DWORD, dwordToBytes(255)));
    EXPECT_TRUE(dataMatches(u"(ff", false, false, REG_DWORD, dwordToBytes(255)));
    EXPECT_FALSE(dataMatches(u"(ff", true, false, REG_DWORD, dwordToBytes(255)));
    EXPECT_TRUE(dataMatches(u"-1(FFFFFFFF)", true, true, REG_DWORD, dwordToBytes(0xFFFFFFFF)));
    EXPECT_TRUE(dataMatches(u"-2147483648(80000000)", true, true, REG_DWORD, dwordToBytes(0x80000000)));
    EXPECT_FALSE(dataMatches(u"255 ", true, false, REG_DWORD, dwordToBytes(255)));
    // Missing bytes count as zero.
    EXPECT_TRUE(dataMatches(u"0(0)", true, true, REG_DWORD, Bytes{}));
    EXPECT_TRUE(dataMatches(u"258(102)", true, true, REG_DWORD, b({2, 1})));
}

TEST(DataMatcher, StringsEndAtTheirFirstZeroAndMultiStringsShowTheirSeparators) {
    const Bytes sz = stringToBytes(std::u16string(u"Caf\u00E9\0hidden", 11));
    EXPECT_TRUE(dataMatches(u"CAF\u00C9", false, true, REG_SZ, sz));
    EXPECT_FALSE(dataMatches(u"CAF\u00C9", true, false, REG_EXPAND_SZ, sz));
    EXPECT_FALSE(dataMatches(u"hidden", false, false, REG_SZ, sz));
    Bytes odd = stringToBytes(u"ab");
    odd.push_back(u'c');  // half a unit is not shown
    EXPECT_TRUE(dataMatches(u"ab", true, true, REG_SZ, odd));
    const Bytes multi = TextToMultiSz(u"one|two||");
    EXPECT_TRUE(dataMatches(u"E|T", false, false, REG_MULTI_SZ, multi));
    EXPECT_TRUE(dataMatches(u"one|two||", true, true, REG_MULTI_SZ, multi));
    EXPECT_FALSE(dataMatches(u"one|two|", true, true, REG_MULTI_SZ, multi));
    EXPECT_TRUE(dataMatches(u"", false, false, REG_SZ, Bytes{}));
    EXPECT_TRUE(dataMatches(u"", false, true, REG_SZ, stringToBytes(std::u16string(1, u'\0'))));
}

// Random data of every type against texts cut from shown data (so that many match) and made of
// the characters that the forms use, with every option: the two answers never differ.
TEST(DataMatcher, AgreesWithTheTextFormOnRandomDataAndTexts) {
    std::mt19937 rng(20261209);
    const std::vector<DWORD> types = {
        REG_NONE, REG_SZ,       REG_EXPAND_SZ,     REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
        REG_LINK, REG_MULTI_SZ, REG_RESOURCE_LIST, 11,         0x4000};
    const std::u16string units = u"aAbBcCfF09 ()-|\u00E9\u00C9x\0";
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const auto randomData = [&](DWORD type) {
        Bytes data;
        const std::size_t length = pick(10);
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
            std::u16string text;
            for (std::size_t i = 0; i < length; ++i) text += units[pick(units.size())];
            data = stringToBytes(text);
            if (pick(4) == 0) data.push_back(static_cast<std::uint8_t>(rng()));
        } else {
            for (std::size_t i = 0; i < length; ++i)
                data.push_back(static_cast<std::uint8_t>(pick(4) == 0 ? 0xAB : rng()));
        }
        return data;
    };
    const auto flipCase = [&](std::u16string text) {
        for (char16_t& c : text) {
            if (pick(2) == 0) continue;
            if (c >= u'a' && c <= u'z')
                c = static_cast<char16_t>(c - 32);
            else if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c + 32);
        }
        return text;
    };

    int positives = 0, cases = 0;
    for (int round = 0; round < 40000; ++round) {
        const DWORD type = types[pick(types.size())];
        const Bytes data = randomData(type);
        std::u16string pattern;
        if (pick(2) == 0) {
            // Cut from the shown text of this value or of another of the same type.
            const Bytes source = pick(3) == 0 ? randomData(type) : data;
            const std::u16string shown = formatValueText(type, source.data(), source.size(), SIZE_MAX);
            const std::size_t from = shown.empty() ? 0 : pick(shown.size());
            pattern = flipCase(shown.substr(from, pick(3) == 0 ? std::u16string::npos : pick(9)));
        } else {
            const std::size_t length = pick(6);
            for (std::size_t i = 0; i < length; ++i) pattern += units[pick(units.size() - 1)];
        }
        for (const bool matchCase : {false, true}) {
            for (const bool whole : {false, true}) {
                const bool expected = textFormMatches(pattern, matchCase, whole, type, data);
                ASSERT_EQ(dataMatches(pattern, matchCase, whole, type, data), expected)
                    << "type " << type << " pattern length " << pattern.size() << " data size " << data.size()
                    << " matchCase " << matchCase << " whole " << whole << " round " << round;
                positives += expected;
                ++cases;
            }
        }
    }
    // The texts were chosen so that a good share matches: both answers were really compared.
    EXPECT_GT(positives, cases / 5);
    EXPECT_LT(positives, cases * 4 / 5);
}

}  // namespace
