#include "cli/help_document.h"

#include "cli/text_width.h"

namespace tovik::cli {

namespace {

constexpr std::size_t kColumns = 80;

// Text for a roff text line: backslashes and hyphens escaped, a leading control character made
// text, and (with breaks) a break point between the Japanese units, which groff cannot find.
std::string roffText(std::string_view text, bool breaks) {
    std::string out;
    for (const TextUnit& unit : breakUnits(text)) {
        if (!out.empty()) out += unit.spaceBefore ? " " : breaks ? "\\:" : "";
        for (char c : unit.text) {
            if (c == '\\')
                out += "\\e";
            else if (c == '-')
                out += "\\-";
            else
                out += c;
        }
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
    return out;
}

}  // namespace

std::string helpText(const HelpDocument& document) {
    std::string out;
    for (const HelpSection& section : document.sections) {
        if (&section != &document.sections.front()) out += '\n';
        if (!section.heading.empty()) out.append(section.heading).append("\n");
        for (const HelpEntry& entry : section.entries) {
            if (section.kind == HelpSection::Kind::Lines) {
                out.append(section.termIndent, ' ').append(entry.text).append("\n");
                continue;
            }
            if (entry.term.empty()) {
                out.append(section.termIndent, ' ');
                out += fillText(entry.text, kColumns, section.termIndent, section.termIndent);
                continue;
            }
            out.append(section.termIndent, ' ').append(entry.term);
            const std::size_t lastLine = entry.term.rfind('\n');
            const std::size_t column =
                (lastLine == std::string_view::npos ? section.termIndent : 0) +
                displayWidth(entry.term.substr(lastLine == std::string_view::npos ? 0 : lastLine + 1));
            if (column + 2 <= section.textIndent) {
                out.append(section.textIndent - column, ' ');
            } else {
                out.append("\n").append(section.textIndent, ' ');
            }
            out += fillText(entry.text, kColumns, section.textIndent, section.textIndent);
        }
    }
    return out;
}

std::string manualPage(const HelpDocument& document, std::string_view version) {
    std::string page;
    page.append(".TH TOVIK\\-REG 1 \"").append(document.manualDate).append("\" \"Tovik ").append(version);
    page.append("\" \"").append(document.manualSection).append("\"\n");
    // Japanese is not justified: its lines would be stretched at the few spaces they have.
    page += ".nh\n.ad l\n.SH ";
    page.append(roffText("名前", false)).append("\n");
    page.append("tovik\\-reg \\- ").append(roffText(document.manualName, true)).append("\n");
    for (const HelpSection& section : document.sections) {
        // A section without a name of its own goes on the one before it.
        if (!section.manualHeading.empty()) page.append(".SH ").append(section.manualHeading).append("\n");
        if (section.kind == HelpSection::Kind::Lines) {
            page += ".nf\n";
            for (const HelpEntry& entry : section.entries) page.append(roffText(entry.text, false)).append("\n");
            page += ".fi\n";
            continue;
        }
        for (const HelpEntry& entry : section.entries) {
            if (entry.term.empty()) {
                if (&entry != &section.entries.front() || section.manualHeading.empty()) page += ".PP\n";
            } else {
                // The tag on one line: the help's continuation lines joined.
                std::string term;
                for (std::size_t at = 0; at <= entry.term.size();) {
                    std::size_t end = entry.term.find('\n', at);
                    if (end == std::string_view::npos) end = entry.term.size();
                    std::string_view line = entry.term.substr(at, end - at);
                    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
                    if (!term.empty()) term += ' ';
                    term += line;
                    at = end + 1;
                }
                page.append(".TP\n.B ").append(roffText(term, false)).append("\n");
            }
            page.append(roffText(entry.text, true)).append("\n");
        }
    }
    return page;
}

}  // namespace tovik::cli
