#include "registry/utf8.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tovik {

namespace {

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Writes cp's UTF-8 bytes at to; returns the end of what it wrote.
char* encodeCodePoint(char* to, char32_t cp) {
    if (cp < 0x80) {
        *to++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *to++ = static_cast<char>(0xC0 | (cp >> 6));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *to++ = static_cast<char>(0xE0 | (cp >> 12));
        *to++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *to++ = static_cast<char>(0xF0 | (cp >> 18));
        *to++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *to++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return to;
}

}  // namespace

std::optional<std::u16string> utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length;
        char32_t cp;
        char32_t minimum;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, cp = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, cp = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, cp = lead & 0x07, minimum = 0x10000;
        } else {
            return std::nullopt;  // a stray continuation byte or 0xF8..0xFF
        }
        if (utf8.size() - i < length) return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + k]);
            if (!isContinuation(c)) return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

void appendUtf8(std::string& out, std::u16string_view text) {
    // A piece at a time: room for its longest encoding (three bytes a unit; a surrogate pair is
    // four bytes of two units), written through a pointer and cut to what was written, so that a
    // long text never holds more than a piece's worth of spare room.
    constexpr std::size_t kPieceUnits = 4096;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t end = std::min(text.size(), i + kPieceUnits);
        const std::size_t start = out.size();
        out.resize(start + 3 * (end - i) + 1);  // one more: a pair may end one unit past the piece
        char* const begin = out.data() + start;
        char* to = begin;
        for (; i < end; ++i) {
            if constexpr (std::endian::native == std::endian::little) {
                // Runs of ASCII, most of any registry, four units at a time.
                std::uint64_t four = 0;
                while (i + 4 <= end && (std::memcpy(&four, text.data() + i, 8), (four & 0xFF80FF80FF80FF80ull) == 0)) {
                    to[0] = static_cast<char>(four);
                    to[1] = static_cast<char>(four >> 16);
                    to[2] = static_cast<char>(four >> 32);
                    to[3] = static_cast<char>(four >> 48);
                    to += 4;
                    i += 4;
                }
                if (i == end) break;
            }
            const char16_t unit = text[i];
            if (unit < 0x80) {
                *to++ = static_cast<char>(unit);
                continue;
            }
            char32_t cp = unit;
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                cp = 0xFFFD;  // a lone surrogate
            }
            to = encodeCodePoint(to, cp);
        }
        out.resize(start + static_cast<std::size_t>(to - begin));
    }
}

std::optional<std::string> utf16ToUtf8Exact(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xDC00 && text[i] <= 0xDFFF) return std::nullopt;
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
            ++i;
        }
    }
    return utf16ToUtf8(text);
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    appendUtf8(out, text);
    return out;
}

}  // namespace tovik
