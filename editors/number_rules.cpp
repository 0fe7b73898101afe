#include "editors/number_rules.h"

#include <cstdint>
#include <cstdio>

#include "editors/keypad_logic.h"
#include "registry/value_types.h"

namespace {

constexpr std::size_t kMaxDecimalChars = 10;
constexpr std::size_t kMaxHexChars = 8;

std::u16string asciiToU16(const char* text) {
    std::u16string out;
    for (; *text; ++text) out.push_back(static_cast<char16_t>(*text));
    return out;
}

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

}  // namespace

std::u16string formatDecimal(LONG value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return asciiToU16(text);
}

std::u16string formatHex8(LONG value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(static_cast<DWORD>(value)));
    return asciiToU16(text);
}

std::optional<LONG> readIntegerText(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    const std::size_t numberStart = i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    const std::size_t digitsStart = i;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') ++i;
    if (i == digitsStart) return std::nullopt;
    const std::size_t numberEnd = i;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i != text.size()) return std::nullopt;
    return decimalTextToLong(text.substr(numberStart, numberEnd - numberStart));
}

void NumberEditorLogic::open(LONG value) {
    opening_ = true;
    host_.field(NumberField::Decimal).setText(formatDecimal(value));
    host_.field(NumberField::Hex).setText(formatHex8(value));
    opening_ = false;
    host_.setMessage(u"");
    target_ = NumberField::Decimal;
}

void NumberEditorLogic::OnChange(NumberField field) {
    if (opening_ || !host_.hasFocus(field)) return;
    if (field == NumberField::Decimal)
        decimalRule();
    else
        hexRule();
}

void NumberEditorLogic::decimalRule() {
    const std::u16string text = host_.field(NumberField::Decimal).getText();
    if (text.size() > kMaxDecimalChars) {
        host_.setMessage(kDecimalTooLongMessage);
        return;
    }
    host_.setMessage(u"");
    host_.field(NumberField::Hex).setText(formatHex8(decimalTextToLong(text)));
}

void NumberEditorLogic::hexRule() {
    const std::u16string text = host_.field(NumberField::Hex).getText();
    if (text.size() > kMaxHexChars) {
        host_.setMessage(kHexTooLongMessage);
        return;
    }
    host_.setMessage(u"");
    host_.field(NumberField::Decimal).setText(formatDecimal(static_cast<LONG>(HexToNumber(text))));
}

// After a key: the target edit takes the focus and its rule brings the other edit in step.
void NumberEditorLogic::refresh() {
    const NumberField target = target_;
    host_.SetFocus(target);
    OnChange(target);
    host_.SetFocus(target);
}

void NumberEditorLogic::keypadKey(std::u16string_view text) {
    keypadType(host_.field(target_), text);
    refresh();
}

void NumberEditorLogic::keypadBackspace() {
    ::keypadBackspace(host_.field(target_));
    refresh();
}

NumberOkResult numberOkRule(std::u16string_view decimalText, std::u16string_view name) {
    const std::optional<LONG> value = readIntegerText(decimalText);
    if (!value) return {NumberOkVerdict::NotAnInteger};
    if (name.empty()) return {NumberOkVerdict::NameEmpty, *value};
    return {NumberOkVerdict::Accept, *value};
}
