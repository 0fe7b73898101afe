// Matching the search text: parts and whole texts, with and without the registry's case folding.
#include <gtest/gtest.h>

#include "find/text_match.h"

namespace {

using tovik::find::TextMatcher;

TEST(TextMatcher, FindsThePatternAsAPartOrAsTheWholeText) {
    const TextMatcher part(u"ab", true, false);
    EXPECT_EQ(part.find(u"xxab"), 2u);
    EXPECT_EQ(part.find(u"aab"), 1u);
    EXPECT_EQ(part.find(u"a"), TextMatcher::npos);
    EXPECT_EQ(part.find(u"AB"), TextMatcher::npos);
    const TextMatcher whole(u"ab", true, true);
    EXPECT_EQ(whole.find(u"ab"), 0u);
    EXPECT_EQ(whole.find(u"abc"), TextMatcher::npos);
    EXPECT_EQ(whole.find(u"xab"), TextMatcher::npos);
}

TEST(TextMatcher, FoldsCaseAsNamesDoUnlessCaseIsMatched) {
    const TextMatcher folded(u"\u00E9t\u00E9 \u043C\u0438\u0440 \uFF41", false, false);  // été мир ａ
    EXPECT_EQ(folded.find(u"x\u00C9T\u00C9 \u041C\u0418\u0420 \uFF21"), 1u);
    const TextMatcher sensitive(u"\u00E9t\u00E9", true, false);
    EXPECT_EQ(sensitive.find(u"\u00C9T\u00C9"), TextMatcher::npos);
    // Folding compares names; it does not equate letters that differ otherwise.
    EXPECT_EQ(TextMatcher(u"e", false, false).find(u"\u00C9"), TextMatcher::npos);
    const TextMatcher wholeFolded(u"Needle", false, true);
    EXPECT_EQ(wholeFolded.find(u"nEEDLE"), 0u);
    EXPECT_EQ(wholeFolded.find(u"needles"), TextMatcher::npos);
    // A near miss before the match does not hide it.
    EXPECT_EQ(TextMatcher(u"aab", false, false).find(u"AAAB"), 1u);
}

TEST(TextMatcher, AnEmptyPatternMatchesAnyTextAsAPartAndOnlyTheEmptyTextAsAWhole) {
    EXPECT_EQ(TextMatcher(u"", false, false).find(u"abc"), 0u);
    EXPECT_EQ(TextMatcher(u"", false, true).find(u"abc"), TextMatcher::npos);
    EXPECT_EQ(TextMatcher(u"", true, true).find(u""), 0u);
}

}  // namespace
