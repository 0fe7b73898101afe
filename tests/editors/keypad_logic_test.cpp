// Keypad keys, backspace and the binary editor's overwrite mode on an edit without a window.
#include <gtest/gtest.h>

#include "editors/binary_rules.h"
#include "editors/edit_buffer.h"
#include "editors/keypad_logic.h"

namespace {

MemoryEditBuffer editWith(std::u16string text, std::size_t start, std::size_t end) {
    MemoryEditBuffer edit(std::move(text));
    edit.setSel(start, end);
    return edit;
}

TEST(KeypadTest, KeysReplaceTheSelectionAndLeaveTheCaretAfterTheirText) {
    MemoryEditBuffer edit = editWith(u"12", 1, 1);
    keypadType(edit, u"000");
    EXPECT_EQ(edit.getText(), u"10002");
    EXPECT_EQ(edit.getSel(), (EditSelection{4, 4}));
    edit.setSel(99, 0);  // past the end counts as the end, either order
    EXPECT_EQ(edit.getSel(), (EditSelection{0, 5}));
    keypadType(edit, u"00");
    EXPECT_EQ(edit.getText(), u"00");
}

TEST(KeypadTest, BackspaceDeletesTheSelectionElseOneCharacterBeforeTheCaret) {
    MemoryEditBuffer selected = editWith(u"0A FF ", 3, 5);
    keypadBackspace(selected);
    EXPECT_EQ(selected.getText(), u"0A  ");
    MemoryEditBuffer caret = editWith(u"0A FF ", 2, 2);
    keypadBackspace(caret);
    EXPECT_EQ(caret.getText(), u"0 FF ");
    EXPECT_EQ(caret.getSel(), (EditSelection{1, 1}));
    MemoryEditBuffer start = editWith(u"0A", 0, 0);
    int changes = 0;
    start.onChange = [&] { ++changes; };
    keypadBackspace(start);
    EXPECT_EQ(start.getText(), u"0A");
    EXPECT_EQ(changes, 0);
}

TEST(KeypadTest, SurrogatePairIsDeletedAndOverwrittenWhole) {
    const std::u16string smile = u"\U0001F600";
    MemoryEditBuffer edit = editWith(u"a" + smile, 3, 3);
    keypadBackspace(edit);
    EXPECT_EQ(edit.getText(), u"a");
    MemoryEditBuffer over = editWith(smile + u"b", 0, 0);
    binaryKeypadKey(over, true, u"1");
    EXPECT_EQ(over.getText(), u"1b");
}

TEST(BinaryKeypadTest, InsertModeTypesAtTheCaret) {
    MemoryEditBuffer edit = editWith(u"0A FF ", 2, 2);
    binaryKeypadKey(edit, false, u"1");
    binaryKeypadKey(edit, false, u"2");
    EXPECT_EQ(edit.getText(), u"0A12 FF ");
}

TEST(BinaryKeypadTest, OverwriteModeReplacesTheCharacterAfterTheCaretOrTheSelection) {
    MemoryEditBuffer edit = editWith(u"0A FF ", 0, 0);
    binaryKeypadKey(edit, true, u"1");
    binaryKeypadKey(edit, true, u"B");
    binaryKeypadKey(edit, true, u" ");
    EXPECT_EQ(edit.getText(), u"1B FF ");
    EXPECT_EQ(edit.getSel(), (EditSelection{3, 3}));
    edit.setSel(6, 6);
    binaryKeypadKey(edit, true, u"C");  // at the end: appended
    EXPECT_EQ(edit.getText(), u"1B FF C");
    edit.setSel(3, 5);
    binaryKeypadKey(edit, true, u"0");
    EXPECT_EQ(edit.getText(), u"1B 0 C");
}

}  // namespace
