#include "find/data_match.h"

#include <utility>

#include "registry/value_types.h"

namespace tovik::find {

namespace {

constexpr std::u16string_view kHexDigits = u"0123456789ABCDEF";
// Every character of a number's text, "-2147483648(80000000)" being the longest.
constexpr std::u16string_view kNumberUnits = u"0123456789ABCDEF()-";
constexpr std::size_t kLongestNumberText = 21;
constexpr std::size_t kCellChars = 3;  // two hex digits and a space per byte

// Data need not be aligned, so units are assembled byte by byte, little-endian.
inline char16_t unitAt(const BYTE* data, std::size_t index) {
    return static_cast<char16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

}  // namespace

DataMatcher::DataMatcher(TextMatcher text) : text_(std::move(text)) {
    const std::size_t m = text_.patternLength();
    numberCanMatch_ = m <= kLongestNumberText;
    for (std::size_t j = 0; j < m && numberCanMatch_; ++j) numberCanMatch_ = matchesAnyOf(j, kNumberUnits);

    for (std::size_t phase = 0; phase < kCellChars; ++phase) {
        HexPattern pattern;
        pattern.phase = phase;
        pattern.bytes.assign(m == 0 ? 0 : (phase + m - 1) / kCellChars + 1, std::bitset<256>().set());
        bool possible = true;
        for (std::size_t j = 0; j < m && possible; ++j) {
            const std::size_t place = phase + j;
            const std::size_t offset = place % kCellChars;
            if (offset == 2) {
                possible = text_.unitMatches(u' ', j);
                continue;
            }
            // The digit of the high (offset 0) or low (offset 1) half of the byte.
            std::bitset<256>& allowed = pattern.bytes[place / kCellChars];
            for (unsigned b = 0; b < 256; ++b) {
                const unsigned digit = offset == 0 ? b >> 4 : b & 0xF;
                if (!text_.unitMatches(kHexDigits[digit], j)) allowed.reset(b);
            }
            possible = allowed.any();
        }
        if (possible) hex_.push_back(std::move(pattern));
    }
}

bool DataMatcher::matchesAnyOf(std::size_t index, std::u16string_view units) const {
    for (const char16_t unit : units)
        if (text_.unitMatches(unit, index)) return true;
    return false;
}

bool DataMatcher::matches(DWORD type, const BYTE* data, std::size_t size) {
    if (data == nullptr) size = 0;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        // The text ends at the first zero unit.
        const std::size_t units = size / 2;
        std::size_t length = 0;
        while (length < units && unitAt(data, length) != 0) ++length;
        return text_.findIn(length, [data](std::size_t i) { return unitAt(data, i); }) != TextMatcher::npos;
    }
    case REG_MULTI_SZ:
        return text_.findIn(size / 2, [data](std::size_t i) {
            const char16_t unit = unitAt(data, i);
            return unit == 0 ? u'|' : unit;
        }) != TextMatcher::npos;
    case REG_DWORD:
        if (!numberCanMatch_) return false;
        numberText_.clear();
        appendValueText(numberText_, type, data, size);
        return text_.matches(numberText_);
    default: return matchesHex(data, size);
    }
}

bool DataMatcher::matchesHex(const BYTE* data, std::size_t size) const {
    const std::size_t m = text_.patternLength();
    const std::size_t textLength = size * kCellChars;
    if (text_.wholeText() && textLength != m) return false;
    if (m > textLength) return false;
    if (m == 0) return true;
    for (const HexPattern& pattern : hex_) {
        if (text_.wholeText() && pattern.phase != 0) continue;
        const std::size_t count = pattern.bytes.size();
        // The text starts at character kCellChars * i + phase and must end within the form.
        for (std::size_t i = 0; kCellChars * i + pattern.phase + m <= textLength; ++i) {
            std::size_t k = 0;
            while (k < count && pattern.bytes[k].test(data[i + k])) ++k;
            if (k == count) return true;
        }
    }
    return false;
}

}  // namespace tovik::find
