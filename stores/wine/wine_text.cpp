#include "stores/wine/wine_text.h"

#include <cstdio>

namespace tovik::wine {
namespace {

// Bytes following a UTF-8 lead byte of 0x80 and above, 0 for bytes that cannot lead.
int utf8Followers(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 1;
    if (lead >= 0xE0 && lead <= 0xEF) return 2;
    if (lead >= 0xF0 && lead <= 0xF4) return 3;
    return 0;
}

void appendFormatted(std::string& out, const char* format, unsigned value) {
    char buffer[16];
    const int n = std::snprintf(buffer, sizeof buffer, format, value);
    out.append(buffer, static_cast<std::size_t>(n));
}

}  // namespace

bool isBlankLine(std::string_view line) {
    for (char c : line)
        if (!isSpace(c)) return false;
    return true;
}

long parseEscaped(std::string_view src, char delimiter, std::u16string& out) {
    const std::size_t n = src.size();
    std::size_t p = 0;
    auto at = [&](std::size_t i) { return i < n ? src[i] : '\0'; };
    while (at(p) != '\0' && at(p) != delimiter) {
        if (at(p) == '\\') {
            ++p;
            const char e = at(p);
            if (e == '\0') break;
            char16_t simple = 0;
            switch (e) {
            case 'a': simple = u'\a'; break;
            case 'b': simple = u'\b'; break;
            case 'e': simple = 0x1B; break;
            case 'f': simple = u'\f'; break;
            case 'n': simple = u'\n'; break;
            case 'r': simple = u'\r'; break;
            case 't': simple = u'\t'; break;
            case 'v': simple = u'\v'; break;
            default: break;
            }
            if (simple != 0) {
                out.push_back(simple);
                ++p;
                continue;
            }
            if (e == 'x') {
                ++p;
                if (!isHexDigit(at(p))) {
                    out.push_back(u'x');
                    continue;
                }
                char16_t value = 0;
                for (int digits = 0; digits < 4 && isHexDigit(at(p)); ++digits, ++p)
                    value = static_cast<char16_t>(value * 16 + hexDigitValue(at(p)));
                out.push_back(value);
                continue;
            }
            if (e >= '0' && e <= '7') {
                char16_t value = 0;
                for (int digits = 0; digits < 3 && at(p) >= '0' && at(p) <= '7'; ++digits, ++p)
                    value = static_cast<char16_t>(value * 8 + (at(p) - '0'));
                out.push_back(value);
                continue;
            }
            // Any other escaped character stands for itself.
        }
        const auto ch = static_cast<unsigned char>(at(p++));
        if (ch < 0x80) {
            out.push_back(ch);
            continue;
        }
        const int followers = utf8Followers(ch);
        if (followers == 0) continue;
        static const unsigned char masks[4] = {0x7F, 0x1F, 0x0F, 0x07};
        static const std::uint32_t minimum[4] = {0, 0x80, 0x800, 0x10000};
        std::uint32_t code = ch & masks[followers];
        bool complete = true;
        for (int i = 0; i < followers; ++i) {
            const unsigned char next = static_cast<unsigned char>(at(p)) ^ 0x80;
            if (next >= 0x40) {
                complete = false;
                break;
            }
            code = (code << 6) | next;
            ++p;
        }
        if (!complete || code < minimum[followers] || code > 0x10FFFF) continue;
        if (code <= 0xFFFF) {
            out.push_back(static_cast<char16_t>(code));
        } else {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 | (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 | (code & 0x3FF)));
        }
    }
    if (at(p) == '\0') return -1;
    return static_cast<long>(p + 1);
}

void appendEscaped(std::string& out, std::u16string_view text, const char quoted[2]) {
    static const char escapes[33] = ".......abtnvfr.............e....";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool hasNext = i + 1 < text.size();
        const char16_t next = hasNext ? text[i + 1] : 0;
        if (c > 127) {
            // A hex escape is padded when the next character would read as one more digit.
            const bool pad = hasNext && next < 128 && isHexDigit(static_cast<char>(next));
            appendFormatted(out, pad ? "\\x%04x" : "\\x%x", c);
            continue;
        }
        if (c < 32) {
            if (escapes[c] != '.') {
                out.push_back('\\');
                out.push_back(escapes[c]);
            } else {
                const bool pad = hasNext && next >= u'0' && next <= u'7';
                appendFormatted(out, pad ? "\\%03o" : "\\%o", c);
            }
            continue;
        }
        const char ascii = static_cast<char>(c);
        if (ascii == '\\' || ascii == quoted[0] || ascii == quoted[1]) out.push_back('\\');
        out.push_back(ascii);
    }
}

void appendValueLine(std::string& out, std::u16string_view name, std::uint32_t type, std::string_view data) {
    constexpr std::uint32_t kSz = 1, kExpandSz = 2, kBinary = 3, kDword = 4, kMultiSz = 7;
    const std::size_t lineStart = out.size();
    if (!name.empty()) {
        out.push_back('"');
        appendEscaped(out, name, "\"\"");
        out += "\"=";
    } else {
        out += "@=";
    }
    if (type == kSz || type == kExpandSz || type == kMultiSz) {
        // Only properly terminated strings are written as strings.
        const bool terminated =
            data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 1] == 0 && data[data.size() - 2] == 0;
        if (terminated) {
            if (type != kSz) appendFormatted(out, "str(%x):", type);
            out.push_back('"');
            std::u16string units(data.size() / 2 - 1, u'\0');
            for (std::size_t i = 0; i < units.size(); ++i)
                units[i] = static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                                                 (static_cast<unsigned char>(data[2 * i + 1]) << 8));
            appendEscaped(out, units, "\"\"");
            out += "\"\n";
            return;
        }
    } else if (type == kDword && data.size() == 4) {
        unsigned value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
        appendFormatted(out, "dword:%08x\n", value);
        return;
    }
    if (type == kBinary)
        out += "hex:";
    else
        appendFormatted(out, "hex(%x):", type);
    // Wine counts the name, tag and bytes of the current line and breaks after a comma once
    // more than 76 characters are on it.
    std::size_t count = out.size() - lineStart;
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 15]);
        count += 2;
        if (i + 1 < data.size()) {
            out.push_back(',');
            if (++count > 76) {
                out += "\\\n  ";
                count = 2;
            }
        }
    }
    out.push_back('\n');
}

std::uint32_t parseHexNumber(std::string_view text, std::size_t& used) {
    std::size_t p = 0;
    while (p < text.size() && isSpace(text[p])) ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    if (p + 2 < text.size() && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X') && isHexDigit(text[p + 2]))
        p += 2;
    if (p >= text.size() || !isHexDigit(text[p])) {
        used = 0;
        return 0;
    }
    std::uint64_t value = 0;
    bool overflow = false;
    for (; p < text.size() && isHexDigit(text[p]); ++p) {
        if (value > (UINT64_MAX >> 4)) overflow = true;
        value = (value << 4) | static_cast<std::uint64_t>(hexDigitValue(text[p]));
    }
    used = p;
    if (overflow) return 0xFFFFFFFFu;
    if (negative) value = 0 - value;
    return static_cast<std::uint32_t>(value);
}

}  // namespace tovik::wine
