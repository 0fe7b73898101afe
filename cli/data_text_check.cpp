#include "cli/data_text_check.h"

#include <cstdint>
#include <string>

#include "cli/messages.h"

namespace tovik::cli {

namespace {

bool isDecimalDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

int hexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// A DW number as typed: decimal from -2147483648 to 4294967295 with an optional "(hex)" part that
// agrees, or 0x and one to eight hex digits. The 32 bits it stands for, or nullopt.
std::optional<std::uint32_t> readNumberText(std::u16string_view text, bool& hexPartDisagrees) {
    hexPartDisagrees = false;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    if (text.size() - i > 2 && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        const std::u16string_view digits = text.substr(i + 2);
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        std::uint32_t bits = 0;
        for (char16_t c : digits) {
            const int digit = hexDigitValue(c);
            if (digit < 0) return std::nullopt;
            bits = (bits << 4) | static_cast<unsigned>(digit);
        }
        return bits;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    if (i == text.size() || !isDecimalDigit(text[i])) return std::nullopt;

    std::int64_t magnitude = 0;
    for (; i < text.size() && isDecimalDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > 0xFFFFFFFFll) return std::nullopt;
    }
    if (negative && magnitude > (std::int64_t{1} << 31)) return std::nullopt;
    const auto bits = static_cast<std::uint32_t>(negative ? -magnitude : magnitude);
    if (i == text.size()) return bits;

    // The display's "(hex)" part: ignored by the conversion, so it must not say something else.
    if (text[i] != u'(' || text.back() != u')' || text.size() - i < 3) return std::nullopt;
    std::uint64_t shown = 0;
    for (std::size_t k = i + 1; k + 1 < text.size(); ++k) {
        const int digit = hexDigitValue(text[k]);
        if (digit < 0) return std::nullopt;
        shown = (shown << 4) | static_cast<unsigned>(digit);
        if (shown > 0xFFFFFFFFu) return std::nullopt;
    }
    if (shown != bits) {
        hexPartDisagrees = true;
        return std::nullopt;
    }
    return bits;
}

std::optional<std::string> checkNumberText(std::u16string_view text) {
    bool disagrees = false;
    if (readNumberText(text, disagrees)) return std::nullopt;
    if (disagrees) {
        return say({"the number in parentheses does not match the decimal number of the DW data.",
                    "かっこの中の数がDWのデータの10進数と合いません。"});
    }
    return say({"DW data must be a number that fits in 32 bits: decimal from -2147483648 to 4294967295, such as "
                "260 or 260(104), or hexadecimal after 0x, such as 0x104.",
                "DWのデータは32ビットに収まる数でなければなりません: -2147483648から4294967295までの10進数"
                "（260、260(104) など）か、0x に続く16進数（0x104 など）。"});
}

// A QW number as typed: decimal from -9223372036854775808 to 18446744073709551615, or 0x and one
// to sixteen hex digits. The 64 bits it stands for, or nullopt.
std::optional<std::uint64_t> readQuadText(std::u16string_view text) {
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        const std::u16string_view digits = text.substr(2);
        if (digits.size() > 16) return std::nullopt;
        std::uint64_t bits = 0;
        for (char16_t c : digits) {
            const int digit = hexDigitValue(c);
            if (digit < 0) return std::nullopt;
            bits = (bits << 4) | static_cast<unsigned>(digit);
        }
        return bits;
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    if (i == text.size()) return std::nullopt;
    std::uint64_t magnitude = 0;
    constexpr std::uint64_t kMax = ~std::uint64_t{0};
    for (; i < text.size(); ++i) {
        if (!isDecimalDigit(text[i])) return std::nullopt;
        const unsigned digit = text[i] - u'0';
        if (magnitude > (kMax - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if (negative && magnitude > (std::uint64_t{1} << 63)) return std::nullopt;
    return negative ? 0 - magnitude : magnitude;
}

std::optional<std::string> checkHexBytesText(std::u16string_view text) {
    std::size_t digits = 0;  // in the current token
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u' ') {
            if (digits == 0) {
                return say({"hex bytes must be separated by single spaces, such as 0A FF 00.",
                            "16進のバイトは 0A FF 00 のように空白1つで区切ってください。"});
            }
            digits = 0;
        } else if (hexDigitValue(text[i]) < 0 || ++digits > 2) {
            return say({"data of this type must be hex bytes of one or two digits each, such as 0A FF 00.",
                        "この型のデータは 0A FF 00 のように1桁か2桁の16進のバイトでなければなりません。"});
        }
    }
    return std::nullopt;
}

}  // namespace

std::u16string dataTextToStore(DWORD type, std::u16string_view text) {
    bool disagrees = false;
    if (type != REG_DWORD) return std::u16string(text);
    const auto bits = readNumberText(text, disagrees);
    if (!bits) return std::u16string(text);
    // The shared conversion reads signed decimal only.
    const std::string decimal = std::to_string(static_cast<std::int32_t>(*bits));
    return std::u16string(decimal.begin(), decimal.end());
}

std::optional<Bytes> quadData(std::u16string_view text) {
    const auto bits = readQuadText(text);
    if (!bits) return std::nullopt;
    Bytes data(8);
    for (std::size_t i = 0; i < 8; ++i) data[i] = static_cast<BYTE>(*bits >> (8 * i));
    return data;
}

std::optional<std::string> checkDataText(DWORD type, std::u16string_view text) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: return std::nullopt;
    case REG_DWORD: return checkNumberText(text);
    case REG_QWORD:
        if (readQuadText(text)) return std::nullopt;
        return say({"QW data must be a number that fits in 64 bits: decimal from -9223372036854775808 to "
                    "18446744073709551615, or hexadecimal after 0x, such as 0x1F.",
                    "QWのデータは64ビットに収まる数でなければなりません: -9223372036854775808から"
                    "18446744073709551615までの10進数か、0x に続く16進数（0x1F など）。"});
    default: return checkHexBytesText(text);
    }
}

}  // namespace tovik::cli
