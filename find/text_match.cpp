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
        for (std::size_t c = 0; c < t->size(); ++c) (*t)[c] = foldNameUnit(static_cast<char16_t>(c));
        return t;
    }();
    return *table;
}

}  // namespace

TextMatcher::TextMatcher(std::u16string_view pattern, bool matchCase, bool wholeText)
    : pattern_(pattern), matchCase_(matchCase), wholeText_(wholeText), fold_(foldTable().data()) {
    if (!matchCase_) {
        for (char16_t& c : pattern_) c = fold_[c];
    }
}

std::size_t TextMatcher::find(std::u16string_view text) const {
    if (matchCase_) {
        if (wholeText_) return text == pattern_ ? 0 : npos;
        return text.find(pattern_);
    }
    return findIn(text.size(), [text](std::size_t i) { return text[i]; });
}

}  // namespace tovik::find
