#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace tovik::cli;

ParsedCommandLine parse(std::initializer_list<std::string_view> args) {
    const std::vector<std::string_view> list(args);
    return parseCommandLine(list);
}

Command parseOk(std::initializer_list<std::string_view> args) {
    ParsedCommandLine parsed = parse(args);
    if (auto* error = std::get_if<CommandLineError>(&parsed)) {
        ADD_FAILURE() << "unexpected error: " << error->message;
        return {};
    }
    return std::get<Command>(parsed);
}

CommandLineErrorKind errorKindOf(std::initializer_list<std::string_view> args) {
    ParsedCommandLine parsed = parse(args);
    auto* error = std::get_if<CommandLineError>(&parsed);
    if (error == nullptr) {
        ADD_FAILURE() << "expected an error";
        return {};
    }
    EXPECT_FALSE(error->message.empty());
    return error->kind;
}

TEST(CommandLine, ReadsEachCommandWithItsArguments) {
    Command query = parseOk({"query", "HKLM\\Software\\Tovik", "-r"});
    EXPECT_EQ(query.kind, CommandKind::Query);
    EXPECT_EQ(query.key.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(query.key.path, u"Software\\Tovik");
    EXPECT_TRUE(query.recursive);
    EXPECT_FALSE(query.registryFile.has_value());
    EXPECT_EQ(query.source.kind, tovik::RegistrySource::Kind::UserStore);

    EXPECT_TRUE(parseOk({"query", "-r", "HKCU"}).recursive);
    // The key spellings of the address line (registry/key_path.h).
    Command slashed = parseOk({"query", " HKLM:/Software/Tovik "});
    EXPECT_EQ(slashed.key.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(slashed.key.path, u"Software\\Tovik");
    EXPECT_EQ(parseOk({"add-key", "Computer\\HKEY_CURRENT_USER\\\\A"}).key.path, u"A");
    EXPECT_FALSE(parseOk({"query", "HKCU"}).recursive);

    Command set = parseOk({"--registry", "/tmp/r.db", "set", "HKCU\\A", "Name", "DW", "-1"});
    EXPECT_EQ(set.kind, CommandKind::Set);
    EXPECT_EQ(set.registryFile, "/tmp/r.db");
    EXPECT_EQ(set.key.root, HKEY_CURRENT_USER);
    EXPECT_EQ(set.valueName, u"Name");
    EXPECT_EQ(set.type, REG_DWORD);
    EXPECT_EQ(set.dataText, u"-1");  // data that looks like an option is data

    Command unnamed = parseOk({"--registry=r.db", "delete-value", "HKCR\\.txt", "@"});
    EXPECT_EQ(unnamed.kind, CommandKind::DeleteValue);
    EXPECT_EQ(unnamed.registryFile, "r.db");
    EXPECT_EQ(unnamed.valueName, u"");

    Command named = parseOk({"set", "HKLM", "-r", "SZ", "\xE6\x9D\xB1"});
    EXPECT_EQ(named.valueName, u"-r");
    EXPECT_EQ(named.dataText, u"\u6771");
    EXPECT_EQ(parseOk({"--", "query", "HKLM"}).kind, CommandKind::Query);

    Command prefix = parseOk({"--wine-prefix", "/home/u/.wine", "add-key", "HKCU\\A"});
    EXPECT_EQ(prefix.source.kind, tovik::RegistrySource::Kind::WinePrefix);
    EXPECT_EQ(prefix.source.path, "/home/u/.wine");
    EXPECT_EQ(prefix.kind, CommandKind::AddKey);
}

TEST(CommandLine, ExportAndImportTakeTheFileNameAsItIs) {
    Command exported = parseOk({"export", "hklm\\Software\\", "/tmp/\xFF backup.txt"});
    EXPECT_EQ(exported.kind, CommandKind::Export);
    EXPECT_EQ(exported.key.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(exported.key.path, u"Software");
    EXPECT_EQ(exported.fileName, "/tmp/\xFF backup.txt");  // bytes that are not UTF-8 are a file name still

    Command imported = parseOk({"--registry", "r.db", "import", "-1.txt"});
    EXPECT_EQ(imported.kind, CommandKind::Import);
    EXPECT_EQ(imported.fileName, "-1.txt");

    EXPECT_EQ(errorKindOf({"export", "HKLM"}), CommandLineErrorKind::Usage);
    EXPECT_EQ(errorKindOf({"export", "HKLM", "a.txt", "b.txt"}), CommandLineErrorKind::Usage);
    EXPECT_EQ(errorKindOf({"import"}), CommandLineErrorKind::Usage);
    EXPECT_EQ(errorKindOf({"import", ""}), CommandLineErrorKind::Usage);
    EXPECT_EQ(errorKindOf({"export", "HKEY_USERS", "a.txt"}), CommandLineErrorKind::BadArgument);
    EXPECT_NE(usageText().find("export KEY FILE"), std::string_view::npos);
    EXPECT_NE(usageText().find("import FILE"), std::string_view::npos);
    EXPECT_NE(shortUsageText().find("import FILE"), std::string_view::npos);
}

TEST(CommandLine, HelpBeforeTheCommandOrAfterQuery) {
    EXPECT_EQ(parseOk({"-h", "bogus"}).kind, CommandKind::Help);
    EXPECT_EQ(parseOk({"--registry", "x", "--help", "query"}).kind, CommandKind::Help);
    EXPECT_EQ(parseOk({"query", "--help"}).kind, CommandKind::Help);
    EXPECT_EQ(parseOk({"--version", "bogus"}).kind, CommandKind::Version);
    EXPECT_EQ(parseOk({"--registry", "x", "--version"}).kind, CommandKind::Version);
}

TEST(CommandLine, UsageErrors) {
    for (auto args : std::vector<std::vector<std::string_view>>{
             {},
             {"--registry", "r.db"},
             {"--registry"},
             {"--registry="},
             {"--verbose", "query", "HKLM"},
             {"QUERY", "HKLM"},
             {"query", "HKLM", "HKCU"},
             {"query", "HKLM", "--registry", "r.db"},
             {"--wine-prefix", "p", "--registry", "r.db", "query", "HKLM"},
             {"--wine-prefix", "p", "--write", "query", "HKLM"},
             {"query", "HKLM", "--wine-prefix", "p"},
             {"set", "HKLM", "a", "SZ"},
             {"delete-value", "HKLM", "a", "b"},
             {"set", "HKLM", "\xC3", "SZ", "x"},
             {"set", "HKLM", "a", "SZ", "\xED\xA0\x80"},
         }) {
        ParsedCommandLine parsed = parseCommandLine(args);
        auto* error = std::get_if<CommandLineError>(&parsed);
        ASSERT_NE(error, nullptr) << testing::PrintToString(args);
        EXPECT_EQ(error->kind, CommandLineErrorKind::Usage) << testing::PrintToString(args);
    }
}

TEST(CommandLine, BadRootTypeOrDataIsAFailureNotAUsageError) {
    EXPECT_EQ(errorKindOf({"query", "HKEY_USERS"}), CommandLineErrorKind::BadArgument);
    EXPECT_EQ(errorKindOf({"set", "HKLM\\A", "n", "STRING", "x"}), CommandLineErrorKind::BadArgument);
    EXPECT_EQ(errorKindOf({"set", "HKLM\\A", "n", "0x100000000", "00"}), CommandLineErrorKind::BadArgument);
    EXPECT_EQ(errorKindOf({"set", "HKLM\\A", "n", "DW", "0x100000000"}), CommandLineErrorKind::BadArgument);
    EXPECT_EQ(errorKindOf({"set", "HKLM\\A", "n", "BIN", "zz"}), CommandLineErrorKind::BadArgument);
    // A usage error is reported before a bad value.
    EXPECT_EQ(errorKindOf({"set", "HKXX", "n", "BAD", "x", "extra"}), CommandLineErrorKind::Usage);
}

TEST(CommandLine, KeyArguments) {
    struct Case {
        std::u16string_view text;
        HKEY root;
        std::u16string_view path;
    };
    for (const Case& c : {
             Case{u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, u""},
             Case{u"hkcr", HKEY_CLASSES_ROOT, u""},
             Case{u"HKEY_current_USER\\Control Panel", HKEY_CURRENT_USER, u"Control Panel"},
             Case{u"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE, u""},
             Case{u"HKLM\\Software\\", HKEY_LOCAL_MACHINE, u"Software"},
             Case{u"HKLM\\\u6771\u4EAC (\u6A19\u6E96\u6642)", HKEY_LOCAL_MACHINE, u"\u6771\u4EAC (\u6A19\u6E96\u6642)"},
             // The spellings of the address line are read here too (one parser).
             Case{u" HKLM/Software/Tovik ", HKEY_LOCAL_MACHINE, u"Software\\Tovik"},
             Case{u"HKLM:\\Software", HKEY_LOCAL_MACHINE, u"Software"},
             Case{u"Computer\\HKEY_CURRENT_USER\\Software", HKEY_CURRENT_USER, u"Software"},
             Case{u"\\HKLM\\\\Software", HKEY_LOCAL_MACHINE, u"Software"},
         }) {
        auto key = parseKeyArgument(c.text);
        ASSERT_TRUE(key.has_value()) << testing::PrintToString(std::u16string(c.text));
        EXPECT_EQ(key->root, c.root);
        EXPECT_EQ(key->path, c.path);
    }
    for (std::u16string_view bad : {u"", u"HKEY_USERS", u"HKLMX", u"HKL", u"HKLM\\a\\\\\\b", u"HKLM/a//b"}) {
        EXPECT_FALSE(parseKeyArgument(bad).has_value()) << testing::PrintToString(std::u16string(bad));
    }
}

TEST(CommandLine, TypeArguments) {
    struct Case {
        std::u16string_view text;
        DWORD type;
    };
    for (const Case& c : {
             Case{u"NON", REG_NONE},
             Case{u"SZ", REG_SZ},
             Case{u"EXP", REG_EXPAND_SZ},
             Case{u"BIN", REG_BINARY},
             Case{u"DW", REG_DWORD},
             Case{u"DWE", REG_DWORD_BIG_ENDIAN},
             Case{u"LNK", REG_LINK},
             Case{u"MLT", REG_MULTI_SZ},
             Case{u"RSC", REG_RESOURCE_LIST},
             Case{u"Mlt", REG_MULTI_SZ},
             Case{u"QW", REG_QWORD},
             Case{u"qw", REG_QWORD},
             // The platform's names, in any case.
             Case{u"REG_NONE", REG_NONE},
             Case{u"REG_SZ", REG_SZ},
             Case{u"reg_sz", REG_SZ},
             Case{u"REG_EXPAND_SZ", REG_EXPAND_SZ},
             Case{u"REG_BINARY", REG_BINARY},
             Case{u"Reg_Dword", REG_DWORD},
             Case{u"REG_MULTI_SZ", REG_MULTI_SZ},
             Case{u"REG_QWORD", REG_QWORD},
             Case{u"reg_qword", REG_QWORD},
             Case{u"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
             Case{u"REG_LINK", REG_LINK},
             Case{u"REG_RESOURCE_LIST", REG_RESOURCE_LIST},
             Case{u"REG_FULL_RESOURCE_DESCRIPTOR", 9},
             // Numbers.
             Case{u"9", 9},
             Case{u"4294967295", 0xFFFFFFFFu},
             Case{u"0x12345", 0x12345u},
             Case{u"0XfFfFfFfF", 0xFFFFFFFFu},
             Case{u"0x0000000010", 0x10u},
         }) {
        EXPECT_EQ(parseTypeArgument(c.text), c.type) << testing::PrintToString(std::u16string(c.text));
    }
    for (std::u16string_view bad :
         {u"", u"??", u"REG_", u"REG_SZX", u"REG SZ", u"S Z", u" SZ", u"4294967296", u"0x100000000", u"0x", u"-1",
          u"+1", u"1e3", u"0x1G", u"12a", u"\uFF11", u"QWORD"}) {
        EXPECT_FALSE(parseTypeArgument(bad).has_value()) << testing::PrintToString(std::u16string(bad));
    }
}

}  // namespace
