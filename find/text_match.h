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
    std::size_t find(std::u16string_view text) const;
    bool matches(std::u16string_view text) const { return find(text) != npos; }
    // Find over a text of length units that is not laid out as one: unitAt(i) gives its unit i,
    // so data can be searched where it lies instead of being copied into a text first.
    template <class UnitAt>
    std::size_t findIn(std::size_t length, UnitAt unitAt) const;

    // Whether a unit of a text matches the pattern's unit at index.
    bool unitMatches(char16_t textUnit, std::size_t index) const {
        return (matchCase_ ? textUnit : fold_[textUnit]) == pattern_[index];
    }

    std::size_t patternLength() const { return pattern_.size(); }
    bool wholeText() const { return wholeText_; }

private:
    std::u16string pattern_;  // folded unless matchCase
    bool matchCase_;
    bool wholeText_;
    const char16_t* fold_;  // the registry's folding of every unit, by table
};

template <class UnitAt>
std::size_t TextMatcher::findIn(std::size_t length, UnitAt unitAt) const {
    const std::size_t m = pattern_.size();
    if (wholeText_ && length != m) return npos;
    if (m > length) return npos;
    if (m == 0) return 0;
    const std::size_t last = length - m;
    for (std::size_t i = 0; i <= last; ++i) {
        if (!unitMatches(unitAt(i), 0)) continue;
        std::size_t j = 1;
        while (j < m && unitMatches(unitAt(i + j), j)) ++j;
        if (j == m) return i;
        if (wholeText_) return npos;
    }
    return npos;
}

}  // namespace tovik::find
