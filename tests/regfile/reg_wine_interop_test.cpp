// Interop with Wine's regedit and reg, the peer every .reg file must suit. Creating a Wine prefix
// takes about a minute, so these tests run only with TOVIK_TEST_WINE=1 and wine on PATH; they
// skip, saying why, otherwise.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "regfile/reg_export.h"
#include "regfile/reg_import.h"
#include "regfile_test_util.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "tests/backup/registry_test_util.h"
#include "wine_test_support.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;
using test::readValue;
using test::StoredValue;
using test::utf16Data;
using wine_test::shellQuoted;
using wine_test::wineEnvironment;

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

Bytes terminated(std::u16string_view text) {
    return utf16Data(std::u16string(text) + u'\0');
}

class WineInteropTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* enabled = std::getenv("TOVIK_TEST_WINE");
        if (enabled == nullptr || std::string(enabled) != "1") {
            skipReason_ = "set TOVIK_TEST_WINE=1 to run the Wine interop tests (a prefix takes about a minute)";
            return;
        }
        if (!OnPath("wine")) {
            skipReason_ = "wine is not on PATH";
            return;
        }
        dir_ = fs::temp_directory_path() / ("tovik_regfile_wine_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        prefixReady_ = wine_test::makeWinePrefix(dir_);
    }
    static void TearDownTestSuite() {
        if (dir_.empty()) return;
        wine("wineserver -k");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void SetUp() override {
        if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
        ASSERT_TRUE(prefixReady_) << "wineboot -i failed in " << dir_;
        openInMemoryRegistryStore();
    }
    void TearDown() override { closeRegistryStore(); }

    // Runs a command in the scratch prefix, in its folder, without a display; output receives its
    // standard output.
    static int wine(const std::string& command, std::string* output = nullptr) {
        const std::string line = "cd " + shellQuoted(dir_.string()) + " && " +
                                 wineEnvironment((dir_ / "prefix").string()) + command + " 2>/dev/null";
        std::FILE* pipe = ::popen(line.c_str(), "r");
        if (pipe == nullptr) return -1;
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            if (output != nullptr) output->append(buffer, n);
        }
        return ::pclose(pipe);
    }

    static void writeFile(const std::string& name, const Bytes& bytes) {
        std::ofstream out(dir_ / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes readFile(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // The value lines of `reg query KEY`, as "name|TYPE|data" in its order.
    static std::vector<std::string> queryValues(const std::string& key) {
        std::string output;
        EXPECT_EQ(wine("wine reg query " + shellQuoted(key), &output), 0);
        std::vector<std::string> values;
        std::stringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("    ", 0) != 0) continue;
            std::vector<std::string> fields;
            for (std::size_t at = 4; at <= line.size();) {
                const std::size_t cut = line.find("    ", at);
                fields.push_back(line.substr(at, cut == std::string::npos ? std::string::npos : cut - at));
                if (cut == std::string::npos) break;
                at = cut + 4;
            }
            std::string joined;
            for (const std::string& field : fields) joined += (joined.empty() ? "" : "|") + field;
            values.push_back(joined);
        }
        return values;
    }

    static void setValue(const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data) {
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), 0);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())), 0);
        RegCloseKey(key);
    }

    static inline std::string skipReason_;
    static inline fs::path dir_;
    static inline bool prefixReady_ = false;
};

TEST_F(WineInteropTest, OurExportIsImportedByWineRegeditWithTheSameValues) {
    for (const RegFileFormat format : {RegFileFormat::Version5, RegFileFormat::Regedit4}) {
        const bool v5 = format == RegFileFormat::Version5;
        SCOPED_TRACE(v5 ? "version 5" : "REGEDIT4");
        const std::u16string path = v5 ? u"Software\\TovikV5" : u"Software\\TovikV4";
        setValue(path, u"", REG_SZ, terminated(u"default text"));
        setValue(path, u"sz", REG_SZ, terminated(u"C:\\Program Files\\\"App\" a=b; [x]"));
        setValue(path, u"expand", REG_EXPAND_SZ, terminated(u"%SystemRoot%\\x"));
        setValue(path, u"multi", REG_MULTI_SZ, utf16Data(std::u16string(u"one\0two\0\0", 9)));
        setValue(path, u"bin", REG_BINARY, Bytes{0x0a, 0xff, 0x00, 0x10});
        setValue(path, u"dword", REG_DWORD, Bytes{0x2a, 0, 0, 0x80});
        setValue(path, u"none", REG_NONE, Bytes{1, 2});
        Bytes wide(120);
        for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<BYTE>(i);
        setValue(path, u"wrapped", REG_BINARY, wide);  // several continuation lines
        setValue(path, u"qword", 11, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
        setValue(path, u"large type", 0x12345678, Bytes{9, 8, 7});
        setValue(path + u"\\Sub\\Deeper", u"deep", REG_SZ, terminated(u"below"));

        BytesSink sink;
        ASSERT_EQ(exportRegFile(sink, HKEY_CURRENT_USER, path, format).outcome, RegFileExportOutcome::Written);
        writeFile("ours.reg", sink.bytes);
        ASSERT_EQ(wine("wine regedit /s ours.reg"), 0);

        const std::string key = std::string("HKEY_CURRENT_USER\\") + (v5 ? "Software\\TovikV5" : "Software\\TovikV4");
        // Not among them: a REG_DWORD that is not 4 bytes, which Wine's reg query and regedit /e
        // both show with a fourth byte of their own.
        const std::vector<std::string> shown = queryValues(key);
        std::string wideHex;
        for (const BYTE b : wide) {
            char two[3];
            std::snprintf(two, sizeof two, "%02X", b);
            wideHex += two;
        }
        // Wine lists values in name order.
        const std::vector<std::string> expected = {
            "(Default)|REG_SZ|default text",
            "bin|REG_BINARY|0AFF0010",
            "dword|REG_DWORD|0x8000002a",
            "expand|REG_EXPAND_SZ|%SystemRoot%\\x",
            "large type|(null)|(null)",
            "multi|REG_MULTI_SZ|one\\0two",
            "none|REG_NONE|0102",
            "qword|REG_QWORD|(null)",
            "sz|REG_SZ|C:\\Program Files\\\"App\" a=b; [x]",
            "wrapped|REG_BINARY|" + wideHex,
        };
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(queryValues(key + "\\Sub\\Deeper"), (std::vector<std::string>{"deep|REG_SZ|below"}));

        // reg query shows neither REG_QWORD data nor unknown types: Wine's own export, read by
        // us, gives every byte back.
        ASSERT_EQ(wine("wine regedit /e back.reg " + shellQuoted(key)), 0);
        const test::Snapshot ours = test::takeSnapshot();
        openInMemoryRegistryStore();
        const Bytes back = readFile("back.reg");
        const RegFileImportReport r = importRegFileBytes(back.data(), back.size());
        EXPECT_EQ(r.format, RegFileFormat::Version5);
        EXPECT_EQ(r.skipped() + r.failed(), 0u);
        // Wine keeps values in name order, we in the order they were made: compared by name.
        const auto byName = [](const std::vector<std::pair<std::u16string, StoredValue>>& values) {
            return std::map<std::u16string, StoredValue>(values.begin(), values.end());
        };
        const auto mine = byName(ours.at(u"HKEY_CURRENT_USER|" + path));
        EXPECT_EQ(mine.size(), 10u);
        EXPECT_EQ(byName(test::keyValues(HKEY_CURRENT_USER, path)), mine);
        EXPECT_EQ(test::keyValues(HKEY_CURRENT_USER, path + u"\\Sub\\Deeper"),
                  ours.at(u"HKEY_CURRENT_USER|" + path + u"\\Sub\\Deeper"));
        openInMemoryRegistryStore();
    }
}

TEST_F(WineInteropTest, AnExportOfWineRegeditIsImportedWithTheSameValues) {
    const std::string key = "HKEY_CURRENT_USER\\Software\\FromWine";
    const std::vector<std::string> adds = {
        "/v sz /t REG_SZ /d " + shellQuoted("some text; a=b \"q\""),
        "/ve /t REG_SZ /d " + shellQuoted("default"),
        "/v expand /t REG_EXPAND_SZ /d " + shellQuoted("%PATH%;x"),
        "/v multi /t REG_MULTI_SZ /d " + shellQuoted("a\\0bc"),
        "/v bin /t REG_BINARY /d 0aff00",
        "/v dword /t REG_DWORD /d 42",
        "/v qword /t REG_QWORD /d 0x0102030405060708",
    };
    for (const std::string& add : adds)
        ASSERT_EQ(wine("wine reg add " + shellQuoted(key) + " " + add + " /f"), 0) << add;
    ASSERT_EQ(wine("wine reg add " + shellQuoted(key + "\\Sub") + " /v inner /t REG_DWORD /d 7 /f"), 0);
    ASSERT_EQ(wine("wine regedit /e wine.reg " + shellQuoted(key)), 0);

    const Bytes file = readFile("wine.reg");
    const RegFileImportReport r = importRegFileBytes(file.data(), file.size());
    EXPECT_EQ(r.format, RegFileFormat::Version5);
    EXPECT_EQ(r.keysWritten, 2u);
    EXPECT_EQ(r.valuesWritten, 8u);
    EXPECT_EQ(r.skipped() + r.failed(), 0u);
    const std::u16string path = u"Software\\FromWine";
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, path, u"sz"), (StoredValue{REG_SZ, terminated(u"some text; a=b \"q\"")}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, path, u""), (StoredValue{REG_SZ, terminated(u"default")}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, path, u"expand"), (StoredValue{REG_EXPAND_SZ, terminated(u"%PATH%;x")}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, path, u"multi"),
              (StoredValue{REG_MULTI_SZ, utf16Data(std::u16string(u"a\0bc\0\0", 6))}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, path, u"bin"), (StoredValue{REG_BINARY, {0x0a, 0xff, 0x00}}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, path, u"dword"), (StoredValue{REG_DWORD, {42, 0, 0, 0}}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, path, u"qword"), (StoredValue{11, {8, 7, 6, 5, 4, 3, 2, 1}}));
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, path + u"\\Sub", u"inner"), (StoredValue{REG_DWORD, {7, 0, 0, 0}}));
}

}  // namespace
}  // namespace tovik
