// How .reg files read: one table of whole files and what the registry holds after importing each,
// following the platform's own reg and regedit (the behaviour that Wine's tests of those programs
// assert of Windows). Every file is imported as 8-bit text and as UTF-16 with its mark, from a file
// on disk as an import reads it, into the Tovik store and into a Wine prefix.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "regfile/reg_import.h"
#include "regfile/reg_text.h"
#include "regfile_test_util.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "tests/backup/registry_test_util.h"
#include "wine_test_support.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;
using test::StoredValue;

// Every file below works in this key.
constexpr std::u16string_view kBase = u"Software\\Conformance";

struct ValueCheck {
    std::u16string key;  // below kBase ("" for kBase itself)
    std::u16string name;
    std::optional<StoredValue> value;  // nullopt: the value is absent
};

struct KeyCheck {
    std::u16string key;  // below kBase
    bool exists;
};

constexpr std::size_t kAny = static_cast<std::size_t>(-1);

struct ConformanceCase {
    const char* name;
    std::string file;  // the whole file, "\n" line ends; "$" stands for HKEY_CURRENT_USER\<kBase>
    RegFileFormat format;
    std::vector<ValueCheck> values;
    std::vector<KeyCheck> keys = {};
    std::size_t skipped = kAny;  // lines the import's summary counts as skipped, when checked
};

StoredValue utf16Value(DWORD type, std::u16string text) {
    return {type, test::utf16Data(text)};
}
StoredValue sz(std::u16string text) {
    return utf16Value(REG_SZ, text + u'\0');
}
StoredValue expand(std::u16string text) {
    return utf16Value(REG_EXPAND_SZ, text + u'\0');
}
StoredValue multi(std::u16string text) {
    return utf16Value(REG_MULTI_SZ, text + u'\0');
}
StoredValue dword(DWORD v) {
    return {REG_DWORD, {BYTE(v & 0xFF), BYTE((v >> 8) & 0xFF), BYTE((v >> 16) & 0xFF), BYTE(v >> 24)}};
}
ValueCheck has(std::u16string name, StoredValue value) {
    return {u"", std::move(name), std::move(value)};
}
ValueCheck lacks(std::u16string name) {
    return {u"", std::move(name), std::nullopt};
}

const std::string kV4 = "REGEDIT4\n\n[$]\n";
const std::string kV5 = "Windows Registry Editor Version 5.00\n\n[$]\n";

std::vector<ConformanceCase> cases() {
    const std::u16string line = u"Line concat";
    const std::u16string concatenation(u"Line concatenation\0", 19);
    return {
        // String data without its terminating zero gets one; other types keep their bytes.
        {"StringDataGetsItsZero",
         kV4 + "\"a\"=hex(2):25,50,41,54,48,25\n"
               "\"b\"=hex(7):4c,69,6e,65,20,63,6f,6e,63,61,74\n"
               "\"c\"=hex(1):41,42\n"
               "\"d\"=hex(2):25,50,41,54,48,25,00\n"
               "\"e\"=hex(7):61,00,62,00,00\n"
               "\"f\"=hex(2):\n"
               "\"g\"=hex(0):56,00,61,00\n"
               "\"h\"=hex:11,22\n",
         RegFileFormat::Regedit4,
         {has(u"a", expand(u"%PATH%")), has(u"b", multi(line)), has(u"c", sz(u"AB")), has(u"d", expand(u"%PATH%")),
          has(u"e", utf16Value(REG_MULTI_SZ, std::u16string(u"a\0b\0\0", 5))), has(u"f", {REG_EXPAND_SZ, {}}),
          has(u"g", {REG_NONE, {0x56, 0, 0x61, 0}}), has(u"h", {REG_BINARY, {0x11, 0x22}})},
         {},
         0},
        {"Version5StringDataGetsAZeroCharacter",
         kV5 + "\"a\"=hex(2):25,00,50,00\n"
               "\"b\"=hex(7):41,00,00,00,42,00\n"
               "\"c\"=hex(1):41,00,42,00,00,00\n"
               "\"d\"=hex(1):41,00,42\n"
               "\"e\"=hex(1):\n",
         RegFileFormat::Version5,
         {has(u"a", expand(u"%P")), has(u"b", utf16Value(REG_MULTI_SZ, std::u16string(u"A\0B\0", 4))),
          has(u"c", sz(u"AB")), has(u"d", {REG_SZ, {0x41, 0, 0x42}}), has(u"e", {REG_SZ, {}})}},
        {"AListEndingInACommaEndsTheValueThere",
         kV4 + "\"a\"=hex(2):25,50,41,\\;comment\n"
               "  54,48,\n"
               "  25,00\n"
               "\"b\"=hex(0):56,00,61,00,\\;comment\n"
               "  6c,00,75,00,;comment\n"
               "  65,00,00,00\n"
               "\"c\"=hex(2):25,50,41,54,48,25,00,\n",
         RegFileFormat::Regedit4,
         {has(u"a", expand(u"%PATH")), has(u"b", {REG_NONE, {0x56, 0, 0x61, 0, 0x6c, 0, 0x75, 0}}),
          has(u"c", expand(u"%PATH%"))}},

        // A continuation broken by a line that is no hex data drops that line with the value,
        // across comment and blank lines.
        {"ABrokenContinuationDropsTheNextLine",
         kV4 + "\"a\"=hex(2):4c,69,6e,65,20,\\\n"
               "\"b\"=\"dropped\"\n"
               "\"c\"=hex(2):4c,69,6e,65,20,\\\n"
               ";comment\n"
               "\"d\"=dword:00000008\n"
               "\"e\"=hex(2):4c,69,6e,65,20,\\\n"
               "\n"
               "\n"
               "\"f\"=hex(2):25,50,41,54,48,25,00\n"
               "\"g\"=hex(2):4c,69,6e,65,20,\\\n"
               "#comment\n"
               "\"h\"=\"kept\"\n"
               "\"i\"=hex(2):4c,69,6e,65,20,\\\n"
               "@=\"dropped\"\n"
               "\"j\"=\"kept\"\n",
         RegFileFormat::Regedit4,
         {lacks(u"a"), lacks(u"b"), lacks(u"c"), lacks(u"d"), lacks(u"e"), lacks(u"f"), lacks(u"g"),
          has(u"h", sz(u"kept")), lacks(u"i"), lacks(u""), has(u"j", sz(u"kept"))},
         {},
         10},
        {"ABackslashWithoutItsCommaBreaksOnlyItsOwnValue",
         kV4 + "\"a\"=hex(2):4c,69,6e,65,20\\\n"
               "\"b\"=\"kept\"\n"
               "\"c\"=hex(2):4c,69,6e,65,20\\\n"
               "@=\"default\"\n",
         RegFileFormat::Regedit4,
         {lacks(u"a"), has(u"b", sz(u"kept")), lacks(u"c"), has(u"", sz(u"default"))},
         {},
         2},
        {"ABrokenContinuationDropsAKeyLine",
         kV4 + "\"a\"=hex(2):4c,69,6e,65,20,\\\n"
               "[$\\Dropped]\n"
               "\"b\"=hex(2):4c,69,6e,65,20\\\n"
               "[$\\Created]\n",
         RegFileFormat::Regedit4,
         {lacks(u"a"), lacks(u"b")},
         {{u"Dropped", false}, {u"Created", true}}},
        {"CommentsAndBlankLinesInsideAContinuationAreSkipped",
         kV4 + "\"a\"=hex(7):4c,69,6e,65,20,\\\n"
               "  63,6f,6e,\\;comment\n"
               "  63,61,74,\\\n"
               "\n"
               "  65,6e,\\;comment\n"
               "\n"
               "  61,74,69,6f,6e,00,00\n"
               "\"b\"=hex(7):4c,69,6e,65,20,\\\n"
               "  63,6f,6e,63,61,74,\\\n"
               "  ;comment\n"
               "  65,6e,\\;comment\n"
               "  61,74,69,6f,6e,00,00\n"
               "\"c\"=hex:11,22,33,\\\n"
               "\\\n"
               "  44,55,66\n",
         RegFileFormat::Regedit4,
         {has(u"a", multi(concatenation)), has(u"b", multi(concatenation)), lacks(u"c")}},

        // A key path ending in backslashes names the key without them.
        {"TrailingBackslashesOfAKeyPathAreDropped",
         kV4 + "[$\\One\\]\n\"v\"=\"1\"\n"
               "[$\\Two\\\\]\n\"v\"=\"2\"\n"
               "[$\\Four\\\\\\\\]\n\"v\"=\"4\"\n",
         RegFileFormat::Regedit4,
         {{u"One", u"v", sz(u"1")}, {u"Two", u"v", sz(u"2")}, {u"Four", u"v", sz(u"4")}},
         {{u"One", true}, {u"Two", true}, {u"Four", true}},
         0},

        // Headers.
        {"Regedit4HeaderAloneWithoutLineEnd", "REGEDIT4", RegFileFormat::Regedit4, {}},
        {"Version5HeaderAloneWithoutLineEnd", "Windows Registry Editor Version 5.00", RegFileFormat::Version5, {}},
        {"HeaderAloneWithLineEnd", "REGEDIT4\n", RegFileFormat::Regedit4, {}},
        {"HeaderAfterBlanks", " \tREGEDIT4\n\n[$]\n\"v\"=\"x\"\n", RegFileFormat::Regedit4, {has(u"v", sz(u"x"))}},
        {"Regedit3IsRefused",
         "REGEDIT3\n\n[$]\n\"v\"=\"x\"\n",
         RegFileFormat::UnknownHeader,
         {lacks(u"v")},
         {{u"", false}}},
        {"SpacedHeaderIsRefused", "REGEDIT 4\n\n[$]\n\"v\"=\"x\"\n", RegFileFormat::UnknownHeader, {lacks(u"v")}},
        {"HeaderWithMoreIsRefused", "REGEDIT4FOO\n\n[$]\n\"v\"=\"x\"\n", RegFileFormat::UnknownHeader, {lacks(u"v")}},
        {"HeaderWithAWordMoreIsRefused", "REGEDIT4 FOO\n[$]\n", RegFileFormat::UnknownHeader, {}, {{u"", false}}},
        {"LaterVersionIsRefused", "REGEDIT9\n[$]\n", RegFileFormat::UnknownHeader, {}, {{u"", false}}},
        {"SixteenBitHeaderIsRefused", "REGEDIT\nHKEY_CLASSES_ROOT\\.tovik = x\n", RegFileFormat::UnknownHeader, {}},
        {"LowerCaseHeaderIsRefused", "regedit4\n\n[$]\n\"v\"=\"x\"\n", RegFileFormat::UnknownHeader, {lacks(u"v")}},
        {"Version4LongHeaderIsRefused",
         "Windows Registry Editor Version 4.00\n[$]\n",
         RegFileFormat::UnknownHeader,
         {},
         {{u"", false}}},
        {"Version5WithoutMinorIsRefused",
         "Windows Registry Editor Version 5\n[$]\n",
         RegFileFormat::UnknownHeader,
         {},
         {{u"", false}}},
        {"Version5InCapitalsIsRefused",
         "WINDOWS REGISTRY EDITOR VERSION 5.00\n[$]\n",
         RegFileFormat::UnknownHeader,
         {},
         {{u"", false}}},
        {"HeaderAfterABlankLineIsNoHeader", "\nREGEDIT4\n[$]\n", RegFileFormat::Unknown, {}, {{u"", false}}},
        {"HeaderAfterALetterIsNoHeader", "AREGEDIT4\n[$]\n", RegFileFormat::Unknown, {}, {{u"", false}}},

        // The forms the platform reads, as a reference for the groups above.
        {"CommentsAfterData",
         kV4 + "\"a\"=\"Value1\"  ;comment\n"
               "\"b\"=\"Value2\"\t\t#comment\n"
               "\"c\"=dword:1234;5678\n"
               "\"d\"=dword:1234#5678\n"
               "\"e\"=hex(2):25,50,41,54,48,25,00\t;comment\n"
               "\"f\"=hex(2):25,50,41,54,48,25,00  #comment\n"
               "\"g\"=\"Value;comment\"\n",
         RegFileFormat::Regedit4,
         {has(u"a", sz(u"Value1")), lacks(u"b"), has(u"c", dword(0x1234)), lacks(u"d"), has(u"e", expand(u"%PATH%")),
          lacks(u"f"), has(u"g", sz(u"Value;comment"))}},
        {"DwordForms",
         kV4 + "\"a\"=dword:1\n\"b\"=dword:\n\"c\"=dword:123456789\n\"d\"=dword:0x123\n\"e\"=dword:1234 5678\n",
         RegFileFormat::Regedit4,
         {has(u"a", dword(1)), lacks(u"b"), lacks(u"c"), lacks(u"d"), lacks(u"e")}},
        {"HexTypeNumbers",
         kV4 + "\"a\"=hex(100):56,00\n\"b\"=hex(ffffffff):56,00\n\"c\"=hex(100000000):56,00\n\"d\"=hex(0x2):56,00\n",
         RegFileFormat::Regedit4,
         {has(u"a", {0x100, {0x56, 0}}), has(u"b", {0xFFFFFFFF, {0x56, 0}}), lacks(u"c"), lacks(u"d")}},
        {"ContinuationForms",
         kV4 + "\"a\"=hex:11,22,33,44,\\\n  55,66\n"
               "\"b\"=hex:11,22,33,44\\\n  ,55,66\n"
               "\"c\"=hex:11,22,33,4\\\n  4,55,66\n"
               "\"d\"=hex(2):25,48,4f,4d,45,25,5c,  \\  ;comment\n  25,50,41,54,48,25,00\n"
               "\"e\"=hex(2):\\\n  25,48,4f,4d,45,25,00\n",
         RegFileFormat::Regedit4,
         {has(u"a", {REG_BINARY, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}}), lacks(u"b"), lacks(u"c"),
          has(u"d", expand(u"%HOME%\\%PATH%")), has(u"e", expand(u"%HOME%"))}},
        {"KeyLines",
         kV4 + "[ $\\Blank]\n[$\\Trailing ]\n[$\\Unclosed\n",
         RegFileFormat::Regedit4,
         {},
         {{u"Blank", false}, {u"Trailing ", true}, {u"Unclosed", false}}},
        {"ValueLines",
         kV4 + "\"double\\\"quote\"=\"valid \\\"or\\\" not\"\n\"a\"=\"foo\"bar\"\n\"b\"=Asdf\n\"\"=\"default\"\n"
               "\"c\"=\"x\"\n\"c\"=  \t-\t \n",
         RegFileFormat::Regedit4,
         {has(u"double\"quote", sz(u"valid \"or\" not")), lacks(u"a"), lacks(u"b"), has(u"", sz(u"default")),
          lacks(u"c")}},
    };
}

std::u16string fromUtf8(const std::string& text) {
    std::u16string out;
    appendEightBitText(reinterpret_cast<const BYTE*>(text.data()), text.size(), out);
    return out;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

struct Backend {
    const char* name;
    std::function<bool(const fs::path& dir)> open;
};

std::vector<Backend> backends() {
    return {
        {"TovikStore", [](const fs::path& dir) { return openRegistryStore((dir / "registry.db").string()).ok; }},
        {"WinePrefix",
         [](const fs::path& dir) {
             wine_test::makeEmptyPrefix(dir / "prefix");
             RegistrySource source;
             source.kind = RegistrySource::Kind::WinePrefix;
             source.path = (dir / "prefix").string();
             const StoreOpenResult opened = openRegistry(source);
             return opened.ok && !opened.readOnly;
         }},
    };
}

class RegConformanceTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tovik_reg_conformance_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        closeRegistryStore();
        fs::remove_all(dir_);
    }

    // Imports the file as the command line and the window do: its first bytes tell what it is,
    // then it is read whole and applied.
    void check(const ConformanceCase& c, bool utf16) {
        SCOPED_TRACE(std::string(c.name) + (utf16 ? " as UTF-16" : " as 8-bit text"));
        const fs::path run = dir_ / (std::string(c.name) + (utf16 ? "-16" : "-8"));
        fs::create_directories(run);
        ASSERT_TRUE(GetParam().open(run));

        const std::string file8 = replaced(c.file, "$", "HKEY_CURRENT_USER\\Software\\Conformance");
        const Bytes bytes = utf16 ? test::utf16File(fromUtf8(file8)) : test::eightBitFile(file8);
        const std::string path = (run / "file.reg").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

        EXPECT_EQ(sniffRegFileAt(path), c.format);
        const std::optional<RegFileText> file = readRegFileAt(path);
        ASSERT_TRUE(file.has_value());
        const std::u16string refusal = RegFileUnknownHeaderMessage(file->text);
        EXPECT_EQ(refusal.empty(), c.format != RegFileFormat::UnknownHeader)
            << std::string(refusal.begin(), refusal.end());
        const RegFileImportReport report = importRegFileText(file->text);
        EXPECT_EQ(report.format, c.format);
        EXPECT_EQ(report.failed(), 0u);
        if (c.skipped != kAny) {
            EXPECT_EQ(report.skipped(), c.skipped);
        }

        const std::u16string base(kBase);
        for (const ValueCheck& v : c.values) {
            const std::u16string key = v.key.empty() ? base : base + u"\\" + v.key;
            EXPECT_EQ(test::readValue(HKEY_CURRENT_USER, key, v.name), v.value)
                << "value \"" << std::string(v.name.begin(), v.name.end()) << "\" of "
                << std::string(key.begin(), key.end());
        }
        for (const KeyCheck& k : c.keys) {
            const std::u16string key = k.key.empty() ? base : base + u"\\" + k.key;
            EXPECT_EQ(test::keyExists(HKEY_CURRENT_USER, key), k.exists) << std::string(key.begin(), key.end());
        }
        closeRegistryStore();
    }

    fs::path dir_;
};

TEST_P(RegConformanceTest, EveryFileReadsAsThePlatformReadsIt) {
    for (const ConformanceCase& c : cases()) {
        check(c, false);
        check(c, true);
    }
}

TEST(RegConformance, TheRefusalOfAnUnknownHeaderQuotesIt) {
    const std::u16string message = RegFileUnknownHeaderMessage(u"REGEDIT 4\r\n[HKEY_CURRENT_USER\\X]\r\n");
    EXPECT_NE(message.find(u"「REGEDIT 4」"), std::u16string::npos);
    EXPECT_EQ(RegFileUnknownHeaderMessage(u"Tovik\r\n"), u"");
    EXPECT_EQ(RegFileUnknownHeaderMessage(u"REGEDIT4\r\n"), u"");
}

INSTANTIATE_TEST_SUITE_P(Backends, RegConformanceTest, ::testing::ValuesIn(backends()),
                         [](const ::testing::TestParamInfo<Backend>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tovik
