#pragma once
// The Japanese help of tovik-reg as one table of sections, from which both `--help` and the
// Japanese manual page are made, so that they say the same. (The English help is kept as the
// text scripts and tests already read, in command_line.cpp.)
#include <span>
#include <string>
#include <string_view>

namespace tovik::cli {

// A term and what it means: a command with its arguments, an argument, an option. An entry
// without a term is a paragraph; a term may run over several lines ('\n').
struct HelpEntry {
    std::string_view term;
    std::string_view text;
};

struct HelpSection {
    enum class Kind { Entries, Lines };  // Lines: printed as they stand (usage, examples)
    Kind kind = Kind::Entries;
    std::string_view heading;  // "コマンド:" in the help; the manual page's section name without the colon
    std::string_view manualHeading;
    std::size_t termIndent = 2;
    std::size_t textIndent = 29;  // where each entry's text starts in the help
    std::span<const HelpEntry> entries;
};

struct HelpDocument {
    std::string_view manualName;     // the NAME line's description
    std::string_view manualDate;     // ISO 8601
    std::string_view manualSection;  // "ユーザーコマンド"
    std::span<const HelpSection> sections;
    // The short usage shown with a usage error is the English one's command lines, after this
    // word in place of "Usage:" (as wide), then this end in place of the English end.
    std::string_view shortUsageWord;
    std::string_view shortUsageEnd;
};

const HelpDocument& japaneseHelp();

// The help as --help prints it: lines of at most 80 columns (displayWidth).
std::string helpText(const HelpDocument& document);
// The manual page (man(7)) of the same document, for `version` (such as "1.0.2").
std::string manualPage(const HelpDocument& document, std::string_view version);

}  // namespace tovik::cli
