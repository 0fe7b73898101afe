#include "registry/name_fold.h"

#include <algorithm>

namespace {

// In blocks where capital and small letters alternate, the capital sits on the even or the odd
// code point; this folds the other one down by one.
char16_t foldAlternating(char16_t c, bool capitalIsEven) {
    const bool isEven = (c % 2) == 0;
    return isEven == capitalIsEven ? c : static_cast<char16_t>(c - 1);
}

char16_t foldLatin(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c < 0x00E0) return c == 0x00B5 ? char16_t{0x039C} : c;  // micro sign is Greek mu
    if (c <= 0x00FE) return c == 0x00F7 ? c : static_cast<char16_t>(c - 0x20);
    if (c == 0x00FF) return 0x0178;  // y with diaeresis: its capital lives in Latin Extended-A
    // Latin Extended-A. U+0130/U+0131 (dotted and dotless I), U+0138 (kra), U+0149 and U+017F
    // have no one-unit capital partner that keeps names apart, so they stay as they are.
    if (c <= 0x012F) return foldAlternating(c, true);
    if (c >= 0x0132 && c <= 0x0137) return foldAlternating(c, true);
    if (c >= 0x0139 && c <= 0x0148) return foldAlternating(c, false);
    if (c >= 0x014A && c <= 0x0177) return foldAlternating(c, true);
    if (c >= 0x0179 && c <= 0x017E) return foldAlternating(c, false);
    return c;
}

char16_t foldGreek(char16_t c) {
    switch (c) {
    case 0x03AC: return 0x0386;
    case 0x03AD: return 0x0388;
    case 0x03AE: return 0x0389;
    case 0x03AF: return 0x038A;
    case 0x03C2: return 0x03A3;  // final sigma
    case 0x03CC: return 0x038C;
    case 0x03CD: return 0x038E;
    case 0x03CE: return 0x038F;
    default: break;
    }
    if (c >= 0x03B1 && c <= 0x03CB) return static_cast<char16_t>(c - 0x20);
    return c;
}

char16_t foldCyrillic(char16_t c) {
    if (c >= 0x0430 && c <= 0x044F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x0450 && c <= 0x045F) return static_cast<char16_t>(c - 0x50);
    if (c >= 0x0460 && c <= 0x0481) return foldAlternating(c, true);
    if (c >= 0x048A && c <= 0x04BF) return foldAlternating(c, true);
    if (c >= 0x04C1 && c <= 0x04CE) return foldAlternating(c, false);
    if (c == 0x04CF) return 0x04C0;
    if (c >= 0x04D0 && c <= 0x052F) return foldAlternating(c, true);
    return c;
}

}  // namespace

char16_t foldNameUnit(char16_t c) {
    if (c < 0x0080) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c < 0x0180) return foldLatin(c);
    if (c >= 0x0386 && c <= 0x03CE) return foldGreek(c);
    if (c >= 0x0400 && c <= 0x052F) return foldCyrillic(c);
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);  // full-width a-z
    return c;
}

std::u16string foldName(std::u16string_view name) {
    std::u16string folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(), foldNameUnit);
    return folded;
}

int compareNames(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t fa = foldNameUnit(a[i]);
        const char16_t fb = foldNameUnit(b[i]);
        if (fa != fb) return fa < fb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}
