// The commands run in-process on an in-memory store.
#include "cli/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <vector>

#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/key_time.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/utf8.h"
#include "registry/value_types.h"
#include "stores/open_store.h"

namespace {

using namespace tovik::cli;

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

class CommandsTest : public testing::Test {
protected:
    void SetUp() override { tovik::openInMemoryRegistryStore(); }
    void TearDown() override { tovik::closeRegistryStore(); }

    static Outcome Run(std::vector<std::string_view> args) {
        ParsedCommandLine parsed = parseCommandLine(args);
        if (auto* error = std::get_if<CommandLineError>(&parsed)) return {-1, "", error->message};
        std::ostringstream out, err;
        const int code = runCommand(std::get<Command>(parsed), out, err);
        return {code, out.str(), err.str()};
    }

    static void set(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data) {
        HKEY key = 0;
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(CommandsTest, QueryWalksDepthFirstInRegistryOrder) {
    // Created out of order: subkeys list by name, case-insensitively; values in creation order.
    set(HKEY_LOCAL_MACHINE, u"Top\\b", u"z", REG_DWORD, dwordToBytes(1));
    set(HKEY_LOCAL_MACHINE, u"Top\\b", u"a", REG_DWORD, dwordToBytes(2));
    set(HKEY_LOCAL_MACHINE, u"Top\\A\\deep\\deeper", u"", REG_SZ, stringToBytes(u"x"));
    set(HKEY_LOCAL_MACHINE, u"Top\\C", u"m", REG_BINARY, {0x01});
    set(HKEY_LOCAL_MACHINE, u"Top", u"v", REG_MULTI_SZ, TextToMultiSz(u"p|q||"));
    set(HKEY_LOCAL_MACHINE, u"Topper", u"w", REG_SZ, stringToBytes(u"elsewhere"));

    const Outcome all = Run({"query", "HKLM\\Top", "-r"});
    EXPECT_EQ(all.code, kExitSuccess) << all.err;
    EXPECT_EQ(all.out, "[Top]\n\"v\"=MLT:p|q||\n"
                       "[Top\\A]\n[Top\\A\\deep]\n[Top\\A\\deep\\deeper]\n\"@\"=SZ:x\n"
                       "[Top\\b]\n\"z\"=DW:1(1)\n\"a\"=DW:2(2)\n"
                       "[Top\\C]\n\"m\"=BIN:01 \n");
    EXPECT_EQ(all.err, "");

    EXPECT_EQ(Run({"query", "HKLM\\Top"}).out, "[Top]\n\"v\"=MLT:p|q||\n");
    // The path prints as the registry holds it, whatever case was typed.
    EXPECT_EQ(Run({"query", "hklm\\TOP\\a\\DEEP", "-r"}).out, "[Top\\A\\deep]\n[Top\\A\\deep\\deeper]\n\"@\"=SZ:x\n");
    // Other roots are not touched.
    EXPECT_EQ(Run({"query", "HKCU", "-r"}).out, "[]\n");
}

// A time as --since and --until take it, to the 100 ns.
std::string exactIsoTime(std::int64_t time) {
    std::string text = tovik::formatFileTimeUtc(time);  // "2024-05-01T12:34:56Z"
    std::string fraction = std::to_string(time % tovik::kFileTimeTicksPerSecond);
    fraction.insert(0, 7 - fraction.size(), '0');
    text.insert(19, "." + fraction);
    return text;
}

// Three moments apart: Old, then Mid (and its parent Top, which the creation touches), then New.
TEST_F(CommandsTest, KeyTimesAreQueriedFoundByDateAndListedNewestFirst) {
    set(HKEY_LOCAL_MACHINE, u"Top\\Old", u"v", REG_DWORD, dwordToBytes(1));
    const std::int64_t first = tovik::fileTimeNow();
    set(HKEY_LOCAL_MACHINE, u"Top\\Mid, quoted \"name\"", u"match", REG_SZ, stringToBytes(u"x"));
    const std::int64_t second = tovik::fileTimeNow();
    set(HKEY_CURRENT_USER, u"New", u"match", REG_SZ, stringToBytes(u"y"));

    // query: the default output as it was; --times adds the time to each key line.
    EXPECT_EQ(Run({"query", "HKLM\\Top\\Old"}).out, "[Top\\Old]\n\"v\"=DW:1(1)\n");
    const Outcome timed = Run({"query", "HKLM\\Top", "-r", "--times"});
    ASSERT_EQ(timed.code, kExitSuccess) << timed.err;
    EXPECT_NE(timed.out.find("[Top\\Old] " + tovik::formatFileTimeUtc(first).substr(0, 10)), std::string::npos)
        << timed.out;
    EXPECT_NE(timed.out.find("\"v\"=DW:1(1)\n"), std::string::npos);
    EXPECT_NE(Run({"query", "HKLM\\Top", "--json", "--times"}).out.find("\"written\":\"20"), std::string::npos);

    // find: the span keeps the hits of keys written in it; without a text every such key is a hit.
    const std::string since = exactIsoTime(first), until = exactIsoTime(second);
    EXPECT_EQ(Run({"find", "match", "--since", since}).out,
              "HKEY_CURRENT_USER\\New\tmatch\nHKEY_LOCAL_MACHINE\\Top\\Mid, quoted \"name\"\tmatch\n");
    EXPECT_EQ(Run({"find", "match", "--since", since, "--until", until}).out,
              "HKEY_LOCAL_MACHINE\\Top\\Mid, quoted \"name\"\tmatch\n");
    EXPECT_EQ(Run({"find", "HKLM", "--since=" + since}).out,
              "HKEY_LOCAL_MACHINE\\Top\nHKEY_LOCAL_MACHINE\\Top\\Mid, quoted \"name\"\n");
    EXPECT_EQ(Run({"find", "--until", since}).out.find("\\New"), std::string::npos);
    const Outcome none = Run({"find", "match", "--until", "2001-01-01"});
    EXPECT_EQ(none.code, kExitFailure);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(Run({"find", "--since", "yesterday"}).code, -1);
    EXPECT_EQ(Run({"find", "--since", until, "--until", since}).code, -1);
    EXPECT_EQ(Run({"find"}).code, -1);

    // timeline: every key below KEY, newest first, CSV.
    const Outcome all = Run({"timeline", "HKLM\\Top"});
    ASSERT_EQ(all.code, kExitSuccess) << all.err;
    std::istringstream lines(all.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 3u) << all.out;
    // Mid and Top were written in one step (a key and its parent); Old before them.
    const std::string mid = ",\"HKEY_LOCAL_MACHINE\\Top\\Mid, quoted \"\"name\"\"\"";
    EXPECT_TRUE(rows[0].ends_with(mid) || rows[1].ends_with(mid)) << all.out;
    EXPECT_TRUE(rows[0].ends_with(",HKEY_LOCAL_MACHINE\\Top") || rows[1].ends_with(",HKEY_LOCAL_MACHINE\\Top"))
        << all.out;
    EXPECT_TRUE(rows[2].ends_with(",HKEY_LOCAL_MACHINE\\Top\\Old")) << all.out;
    for (const std::string& row : rows) {
        const std::optional<std::int64_t> time = tovik::parseIsoDateTime(row.substr(0, row.find(',')));
        ASSERT_TRUE(time) << row;
        EXPECT_LE(*time, tovik::fileTimeNow());
    }
    EXPECT_LE(rows[1].substr(0, 20), rows[0].substr(0, 20));
    EXPECT_LE(rows[2].substr(0, 20), rows[1].substr(0, 20));
    const Outcome everything = Run({"timeline"});
    EXPECT_EQ(everything.out.rfind(tovik::formatFileTimeUtc(tovik::fileTimeNow()).substr(0, 10), 0), 0u);
    EXPECT_NE(everything.out.find(",HKEY_CURRENT_USER\\New\n"), std::string::npos);
    EXPECT_EQ(Run({"timeline", "HKLM\\Missing"}).code, kExitFailure);
}

// The timeline against the keys' times read through the registry operations: every key once,
// newest first, keys of one time (a key created with its parent in one step) in the order a
// depth-first walk in name order meets them, paths quoted as CSV fields where they need it.
TEST_F(CommandsTest, TimelineListsEveryKeyNewestFirstAndTiesInRegistryOrder) {
    set(HKEY_LOCAL_MACHINE, u"Line\\b\\deep\\deeper", u"v", REG_DWORD, dwordToBytes(1));
    set(HKEY_LOCAL_MACHINE, u"Line\\A, \"q\"\\x\\y", u"v", REG_DWORD, dwordToBytes(2));
    set(HKEY_LOCAL_MACHINE, u"Line\\c", u"v", REG_DWORD, dwordToBytes(3));
    set(HKEY_LOCAL_MACHINE, u"Line\\b\\deep\\other", u"v", REG_DWORD, dwordToBytes(4));

    struct Row {
        std::int64_t time;
        std::string path;
    };
    std::vector<Row> rows;
    const auto walk = [&rows](const auto& self, const std::u16string& path) -> void {
        tovik::KeyHandle key;
        ASSERT_EQ(tovik::openKeyHandle(HKEY_LOCAL_MACHINE, path, key), ERROR_SUCCESS);
        FILETIME written{};
        ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, &written),
                  ERROR_SUCCESS);
        rows.push_back(
            {static_cast<std::int64_t>((std::uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime),
             tovik::utf16ToUtf8(u"HKEY_LOCAL_MACHINE\\" + path)});
        tovik::EnumBuffers buffers;
        std::u16string_view name;
        for (DWORD index = 0; tovik::enumSubkeyName(key.get(), index, buffers, name) == ERROR_SUCCESS; ++index)
            self(self, path + u"\\" + std::u16string(name));
    };
    walk(walk, u"Line");
    ASSERT_EQ(rows.size(), 9u);
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.time > b.time; });
    bool tied = false;
    std::string expected;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        tied = tied || (i > 0 && rows[i].time == rows[i - 1].time);
        const bool quote = rows[i].path.find_first_of(",\"") != std::string::npos;
        std::string field = rows[i].path;
        for (std::size_t at = 0; (at = field.find('"', at)) != std::string::npos; at += 2) field.insert(at, 1, '"');
        expected += tovik::formatFileTimeUtc(rows[i].time) + "," + (quote ? "\"" + field + "\"" : field) + "\n";
    }
    ASSERT_TRUE(tied) << expected;  // the order of ties is what this checks
    const Outcome timeline = Run({"timeline", "HKLM\\Line"});
    ASSERT_EQ(timeline.code, kExitSuccess) << timeline.err;
    EXPECT_EQ(timeline.out, expected);
}

TEST_F(CommandsTest, QueryListsValuesOfAnySizeInFull) {
    const std::u16string longName(3000, u'n');
    Bytes big(100000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
    set(HKEY_CURRENT_USER, u"Big", u"small", REG_DWORD, dwordToBytes(5));
    set(HKEY_CURRENT_USER, u"Big", longName, REG_BINARY, big);
    set(HKEY_CURRENT_USER, u"Big", u"after", REG_SZ, stringToBytes(u"still listed"));
    set(HKEY_CURRENT_USER, u"Big\\" + std::u16string(255, u'k'), u"v", REG_DWORD, dwordToBytes(1));

    const Outcome outcome = Run({"query", "HKCU\\Big", "-r"});
    ASSERT_EQ(outcome.code, kExitSuccess) << outcome.err;
    std::string expected = "[Big]\n\"small\"=DW:5(5)\n\"" + std::string(3000, 'n') + "\"=BIN:";
    for (BYTE b : big) {
        static const char digits[] = "0123456789ABCDEF";
        expected += {digits[b >> 4], digits[b & 15], ' '};
    }
    expected += "\n\"after\"=SZ:still listed\n[Big\\" + std::string(255, 'k') + "]\n\"v\"=DW:1(1)\n";
    EXPECT_EQ(outcome.out, expected);
}

TEST_F(CommandsTest, QueryReachesTheDeepestKeys) {
    std::u16string path = u"d";
    for (int level = 1; level < kMaxKeyDepth; ++level) path += u"\\d";
    set(HKEY_CLASSES_ROOT, path, u"bottom", REG_DWORD, dwordToBytes(512));

    const Outcome outcome = Run({"query", "HKCR", "-r"});
    ASSERT_EQ(outcome.code, kExitSuccess) << outcome.err;
    std::size_t keyLines = 0;
    for (std::size_t at = 0; (at = outcome.out.find("\n[", at)) != std::string::npos; ++at) ++keyLines;
    EXPECT_EQ(keyLines, static_cast<std::size_t>(kMaxKeyDepth));
    const std::string tail = "\"bottom\"=DW:512(200)\n";
    ASSERT_GE(outcome.out.size(), tail.size());
    EXPECT_EQ(outcome.out.substr(outcome.out.size() - tail.size()), tail);
}

TEST_F(CommandsTest, SetCreatesTheMissingKeysAndReplacesValues) {
    EXPECT_EQ(Run({"set", "HKLM\\New\\Deeper", "@", "SZ", "text"}).code, kExitSuccess);
    EXPECT_EQ(Run({"set", "HKLM\\New\\Deeper", "n", "DW", "-2(FFFFFFFE)"}).code, kExitSuccess);
    EXPECT_EQ(Run({"set", "HKLM\\new\\deeper", "N", "0x99", "01 02"}).code, kExitSuccess);
    EXPECT_EQ(Run({"set", "HKLM", "atRoot", "MLT", "a||"}).code, kExitSuccess);
    EXPECT_EQ(Run({"query", "HKLM", "-r"}).out,
              "[]\n\"atRoot\"=MLT:a||\n[New]\n[New\\Deeper]\n\"@\"=SZ:text\n\"n\"=??:01 02 \n");
}

TEST_F(CommandsTest, KeysBeyondTheStoresLimitsAreRefusedBeforeAnythingIsWritten) {
    const std::string tooLong(kMaxKeyNameLength + 1, 'x');
    const Outcome key = Run({"set", "HKLM\\" + tooLong, "n", "SZ", "x"});
    EXPECT_NE(key.code, kExitSuccess);
    EXPECT_NE(key.err.find("too long"), std::string::npos) << key.err;
    EXPECT_EQ(Run({"query", "HKLM"}).out, "[]\n");
}

}  // namespace
