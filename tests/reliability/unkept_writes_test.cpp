// Writes that the store did not keep are never reported as done. tovik-reg's import and its write
// commands run under a file size limit (as on a full disk), while another process holds the
// store's write lock for longer than the wait, and with a value over the store's size limit: each
// exits 1 and says why, and the counts it gives agree with what the store holds afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <regex>
#include <sstream>
#include <variant>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"
#include "stores/sqlite/sqlite_db.h"
#include "stores/sqlite/sqlite_store.h"

namespace {

using namespace reliability;

constexpr std::string_view kDiskFull = "the disk is full";

ChildExit tovikReg(std::vector<std::string> args, std::optional<std::uint64_t> fileSizeLimit = {}) {
    return RunProgram(TOVIK_REG_PATH, std::move(args), fileSizeLimit);
}

// A backup file under HKEY_LOCAL_MACHINE with the given lines after the root line.
Bytes machineBackup(std::vector<std::u16string> lines) {
    lines.insert(lines.begin(), {u"Tovik レジストリ退避ファイル Ver1.0", u"\\\\HKEY_LOCAL_MACHINE"});
    return BackupFile(lines);
}

// "[Big]" and count string values of about 200 characters each.
Bytes manyValues(int count) {
    std::vector<std::u16string> lines{u"[Big]"};
    const std::u16string data(200, u'x');
    for (int i = 0; i < count; ++i) lines.push_back(u"\"v" + Ascii(std::to_string(i)) + u"\"=SZ:" + data);
    return machineBackup(lines);
}

// The counts of "N values and M keys were not written"; nullopt when the message is missing.
std::optional<std::pair<std::size_t, std::size_t>> notWrittenCounts(const std::string& err) {
    std::smatch match;
    if (!std::regex_search(err, match, std::regex("([0-9]+) values and ([0-9]+) keys were not written")))
        return std::nullopt;
    return std::make_pair(std::stoul(match[1]), std::stoul(match[2]));
}

// A store on disk, open in this process for the whole test: its shared-memory file then exists,
// so that a child under a file size limit meets the limit only with its own writes.
class UnkeptWrites : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeStore(store_));
        ASSERT_TRUE(tovik::openRegistryStore(store_).ok);
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Kept\\Sub", 0, nullptr, 0, 0, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override { tovik::closeRegistryStore(); }

    TempDir dir_;
    std::string store_ = dir_.File("registry.db");
    std::string file_ = dir_.File("backup.txt");
};

TEST_F(UnkeptWrites, ImportUnderAFileSizeLimitSaysHowManyValuesWereNotWritten) {
    constexpr int kValues = 3000;
    WriteFileBytes(file_, manyValues(kValues));
    for (const std::uint64_t limit : {1ull, 65536ull, 262144ull}) {
        const ChildExit run = tovikReg({"--registry", store_, "import", file_}, limit);
        EXPECT_TRUE(run.exited) << "signal " << run.signal;
        EXPECT_EQ(run.code, 1) << "limit " << limit << ": " << run.err;
        EXPECT_NE(run.err.find(kDiskFull), std::string::npos) << "limit " << limit << ": " << run.err;
        EXPECT_NE(run.err.find("the import stopped at line"), std::string::npos) << run.err;
        const auto counts = notWrittenCounts(run.err);
        ASSERT_TRUE(counts) << run.err;
        // What it says was not written is exactly what the store lacks.
        EXPECT_EQ(counts->first + ReadValues(HKEY_LOCAL_MACHINE, u"Big").size(), std::size_t{kValues}) << run.err;
        EXPECT_EQ(counts->second, keyExists(HKEY_LOCAL_MACHINE, u"Big") ? 0u : 1u) << run.err;
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, u"Software\\Kept", u"data")->data, stringToBytes(u"precious"));
        deleteKeyTree(HKEY_LOCAL_MACHINE, u"Big");
    }
    const ChildExit run = tovikReg({"--registry", store_, "import", file_});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadValues(HKEY_LOCAL_MACHINE, u"Big").size(), std::size_t{kValues});
}

TEST_F(UnkeptWrites, WriteCommandsUnderAFileSizeLimitFailAndChangeNothing) {
    const std::vector<std::vector<std::string>> commands = {
        {"set", "HKLM\\Software\\Kept", "new", "DW", "1"},
        {"set", "HKLM\\Software\\Kept", "data", "SZ", "overwritten"},
        {"set", "HKLM\\Made\\Here", "new", "DW", "1"},
        {"delete-value", "HKLM\\Software\\Kept", "data"},
        {"add-key", "HKLM\\New\\Key"},
        {"delete-key", "HKLM\\Software\\Kept\\Sub"},
        {"delete-key", "HKLM\\Software\\Kept"},
    };
    const std::string before = DumpRegistry();
    for (std::vector<std::string> command : commands) {
        command.insert(command.begin(), {"--registry", store_});
        const ChildExit run = tovikReg(command, 1);
        EXPECT_TRUE(run.exited) << "signal " << run.signal;
        EXPECT_EQ(run.code, 1) << command[2] << " " << command[3];
        EXPECT_NE(run.err, "") << command[2] << " " << command[3];
        EXPECT_EQ(DumpRegistry(), before) << command[2] << " " << command[3];
    }
    // Without the limit the same commands go through: the failures were the limit's.
    for (std::vector<std::string> command : commands) {
        command.insert(command.begin(), {"--registry", store_});
        const ChildExit run = tovikReg(command);
        EXPECT_EQ(run.code, 0) << command[2] << " " << command[3] << ": " << run.err;
    }
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Kept"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, u"New\\Key"));
}

TEST_F(UnkeptWrites, ImportWhileAnotherProcessHoldsTheWriteLockStopsAsBusy) {
    WriteFileBytes(file_, machineBackup({u"[Locked]", u"\"a\"=DW:1", u"\"b\"=DW:2", u"\"c\"=DW:3"}));
    Child holder({{HELPER_PATH, "hold-write-lock", store_, "60"}, {}, {}, {}, {}});
    std::string line;
    ASSERT_TRUE(holder.ReadLine(line, 20000) && line == "locked") << line;
    const ChildExit run = tovikReg({"--registry", store_, "import", file_});
    holder.Kill(SIGKILL);
    holder.Wait();
    EXPECT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_NE(run.err.find("busy"), std::string::npos) << run.err;
    EXPECT_EQ(notWrittenCounts(run.err), std::make_pair(std::size_t{3}, std::size_t{1})) << run.err;
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, u"Locked"));
    // It gives up after the wait for the lock, not after the holder's minute.
    EXPECT_LT(run.seconds, 40 * TimeScale());

    const ChildExit again = tovikReg({"--registry", store_, "import", file_});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(ReadValues(HKEY_LOCAL_MACHINE, u"Locked").size(), 3u);
}

// The store's limit on the size of one value, lowered here so that a small file goes over it.
TEST_F(UnkeptWrites, AValueOverTheStoresSizeLimitIsReportedAndTheOthersWritten) {
    sqlite3_limit(tovik::currentSqliteDatabase()->handle(), SQLITE_LIMIT_LENGTH, 65536);
    std::u16string big;
    for (int i = 0; i < 100000; ++i) big += i == 0 ? u"AB" : u" AB";
    WriteFileBytes(file_, machineBackup({u"[Sized]", u"\"small\"=DW:1", u"\"big\"=BIN:" + big, u"\"after\"=DW:2"}));

    auto run = [](std::vector<std::string_view> args, std::string& err) {
        const auto parsed = tovik::cli::parseCommandLine(args);
        EXPECT_TRUE(std::holds_alternative<tovik::cli::Command>(parsed));
        std::ostringstream out, errors;
        const int code = tovik::cli::runCommand(std::get<tovik::cli::Command>(parsed), out, errors);
        err = errors.str();
        return code;
    };
    std::string err;
    EXPECT_EQ(run({"import", file_}, err), 1) << err;
    EXPECT_NE(err.find("too large"), std::string::npos) << err;
    EXPECT_EQ(notWrittenCounts(err), std::make_pair(std::size_t{1}, std::size_t{0})) << err;
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, u"Sized", u"small"));
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, u"Sized", u"after"));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, u"Sized", u"big"));

    const std::string hex = Utf8(big);
    EXPECT_EQ(run({"set", "HKLM\\Sized", "big", "BIN", hex}, err), 1);
    EXPECT_NE(err.find("cannot write value"), std::string::npos) << err;
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, u"Sized", u"big"));
}

}  // namespace
