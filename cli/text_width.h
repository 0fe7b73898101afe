#pragma once
// How wide UTF-8 text is on a terminal, and where Japanese text may be broken into lines: the
// help's layout in both languages and the Japanese manual page's break points.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovik::cli {

// Columns the text takes on a terminal: two for a full-width character (kanji, kana, full-width
// forms and punctuation), one for everything else, half-width katakana (ｱ-ﾝ) included.
std::size_t displayWidth(std::string_view utf8);

// A piece of text that is never broken: an ASCII word, or one full-width character together
// with the punctuation that may not start or end a line next to it (、。） after, （「 before).
struct TextUnit {
    std::string text;
    bool spaceBefore = false;  // a space separates it from the unit before
};
std::vector<TextUnit> breakUnits(std::string_view utf8);

// The text filled into lines of at most `width` columns, the first after `firstColumn` columns
// already taken, every line after it starting with `indent` spaces. Each line ends in '\n'.
std::string fillText(std::string_view utf8, std::size_t width, std::size_t firstColumn, std::size_t indent);

}  // namespace tovik::cli
