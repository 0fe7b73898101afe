// Matching the search text: parts and whole texts, with and without the registry's case folding.
#include <gtest/gtest.h>

#include "find/text_match.h"

namespace {

using tovik::find::TextMatcher;

TEST(TextMatcher, FindsThePatternAsAPartOrAsTheWholeText) {
    const TextMatcher part(u"ab", true, false);
    EXPECT_EQ(part.Find(u"xxab"), 2u);
    EXPECT_EQ(part.Find(u"aab"), 1u);
    EXPECT_EQ(part.Find(u"a"), TextMatcher::npos);
    EXPECT_EQ(part.Find(u"AB"), TextMatcher::npos);
    const TextMatcher whole(u"ab", true, true);
    EXPECT_EQ(whole.Find(u"ab"), 0u);
    EXPECT_EQ(whole.Find(u"abc"), TextMatcher::npos);
    EXPECT_EQ(whole.Find(u"xab"), TextMatcher::npos);
}

TEST(TextMatcher, FoldsCaseAsNamesDoUnlessCaseIsMatched) {
    const TextMatcher folded(u"\u00E9t\u00E9 \u043C\u0438\u0440 \uFF41", false, false);  // été мир ａ
    EXPECT_EQ(folded.Find(u"x\u00C9T\u00C9 \u041C\u0418\u0420 \uFF21"), 1u);
    const TextMatcher sensitive(u"\u00E9t\u00E9", true, false);
    EXPECT_EQ(sensitive.Find(u"\u00C9T\u00C9"), TextMatcher::npos);
    // Folding compares names; it does not equate letters that differ otherwise.
    EXPECT_EQ(TextMatcher(u"e", false, false).Find(u"\u00C9"), TextMatcher::npos);
    const TextMatcher wholeFolded(u"Needle", false, true);
    EXPECT_EQ(wholeFolded.Find(u"nEEDLE"), 0u);
    EXPECT_EQ(wholeFolded.Find(u"needles"), TextMatcher::npos);
    // A near miss before the match does not hide it.
    EXPECT_EQ(TextMatcher(u"aab", false, false).Find(u"AAAB"), 1u);
}

TEST(TextMatcher, AnEmptyPatternMatchesAnyTextAsAPartAndOnlyTheEmptyTextAsAWhole) {
    EXPECT_EQ(TextMatcher(u"", false, false).Find(u"abc"), 0u);
    EXPECT_EQ(TextMatcher(u"", false, true).Find(u"abc"), TextMatcher::npos);
    EXPECT_EQ(TextMatcher(u"", true, true).Find(u""), 0u);
}

}  // namespace
