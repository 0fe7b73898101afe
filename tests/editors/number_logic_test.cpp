// The number editor's rules and keypad on two edits without windows. The fake dialog notifies
// the logic of every text change, as the edit controls do, and tracks the focus.
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "editors/number_rules.h"

namespace {

class FakeNumberDialog : public NumberEditorHost {
public:
    FakeNumberDialog() {
        decimal.onChange = [this] { logic.OnChange(NumberField::Decimal); };
        hex.onChange = [this] { logic.OnChange(NumberField::Hex); };
    }

    EditBuffer& Field(NumberField field) override { return field == NumberField::Decimal ? decimal : hex; }
    bool HasFocus(NumberField field) const override { return focus == field; }
    void SetFocus(NumberField field) override {
        focus = field;
        logic.OnSetFocus(field);
    }
    void SetMessage(std::u16string_view text) override { message = text; }

    // The user taps the name edit: neither number edit has the focus.
    void tapName() { focus.reset(); }
    // The user selects everything in an edit and types text over it.
    void typeOver(NumberField field, std::u16string_view text) {
        SetFocus(field);
        Field(field).SetSel(0, Field(field).GetText().size());
        Field(field).ReplaceSel(text);
    }

    MemoryEditBuffer decimal;
    MemoryEditBuffer hex;
    std::optional<NumberField> focus;
    std::u16string message = u"Msg";
    NumberEditorLogic logic{*this};
};

class NumberEditorTest : public ::testing::Test {
protected:
    void open(LONG value) {
        dialog.tapName();
        dialog.logic.Open(value);
    }
    FakeNumberDialog dialog;
};

TEST_F(NumberEditorTest, KeypadFollowsTheLastFocusedNumberEditOnly) {
    open(0);
    dialog.SetFocus(NumberField::Hex);
    dialog.hex.SetSel(0, 8);
    dialog.logic.KeypadKey(u"F");
    EXPECT_EQ(dialog.hex.GetText(), u"F");
    EXPECT_EQ(dialog.decimal.GetText(), u"15");
    // Tapping the name edit leaves the keypad on the hexadecimal edit.
    dialog.tapName();
    dialog.logic.KeypadKey(u"F");
    EXPECT_EQ(dialog.logic.KeypadTarget(), NumberField::Hex);
    EXPECT_EQ(dialog.hex.GetText(), u"FF");
    EXPECT_EQ(dialog.decimal.GetText(), u"255");
    EXPECT_EQ(dialog.focus, NumberField::Hex);
}

TEST_F(NumberEditorTest, RulesActOnlyOnTheFocusedEditSoTheyDoNotEchoBack) {
    open(1234);
    dialog.typeOver(NumberField::Decimal, u"");
    EXPECT_EQ(dialog.hex.GetText(), u"00000000");
    dialog.typeOver(NumberField::Hex, u"0x10");
    EXPECT_EQ(dialog.decimal.GetText(), u"0");
    dialog.typeOver(NumberField::Decimal, u"0012");
    EXPECT_EQ(dialog.hex.GetText(), u"0000000c");
    EXPECT_EQ(dialog.decimal.GetText(), u"0012");
    dialog.typeOver(NumberField::Hex, u"ff");
    EXPECT_EQ(dialog.decimal.GetText(), u"255");
    EXPECT_EQ(dialog.hex.GetText(), u"ff");
    // Text changed by the program while the name edit has the focus starts no rule.
    dialog.tapName();
    dialog.decimal.SetText(u"7");
    EXPECT_EQ(dialog.hex.GetText(), u"ff");
}

TEST_F(NumberEditorTest, NinthHexCharacterWarnsAndBackspaceRunsTheRuleAgain) {
    open(255);
    dialog.SetFocus(NumberField::Hex);
    dialog.hex.SetSel(8, 8);
    dialog.logic.KeypadKey(u"1");
    EXPECT_EQ(dialog.hex.GetText(), u"000000ff1");
    EXPECT_EQ(dialog.message, kHexTooLongMessage);
    EXPECT_EQ(dialog.decimal.GetText(), u"255");
    dialog.logic.KeypadBackspace();
    EXPECT_EQ(dialog.hex.GetText(), u"000000ff");
    EXPECT_EQ(dialog.message, u"");
    EXPECT_EQ(dialog.decimal.GetText(), u"255");
    // Backspace at the start deletes nothing, yet its rule runs and clears a warning.
    dialog.logic.KeypadKey(u"1");
    ASSERT_EQ(dialog.message, kHexTooLongMessage);
    dialog.SetFocus(NumberField::Decimal);
    dialog.decimal.SetSel(0, 0);
    dialog.logic.KeypadBackspace();
    EXPECT_EQ(dialog.decimal.GetText(), u"255");
    EXPECT_EQ(dialog.message, u"");
    EXPECT_EQ(dialog.hex.GetText(), u"000000ff");
}

TEST_F(NumberEditorTest, TenDecimalCharactersConvertElevenWarn) {
    open(0);
    dialog.typeOver(NumberField::Decimal, u"1234567890");
    EXPECT_EQ(dialog.message, u"");
    EXPECT_EQ(dialog.hex.GetText(), u"499602d2");
    dialog.typeOver(NumberField::Decimal, u"-2147483648");
    EXPECT_EQ(dialog.message, kDecimalTooLongMessage);
    EXPECT_EQ(dialog.hex.GetText(), u"499602d2");
    // A conversion by the other rule clears the warning.
    dialog.typeOver(NumberField::Hex, u"1");
    EXPECT_EQ(dialog.message, u"");
    EXPECT_EQ(dialog.decimal.GetText(), u"1");
}

TEST_F(NumberEditorTest, DecimalBeyondTheRangeClampsAlikeInTheRuleAndAtOk) {
    open(0);
    dialog.typeOver(NumberField::Decimal, u"9999999999");
    EXPECT_EQ(dialog.hex.GetText(), u"7fffffff");
    EXPECT_EQ(NumberOkRule(dialog.decimal.GetText(), u"a").value, INT_MAX);
    EXPECT_EQ(*ReadIntegerText(u"-9999999999"), INT_MIN);
}

TEST(ReadIntegerTextTest, AcceptsOnlyADecimalIntegerBetweenBlanks) {
    EXPECT_EQ(ReadIntegerText(u"255"), 255);
    EXPECT_EQ(ReadIntegerText(u" \t-1 "), -1);
    EXPECT_EQ(ReadIntegerText(u"+7"), 7);
    EXPECT_EQ(ReadIntegerText(u"-0"), 0);
    EXPECT_EQ(ReadIntegerText(u"-2147483648"), INT_MIN);
    for (const std::u16string_view text : {u"", u" ", u"-", u"12A1", u"0x10", u"1 2", u"- 1", u"255(FF)"})
        EXPECT_EQ(ReadIntegerText(text), std::nullopt) << std::string(text.begin(), text.end());
}

TEST(NumberOkRuleTest, IntegerIsCheckedBeforeTheName) {
    EXPECT_EQ(NumberOkRule(u"x", u"").verdict, NumberOkVerdict::NotAnInteger);
    const NumberOkResult noName = NumberOkRule(u"5", u"");
    EXPECT_EQ(noName.verdict, NumberOkVerdict::NameEmpty);
    const NumberOkResult ok = NumberOkRule(u"-1", u"a");
    EXPECT_EQ(ok.verdict, NumberOkVerdict::Accept);
    EXPECT_EQ(static_cast<DWORD>(ok.value), 0xFFFFFFFFu);
}

}  // namespace
