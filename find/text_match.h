#pragma once
// Matching one search text against names and data texts: case-sensitive or with the case folding
// that the registry uses for names, as a part of the text or as the whole of it.
#include <cstddef>
#include <string>
#include <string_view>

namespace tovik::find {

class TextMatcher {
public:
    static constexpr std::size_t npos = std::u16string_view::npos;

    TextMatcher(std::u16string_view pattern, bool matchCase, bool wholeText);

    // Where the pattern first occurs in text, or npos. With wholeText only 0 (the text is the
    // pattern) or npos. An empty pattern matches at 0 (as a part) or only the empty text (whole).
    std::size_t Find(std::u16string_view text) const;
    bool Matches(std::u16string_view text) const { return Find(text) != npos; }

    std::size_t PatternLength() const { return pattern_.size(); }
    bool WholeText() const { return wholeText_; }

private:
    std::u16string pattern_;  // folded unless matchCase
    bool matchCase_;
    bool wholeText_;
};

}  // namespace tovik::find
