#pragma once
// A multi-line edit keeps line breaks as its own separators: CR LF, a lone CR or LF and U+2029
// all come back from it alike. MultiLineText remembers the text handed to the edit, so that what
// the user left alone comes back exactly as it was, and only newly typed breaks take a form of
// their own (CR LF, the form of the registry's device).
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class MultiLineText {
public:
    // Every line break of the shown text; the edit hands back the same character.
    static constexpr char16_t kBreak = u'\u2029';

    MultiLineText() : sourceOffset_{0} {}
    explicit MultiLineText(std::u16string_view text);

    // The text for the edit: each line break as one kBreak.
    const std::u16string& shown() const { return shown_; }
    // The text that the edit's current contents stand for.
    std::u16string textFor(std::u16string_view shownNow) const;

private:
    std::u16string original_;
    std::u16string shown_;
    // sourceOffset_[i]: where the character shown at i starts in original_; one more entry for the end.
    std::vector<std::size_t> sourceOffset_;
};
