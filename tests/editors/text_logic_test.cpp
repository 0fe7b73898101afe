// The string editor's name rules, and line breaks kept through a multi-line edit.
#include <gtest/gtest.h>

#include "editors/multiline_text.h"
#include "editors/string_rules.h"

namespace {

const std::u16string kBreak(1, MultiLineText::kBreak);

TEST(StringRulesTest, OnlyTheExactUnnamedNameIsProtected) {
    EXPECT_TRUE(isUnnamedValueName(u"@"));
    for (const std::u16string_view name : {u"@@", u" @", u"a@", u""}) EXPECT_FALSE(isUnnamedValueName(name));
    EXPECT_FALSE(nameAllowsOk(u""));
    EXPECT_TRUE(nameAllowsOk(u" "));
}

TEST(MultiLineTextTest, EveryLineBreakShowsAsOneAndUntouchedTextComesBackExactly) {
    const MultiLineText text(u"a\r\nb\rc\nd\u2029e\u2028f");
    EXPECT_EQ(text.shown(), u"a" + kBreak + u"b" + kBreak + u"c" + kBreak + u"d" + kBreak + u"e\u2028f");
    EXPECT_EQ(text.textFor(text.shown()), u"a\r\nb\rc\nd\u2029e\u2028f");
    const MultiLineText breaks(u"\r\r\n\n");
    EXPECT_EQ(breaks.textFor(breaks.shown()), u"\r\r\n\n");
}

TEST(MultiLineTextTest, EditsKeepTheBreaksAroundThemAndTypedBreaksBecomeCrLf) {
    const MultiLineText text(u"one\r\ntwo\nthree");
    EXPECT_EQ(text.textFor(u"one" + kBreak + u"2" + kBreak + u"three"), u"one\r\n2\nthree");
    EXPECT_EQ(text.textFor(u"one" + kBreak + kBreak + u"two" + kBreak + u"three"), u"one\r\n\r\ntwo\nthree");
    EXPECT_EQ(text.textFor(u"onetwo" + kBreak + u"three"), u"onetwo\nthree");
    EXPECT_EQ(MultiLineText(u"").textFor(u"x" + kBreak + u"y"), u"x\r\ny");
    // Repeated characters on both sides of an insert.
    EXPECT_EQ(MultiLineText(u"a\r\na").textFor(u"a" + kBreak + kBreak + u"a"), u"a\r\n\r\na");
}

}  // namespace
