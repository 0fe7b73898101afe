#include "editors/keypad_logic.h"

#include <string>

namespace {

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The length of the character that ends just before pos (1, or 2 for a surrogate pair).
std::size_t lengthBefore(const std::u16string& text, std::size_t pos) {
    if (pos >= 2 && isLowSurrogate(text[pos - 1]) && isHighSurrogate(text[pos - 2])) return 2;
    return 1;
}

// The length of the character that starts at pos (0 at the end of the text).
std::size_t lengthAt(const std::u16string& text, std::size_t pos) {
    if (pos >= text.size()) return 0;
    if (pos + 1 < text.size() && isHighSurrogate(text[pos]) && isLowSurrogate(text[pos + 1])) return 2;
    return 1;
}

}  // namespace

void KeypadType(EditBuffer& edit, std::u16string_view text) { edit.ReplaceSel(text); }

void KeypadBackspace(EditBuffer& edit) {
    const EditSelection sel = edit.GetSel();
    if (sel.start < sel.end) {
        edit.ReplaceSel(u"");
    } else if (sel.start > 0) {
        edit.SetSel(sel.start - lengthBefore(edit.GetText(), sel.start), sel.end);
        edit.ScrollCaret();
        edit.ReplaceSel(u"");
    }
}

void SelectCharacterToOverwrite(EditBuffer& edit) {
    const EditSelection sel = edit.GetSel();
    if (sel.start != sel.end) return;
    edit.SetSel(sel.start, sel.start + lengthAt(edit.GetText(), sel.start));
    edit.ScrollCaret();
}
