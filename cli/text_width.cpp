#include "cli/text_width.h"

#include <cstdint>

namespace tovik::cli {

namespace {

// The next code point of text at i (advanced past it); a stray byte counts as one character.
char32_t nextCodePoint(std::string_view text, std::size_t& i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    if (i + length > text.size()) length = 1;
    char32_t c = length == 1 ? byte : byte & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    return c;
}

bool isWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Japanese line-breaking rules, the common part: these never start a line...
bool closes(char32_t c) {
    return c == U'、' || c == U'。' || c == U'）' || c == U'」' || c == U'』' || c == U'：' || c == U'，' ||
           c == U'．' || c == U'！' || c == U'？' || c == U'ー' || c == ',' || c == '.' || c == ')' || c == ':' ||
           c == ';';
}
// ...and these never end one.
bool opens(char32_t c) {
    return c == U'（' || c == U'「' || c == U'『' || c == '(';
}

}  // namespace

std::size_t displayWidth(std::string_view utf8) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < utf8.size();) width += isWide(nextCodePoint(utf8, i)) ? 2 : 1;
    return width;
}

std::vector<TextUnit> breakUnits(std::string_view utf8) {
    std::vector<TextUnit> units;
    bool space = true;       // a space (or the start) came before the next character
    bool inWord = false;     // the last unit is an ASCII word still growing
    bool lastOpens = false;  // the last unit ends with an opening bracket
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const char32_t c = nextCodePoint(utf8, i);
        const std::string_view piece = utf8.substr(start, i - start);
        if (c == ' ' || c == '\n') {
            space = true;
            inWord = false;
            continue;
        }
        const bool wide = isWide(c);
        const bool joins = !units.empty() && !space && (lastOpens || closes(c) || (!wide && inWord));
        if (joins) {
            units.back().text += piece;
        } else {
            units.push_back({std::string(piece), space && !units.empty()});
        }
        inWord = !wide;
        lastOpens = opens(c);
        space = false;
    }
    return units;
}

std::string fillText(std::string_view utf8, std::size_t width, std::size_t firstColumn, std::size_t indent) {
    std::string out;
    std::size_t column = firstColumn;
    bool lineEmpty = true;
    for (const TextUnit& unit : breakUnits(utf8)) {
        const std::size_t unitWidth = displayWidth(unit.text);
        const std::size_t gap = unit.spaceBefore && !lineEmpty ? 1 : 0;
        if (!lineEmpty && column + gap + unitWidth > width) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            lineEmpty = true;
        } else if (gap != 0) {
            out += ' ';
            ++column;
        }
        out += unit.text;
        column += unitWidth;
        lineEmpty = false;
    }
    out += '\n';
    return out;
}

}  // namespace tovik::cli
