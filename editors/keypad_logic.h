#pragma once
// What the editors' on-screen keys do to an edit. A surrogate pair counts as one character, so
// that no key leaves half of one behind.
#include <string_view>

#include "editors/edit_buffer.h"

// A text key: the key's text replaces the selection, or goes in at the caret.
void keypadType(EditBuffer& edit, std::u16string_view text);

// Backspace: deletes the selection, else the character before the caret; nothing at the start.
void keypadBackspace(EditBuffer& edit);

// Overwrite mode's step before a text key: with nothing selected, selects the character after
// the caret, so that the key's text takes its place. At the end of the text nothing is selected
// and the key's text is appended.
void selectCharacterToOverwrite(EditBuffer& edit);
