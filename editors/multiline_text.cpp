#include "editors/multiline_text.h"

#include <algorithm>

namespace {

// The separators a text document makes a line break of, besides CR LF.
bool isBreak(char16_t c) {
    return c == u'\r' || c == u'\n' || c == u'\u2029' || c == u'\uFDD0' || c == u'\uFDD1';
}

}  // namespace

MultiLineText::MultiLineText(std::u16string_view text) : original_(text) {
    shown_.reserve(text.size());
    sourceOffset_.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        sourceOffset_.push_back(i);
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            shown_.push_back(kBreak);
            ++i;
        } else {
            shown_.push_back(isBreak(text[i]) ? kBreak : text[i]);
        }
    }
    sourceOffset_.push_back(text.size());
}

std::u16string MultiLineText::textFor(std::u16string_view now) const {
    if (now == shown_) return original_;
    // The unchanged stretches at both ends keep their original characters.
    const std::size_t limit = std::min(now.size(), shown_.size());
    std::size_t prefix = 0;
    while (prefix < limit && now[prefix] == shown_[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < limit - prefix && now[now.size() - 1 - suffix] == shown_[shown_.size() - 1 - suffix]) ++suffix;

    std::u16string text(original_, 0, sourceOffset_[prefix]);
    for (const char16_t c : now.substr(prefix, now.size() - prefix - suffix)) {
        if (c == kBreak)
            text += u"\r\n";
        else
            text.push_back(c);
    }
    text.append(original_, sourceOffset_[shown_.size() - suffix], std::u16string::npos);
    return text;
}
