#include "find/text_match.h"

#include <array>
#include <memory>

#include "registry/name_fold.h"

namespace tovik::find {

namespace {

// Folding by table: a search folds every character of every data text it reads.
const std::array<char16_t, 0x10000>& foldTable() {
    static const std::unique_ptr<std::array<char16_t, 0x10000>> table = [] {
        auto t = std::make_unique<std::array<char16_t, 0x10000>>();
        for (std::size_t c = 0; c < t->size(); ++c) (*t)[c] = FoldNameUnit(static_cast<char16_t>(c));
        return t;
    }();
    return *table;
}

}  // namespace

TextMatcher::TextMatcher(std::u16string_view pattern, bool matchCase, bool wholeText)
    : pattern_(pattern), matchCase_(matchCase), wholeText_(wholeText) {
    if (!matchCase_) {
        const auto& fold = foldTable();
        for (char16_t& c : pattern_) c = fold[c];
    }
}

std::size_t TextMatcher::Find(std::u16string_view text) const {
    const std::size_t m = pattern_.size();
    if (wholeText_ && text.size() != m) return npos;
    if (m > text.size()) return npos;
    if (matchCase_) {
        if (wholeText_) return text == pattern_ ? 0 : npos;
        return text.find(pattern_);
    }
    if (m == 0) return 0;
    const auto& fold = foldTable();
    const char16_t first = pattern_[0];
    const std::size_t last = text.size() - m;
    for (std::size_t i = 0; i <= last; ++i) {
        if (fold[text[i]] != first) continue;
        std::size_t j = 1;
        while (j < m && fold[text[i + j]] == pattern_[j]) ++j;
        if (j == m) return i;
        if (wholeText_) return npos;
    }
    return npos;
}

}  // namespace tovik::find
