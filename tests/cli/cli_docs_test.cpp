// The help, the manual pages and the shells' completions against the one table of commands and
// options (CommandTable), and the completions at work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

#include "cli/command_line.h"
#include "cli/help_document.h"
#include "cli/text_width.h"
#include "language/messages.h"

namespace {

namespace fs = std::filesystem;
using tovik::cli::commandTable;
using tovik::cli::globalOptions;

const fs::path kResources = fs::path(TOVIK_SOURCE_DIR) / "resources";

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a shell command prints on stdout and stderr together.
std::string runShell(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return "cannot run: " + command;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    ::pclose(pipe);
    return output;
}

bool haveProgram(const std::string& name) {
    return runShell("command -v " + name).find('/') != std::string::npos;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::set<std::string> words(const std::string& text) {
    std::set<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.insert(word);
    return words;
}

std::set<std::string> tableCommands() {
    std::set<std::string> commands;
    for (const auto& row : commandTable()) commands.insert(std::string(row.command));
    return commands;
}

// The help in the chosen language; the language is English again afterwards.
std::string helpIn(tovik::InterfaceLanguage language, bool shortForm = false) {
    tovik::setMessageLanguage(language);
    const std::string help(shortForm ? tovik::cli::shortUsageText() : tovik::cli::usageText());
    tovik::setMessageLanguage(tovik::InterfaceLanguage::English);
    return help;
}

std::string japaneseManualPage() {
    return tovik::cli::manualPage(tovik::cli::japaneseHelp(), "1.0");
}

TEST(CommandLineDocs, DisplayWidthCountsFullWidthCharactersAsTwoColumns) {
    using tovik::cli::displayWidth;
    EXPECT_EQ(displayWidth("query KEY"), 9u);
    EXPECT_EQ(displayWidth("キー"), 4u);
    EXPECT_EQ(displayWidth("ｷｰ"), 2u);  // half-width katakana, as the window's menus have them
    EXPECT_EQ(displayWidth("値（REG_SZ）、漢字。"), 20u);
    EXPECT_EQ(displayWidth("a\xff"), 2u);  // a stray byte is one column
}

TEST(CommandLineDocs, HelpLinesFitEightyColumns) {
    for (const auto language : {tovik::InterfaceLanguage::English, tovik::InterfaceLanguage::Japanese}) {
        for (bool shortForm : {false, true}) {
            std::istringstream lines{helpIn(language, shortForm)};
            for (std::string line; std::getline(lines, line);) EXPECT_LE(tovik::cli::displayWidth(line), 80u) << line;
        }
    }
}

// Filling Japanese text keeps every character and breaks only between the pieces that may be
// parted (never before 、。） nor after （, never inside an ASCII word), fitting the width.
TEST(CommandLineDocs, JapaneseTextIsFilledAtAllowedBreaks) {
    using tovik::cli::breakUnits;
    using tovik::cli::displayWidth;
    const auto pieces = [](std::string_view text) {
        std::vector<std::string> pieces;
        for (const auto& unit : breakUnits(text)) pieces.push_back(unit.text);
        return pieces;
    };
    for (const auto& section : tovik::cli::japaneseHelp().sections) {
        for (const auto& entry : section.entries) {
            for (std::size_t width : {24u, 40u, 80u}) {
                std::istringstream lines(tovik::cli::fillText(entry.text, width, 0, 4));
                std::vector<std::string> filled;
                bool first = true;
                for (std::string line; std::getline(lines, line); first = false) {
                    const std::vector<std::string> inLine = pieces(first ? line : line.substr(4));
                    if (inLine.size() > 1) EXPECT_LE(displayWidth(line), width) << line;
                    filled.insert(filled.end(), inLine.begin(), inLine.end());
                }
                EXPECT_EQ(filled, pieces(entry.text)) << width << ": " << entry.text;
            }
        }
    }
    // What the pieces are: kinsoku and whole ASCII words.
    EXPECT_EQ(pieces("値（UTF-8、LF）を「a b」。"),
              (std::vector<std::string>{"値", "（UTF-8、", "LF）", "を", "「a", "b」。"}));
}

// tovik-reg --help, a command's --help and a usage error speak the language the locale asks
// for; the English help stays the text scripts read.
TEST(CommandLineDocs, HelpIsInTheUsersLanguage) {
    const std::string tool = shellQuoted(TOVIK_REG_PATH);
    const std::string japanese = "env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=ja_JP.UTF-8 ";
    const std::string english = "env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=en_US.UTF-8 ";
    const std::string japaneseHelp = helpIn(tovik::InterfaceLanguage::Japanese);
    const std::string englishHelp = helpIn(tovik::InterfaceLanguage::English);
    EXPECT_NE(japaneseHelp.find("使い方:"), std::string::npos);
    EXPECT_NE(japaneseHelp.find("値を書き込みます。"), std::string::npos);
    EXPECT_EQ(englishHelp.find("値"), std::string::npos);
    for (const char* asked : {"--help", "set --help", "-h"}) {
        EXPECT_EQ(runShell(japanese + tool + " " + asked), japaneseHelp) << asked;
        EXPECT_EQ(runShell(english + tool + " " + asked), englishHelp) << asked;
    }
    EXPECT_NE(runShell(japanese + tool + " nosuch").find("詳しくは 'tovik-reg --help' を見てください。"),
              std::string::npos);
    EXPECT_NE(runShell(english + tool + " nosuch").find("Try 'tovik-reg --help' for more information."),
              std::string::npos);
}

// Every command and option of the table is in the help, the manual page and all three
// completions, and the completions offer no command the table lacks.
// The Japanese help and manual page are checked as the English ones are.
class HelpFollowsTheTable : public testing::TestWithParam<tovik::InterfaceLanguage> {};

TEST_P(HelpFollowsTheTable, HelpManualAndCompletionsFollowTheTable) {
    const bool english = GetParam() == tovik::InterfaceLanguage::English;
    const std::string help = helpIn(GetParam());
    std::string page = english ? readText(kResources / "man" / "tovik-reg.1") : japaneseManualPage();
    page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    const std::string bash = readText(kResources / "completion" / "tovik-reg");
    const std::string zsh = readText(kResources / "completion" / "_tovik-reg");
    const std::string fish = readText(kResources / "completion" / "tovik-reg.fish");
    ASSERT_FALSE(page.empty() || bash.empty() || zsh.empty() || fish.empty());

    // The commands each file lists.
    std::smatch found;
    std::set<std::string> helpCommands;
    const std::string heading = english ? "Commands:" : "コマンド:";
    const std::string commandsPart = help.substr(help.find(heading), help.find("\n\n", help.find(heading)));
    const std::regex helpLine(R"(\n  ([a-z][a-z-]*)[ \n])");
    for (std::sregex_iterator it(commandsPart.begin(), commandsPart.end(), helpLine), end; it != end; ++it)
        helpCommands.insert((*it)[1]);
    EXPECT_EQ(helpCommands, tableCommands()) << "--help";
    ASSERT_TRUE(std::regex_search(bash, found, std::regex(R"(local commands="([^"]*)\")")));
    EXPECT_EQ(words(found[1]), tableCommands()) << "bash";
    ASSERT_TRUE(std::regex_search(fish, found, std::regex(R"(set -l commands ([^\n]*))")));
    EXPECT_EQ(words(found[1]), tableCommands()) << "fish";
    std::set<std::string> zshCommands;
    const std::regex zshLine(R"(\n\s+'([a-z][a-z-]*):)");
    for (std::sregex_iterator it(zsh.begin(), zsh.end(), zshLine), end; it != end; ++it) zshCommands.insert((*it)[1]);
    EXPECT_EQ(zshCommands, tableCommands()) << "zsh";

    for (const auto& row : commandTable()) {
        const std::string command(row.command);
        EXPECT_TRUE(std::regex_search(page, std::regex("\n\\.BI? " + command + "[ \n]"))) << "man: " << command;
        for (std::string_view optionView : row.options) {
            const std::string option(optionView);
            EXPECT_NE(help.find(option), std::string::npos) << "--help: " << command << " " << option;
            EXPECT_NE(page.find(option), std::string::npos) << "man: " << command << " " << option;
            EXPECT_NE(bash.find(option), std::string::npos) << "bash: " << command << " " << option;
            const std::string bare = option.substr(option.find_first_not_of('-'));
            EXPECT_TRUE(std::regex_search(zsh, std::regex("'" + option + "[=\\[]"))) << "zsh: " << option;
            EXPECT_TRUE(std::regex_search(fish, std::regex((option.starts_with("--") ? "-l " : "-s ") + bare + " ")))
                << "fish: " << option;
        }
    }
    for (std::string_view optionView : globalOptions()) {
        const std::string option(optionView);
        const std::string bare = option.substr(option.find_first_not_of('-'));
        EXPECT_NE(help.find(option), std::string::npos) << "--help: " << option;
        EXPECT_NE(page.find(option), std::string::npos) << "man: " << option;
        EXPECT_NE(bash.find(option), std::string::npos) << "bash: " << option;
        EXPECT_NE(zsh.find(option), std::string::npos) << "zsh: " << option;
        EXPECT_TRUE(std::regex_search(fish, std::regex((option.starts_with("--") ? "-l " : "-s ") + bare + " ")))
            << "fish: " << option;
    }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, HelpFollowsTheTable,
                         testing::Values(tovik::InterfaceLanguage::English, tovik::InterfaceLanguage::Japanese),
                         [](const auto& info) {
                             return info.param == tovik::InterfaceLanguage::English ? "English" : "Japanese";
                         });

TEST(CommandLineDocs, ManualPagesFormatWithoutWarnings) {
    const fs::path japanese = fs::temp_directory_path() / ("tovik-reg-ja-" + std::to_string(::getpid()) + ".1");
    std::ofstream(japanese, std::ios::binary) << japaneseManualPage();
    const struct Removed {
        fs::path path;
        ~Removed() { fs::remove(path); }
    } removed{japanese};
    struct Page {
        std::string name;
        fs::path path;
    };
    for (const Page& manual :
         {Page{"tovik.1", kResources / "man" / "tovik.1"}, Page{"tovik-reg.1", kResources / "man" / "tovik-reg.1"},
          Page{"ja/tovik-reg.1", japanese}}) {
        const std::string& page = manual.name;
        const std::string path = shellQuoted(manual.path.string());
        if (haveProgram("groff")) {
            // Japanese needs the input read as UTF-8 and a device with its glyphs.
            EXPECT_EQ(runShell("groff -k -Tutf8 -man -ww -z " + path), "") << page;
            if (manual.path != japanese) EXPECT_EQ(runShell("groff -man -ww -z " + path), "") << page;
        }
        if (haveProgram("man")) {
            // In a UTF-8 locale, which a Japanese page needs to be shown at all.
            EXPECT_EQ(runShell("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l " + path + " >/dev/null"), "") << page;
        }
        if (!haveProgram("mandoc")) GTEST_SKIP() << "mandoc is not installed: its lint was not run";
        // Warnings and errors are layout faults; long source lines (style) are not.
        EXPECT_EQ(runShell("mandoc -Tlint -W warning " + path), "") << page;
    }
}

// bash's completion function called as bash calls it, with prepared COMP_WORDS, on a store
// whose keys it completes by asking tovik-reg.
// A store of three keys for the completion tests, in a folder of its own.
class CompletionStore : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tovik-complete-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        store_ = (dir_ / "store.db").string();
        const std::string tool = shellQuoted(TOVIK_REG_PATH);
        ASSERT_EQ(runShell(tool + " --registry " + shellQuoted(store_) + " add-key 'HKCU\\Software\\Sample Tool'"), "");
        ASSERT_EQ(runShell(tool + " --registry " + shellQuoted(store_) + " add-key 'HKCU\\Software\\Second'"), "");
        ASSERT_EQ(runShell(tool + " --registry " + shellQuoted(store_) + " add-key 'HKCU\\Sound'"), "");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // Runs script (written to a file) with shell, tovik-reg on the PATH.
    std::string runScript(const std::string& shell, const std::string& script) {
        const fs::path file = dir_ / "script";
        std::ofstream(file) << script;
        return runShell("PATH=" + shellQuoted(fs::path(TOVIK_REG_PATH).parent_path().string()) +
                        ":$PATH HOME=" + shellQuoted(dir_.string()) + " " + shell + " " + shellQuoted(file.string()));
    }

    fs::path dir_;
    std::string store_;
};

TEST_F(CompletionStore, BashCompletesCommandsOptionsValuesAndKeyPaths) {
    if (!haveProgram("bash")) GTEST_SKIP() << "bash is not installed";

    const auto complete = [&](const std::string& words) {
        const std::string script = "PATH=" + shellQuoted(fs::path(TOVIK_REG_PATH).parent_path().string()) +
                                   ":$PATH; . " + shellQuoted((kResources / "completion" / "tovik-reg").string()) +
                                   "; COMP_WORDS=(" + words +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tovik_reg;"
                                   " printf '%s\\n' \"${COMPREPLY[@]}\"";
        return runShell("HOME=" + shellQuoted(dir_.string()) + " XDG_DATA_HOME=" + shellQuoted(dir_.string()) +
                        " bash -c " + shellQuoted(script));
    };
    const std::string onStore = "tovik-reg --registry " + shellQuoted(store_) + " ";
    struct Case {
        std::string words, expected;
    };
    for (const Case& c : {
             Case{"tovik-reg re", "rename-key\nrename-value\nredo\nregistries\n"},
             Case{"tovik-reg --wr", "--write\n"},
             Case{"tovik-reg export HKCU x --format ''", "backup\nreg\nreg4\n"},
             Case{"tovik-reg export HKCU x --format = r", "reg\nreg4\n"},
             Case{"tovik-reg get HKCU v --", "--raw\n--json\n--help\n"},
             Case{"tovik-reg find x --j", "--json\n"},
             Case{"tovik-reg set HKCU v reg_q", "REG_QWORD\n"},
             Case{"tovik-reg query HKC", "HKCR/\nHKCU/\n"},
             // Key paths come from the store that the line names, in the spelling typed.
             Case{onStore + "query HKCU/S", "HKCU/Software/\nHKCU/Sound/\n"},
             Case{onStore + "get hkcu/software/s", "hkcu/software/Sample\\ Tool/\nhkcu/software/Second/\n"},
             Case{"tovik-reg --registry = " + shellQuoted(store_) + " delete-key 'HKCU\\\\So'",
                  "HKCU\\\\Software\\\\\nHKCU\\\\Sound\\\\\n"},
             Case{onStore + "query \"'HKCU\\\\Software\\\\Sa\"", "'HKCU\\Software\\Sample Tool\\\n"},
         }) {
        EXPECT_EQ(complete(c.words), c.expected) << c.words;
    }
    // Without a store the first Tab does not create one.
    EXPECT_EQ(complete("tovik-reg query HKCU/"), "\n");
    EXPECT_FALSE(fs::exists(dir_ / "tovik" / "registry.db"));
}

// zsh and fish ask tovik-reg for the keys of the registry that the line names before its command,
// and hand back the text the typed token stands for.
TEST_F(CompletionStore, ZshAndFishCompleteKeyPathsOfTheRegistryTheLineNames) {
    if (!haveProgram("zsh") && !haveProgram("fish")) GTEST_SKIP() << "neither zsh nor fish is installed";
    if (haveProgram("zsh")) {
        // The key function alone, as the completion system calls it: compadd prints what it is given.
        const std::string script =
            "_arguments() { return 0 }\n"
            "compadd() { local -a a; a=(\"$@\"); print -rl -- \"${(@)a[$((${a[(i)--]} + 1)),-1]}\" }\n"
            ". " +
            shellQuoted((kResources / "completion" / "_tovik-reg").string()) +
            "\n"
            "_tovik_reg_line=(tovik-reg --registry " +
            shellQuoted(store_) +
            " query 'HKCU\\\\So')\n"
            "PREFIX='HKCU\\\\So'\n"
            "_tovik_reg_keys\n";
        EXPECT_EQ(runScript("zsh -f", script), "HKCU\\\\Software\\\\\nHKCU\\\\Sound\\\\\n");
    }
    if (haveProgram("fish")) {
        const std::string script = "source " + shellQuoted((kResources / "completion" / "tovik-reg.fish").string()) +
                                   "\ncomplete -C 'tovik-reg --registry " + store_ +
                                   " query HKCU\\\\\\\\Software\\\\\\\\S'\n";
        EXPECT_EQ(runScript("fish -N", script), "HKCU\\Software\\Sample Tool\\\nHKCU\\Software\\Second\\\n");
    }
}

}  // namespace
