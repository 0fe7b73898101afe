// The help, the manual pages and the shells' completions against the one table of commands and
// options (CommandTable), and the completions at work.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/command_line.h"

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

TEST(CommandLineDocs, HelpLinesFitEightyColumns) {
    for (std::string_view text : {tovik::cli::usageText(), tovik::cli::shortUsageText()}) {
        std::istringstream lines{std::string(text)};
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    }
}

// Every command and option of the table is in the help, the manual page and all three
// completions, and the completions offer no command the table lacks.
TEST(CommandLineDocs, HelpManualAndCompletionsFollowTheTable) {
    const std::string help(tovik::cli::usageText());
    std::string page = readText(kResources / "man" / "tovik-reg.1");
    page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    const std::string bash = readText(kResources / "completion" / "tovik-reg");
    const std::string zsh = readText(kResources / "completion" / "_tovik-reg");
    const std::string fish = readText(kResources / "completion" / "tovik-reg.fish");
    ASSERT_FALSE(page.empty() || bash.empty() || zsh.empty() || fish.empty());

    // The commands each file lists.
    std::smatch found;
    std::set<std::string> helpCommands;
    const std::string commandsPart = help.substr(help.find("Commands:"), help.find("\n\n", help.find("Commands:")));
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

TEST(CommandLineDocs, ManualPagesFormatWithoutWarnings) {
    for (const char* page : {"tovik.1", "tovik-reg.1"}) {
        const std::string path = shellQuoted((kResources / "man" / page).string());
        if (haveProgram("groff")) {
            EXPECT_EQ(runShell("groff -man -ww -z " + path), "") << page;
        }
        if (haveProgram("man")) {
            EXPECT_EQ(runShell("MANWIDTH=80 man --warnings -l " + path + " >/dev/null"), "") << page;
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
