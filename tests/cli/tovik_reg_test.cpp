// tovik-reg end to end: the built program on stores in a temporary directory. XDG_DATA_HOME and
// HOME point into that directory, so the user's own store is never touched.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class TovikRegTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tovik-reg-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        store_ = (dir_ / "store.db").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Runs tovik-reg with args; stdout and stderr are collected, stdin is the file input.
    ToolResult tool(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
        std::vector<std::string> env{"XDG_DATA_HOME=" + (dir_ / "xdg").string(), "HOME=" + (dir_ / "home").string(),
                                     "XDG_STATE_HOME=" + (dir_ / "state").string()};
        env.insert(env.end(), locale_.begin(), locale_.end());
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string_view var(*e);
            const bool replaced = var.starts_with("XDG_DATA_HOME=") || var.starts_with("HOME=") ||
                                  var.starts_with("XDG_STATE_HOME=") || var.starts_with("LANGUAGE=") ||
                                  var.starts_with("LC_ALL=") || var.starts_with("LC_MESSAGES=") ||
                                  var.starts_with("LANG=");
            if (!replaced) env.emplace_back(var);
        }
        std::vector<char*> argv{const_cast<char*>(TOVIK_REG_PATH)}, envp;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        for (std::string& e : env) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        const fs::path outPath = dir_ / "stdout", errPath = dir_ / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, TOVIK_REG_PATH, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << TOVIK_REG_PATH;
            return {};
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(outPath), readFile(errPath)};
    }

    // The same with --registry on the test's store.
    ToolResult OnStore(std::vector<std::string> args, const std::string& input = "/dev/null") {
        args.insert(args.begin(), {"--registry", store_});
        return tool(args, input);
    }

    void expectSuccess(const std::vector<std::string>& args) {
        const ToolResult result = OnStore(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
    }

    fs::path dir_;
    std::string store_;
    // The language variables the program sees (the inherited ones are dropped): English unless a
    // test asks for another.
    std::vector<std::string> locale_{"LANGUAGE=en"};
};

TEST_F(TovikRegTest, SetThenQueryShowsEachTypeAsABackupFileWouldWriteIt) {
    const std::string key = "HKLM\\Software\\Sample";
    expectSuccess({"set", key, "@", "SZ", "Sample application"});
    expectSuccess({"set", key, "Version", "DW", "260"});
    expectSuccess({"set", key, "Flags", "DW", "-1(FFFFFFFF)"});
    expectSuccess({"set", key, "Min", "4", "-2147483648"});
    expectSuccess({"set", key, "Path", "EXP", "%windir%\\Temp"});
    expectSuccess({"set", key, "Data", "BIN", "0A FF 00 "});
    expectSuccess({"set", key, "Paths", "MLT", "\\Windows|\\Temp||"});
    expectSuccess({"set", key, "Order", "DWE", "00 00 01 00"});
    expectSuccess({"set", key, "Empty", "NON", ""});
    expectSuccess({"set", key, "Filled", "0", "01 02"});
    expectSuccess({"set", key, "Link", "lnk", "5C 00 41 00"});
    expectSuccess({"set", key, "Res", "RSC", "01 00 00 00"});
    expectSuccess({"set", key, "Nine", "9", "ab"});
    expectSuccess({"set", key, "Odd", "0x12345", "DE AD"});
    expectSuccess({"set", key, "Blank", "SZ", ""});

    const ToolResult query = OnStore({"query", key});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.out, "[Software\\Sample]\n"
                         "\"@\"=SZ:Sample application\n"
                         "\"Version\"=DW:260(104)\n"
                         "\"Flags\"=DW:-1(FFFFFFFF)\n"
                         "\"Min\"=DW:-2147483648(80000000)\n"
                         "\"Path\"=EXP:%windir%\\Temp\n"
                         "\"Data\"=BIN:0A FF 00 \n"
                         "\"Paths\"=MLT:\\Windows|\\Temp||\n"
                         "\"Order\"=DWE:00 00 01 00 \n"
                         "\"Empty\"=NON:\n"
                         "\"Filled\"=NON:01 02 \n"
                         "\"Link\"=LNK:5C 00 41 00 \n"
                         "\"Res\"=RSC:01 00 00 00 \n"
                         "\"Nine\"=??:AB \n"
                         "\"Odd\"=??:DE AD \n"
                         "\"Blank\"=SZ:\n");
    EXPECT_EQ(query.err, "");
}

TEST_F(TovikRegTest, QueryRecursiveAndDeleteValue) {
    expectSuccess({"set", "HKCU\\App\\zeta", "z", "DW", "1"});
    expectSuccess({"set", "HKCU\\App\\Alpha\\Inner", "@", "SZ", "in"});
    expectSuccess({"set", "HKCU\\App", "second", "SZ", "2"});
    expectSuccess({"set", "HKCU\\App", "first", "SZ", "1"});
    expectSuccess({"set", "HKCU\\App\\beta", "b", "BIN", ""});

    const std::string tree = "[App]\n\"second\"=SZ:2\n\"first\"=SZ:1\n"
                             "[App\\Alpha]\n[App\\Alpha\\Inner]\n\"@\"=SZ:in\n"
                             "[App\\beta]\n\"b\"=BIN:\n"
                             "[App\\zeta]\n\"z\"=DW:1(1)\n";
    EXPECT_EQ(OnStore({"query", "HKCU\\App", "-r"}).out, tree);

    expectSuccess({"delete-value", "HKCU\\App", "second"});
    expectSuccess({"delete-value", "hkcu\\app\\alpha\\inner", "@"});
    EXPECT_EQ(OnStore({"query", "HKEY_CURRENT_USER\\App", "-r"}).out,
              "[App]\n\"first\"=SZ:1\n[App\\Alpha]\n[App\\Alpha\\Inner]\n[App\\beta]\n\"b\"=BIN:\n"
              "[App\\zeta]\n\"z\"=DW:1(1)\n");

    const ToolResult missing = OnStore({"delete-value", "HKCU\\App", "second"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "tovik-reg: no such value: \"second\" in HKEY_CURRENT_USER\\App\n");
}

TEST_F(TovikRegTest, NonAsciiNamesAndDataRoundTrip) {
    const std::string key = "HKCU\\Control Panel\\\xE6\x89\x80\xE6\x9C\x89\xE8\x80\x85";            // 所有者
    const std::string name = "\xE5\x90\x8D\xE5\x89\x8D";                                            // 名前
    const std::string data = "\xE5\xB1\xB1\xE7\x94\xB0 \xE8\x8A\xB1\xE5\xAD\x90 \xF0\x9F\x98\x80";  // 山田 花子 😀
    expectSuccess({"set", key, name, "SZ", data});
    expectSuccess({"set", key, "\xF0\x9F\x93\x9D", "MLT", data + "|" + name + "||"});  // 📝

    const ToolResult query = OnStore({"query", key});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.out, "[Control Panel\\\xE6\x89\x80\xE6\x9C\x89\xE8\x80\x85]\n\"" + name + "\"=SZ:" + data +
                             "\n\"\xF0\x9F\x93\x9D\"=MLT:" + data + "|" + name + "||\n");
}

// Every spelling of a key that people type, paste or copy names the same key, and every type
// name (tag or platform name, any case) writes the same type.
TEST_F(TovikRegTest, KeySpellingsAndTypeNamesAsPeopleTypeThem) {
    expectSuccess({"add-key", "HKLM\\Software\\Spelled"});
    for (const char* spelling : {
             "HKLM\\Software\\Spelled",
             "hkey_local_machine\\software\\spelled",
             "HKLM/Software/Spelled",
             "HKLM\\\\Software\\\\Spelled",
             "\\HKLM\\Software\\Spelled",
             "HKLM:\\Software\\Spelled",
             "Computer\\HKEY_LOCAL_MACHINE\\Software\\Spelled",
             "  HKLM\\Software\\Spelled\\ ",
         }) {
        const ToolResult query = OnStore({"query", spelling});
        EXPECT_EQ(query.exitCode, 0) << spelling << ": " << query.err;
        EXPECT_EQ(query.out, "[Software\\Spelled]\n") << spelling;
    }

    struct Typed {
        std::string type, data, line;
    };
    for (const Typed& t : {
             Typed{"REG_SZ", "text", "SZ:text"},
             Typed{"reg_expand_sz", "%windir%", "EXP:%windir%"},
             Typed{"REG_MULTI_SZ", "a|b||", "MLT:a|b||"},
             Typed{"Reg_Dword", "0x10", "DW:16(10)"},
             Typed{"REG_BINARY", "0A FF", "BIN:0A FF "},
             Typed{"REG_NONE", "", "NON:"},
             // A QWORD is eight bytes, lowest first; the backup file's form shows the bytes.
             Typed{"REG_QWORD", "0x0102030405060708", "??:08 07 06 05 04 03 02 01 "},
             Typed{"QW", "18446744073709551615", "??:FF FF FF FF FF FF FF FF "},
             Typed{"qw", "1", "??:01 00 00 00 00 00 00 00 "},
         }) {
        expectSuccess({"set", "HKCU\\Typed", "v", t.type, t.data});
        const ToolResult query = OnStore({"query", "HKCU\\Typed"});
        EXPECT_EQ(query.out, "[Typed]\n\"v\"=" + t.line + "\n") << t.type;
    }
    const ToolResult refused = OnStore({"set", "HKCU\\Typed", "v", "QW", "18446744073709551616"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("64 bits"), std::string::npos) << refused.err;
}

// get prints one value's data text as set takes it back, or with --raw its bytes.
TEST_F(TovikRegTest, GetPrintsOneValuesDataTextOrItsBytes) {
    struct Typed {
        std::string name, type, data, text;
        std::string raw;
    };
    using namespace std::string_literals;
    const Typed values[] = {
        {"@", "SZ", "Sample \xE6\x9D\xB1", "Sample \xE6\x9D\xB1", "S\0a\0m\0p\0l\0e\0 \0\x71\x67"s},
        {"Version", "DW", "0x104", "260(104)", "\x04\x01\0\0"s},
        {"Big", "QW", "0x0102030405060708", "72623859790382856", "\x08\x07\x06\x05\x04\x03\x02\x01"s},
        {"Paths", "MLT", "a|b||", "a|b||", "a\0\0\0b\0\0\0\0\0"s},
        {"Blob", "BIN", "00 0A FF", "00 0A FF ", "\0\n\xFF"s},
        {"-r", "BIN", "", "", ""},
    };
    for (const Typed& v : values) expectSuccess({"set", "HKCU\\Get", v.name, v.type, v.data});
    for (const Typed& v : values) {
        const ToolResult text = OnStore({"get", "hkcu/get", "--", v.name});
        EXPECT_EQ(text.exitCode, 0) << v.name << ": " << text.err;
        EXPECT_EQ(text.out, v.text + "\n") << v.name;
        const ToolResult raw = OnStore({"get", "--raw", "HKCU\\Get", "--", v.name});
        EXPECT_EQ(raw.exitCode, 0) << v.name << ": " << raw.err;
        EXPECT_EQ(raw.out, v.raw) << v.name;
    }
    const ToolResult missing = OnStore({"get", "HKCU\\Get", "Nothing"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "tovik-reg: no such value: \"Nothing\" in HKEY_CURRENT_USER\\Get\n");
    EXPECT_EQ(OnStore({"get", "HKCU\\Nowhere", "x"}).exitCode, 1);
    EXPECT_EQ(OnStore({"get", "HKCU\\Get"}).exitCode, 2);
}

TEST_F(TovikRegTest, ExitCodesAndMessages) {
    const ToolResult help = tool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("delete-value KEY NAME"), std::string::npos);
    EXPECT_EQ(help.err, "");
    EXPECT_NE(help.out.find("--version"), std::string::npos);

    const ToolResult version = tool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("tovik-reg [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
    EXPECT_EQ(version.err, "");

    for (const std::vector<std::string>& usage : std::vector<std::vector<std::string>>{{},
                                                                                       {"frobnicate"},
                                                                                       {"--verbose", "query", "HKLM"},
                                                                                       {"query"},
                                                                                       {"set", "HKLM", "n", "SZ"},
                                                                                       {"query", "HKLM", "extra"},
                                                                                       {"query", "HKLM\\\xC3("}}) {
        const ToolResult result = tool(usage);
        EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(usage);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("Usage: tovik-reg"), std::string::npos) << result.err;
    }

    struct Failure {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Failure& failure : {
             Failure{{"query", "HKLM\\Nowhere"}, "tovik-reg: no such key: HKEY_LOCAL_MACHINE\\Nowhere\n"},
             Failure{{"delete-value", "HKCR\\Nowhere", "x"}, "tovik-reg: no such key: HKEY_CLASSES_ROOT\\Nowhere\n"},
             Failure{{"set", "HKLM\\A", "n", "TEXT", "x"}, ""},
             Failure{{"set", "HKLM\\A", "n", "0x100000000", "00"}, ""},
             Failure{{"set", "HKLM\\A", "n", "DW", "12 apples"}, ""},
             Failure{{"set", "HKLM\\A", "n", "BIN", "GG"}, ""},
             Failure{{"query", "HKEY_USERS\\A"}, ""},
         }) {
        const ToolResult result = OnStore(failure.args);
        EXPECT_EQ(result.exitCode, 1) << testing::PrintToString(failure.args);
        EXPECT_EQ(result.out, "");
        if (!failure.message.empty()) {
            EXPECT_EQ(result.err, failure.message);
        } else {
            EXPECT_TRUE(result.err.starts_with("tovik-reg: ")) << result.err;
            EXPECT_EQ(result.err.find("Usage:"), std::string::npos) << result.err;
        }
    }
    // A refused set writes nothing, not even the key.
    EXPECT_EQ(OnStore({"query", "HKLM\\A"}).exitCode, 1);
}

// Every command takes --help (first after the command word) and prints the help, which names
// the exit statuses; a value or data that looks like an option elsewhere is still data.
TEST_F(TovikRegTest, EveryCommandTakesHelp) {
    for (const std::string command : {"query", "get", "set", "delete-value", "add-key", "delete-key", "export",
                                      "import", "find", "rename-key", "rename-value", "registries"}) {
        for (const std::string help : {"--help", "-h"}) {
            const ToolResult result = OnStore({command, help});
            EXPECT_EQ(result.exitCode, 0) << command << " " << help << ": " << result.err;
            EXPECT_NE(result.out.find("Exit status"), std::string::npos) << command;
            EXPECT_EQ(result.err, "") << command;
        }
    }
    expectSuccess({"set", "HKCU\\Help", "--help", "SZ", "--help"});
    EXPECT_EQ(OnStore({"get", "HKCU\\Help", "--", "--help"}).out, "--help\n");
}

TEST_F(TovikRegTest, AStoreThatCannotBeOpenedIsReportedAndLeftAlone) {
    const std::string garbage = "this is not a registry store\n";
    std::ofstream(store_, std::ios::binary) << garbage;

    const ToolResult result = OnStore({"query", "HKLM"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("tovik-reg: ")) << result.err;
    EXPECT_GT(result.err.size(), std::string("tovik-reg: \n").size());
    EXPECT_EQ(readFile(store_), garbage);
}

// A store named with --registry is created in a folder that exists, never in a new one: a
// mistyped folder fails with its name and leaves nothing behind.
TEST_F(TovikRegTest, ANamedStoreInAMissingFolderIsRefused) {
    const fs::path missing = dir_ / "no" / "such";
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"set", "HKCU\\A", "v", "SZ", "x"}, {"query", "HKLM"}, {"find", "x"}}) {
        std::vector<std::string> full{"--registry", (missing / "x.db").string()};
        full.insert(full.end(), args.begin(), args.end());
        const ToolResult result = tool(full);
        EXPECT_EQ(result.exitCode, args[0] == "find" ? 2 : 1) << args[0];
        EXPECT_NE(result.err.find(missing.string()), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(dir_ / "no")) << "no folder is made";
    }
    // A file over a folder's name is no folder either.
    std::ofstream(dir_ / "plain") << "x";
    EXPECT_EQ(tool({"--registry", (dir_ / "plain" / "x.db").string(), "query", "HKLM"}).exitCode, 1);
    // A new store in a folder that exists is still created, as scripts rely on.
    expectSuccess({"add-key", "HKCU\\Fresh"});
    EXPECT_TRUE(fs::exists(store_));
}

TEST_F(TovikRegTest, DefaultStoreLivesUnderXdgDataHomeAndHoldsTheDefaultRegistry) {
    const fs::path userStore = dir_ / "xdg" / "tovik" / "registry.db";
    ASSERT_FALSE(fs::exists(userStore));

    const ToolResult ident = tool({"query", "HKLM\\Ident"});
    EXPECT_EQ(ident.exitCode, 0) << ident.err;
    EXPECT_TRUE(fs::exists(userStore));
    EXPECT_NE(ident.out.find("\"Name\"=SZ:TOVIK-H200\n"), std::string::npos) << ident.out;

    // All three roots are filled, with text that is not only ASCII.
    const ToolResult txt = tool({"query", "HKCR\\.txt"});
    EXPECT_NE(txt.out.find("\"@\"=SZ:txtfile\n"), std::string::npos) << txt.err;
    const ToolResult owner = tool({"query", "HKCU\\Control Panel\\Owner"});
    EXPECT_NE(owner.out.find("\"Name\"=SZ:\xE5\xB1\xB1\xE7\x94\xB0 \xE8\x8A\xB1\xE5\xAD\x90\n"), std::string::npos)
        << owner.err;

    // A change to the default store is there for the next process.
    EXPECT_EQ(tool({"set", "HKCU\\Control Panel\\Volume", "Volume", "DW", "50"}).exitCode, 0);
    EXPECT_NE(tool({"query", "HKCU\\Control Panel\\Volume"}).out.find("\"Volume\"=DW:50(32)\n"), std::string::npos);
}

// A backup file's bytes: the byte order mark, then the lines in UTF-16LE, each ended by CR LF.
std::string backupFile(const std::vector<std::u16string>& lines) {
    std::string bytes = "\xFF\xFE";
    for (const std::u16string& line : lines) {
        for (const char16_t c : line + u"\r\n") {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
    }
    return bytes;
}

const std::u16string kHeader = u"Tovik レジストリ退避ファイル Ver1.0";

// Messages as tovik-reg prints them (the texts here stay in the Basic Multilingual Plane).
std::string utf8(std::u16string_view text) {
    std::string out;
    for (const char16_t u : text) {
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += {static_cast<char>(0xC0 | u >> 6), static_cast<char>(0x80 | (u & 0x3F))};
        } else {
            out += {static_cast<char>(0xE0 | u >> 12), static_cast<char>(0x80 | (u >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (u & 0x3F))};
        }
    }
    return out;
}

TEST_F(TovikRegTest, ExportAndImportCarryKeysBetweenStores) {
    locale_ = {"LANG=ja_JP.UTF-8"};  // the window's own sentences, as the window speaks them
    const std::string key = "HKLM\\Software\\Sample";
    expectSuccess({"set", key, "@", "SZ", "Sample application"});
    expectSuccess({"set", key, "Flags", "DW", "-1"});
    expectSuccess({"set", key, "Data", "BIN", "0A FF 00"});
    expectSuccess({"set", key + "\\Options", "\xE9\x95\xB7\xF0\x9F\x98\x80", "MLT", "\xE7\x94\xB2|\xE4\xB9\x99||"});
    expectSuccess({"set", key + "\\Options", "Nine", "9", "AB"});
    const std::string file = (dir_ / "sample.txt").string();

    // Key lines as the registry spells the names. The value of type 9 has no tag an import takes:
    // the export says so.
    const ToolResult exported = OnStore({"export", "hklm\\SOFTWARE\\sample", file});
    EXPECT_EQ(exported.exitCode, 0);
    EXPECT_EQ(exported.out, "");
    EXPECT_NE(exported.err.find("[Software\\Sample\\Options] \"Nine\"."), std::string::npos) << exported.err;
    EXPECT_EQ(readFile(file),
              backupFile({kHeader, u"\\\\HKEY_LOCAL_MACHINE", u"[Software\\Sample]", u"\"@\"=SZ:Sample application",
                          u"\"Flags\"=DW:-1(FFFFFFFF)", u"\"Data\"=BIN:0A FF 00 ", u"[Software\\Sample\\Options]",
                          u"\"長\U0001F600\"=MLT:甲|乙||", u"\"Nine\"=??:AB "}));

    const std::string other = (dir_ / "other.db").string();
    const ToolResult imported = tool({"--registry", other, "import", file});
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_EQ(imported.out, "");
    // The value of type 9 has no tag the reader knows: skipped, and said so.
    EXPECT_EQ(imported.err, "tovik-reg: " + utf8(u"型の分からない値の行を1行読み飛ばしました") + "\n");
    expectSuccess({"delete-value", key + "\\Options", "Nine"});
    EXPECT_EQ(tool({"--registry", other, "query", key, "-r"}).out, OnStore({"query", key, "-r"}).out);

    // With the type 9 value gone from the first store too, both stores export the same bytes.
    const std::string again = (dir_ / "again.txt").string();
    EXPECT_EQ(tool({"--registry", other, "export", key, again}).exitCode, 0);
    expectSuccess({"export", key, file});
    EXPECT_EQ(readFile(again), readFile(file));
}

TEST_F(TovikRegTest, ExportFailuresLeaveTheFileAsItWas) {
    locale_ = {"LANG=ja_JP.UTF-8"};  // the window's own sentences, as the window speaks them
    const std::string file = (dir_ / "old.txt").string();
    std::ofstream(file, std::ios::binary) << "previous backup";
    expectSuccess({"add-key", "HKLM\\Here"});

    ToolResult result = OnStore({"export", "HKLM\\Nowhere", file});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "tovik-reg: " + utf8(u"キーを開けません。エクスポートしませんでした。") +
                              " (HKEY_LOCAL_MACHINE\\Nowhere)\n");
    EXPECT_EQ(readFile(file), "previous backup");

    result = OnStore({"export", "HKLM\\Here", (dir_ / "missing" / "x.txt").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.starts_with("tovik-reg: " + utf8(u"ファイルを作成できません。"))) << result.err;
    EXPECT_NE(result.err.find("No such file or directory"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    // A file name need not be UTF-8.
    const std::string latin1 = (dir_ / "caf\xE9.txt").string();
    expectSuccess({"export", "HKLM\\Here", latin1});
    EXPECT_EQ(readFile(latin1), backupFile({kHeader, u"\\\\HKEY_LOCAL_MACHINE", u"[Here]"}));
}

// A value's line longer than the output's buffer goes out in pieces: a piece ends where a
// surrogate pair would be cut, and the printed line is the same as if it went out whole.
TEST_F(TovikRegTest, AValueLongerThanTheOutputBufferPrintsWhole) {
    constexpr std::size_t kPiece = 1 << 20;  // the output's buffer, in UTF-16 units
    const std::u16string prefix = u"\"v\"=SZ:";
    std::u16string text(kPiece + 100, u'a');
    text[kPiece - 1 - prefix.size()] = u'\xD83D';  // U+1F600 across the first piece's end
    text[kPiece - prefix.size()] = u'\xDE00';
    text[kPiece + 50] = u'\x00E9';
    const std::string path = (dir_ / "big.txt").string();
    std::ofstream(path, std::ios::binary) << backupFile({kHeader, u"\\\\HKEY_CURRENT_USER", u"[Big]", prefix + text});
    ASSERT_EQ(OnStore({"import", path}).exitCode, 0);
    const ToolResult query = OnStore({"query", "HKCU\\Big"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    const std::size_t pair = kPiece - 1 - prefix.size();
    const std::string expected = "[Big]\n" + utf8(prefix + text.substr(0, pair)) + "\xF0\x9F\x98\x80" +
                                 utf8(std::u16string_view(text).substr(pair + 2)) + "\n";
    const auto differs = std::mismatch(query.out.begin(), query.out.end(), expected.begin(), expected.end());
    EXPECT_TRUE(query.out == expected) << "first difference at " << differs.first - query.out.begin();
}

TEST_F(TovikRegTest, ImportStopsWithTheGuisMessages) {
    locale_ = {"LANG=ja_JP.UTF-8"};  // the window's own sentences, as the window speaks them
    struct Case {
        std::string bytes;
        std::u16string message;
    };
    const std::string path = (dir_ / "in.txt").string();
    const std::vector<Case> cases = {
        {std::string("\xFE\xFF\x00T", 4), u"Unicodeではありません"},
        {"Tovik\r\n", u"Unicodeではありません"},
        {"", u"ファイル形式エラー インポート失敗"},
        {backupFile({u"tovik", u"\\\\HKEY_CURRENT_USER", u"[Written]"}), u"ファイル形式エラー インポート失敗"},
        {backupFile({kHeader, u"\\\\HKEY_USERS", u"[Written]"}), u"ルートキーなし インポート失敗"},
    };
    for (const Case& c : cases) {
        std::ofstream(path, std::ios::binary) << c.bytes;
        const ToolResult result = OnStore({"import", path});
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.err, "tovik-reg: " + utf8(c.message) + "\n");
    }
    EXPECT_EQ(OnStore({"query", "HKCU\\Written"}).exitCode, 1);

    // A broken line: what came before it stays written.
    std::ofstream(path, std::ios::binary)
        << backupFile({kHeader, u"\\\\HKEY_CURRENT_USER", u"[Written]", u"\"v\"=DW:7", u"oops", u"[Later]"});
    ToolResult result = OnStore({"import", path});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.ends_with("（5行目）\n")) << result.err;
    EXPECT_EQ(OnStore({"query", "HKCU\\Written"}).out, "[Written]\n\"v\"=DW:7(7)\n");
    EXPECT_EQ(OnStore({"query", "HKCU\\Later"}).exitCode, 1);

    result = OnStore({"import", (dir_ / "absent.txt").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("absent.txt: No such file or directory"), std::string::npos) << result.err;
}

}  // namespace

TEST_F(TovikRegTest, AddKeyCreatesThePathAndSaysWhenItExisted) {
    locale_ = {"LANG=ja_JP.UTF-8"};  // the window's own sentences, as the window speaks them
    expectSuccess({"add-key", "HKCU\\Software\\New\\Deep"});
    const ToolResult again = OnStore({"add-key", "hkcu\\SOFTWARE\\new"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.err, "既に存在します\n");
    const ToolResult query = OnStore({"query", "HKCU\\Software\\New", "-r"});
    EXPECT_EQ(query.out, "[Software\\New]\n[Software\\New\\Deep]\n");
    EXPECT_EQ(OnStore({"add-key", "HKCU\\a\\\\\\b"}).exitCode, 1);  // an empty name in the path
    // A doubled backslash, as escaped text has it, is one separator.
    expectSuccess({"add-key", "HKCU\\a\\\\b"});
    EXPECT_EQ(OnStore({"query", "HKCU/a", "-r"}).out, "[a]\n[a\\b]\n");
}

TEST_F(TovikRegTest, DeleteKeyRemovesTheWholeSubtreeButNeverARoot) {
    expectSuccess({"set", "HKLM\\Gone\\x\\y", "v", "DW", "1"});
    expectSuccess({"set", "HKLM\\Gone", "w", "SZ", "t"});
    expectSuccess({"add-key", "HKLM\\Gone\\z"});
    expectSuccess({"add-key", "HKLM\\Stays"});
    expectSuccess({"delete-key", "HKLM\\gone"});
    EXPECT_EQ(OnStore({"query", "HKLM\\Gone"}).exitCode, 1);
    EXPECT_EQ(OnStore({"query", "HKLM\\Stays"}).exitCode, 0);

    const ToolResult root = OnStore({"delete-key", "HKLM"});
    EXPECT_EQ(root.exitCode, 2);
    EXPECT_NE(root.err.find("root"), std::string::npos);
    EXPECT_EQ(OnStore({"query", "HKLM\\Stays"}).exitCode, 0);

    const ToolResult missing = OnStore({"delete-key", "HKLM\\Gone"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no such key"), std::string::npos);
}

// Lines of text, without their ends.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(TovikRegTest, HistoryUndoAndRedoTakeCommandsBackAndAgainAcrossRuns) {
    expectSuccess({"set", "HKCU\\Tool\\Inner", "v", "DW", "1"});
    expectSuccess({"set", "HKCU\\Tool\\Inner", "v", "DW", "2"});
    expectSuccess({"delete-key", "HKCU\\Tool"});

    const std::vector<std::string> listed = lines(OnStore({"history"}).out);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_NE(listed[0].find("\tdelete-key HKEY_CURRENT_USER\\Tool\tHKEY_CURRENT_USER\\Tool"), std::string::npos)
        << listed[0];
    EXPECT_NE(listed[2].find("\tset HKEY_CURRENT_USER\\Tool\\Inner \"v\"\t"), std::string::npos) << listed[2];
    EXPECT_EQ(lines(OnStore({"history", "-n", "1"}).out).size(), 1u);
    EXPECT_EQ(lines(OnStore({"history", "hkcu\\tool\\inner"}).out).size(), 2u) << "only the key's own entries";

    ToolResult undone = OnStore({"undo"});
    EXPECT_EQ(undone.exitCode, 0) << undone.err;
    EXPECT_EQ(OnStore({"get", "HKCU\\Tool\\Inner", "v"}).out, "2(2)\n");
    undone = OnStore({"undo", "1"});
    EXPECT_EQ(OnStore({"get", "HKCU\\Tool\\Inner", "v"}).out, "1(1)\n");
    EXPECT_EQ(OnStore({"redo", "2"}).exitCode, 0);
    EXPECT_EQ(OnStore({"query", "HKCU\\Tool"}).exitCode, 1) << "the delete was made again";
    const std::vector<std::string> after = lines(OnStore({"history", "-n", "3"}).out);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_NE(after[0].find("redo 2 changes"), std::string::npos) << after[0];
    EXPECT_NE(after[1].find("\tredone"), std::string::npos) << after[1];

    // A new change ends what can be redone.
    ASSERT_EQ(OnStore({"undo"}).exitCode, 0);
    expectSuccess({"add-key", "HKCU\\Other"});
    const ToolResult nothing = OnStore({"redo"});
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_NE(nothing.err.find("nothing to redo"), std::string::npos) << nothing.err;
    const ToolResult refused = OnStore({"undo", "0"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("not a count"), std::string::npos) << refused.err;
}

namespace {

// --json output parses back with a JSON parser to exactly the names and data stored, whatever
// characters they hold.
TEST_F(TovikRegTest, JsonOutputParsesBackForEveryCharacter) {
    const std::string awkward = "q\"uo\\te\nline\t\xE6\x9D\xB1\xF0\x9F\x98\x80 \x01";
    // A key name holds no backslash; a slash is a name's character in a path with backslashes.
    const std::string awkwardKey = "q\"uo/te\nline\t\xE6\x9D\xB1";
    expectSuccess({"set", "HKCU\\Json\\" + awkwardKey, awkward, "SZ", awkward});
    // A .reg file can carry what an argument cannot: zero units in data, a lone surrogate.
    const std::string file = (dir_ / "json.reg").string();
    std::ofstream(file, std::ios::binary) << backupFile(
        {u"Windows Registry Editor Version 5.00", u"", u"[HKEY_CURRENT_USER\\Json]",
         u"\"zero\"=hex(1):62,00,00,00,61,00", u"\"lone\xD800\"=hex:00,ff", u"\"big\"=hex(b):ff,ff,ff,ff,ff,ff,ff,7f"});
    const ToolResult imported = OnStore({"import", file});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;

    const ToolResult query = OnStore({"query", "--json", "-r", "hkcu\\json"});
    ASSERT_EQ(query.exitCode, 0) << query.err;
    const auto keys = nlohmann::json::parse(query.out);
    ASSERT_EQ(keys.size(), 2u) << query.out;
    EXPECT_EQ(keys[0]["path"], "HKEY_CURRENT_USER\\Json");
    const auto& values = keys[0]["values"];
    ASSERT_EQ(values.size(), 3u) << query.out;
    EXPECT_EQ(values[0]["name"], "zero");
    EXPECT_EQ(values[0]["type"], 1);
    EXPECT_EQ(values[0]["tag"], "SZ");
    EXPECT_EQ(values[0]["text"], "b") << "a string's text ends at its first zero unit";
    EXPECT_EQ(values[0]["hex"], "6200000061000000");
    EXPECT_EQ(values[1]["name"], "lone\xEF\xBF\xBD");
    EXPECT_EQ(values[1]["tag"], "BIN");
    EXPECT_EQ(values[1]["text"], "00 FF ");
    EXPECT_EQ(values[1]["hex"], "00ff");
    EXPECT_EQ(values[2]["type"], 11);
    EXPECT_EQ(values[2]["tag"], "QW");
    EXPECT_EQ(values[2]["text"], "9223372036854775807");
    EXPECT_EQ(keys[1]["path"], "HKEY_CURRENT_USER\\Json\\" + awkwardKey);
    ASSERT_EQ(keys[1]["values"].size(), 1u);
    EXPECT_EQ(keys[1]["values"][0]["name"], awkward);
    EXPECT_EQ(keys[1]["values"][0]["text"], awkward);
    EXPECT_EQ(keys[1]["values"][0]["path"], keys[1]["path"]);

    const ToolResult got = OnStore({"get", "HKCU\\Json\\" + awkwardKey, awkward, "--json"});
    ASSERT_EQ(got.exitCode, 0) << got.err;
    EXPECT_EQ(nlohmann::json::parse(got.out), keys[1]["values"][0]);

    const ToolResult found = OnStore({"find", "--json", "--values", "zero", "HKCU"});
    ASSERT_EQ(found.exitCode, 0) << found.err;
    const auto hits = nlohmann::json::parse(found.out);
    ASSERT_EQ(hits.size(), 1u) << found.out;
    EXPECT_EQ(hits[0]["match"], "name");
    EXPECT_EQ(hits[0]["name"], values[0]["name"]);
    EXPECT_EQ(hits[0]["hex"], values[0]["hex"]);
    const ToolResult keyHit = OnStore({"find", "--json", "--keys", "line", "HKCU\\Json"});
    EXPECT_EQ(
        nlohmann::json::parse(keyHit.out),
        nlohmann::json::parse(R"([{"path": )" + nlohmann::json(keys[1]["path"]).dump() + R"(, "match": "key"}])"));
    const ToolResult none = OnStore({"find", "--json", "nowhere to be found"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(nlohmann::json::parse(none.out), nlohmann::json::array());

    const ToolResult registries = tool({"registries", "--json"});
    ASSERT_EQ(registries.exitCode, 0) << registries.err;
    const auto listed = nlohmann::json::parse(registries.out);
    ASSERT_TRUE(listed.is_array());
    for (const auto& registry : listed) {
        EXPECT_TRUE(registry["kind"].is_string() && registry["name"].is_string() && registry["folder"].is_string() &&
                    registry["readOnly"].is_boolean())
            << registry.dump();
    }
    EXPECT_EQ(OnStore({"get", "--json", "--raw", "HKCU\\Json", "big"}).exitCode, 2);
}

// "-" and the system's names of the standard streams: export writes to standard output, import
// reads standard input, in every format.
TEST_F(TovikRegTest, ExportAndImportThroughTheStandardStreams) {
    expectSuccess({"set", "HKCU\\Piped", "text", "SZ", "\xE6\x9D\xB1 line"});
    expectSuccess({"set", "HKCU\\Piped\\Below", "n", "DW", "7"});
    const std::string expected = OnStore({"query", "-r", "HKCU\\Piped"}).out;
    const std::string piped = (dir_ / "piped").string();
    const std::string other = (dir_ / "other.db").string();
    int round = 0;
    for (const std::string format : {"backup", "reg", "reg4"}) {
        for (const std::string out : {"-", "/dev/stdout"}) {
            const ToolResult exported = OnStore({"export", "HKCU\\Piped", out, "--format=" + format});
            ASSERT_EQ(exported.exitCode, 0) << format << " " << out << ": " << exported.err;
            EXPECT_FALSE(out == "-" && fs::exists(out)) << "no file named -";
            std::ofstream(piped, std::ios::binary) << exported.out;
            // The same bytes as an export into a file.
            const std::string file = (dir_ / "file").string();
            ASSERT_EQ(OnStore({"export", "HKCU\\Piped", file, "--format=" + format}).exitCode, 0);
            EXPECT_EQ(readFile(file), exported.out) << format;

            const std::string in = round++ % 2 == 0 ? "-" : "/dev/stdin";
            fs::remove(other);
            const ToolResult imported = tool({"--registry", other, "import", in}, piped);
            ASSERT_EQ(imported.exitCode, 0) << format << " " << in << ": " << imported.err;
            EXPECT_EQ(tool({"--registry", other, "query", "-r", "HKCU\\Piped"}).out, expected) << format;
        }
    }
    // A failed export writes nothing to the pipe.
    const ToolResult failed = OnStore({"export", "HKCU\\Nowhere", "-"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "");
    // Input that is no registry file is refused as a file would be.
    std::ofstream(piped, std::ios::binary) << "nothing of the kind\n";
    EXPECT_EQ(OnStore({"import", "-"}, piped).exitCode, 1);
}

class TovikRegFindTest : public TovikRegTest {};

TEST_F(TovikRegFindTest, FindPrintsOneLinePerHitInTheBrowsersOrderAndFailsWhenNothingIsFound) {
    expectSuccess({"set", "HKCU\\Find\\Needle Key", "plain", "SZ", "hay"});
    expectSuccess({"set", "HKCU\\Find\\Other", "needle", "DW", "1"});
    expectSuccess({"set", "HKCU\\Find\\Other", "@", "SZ", "a NEEDLE in data"});
    expectSuccess({"set", "HKCU\\Elsewhere", "needle", "SZ", "x"});

    ToolResult all = OnStore({"find", "needle", "HKCU\\Find"});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out, "HKEY_CURRENT_USER\\Find\\Needle Key\n"
                       "HKEY_CURRENT_USER\\Find\\Other\t@\n"
                       "HKEY_CURRENT_USER\\Find\\Other\tneedle\n");

    EXPECT_EQ(OnStore({"find", "needle", "HKCU\\Find", "--keys"}).out, "HKEY_CURRENT_USER\\Find\\Needle Key\n");
    EXPECT_EQ(OnStore({"find", "needle", "hkcu\\find\\", "--values"}).out, "HKEY_CURRENT_USER\\Find\\Other\tneedle\n");
    EXPECT_EQ(OnStore({"find", "NEEDLE", "HKCU\\Find", "--data", "--case"}).out, "HKEY_CURRENT_USER\\Find\\Other\t@\n");
    EXPECT_EQ(OnStore({"find", "needle", "HKCU\\Find", "--case", "--data"}).exitCode, 1);
    EXPECT_EQ(OnStore({"find", "needle", "HKCU\\Find", "--exact"}).out, "HKEY_CURRENT_USER\\Find\\Other\tneedle\n");
    EXPECT_EQ(OnStore({"find", "needle", "HKCU", "--values", "--keys"}).out,
              "HKEY_CURRENT_USER\\Elsewhere\tneedle\n"
              "HKEY_CURRENT_USER\\Find\\Needle Key\n"
              "HKEY_CURRENT_USER\\Find\\Other\tneedle\n");
    const ToolResult whole = OnStore({"find", "Needle Key", "--exact", "--keys"});
    EXPECT_EQ(whole.out, "HKEY_CURRENT_USER\\Find\\Needle Key\n") << "without KEY the whole registry";

    const ToolResult none = OnStore({"find", "no such text anywhere", "HKCU"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "");
    // As grep: 1 says only that nothing was found; every failure is 2.
    const ToolResult missing = OnStore({"find", "x", "HKCU\\Missing"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("no such key"), std::string::npos) << missing.err;
    EXPECT_EQ(OnStore({"find", "x", "HKEY_USERS"}).exitCode, 2);
    const std::string broken = (dir_ / "broken.db").string();
    std::ofstream(broken, std::ios::binary) << "this is not a registry store\n";
    EXPECT_EQ(tool({"--registry", broken, "find", "x"}).exitCode, 2);
    EXPECT_EQ(OnStore({"find"}).exitCode, 2);
    EXPECT_EQ(OnStore({"find", "x", "HKCU", "extra"}).exitCode, 2);
    EXPECT_EQ(OnStore({"find", "x", "HKCU", "--bogus"}).exitCode, 2);
    EXPECT_EQ(OnStore({"find", "x", "HKCU", "-r"}).exitCode, 2) << "-r belongs to query";
}

TEST_F(TovikRegFindTest, RenameKeyAndValueKeepWhatIsBelowAndRefuseWhatCannotBe) {
    expectSuccess({"set", "HKLM\\Old\\Inner", "v", "SZ", "kept"});
    expectSuccess({"set", "HKLM\\Old", "first", "DW", "1"});
    expectSuccess({"set", "HKLM\\Old", "second", "DW", "2"});
    expectSuccess({"add-key", "HKLM\\Taken"});

    const ToolResult taken = OnStore({"rename-key", "HKLM\\Old", "taken"});
    EXPECT_EQ(taken.exitCode, 1);
    EXPECT_NE(taken.err.find("既に存在します"), std::string::npos) << taken.err;
    EXPECT_EQ(OnStore({"rename-key", "HKLM\\Old", "a\\b"}).exitCode, 1);
    EXPECT_EQ(OnStore({"rename-key", "HKLM\\Old", ""}).exitCode, 1);
    EXPECT_EQ(OnStore({"rename-key", "HKLM", "X"}).exitCode, 2);
    EXPECT_EQ(OnStore({"rename-key", "HKLM\\Missing", "X"}).exitCode, 1);

    expectSuccess({"rename-key", "HKLM\\Old", "New"});
    expectSuccess({"rename-value", "HKLM\\New", "FIRST", "Renamed"});
    EXPECT_EQ(OnStore({"rename-value", "HKLM\\New", "Renamed", "second"}).exitCode, 1);
    EXPECT_EQ(OnStore({"rename-value", "HKLM\\New", "nothing", "x"}).exitCode, 1);
    EXPECT_EQ(OnStore({"rename-value", "HKLM\\New", "second", "@"}).exitCode, 1);
    const ToolResult query = OnStore({"query", "HKLM\\New", "-r"});
    EXPECT_EQ(query.out, "[New]\n"
                         "\"Renamed\"=DW:1(1)\n"
                         "\"second\"=DW:2(2)\n"
                         "[New\\Inner]\n"
                         "\"v\"=SZ:kept\n");
    EXPECT_EQ(OnStore({"query", "HKLM\\Old"}).exitCode, 1);
}

TEST_F(TovikRegFindTest, DwordDataInHexadecimalAndUnsignedDecimal) {
    expectSuccess({"set", "HKCU\\N", "hex", "DW", "0x104"});
    expectSuccess({"set", "HKCU\\N", "top", "DW", "4294967295"});
    expectSuccess({"set", "HKCU\\N", "high", "DW", "0x80000000"});
    EXPECT_EQ(OnStore({"set", "HKCU\\N", "over", "DW", "4294967296"}).exitCode, 1);
    EXPECT_EQ(OnStore({"set", "HKCU\\N", "over", "DW", "0x100000000"}).exitCode, 1);
    EXPECT_EQ(OnStore({"query", "HKCU\\N"}).out, "[N]\n"
                                                 "\"hex\"=DW:260(104)\n"
                                                 "\"top\"=DW:-1(FFFFFFFF)\n"
                                                 "\"high\"=DW:-2147483648(80000000)\n");
}

std::string utf16LeFile(std::u16string_view text) {
    std::string bytes("\xFF\xFE");
    for (const char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

TEST_F(TovikRegTest, RegFilesOfBothVersionsCarryKeysBetweenStores) {
    const std::string key = "HKCU\\Software\\Fix";
    expectSuccess({"set", key, "@", "SZ", "a=b"});
    expectSuccess({"set", key, "Flags", "DW", "42"});
    expectSuccess({"set", key + "\\Sub", "List", "MLT", "one|two||"});
    expectSuccess({"set", key + "\\Sub", "Big", "0x12345678", "01 02"});

    const std::string v5 = (dir_ / "fix.reg").string(), v4 = (dir_ / "fix4.reg").string();
    expectSuccess({"export", "hkcu\\software\\fix", v5, "--format", "reg"});
    expectSuccess({"export", key, "--format=reg4", v4});
    EXPECT_TRUE(readFile(v5).starts_with(utf16LeFile(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                                     u"[HKEY_CURRENT_USER\\Software\\Fix]\r\n")));
    EXPECT_TRUE(readFile(v4).starts_with("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Fix]\r\n")) << readFile(v4);

    // The first line tells the kind of file, whatever its name.
    const std::string renamed = (dir_ / "fix.txt").string();
    fs::copy_file(v5, renamed);
    for (const std::string& file : {renamed, v4}) {
        const std::string other = (dir_ / ("other-" + fs::path(file).filename().string() + ".db")).string();
        const ToolResult imported = tool({"--registry", other, "import", file});
        EXPECT_EQ(imported.exitCode, 0) << imported.err;
        EXPECT_EQ(imported.err, "");
        EXPECT_EQ(imported.out, "Written: 2 keys, 4 values. Deleted: 0 keys, 0 values. Skipped: 0 lines.\n");
        EXPECT_EQ(tool({"--registry", other, "query", key, "-r"}).out, OnStore({"query", key, "-r"}).out) << file;
    }

    // The backup file stays the default (which cannot carry the "=" of the default value: the
    // .reg exports above did not need to say so).
    const std::string backup = (dir_ / "fix.bak").string();
    EXPECT_EQ(OnStore({"export", key, backup}).exitCode, 0);
    EXPECT_EQ(readFile(backup).substr(0, 6), std::string("\xFF\xFET\0o\0", 6));
}

TEST_F(TovikRegTest, RegImportDeletesSkipsAndNamesTheLinesItCouldNotRead) {
    expectSuccess({"set", "HKLM\\Old\\Deep", "x", "DW", "1"});
    expectSuccess({"set", "HKLM\\Keep", "gone", "SZ", "x"});
    const std::string file = (dir_ / "patch.reg").string();
    std::ofstream(file, std::ios::binary) << "REGEDIT4\n"
                                             "\n"
                                             "[-HKEY_LOCAL_MACHINE\\Old]\n"
                                             "[HKEY_LOCAL_MACHINE\\Keep]\n"
                                             "\"gone\"=-\n"
                                             "\"bad\"=\"no end\n"
                                             "\"hex\"=hex:0g\n"
                                             "\"after\"=dword:00000007\n"
                                             "[HKEY_USERS\\.DEFAULT]\n"
                                             "\"u\"=\"x\"\n";
    const ToolResult result = OnStore({"import", file});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "Written: 1 key, 1 value. Deleted: 1 key, 1 value. Skipped: 4 lines (2 under roots Tovik does not "
              "hold, 0 values without a key, 2 that could not be read).\n");
    EXPECT_EQ(result.err, "tovik-reg: line 6: unterminated string\ntovik-reg: line 7: bad hexadecimal data\n");
    EXPECT_EQ(OnStore({"query", "HKLM\\Old"}).exitCode, 1);
    EXPECT_EQ(OnStore({"query", "HKLM\\Keep"}).out, "[Keep]\n\"after\"=DW:7(7)\n");
}

TEST_F(TovikRegTest, RegImportRefusesAnUnknownHeaderAndTakesAHeaderAlone) {
    locale_ = {"LANG=ja_JP.UTF-8"};  // the window's own sentences, as the window speaks them
    const std::string file = (dir_ / "other.reg").string();
    std::ofstream(file, std::ios::binary) << "REGEDIT 4\n[HKEY_LOCAL_MACHINE\\Written]\n";
    ToolResult result = OnStore({"import", file});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err,
              "tovik-reg: " + utf8(u"登録ファイルのヘッダー「REGEDIT 4」が分かりません。インポートしませんでした。") +
                  "\n");
    EXPECT_EQ(OnStore({"query", "HKLM\\Written"}).exitCode, 1);

    // A file of its header alone, without a line end, in either version and encoding.
    locale_ = {"LANG=en_US.UTF-8"};
    for (const std::string& bytes : {std::string("REGEDIT4"), utf16LeFile(u"Windows Registry Editor Version 5.00")}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        result = OnStore({"import", file});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(result.out.starts_with("Written: 0 keys, 0 values.")) << result.out;
    }
}

TEST_F(TovikRegTest, RegExportIsAsSafeAsABackupExport) {
    locale_ = {"LANG=ja_JP.UTF-8"};  // the window's own sentences, as the window speaks them
    expectSuccess({"add-key", "HKLM\\Here"});
    // Never onto the store itself, whatever the format.
    for (const char* format : {"reg", "reg4", "backup"}) {
        const ToolResult result = OnStore({"export", "HKLM\\Here", store_, "--format", format});
        EXPECT_EQ(result.exitCode, 1) << format;
        EXPECT_NE(result.err.find(utf8(u"レジストリのファイルそのものには書き出せません")), std::string::npos)
            << result.err;
    }
    EXPECT_EQ(OnStore({"query", "HKLM\\Here"}).exitCode, 0);

    const std::string file = (dir_ / "old.reg").string();
    std::ofstream(file, std::ios::binary) << "previous";
    const ToolResult missing = OnStore({"export", "HKLM\\Nowhere", file, "--format", "reg"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find(utf8(u"キーを開けません")), std::string::npos) << missing.err;
    EXPECT_EQ(readFile(file), "previous");

    const std::string fresh = (dir_ / "new.reg").string();
    expectSuccess({"export", "HKLM\\Here", fresh, "--format", "reg"});
    EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    for (const fs::directory_entry& entry : fs::directory_iterator(dir_))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".tovik-")) << entry.path();

    for (const std::vector<std::string>& args : {std::vector<std::string>{"export", "HKLM", file, "--format", "xml"},
                                                 {"export", "HKLM", file, "--format", "reg", "--format", "reg"},
                                                 {"export", "HKLM", file, "--format"}}) {
        const ToolResult usage = OnStore(args);
        EXPECT_EQ(usage.exitCode, 2) << usage.err;
    }
    EXPECT_EQ(readFile(file), "previous");
}

}  // namespace

TEST_F(TovikRegTest, MessagesFollowTheLocaleAsTheWindowDoes) {
    const fs::path badReg = dir_ / "bad.reg";
    std::ofstream(badReg) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\T]\n\"v\"=dword:zz\n";
    const auto english = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    struct Case {
        std::vector<std::string> locale;
        bool english;
    };
    const Case cases[] = {
        {{"LANG=en_US.UTF-8"}, true},
        {{"LANG=ja_JP.UTF-8"}, false},
        {{}, false},
        {{"LANG=C.UTF-8"}, false},
        {{"LANG=de_DE.UTF-8"}, false},
        {{"LANGUAGE=en_GB:ja", "LANG=ja_JP.UTF-8"}, true},
        {{"LANGUAGE=de:en", "LANG=en_US.UTF-8"}, false},
        {{"LC_ALL=ja_JP.UTF-8", "LANG=en_US.UTF-8"}, false},
        {{"LC_MESSAGES=en_US.UTF-8", "LANG=ja_JP.UTF-8"}, true},
    };
    for (const Case& c : cases) {
        locale_ = c.locale;
        const std::string label = c.locale.empty() ? std::string("(none)") : c.locale.front();
        // A sentence of tovik-reg's own, one of the core's, a problem line of a .reg file and a
        // usage error: every line is in the one language.
        const std::vector<std::vector<std::string>> failures{{"get", "HKLM\\Nowhere", "v"},
                                                             {"import", (dir_ / "missing").string()},
                                                             {"import", badReg.string()},
                                                             {"frobnicate"}};
        for (const std::vector<std::string>& args : failures) {
            const ToolResult result = OnStore(args);
            const std::string firstLine = result.err.substr(0, result.err.find('\n'));
            ASSERT_TRUE(firstLine.starts_with("tovik-reg: ")) << label << ' ' << result.err;
            EXPECT_EQ(english(firstLine), c.english) << label << ": " << firstLine;
        }
    }
}
