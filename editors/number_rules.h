#pragma once
// The number editor's logic: a decimal and a hexadecimal edit kept in step, the keypad that types
// into whichever of them last had the focus, and the reading of the decimal text at OK.
#include <optional>
#include <string>
#include <string_view>

#include "editors/edit_buffer.h"
#include "registry/win_types.h"

enum class NumberField { Decimal, Hex };

inline constexpr std::u16string_view kDecimalTooLongMessage = u"10桁以上あります（10進）";
inline constexpr std::u16string_view kHexTooLongMessage = u"8文字以上あります（16進）";
// Asked for when the decimal text at OK is no integer.
inline constexpr std::u16string_view kNotAnIntegerMessage = u"整数を入力してください。";

// What the logic needs from its dialog (or from a test): the two edits, the input focus and
// the message line. Giving the focus to an edit must end in NumberEditorLogic::OnSetFocus.
class NumberEditorHost {
public:
    virtual ~NumberEditorHost() = default;
    virtual EditBuffer& field(NumberField field) = 0;
    virtual bool hasFocus(NumberField field) const = 0;
    virtual void SetFocus(NumberField field) = 0;
    virtual void setMessage(std::u16string_view text) = 0;
};

// "%d" and "%08x" of the 32 bits.
std::u16string formatDecimal(LONG value);
std::u16string formatHex8(LONG value);

// The decimal text as OK reads it: optional blanks, an optional sign, decimal digits, optional
// blanks and nothing else. Numbers beyond the signed 32-bit range clamp to its ends, as the
// decimal rule reads them, so that the hexadecimal edit shows what OK hands over.
// No value for any other text.
std::optional<LONG> readIntegerText(std::u16string_view text);

class NumberEditorLogic {
public:
    explicit NumberEditorLogic(NumberEditorHost& host) : host_(host) {}

    // Opening: both edits show the value, the message line is empty, the keypad types into the
    // decimal edit. The rules do not run on these texts.
    void open(LONG value);
    // A change of an edit's text: the decimal or the hexadecimal rule, which act only while
    // their edit has the focus, so that the texts they write themselves start no rule.
    void OnChange(NumberField field);
    // An edit received the focus: the keypad types into it from now on.
    void OnSetFocus(NumberField field) { target_ = field; }
    NumberField keypadTarget() const { return target_; }

    void keypadKey(std::u16string_view text);
    void keypadBackspace();

private:
    void decimalRule();
    void hexRule();
    void refresh();

    NumberEditorHost& host_;
    NumberField target_ = NumberField::Decimal;
    bool opening_ = false;
};

enum class NumberOkVerdict { Accept, NotAnInteger, NameEmpty };
struct NumberOkResult {
    NumberOkVerdict verdict;
    LONG value = 0;  // the decimal text's number, when it is one
};
// OK: the decimal text must be an integer, then the name must not be empty.
NumberOkResult numberOkRule(std::u16string_view decimalText, std::u16string_view name);
