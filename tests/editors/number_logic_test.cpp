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

    EditBuffer& field(NumberField field) override { return field == NumberField::Decimal ? decimal : hex; }
    bool hasFocus(NumberField field) const override { return focus == field; }
    void SetFocus(NumberField field) override {
        focus = field;
        logic.OnSetFocus(field);
    }
    void setMessage(std::u16string_view text) override { message = text; }

    // The user taps the name edit: neither number edit has the focus.
    void tapName() { focus.reset(); }
    // The user selects everything in an edit and types text over it.
    void typeOver(NumberField which, std::u16string_view text) {
        SetFocus(which);
        field(which).setSel(0, field(which).getText().size());
        field(which).replaceSel(text);
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
        dialog_.tapName();
        dialog_.logic.open(value);
    }
    FakeNumberDialog dialog_;
};

TEST_F(NumberEditorTest, KeypadFollowsTheLastFocusedNumberEditOnly) {
    open(0);
    dialog_.SetFocus(NumberField::Hex);
    dialog_.hex.setSel(0, 8);
    dialog_.logic.keypadKey(u"F");
    EXPECT_EQ(dialog_.hex.getText(), u"F");
    EXPECT_EQ(dialog_.decimal.getText(), u"15");
    // Tapping the name edit leaves the keypad on the hexadecimal edit.
    dialog_.tapName();
    dialog_.logic.keypadKey(u"F");
    EXPECT_EQ(dialog_.logic.keypadTarget(), NumberField::Hex);
    EXPECT_EQ(dialog_.hex.getText(), u"FF");
    EXPECT_EQ(dialog_.decimal.getText(), u"255");
    EXPECT_EQ(dialog_.focus, NumberField::Hex);
}

TEST_F(NumberEditorTest, RulesActOnlyOnTheFocusedEditSoTheyDoNotEchoBack) {
    open(1234);
    dialog_.typeOver(NumberField::Decimal, u"");
    EXPECT_EQ(dialog_.hex.getText(), u"00000000");
    dialog_.typeOver(NumberField::Hex, u"0x10");
    EXPECT_EQ(dialog_.decimal.getText(), u"0");
    dialog_.typeOver(NumberField::Decimal, u"0012");
    EXPECT_EQ(dialog_.hex.getText(), u"0000000c");
    EXPECT_EQ(dialog_.decimal.getText(), u"0012");
    dialog_.typeOver(NumberField::Hex, u"ff");
    EXPECT_EQ(dialog_.decimal.getText(), u"255");
    EXPECT_EQ(dialog_.hex.getText(), u"ff");
    // Text changed by the program while the name edit has the focus starts no rule.
    dialog_.tapName();
    dialog_.decimal.setText(u"7");
    EXPECT_EQ(dialog_.hex.getText(), u"ff");
}

TEST_F(NumberEditorTest, NinthHexCharacterWarnsAndBackspaceRunsTheRuleAgain) {
    open(255);
    dialog_.SetFocus(NumberField::Hex);
    dialog_.hex.setSel(8, 8);
    dialog_.logic.keypadKey(u"1");
    EXPECT_EQ(dialog_.hex.getText(), u"000000ff1");
    EXPECT_EQ(dialog_.message, kHexTooLongMessage);
    EXPECT_EQ(dialog_.decimal.getText(), u"255");
    dialog_.logic.keypadBackspace();
    EXPECT_EQ(dialog_.hex.getText(), u"000000ff");
    EXPECT_EQ(dialog_.message, u"");
    EXPECT_EQ(dialog_.decimal.getText(), u"255");
    // Backspace at the start deletes nothing, yet its rule runs and clears a warning.
    dialog_.logic.keypadKey(u"1");
    ASSERT_EQ(dialog_.message, kHexTooLongMessage);
    dialog_.SetFocus(NumberField::Decimal);
    dialog_.decimal.setSel(0, 0);
    dialog_.logic.keypadBackspace();
    EXPECT_EQ(dialog_.decimal.getText(), u"255");
    EXPECT_EQ(dialog_.message, u"");
    EXPECT_EQ(dialog_.hex.getText(), u"000000ff");
}

TEST_F(NumberEditorTest, TenDecimalCharactersConvertElevenWarn) {
    open(0);
    dialog_.typeOver(NumberField::Decimal, u"1234567890");
    EXPECT_EQ(dialog_.message, u"");
    EXPECT_EQ(dialog_.hex.getText(), u"499602d2");
    dialog_.typeOver(NumberField::Decimal, u"-2147483648");
    EXPECT_EQ(dialog_.message, kDecimalTooLongMessage);
    EXPECT_EQ(dialog_.hex.getText(), u"499602d2");
    // A conversion by the other rule clears the warning.
    dialog_.typeOver(NumberField::Hex, u"1");
    EXPECT_EQ(dialog_.message, u"");
    EXPECT_EQ(dialog_.decimal.getText(), u"1");
}

TEST_F(NumberEditorTest, DecimalBeyondTheRangeClampsAlikeInTheRuleAndAtOk) {
    open(0);
    dialog_.typeOver(NumberField::Decimal, u"9999999999");
    EXPECT_EQ(dialog_.hex.getText(), u"7fffffff");
    EXPECT_EQ(numberOkRule(dialog_.decimal.getText(), u"a").value, INT_MAX);
    EXPECT_EQ(*readIntegerText(u"-9999999999"), INT_MIN);
}

TEST(ReadIntegerTextTest, AcceptsOnlyADecimalIntegerBetweenBlanks) {
    EXPECT_EQ(readIntegerText(u"255"), 255);
    EXPECT_EQ(readIntegerText(u" \t-1 "), -1);
    EXPECT_EQ(readIntegerText(u"+7"), 7);
    EXPECT_EQ(readIntegerText(u"-0"), 0);
    EXPECT_EQ(readIntegerText(u"-2147483648"), INT_MIN);
    for (const std::u16string_view text : {u"", u" ", u"-", u"12A1", u"0x10", u"1 2", u"- 1", u"255(FF)"})
        EXPECT_EQ(readIntegerText(text), std::nullopt) << std::string(text.begin(), text.end());
}

TEST(NumberOkRuleTest, IntegerIsCheckedBeforeTheName) {
    EXPECT_EQ(numberOkRule(u"x", u"").verdict, NumberOkVerdict::NotAnInteger);
    const NumberOkResult noName = numberOkRule(u"5", u"");
    EXPECT_EQ(noName.verdict, NumberOkVerdict::NameEmpty);
    const NumberOkResult ok = numberOkRule(u"-1", u"a");
    EXPECT_EQ(ok.verdict, NumberOkVerdict::Accept);
    EXPECT_EQ(static_cast<DWORD>(ok.value), 0xFFFFFFFFu);
}

}  // namespace
