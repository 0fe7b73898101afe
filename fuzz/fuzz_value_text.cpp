// The text forms on untrusted input. The bytes are read twice: as UTF-16 text for the readers
// (HexTextToBytes, HexToNumber, the decimal reading, TextToMultiSz), checked against the C
// library and against each other; and as value data for every type, whose data text must read
// back to the data it was made from.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "registry/value_types.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

std::u16string asText(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    return text;
}

// The text as the C library sees it: ASCII kept, every other unit made a character that stops
// any number.
std::string toNarrow(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) out += c < 0x80 && c != 0 ? static_cast<char>(c) : '#';
    return out;
}

void checkHexReaders(std::u16string_view text) {
    // The buffer is exactly as large as the caller must provide: AddressSanitizer catches any
    // byte written past it.
    const std::size_t spaces = static_cast<std::size_t>(std::count(text.begin(), text.end(), u' '));
    const std::unique_ptr<BYTE[]> out(new BYTE[spaces + 1]);
    const std::size_t count = HexTextToBytes(text, out.get());
    check(count <= spaces + 1, "no more bytes than tokens");
    const Bytes bytes = HexTextToBytes(text);
    check(bytes.size() == count && std::equal(bytes.begin(), bytes.end(), out.get()), "both forms agree");

    // Each byte is the low eight bits of HexToNumber of its token.
    std::size_t k = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u' ') continue;
        const std::u16string_view token = text.substr(start, i - start);
        if (i < text.size() || !token.empty()) {
            check(k < count && bytes[k] == static_cast<BYTE>(HexToNumber(token) & 0xFF), "a byte per token");
            ++k;
        }
        start = i + 1;
    }
    check(k == count, "every byte has its token");

    // HexToNumber keeps the last eight digits of the leading hex digits, as strtoul reads them.
    const std::string narrow = toNarrow(text);
    std::size_t digits = 0;
    while (digits < narrow.size() && std::isxdigit(static_cast<unsigned char>(narrow[digits]))) ++digits;
    const std::string last8 = narrow.substr(digits > 8 ? digits - 8 : 0, std::min<std::size_t>(digits, 8));
    const unsigned long expected = last8.empty() ? 0 : std::strtoul(last8.c_str(), nullptr, 16);
    check(HexToNumber(text) == static_cast<DWORD>(expected), "HexToNumber reads as strtoul does");
}

void checkDecimalReader(std::u16string_view text) {
    const std::string narrow = toNarrow(text);
    errno = 0;
    const long long wide = std::strtoll(narrow.c_str(), nullptr, 10);
    const long long clamped = std::clamp<long long>(wide, INT32_MIN, INT32_MAX);
    check(decimalTextToLong(text) == static_cast<LONG>(clamped), "the decimal reading is strtol's, clamped");
}

void checkMultiSz(std::u16string_view text) {
    const Bytes data = TextToMultiSz(text);
    check(data.size() == 2 * text.size(), "two bytes per character");
    std::u16string expected(text);
    std::replace(expected.begin(), expected.end(), u'\0', u'|');
    check(MultiSzToText(data.data(), data.size()) == expected, "multi-string text reads back");
}

// The data that a data text must give back for a type.
Bytes expectedDataBack(DWORD type, const std::uint8_t* data, std::size_t size) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::size_t units = 0;
        while (units < size / 2 && (data[2 * units] | data[2 * units + 1]) != 0) ++units;
        return Bytes(data, data + 2 * units);
    }
    case REG_DWORD: {
        Bytes four(4, 0);
        std::copy(data, data + std::min<std::size_t>(size, 4), four.begin());
        return four;
    }
    case REG_MULTI_SZ: {
        Bytes units(data, data + size / 2 * 2);
        for (std::size_t i = 0; i < units.size(); i += 2) {
            if (units[i] == '|' && units[i + 1] == 0) units[i] = 0;
        }
        return units;
    }
    default: return Bytes(data, data + size);
    }
}

void checkDataTexts(const std::uint8_t* data, std::size_t size) {
    const std::size_t maxChars = size > 0 ? data[0] : 0;
    for (const DWORD type : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 0xFFFFFFFFu}) {
        const FormattedValue v = FormatValue(type, data, size);
        check(v.tag == typeTag(type), "the tag is the type's");
        check(valueDataFromText(type, v.text) == expectedDataBack(type, data, size), "the data text reads back");
        check(formatValueText(type, data, size, maxChars) == v.text.substr(0, maxChars), "a cut text is a prefix");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = asText(data, size);
    checkHexReaders(text);
    checkDecimalReader(text);
    checkMultiSz(text);
    checkDataTexts(data, size);
    return 0;
}
