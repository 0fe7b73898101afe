#include "registry/utf8.h"

#include <gtest/gtest.h>

namespace {

using tovik::appendUtf8;
using tovik::utf16ToUtf8;
using tovik::utf16ToUtf8Exact;
using tovik::utf8ToUtf16;

TEST(Utf8, ConvertsEveryEncodedLengthBothWays) {
    // 1, 2, 3 and 4 byte sequences; the last is a surrogate pair in UTF-16.
    const std::string utf8 = "A\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80";
    const std::u16string utf16 = u"A\u00E9\u6771\U0001F600";
    EXPECT_EQ(utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(utf16ToUtf8(u"\uFFFF\U0010FFFF"), "\xEF\xBF\xBF\xF4\x8F\xBF\xBF");
}

TEST(Utf8, RefusesMalformedInput) {
    for (const char* bad : {
             "\x80",              // continuation without a lead byte
             "\xC3",              // truncated
             "\xC3\x41",          // lead followed by ASCII
             "\xC0\xAF",          // overlong '/'
             "\xF0\x80\x80\xAF",  // overlong
             "\xED\xA0\x80",      // encoded high surrogate
             "\xED\xBF\xBF",      // encoded low surrogate
             "\xF4\x90\x80\x80",  // above U+10FFFF
             "\xFF",
             "ok\xFE",
         }) {
        EXPECT_FALSE(utf8ToUtf16(bad).has_value()) << testing::PrintToString(std::string(bad));
    }
}

TEST(Utf8, UnpairedSurrogatesBecomeReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, u'\xD800')), replacement);
    EXPECT_EQ(utf16ToUtf8(u"a" + std::u16string(1, u'\xDC00') + u"b"), "a" + replacement + "b");
    // A high surrogate followed by something other than a low one, and a reversed pair.
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'\xD83D', u'x'}), replacement + "x");
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'\xDE00', u'\xD83D'}), replacement + replacement);
}

TEST(Utf8, ExactConversionRefusesUnpairedSurrogatesThatTheLossyOneReplaces) {
    const std::u16string lone = std::u16string(u"a") + char16_t{0xD800} + u"b";
    const std::u16string trailing = std::u16string(u"a") + char16_t{0xDC00};
    EXPECT_EQ(utf16ToUtf8(lone), "a\xEF\xBF\xBD"
                                 "b");
    EXPECT_FALSE(utf16ToUtf8Exact(lone).has_value());
    EXPECT_FALSE(utf16ToUtf8Exact(trailing).has_value());
    EXPECT_FALSE(utf16ToUtf8Exact(std::u16string(1, char16_t{0xD83D})).has_value());
    EXPECT_EQ(utf16ToUtf8Exact(u"\u00C4rger \U0001F600"), "\xC3\x84rger \xF0\x9F\x98\x80");
}

// Long texts are encoded in pieces, full of three-byte characters where the room is tightest:
// every kind of character at every offset near the pieces' borders, a surrogate pair straddling
// one included, reads back unchanged.
TEST(Utf8, LongTextsRoundTripWhereverTheirCharactersFall) {
    const std::pair<std::u16string, std::size_t> characters[] = {
        {u"\u00E9", 2}, {u"\u6771", 3}, {u"\U0001F600", 4}, {u"z", 1}};
    for (const auto& [character, bytes] : characters) {
        for (std::size_t before = 4090; before < 4100; ++before) {
            const std::u16string text = std::u16string(before, u'\u3042') + character + std::u16string(8200, u'\u3042');
            std::string appended = "x";
            appendUtf8(appended, text);
            EXPECT_EQ(utf8ToUtf16(appended.substr(1)), text) << before;
            EXPECT_EQ(appended.size(), 1 + 3 * before + bytes + 3 * 8200) << before;
        }
    }
}

}  // namespace
