#include "cli/data_text_check.h"

#include <cstdint>

namespace tovik::cli {

namespace {

bool IsDecimalDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

std::optional<std::string> CheckNumberText(std::u16string_view text) {
    const std::string refusal =
        "DW data must be a decimal number from -2147483648 to 2147483647, such as 260 or 260(104).";
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    if (i == text.size() || !IsDecimalDigit(text[i])) return refusal;

    std::int64_t magnitude = 0;
    for (; i < text.size() && IsDecimalDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > (std::int64_t{1} << 31)) return refusal;
    }
    if (!negative && magnitude == (std::int64_t{1} << 31)) return refusal;
    if (i == text.size()) return std::nullopt;

    // The display's "(hex)" part: ignored by the conversion, so it must not say something else.
    if (text[i] != u'(' || text.back() != u')' || text.size() - i < 3) return refusal;
    std::uint64_t shown = 0;
    for (std::size_t k = i + 1; k + 1 < text.size(); ++k) {
        const int digit = HexDigitValue(text[k]);
        if (digit < 0) return refusal;
        shown = (shown << 4) | static_cast<unsigned>(digit);
        if (shown > 0xFFFFFFFFu) return refusal;
    }
    const auto bits = static_cast<std::uint32_t>(negative ? -magnitude : magnitude);
    if (shown != bits) return "the number in parentheses does not match the decimal number of the DW data.";
    return std::nullopt;
}

std::optional<std::string> CheckHexBytesText(std::u16string_view text) {
    std::size_t digits = 0;  // in the current token
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u' ') {
            if (digits == 0) return "hex bytes must be separated by single spaces, such as 0A FF 00.";
            digits = 0;
        } else if (HexDigitValue(text[i]) < 0 || ++digits > 2) {
            return "data of this type must be hex bytes of one or two digits each, such as 0A FF 00.";
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckDataText(DWORD type, std::u16string_view text) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_MULTI_SZ:
            return std::nullopt;
        case REG_DWORD:
            return CheckNumberText(text);
        default:
            return CheckHexBytesText(text);
    }
}

}  // namespace tovik::cli
