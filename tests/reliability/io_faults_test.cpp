// I/O faults. An export whose writes fail part-way (a file size limit, as a full disk would)
// reports the failure, leaves an existing target as it was and no temporary file behind. A store
// that is read-only, in a folder that cannot be written, locked by another process for longer
// than the wait, or damaged gives a clear message at start and is never written to.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "backup/backup_export.h"
#include "cli/utf8.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

using namespace reliability;
namespace fs = std::filesystem;

ChildExit tovikReg(std::vector<std::string> args, std::optional<std::uint64_t> fileSizeLimit = {},
                   std::optional<Account> user = {}, std::vector<std::string> environment = {}) {
    return RunProgram(TOVIK_REG_PATH, std::move(args), fileSizeLimit, user, std::move(environment));
}

// ---- Export with a write failing part-way ----

class ExportWriteFailure : public ::testing::Test {
protected:
    void SetUp() override {
        // About 6 MB of backup file: 200 values of 10 KiB under HKLM\Big.
        ASSERT_TRUE(tovik::openRegistryStore(store_).ok);
        HKEY key = 0;
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Big", 0, nullptr, 0, 0, nullptr, &key, &disposition),
                  ERROR_SUCCESS);
        std::mt19937 random(3);
        Bytes data(10240);
        for (int i = 0; i < 200; ++i) {
            for (BYTE& b : data) b = static_cast<BYTE>(random());
            const std::u16string name = u"value" + Ascii(std::to_string(i));
            ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())),
                      ERROR_SUCCESS);
        }
        RegCloseKey(key);
        // The store stays open here, so that the child finds its shared-memory file made and
        // only the export's own writes meet the limit.
        fs::create_directory(exports_);
    }
    void TearDown() override { tovik::closeRegistryStore(); }

    TempDir dir_;
    std::string store_ = dir_.File("registry.db");
    std::string exports_ = dir_.File("exports");
};

TEST_F(ExportWriteFailure, LeavesAnExistingTargetUnchangedAndNoTemporaryFile) {
    const std::string target = exports_ + "/backup.txt";
    const Bytes previous = BackupFile({u"Tovik レジストリ退避ファイル Ver1.0", u"\\\\HKEY_LOCAL_MACHINE", u"[Previous]",
                                       u"\"kept\"=SZ:the user's earlier backup"});
    const std::string failed = tovik::cli::utf16ToUtf8(tovik::kExportWriteFailedMessage);
    int faults = 0;
    for (const std::uint64_t limit : {0ull, 1ull, 2ull, 4096ull, 65536ull, 262144ull, 1048576ull, 4194304ull}) {
        for (const bool existed : {true, false}) {
            if (existed) WriteFileBytes(target, previous);
            const ChildExit run =
                tovikReg({"--registry", store_, "export", "HKLM\\Big", target}, limit, {}, kJapaneseMessages);
            ++faults;
            EXPECT_TRUE(run.exited) << "signal " << run.signal;
            EXPECT_EQ(run.code, 1) << "limit " << limit;
            EXPECT_NE(run.err.find(failed), std::string::npos) << "limit " << limit << ": " << run.err;
            if (existed) {
                EXPECT_EQ(ReadFileBytes(target), previous) << "limit " << limit;
                EXPECT_EQ(FolderEntries(exports_), std::vector<std::string>{"backup.txt"}) << "limit " << limit;
            } else {
                EXPECT_EQ(FolderEntries(exports_), std::vector<std::string>{}) << "limit " << limit;
            }
            fs::remove(target);
        }
    }
    // Without the limit the same export succeeds: the failures were the limit's.
    const ChildExit run = tovikReg({"--registry", store_, "export", "HKLM\\Big", target});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_GT(fs::file_size(target), 6'000'000u);
    std::cout << "export write faults injected: " << faults << std::endl;
}

// ---- Stores that cannot be used ----

// Runs tovik-reg on store and opens it in this process (as the GUI does at start); both must
// fail with a message containing expected, and the file must not change.
void expectRefusedStore(const std::string& store, const std::string& expected, std::optional<Account> user = {}) {
    const Bytes before = ReadFileBytes(store);
    const ChildExit run = tovikReg({"--registry", store, "query", "HKLM"}, {}, user);
    EXPECT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    if (!user) {
        const tovik::StoreOpenResult opened = tovik::openUserRegistry(store);
        EXPECT_FALSE(opened.ok);
        EXPECT_NE(opened.error.find(expected), std::string::npos) << opened.error;
        EXPECT_FALSE(tovik::hasRegistryStore());
    }
    EXPECT_EQ(ReadFileBytes(store), before) << "the store file was changed";
}

TEST(UnusableStore, ReadOnlyFile) {
    TempDir dir;
    const std::string store = dir.File("registry.db");
    ASSERT_TRUE(MakeStore(store));
    ASSERT_EQ(::chmod(store.c_str(), 0444), 0);
    expectRefusedStore(store, "read-only");
}

TEST(UnusableStore, FolderThatCannotBeWritten) {
    TempDir dir;
    const std::string folder = dir.File("store");
    ASSERT_TRUE(fs::create_directory(folder));
    const std::string store = folder + "/registry.db";
    ASSERT_TRUE(MakeStore(store));
    // Root may write anywhere: the store is then used by an ordinary user.
    const std::optional<Account> user = UnprivilegedAccount();
    if (user) {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::chown(folder.c_str(), user->uid, user->gid), 0);
        ASSERT_EQ(::chown(store.c_str(), user->uid, user->gid), 0);
    }
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    expectRefusedStore(store, "cannot be written", user);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"registry.db"});
}

TEST(UnusableStore, LockedLongerThanTheWait) {
    TempDir dir;
    const std::string store = dir.File("registry.db");
    ASSERT_TRUE(MakeStore(store));
    Child holder({{HELPER_PATH, "hold-lock", store, "15"}, {}, {}, {}, {}});
    std::string line;
    ASSERT_TRUE(holder.ReadLine(line, 20000) && line == "locked");
    const double start = Now();
    expectRefusedStore(store, "another program keeps it locked");
    const double waited = Now() - start;
    EXPECT_GT(waited, 4.0) << "gave up without waiting";
    holder.Kill(SIGKILL);
    holder.Wait();
    // Once the lock is gone the store opens and still holds its data.
    const ChildExit run = tovikReg({"--registry", store, "query", "HKLM\\Software\\Kept"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("\"data\"=SZ:precious"), std::string::npos) << run.out;
}

class DamagedStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(MakeStore(store_)); }
    Bytes store() { return ReadFileBytes(store_); }
    TempDir dir_;
    std::string store_ = dir_.File("registry.db");
};

TEST_F(DamagedStore, RandomBytes) {
    std::mt19937 random(5);
    Bytes noise(65536);
    for (BYTE& b : noise) b = static_cast<BYTE>(random());
    WriteFileBytes(store_, noise);
    expectRefusedStore(store_, "not a Tovik registry database");
}

TEST_F(DamagedStore, ZeroBytes) {
    WriteFileBytes(store_, Bytes(8192, 0));
    expectRefusedStore(store_, "not a Tovik registry database");
}

TEST_F(DamagedStore, TextFile) {
    WriteFileBytes(store_, Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    expectRefusedStore(store_, "not a Tovik registry database");
}

TEST_F(DamagedStore, HeaderOnly) {
    Bytes bytes = store();
    bytes.resize(100);
    WriteFileBytes(store_, bytes);
    expectRefusedStore(store_, "damaged");
}

TEST_F(DamagedStore, SchemaPageOverwritten) {
    Bytes bytes = store();
    ASSERT_GT(bytes.size(), 4096u);
    std::mt19937 random(6);
    for (std::size_t i = 100; i < 4096; ++i) bytes[i] = static_cast<BYTE>(random());
    WriteFileBytes(store_, bytes);
    expectRefusedStore(store_, "damaged");
}

TEST_F(DamagedStore, DatabaseOfAnotherProgram) {
    fs::remove(store_);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine')", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    expectRefusedStore(store_, "database of another program");
}

TEST_F(DamagedStore, NewerVersion) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    expectRefusedStore(store_, "newer version");
}

TEST_F(DamagedStore, Folder) {
    fs::remove(store_);
    fs::create_directory(store_);
    const ChildExit run = tovikReg({"--registry", store_, "query", "HKLM"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("it is a folder"), std::string::npos) << run.err;
}

// Damage beyond the pages read at start shows when the data is read: the command fails with a
// clear message instead of printing part of the registry as if it were all.
TEST_F(DamagedStore, DataPageOverwrittenFailsTheRead) {
    ASSERT_TRUE(tovik::openRegistryStore(store_).ok);
    HKEY key = 0;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Many", 0, nullptr, 0, 0, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    const Bytes data(1000, 0x5A);
    for (int i = 0; i < 400; ++i) {
        const std::u16string name = u"v" + Ascii(std::to_string(i));
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
    tovik::closeRegistryStore();
    Bytes bytes = store();
    ASSERT_GT(bytes.size(), 200'000u);
    // Scribble over the pages in the middle of the file (the values' table), not the first ones.
    std::mt19937 random(7);
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 16384; ++i) bytes[i] = static_cast<BYTE>(random());
    WriteFileBytes(store_, bytes);
    EXPECT_NE(IntegrityCheck(store_), "ok");

    const ChildExit run = tovikReg({"--registry", store_, "query", "HKLM\\Software", "-r"});
    EXPECT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(run.code, 1) << run.out.substr(0, 400);
    EXPECT_NE(run.err.find("not usable"), std::string::npos) << run.err;
}

}  // namespace
