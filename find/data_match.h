#pragma once
// Whether a value's data text, as the value list shows it, matches the search text, decided from
// the data where it lies: string data is searched in its own UTF-16 units (a multi-string's
// separators read as "|"), every hexadecimal type against byte patterns made once from the
// search text, and a number is formatted only when the text could be part of its "%d(%X)".
// The answer is always the one that matching the formatted text gives; a search builds the text
// only for the values that match, to show the hit.
#include <bitset>
#include <cstddef>
#include <string>
#include <vector>

#include "find/text_match.h"
#include "registry/win_types.h"

namespace tovik::find {

class DataMatcher {
public:
    explicit DataMatcher(TextMatcher text);

    bool matches(DWORD type, const BYTE* data, std::size_t size);

private:
    // The search text standing at one place in the hexadecimal form "HH HH ... HH ": phase is
    // the first character's place within its three-character byte cell, and bytes[k] holds the
    // byte values that the k-th byte covered by the text may have.
    struct HexPattern {
        std::size_t phase = 0;
        std::vector<std::bitset<256>> bytes;
    };

    bool matchesHex(const BYTE* data, std::size_t size) const;
    // Whether some unit of units matches the search text's unit at index.
    bool matchesAnyOf(std::size_t index, std::u16string_view units) const;

    TextMatcher text_;
    std::vector<HexPattern> hex_;  // the phases at which the text can stand at all
    bool numberCanMatch_ = false;
    std::u16string numberText_;
};

}  // namespace tovik::find
