#include "editors/keypad_logic.h"

#include <string>

namespace {

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

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

void keypadType(EditBuffer& edit, std::u16string_view text) {
    edit.replaceSel(text);
}

void keypadBackspace(EditBuffer& edit) {
    const EditSelection sel = edit.getSel();
    if (sel.start < sel.end) {
        edit.replaceSel(u"");
    } else if (sel.start > 0) {
        edit.setSel(sel.start - lengthBefore(edit.getText(), sel.start), sel.end);
        edit.scrollCaret();
        edit.replaceSel(u"");
    }
}

void selectCharacterToOverwrite(EditBuffer& edit) {
    const EditSelection sel = edit.getSel();
    if (sel.start != sel.end) return;
    edit.setSel(sel.start, sel.start + lengthAt(edit.getText(), sel.start));
    edit.scrollCaret();
}
