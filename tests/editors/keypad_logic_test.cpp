// Keypad keys, backspace and the binary editor's overwrite mode on an edit without a window.
#include <gtest/gtest.h>

#include "editors/binary_rules.h"
#include "editors/edit_buffer.h"
#include "editors/keypad_logic.h"

namespace {

MemoryEditBuffer editWith(std::u16string text, std::size_t start, std::size_t end) {
    MemoryEditBuffer edit(std::move(text));
    edit.SetSel(start, end);
    return edit;
}

TEST(KeypadTest, KeysReplaceTheSelectionAndLeaveTheCaretAfterTheirText) {
    MemoryEditBuffer edit = editWith(u"12", 1, 1);
    KeypadType(edit, u"000");
    EXPECT_EQ(edit.GetText(), u"10002");
    EXPECT_EQ(edit.GetSel(), (EditSelection{4, 4}));
    edit.SetSel(99, 0);   // past the end counts as the end, either order
    EXPECT_EQ(edit.GetSel(), (EditSelection{0, 5}));
    KeypadType(edit, u"00");
    EXPECT_EQ(edit.GetText(), u"00");
}

TEST(KeypadTest, BackspaceDeletesTheSelectionElseOneCharacterBeforeTheCaret) {
    MemoryEditBuffer selected = editWith(u"0A FF ", 3, 5);
    KeypadBackspace(selected);
    EXPECT_EQ(selected.GetText(), u"0A  ");
    MemoryEditBuffer caret = editWith(u"0A FF ", 2, 2);
    KeypadBackspace(caret);
    EXPECT_EQ(caret.GetText(), u"0 FF ");
    EXPECT_EQ(caret.GetSel(), (EditSelection{1, 1}));
    MemoryEditBuffer start = editWith(u"0A", 0, 0);
    int changes = 0;
    start.onChange = [&] { ++changes; };
    KeypadBackspace(start);
    EXPECT_EQ(start.GetText(), u"0A");
    EXPECT_EQ(changes, 0);
}

TEST(KeypadTest, SurrogatePairIsDeletedAndOverwrittenWhole) {
    const std::u16string smile = u"\U0001F600";
    MemoryEditBuffer edit = editWith(u"a" + smile, 3, 3);
    KeypadBackspace(edit);
    EXPECT_EQ(edit.GetText(), u"a");
    MemoryEditBuffer over = editWith(smile + u"b", 0, 0);
    BinaryKeypadKey(over, true, u"1");
    EXPECT_EQ(over.GetText(), u"1b");
}

TEST(BinaryKeypadTest, InsertModeTypesAtTheCaret) {
    MemoryEditBuffer edit = editWith(u"0A FF ", 2, 2);
    BinaryKeypadKey(edit, false, u"1");
    BinaryKeypadKey(edit, false, u"2");
    EXPECT_EQ(edit.GetText(), u"0A12 FF ");
}

TEST(BinaryKeypadTest, OverwriteModeReplacesTheCharacterAfterTheCaretOrTheSelection) {
    MemoryEditBuffer edit = editWith(u"0A FF ", 0, 0);
    BinaryKeypadKey(edit, true, u"1");
    BinaryKeypadKey(edit, true, u"B");
    BinaryKeypadKey(edit, true, u" ");
    EXPECT_EQ(edit.GetText(), u"1B FF ");
    EXPECT_EQ(edit.GetSel(), (EditSelection{3, 3}));
    edit.SetSel(6, 6);
    BinaryKeypadKey(edit, true, u"C");   // at the end: appended
    EXPECT_EQ(edit.GetText(), u"1B FF C");
    edit.SetSel(3, 5);
    BinaryKeypadKey(edit, true, u"0");
    EXPECT_EQ(edit.GetText(), u"1B 0 C");
}

}  // namespace
