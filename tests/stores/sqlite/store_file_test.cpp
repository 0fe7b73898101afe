// The store as a file: creation, durability, refusal of files that are not ours, another process
// on the same store, a writer killed mid-batch, a full disk, and the default path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "stores/sqlite/sqlite_db.h"
#include "stores/sqlite/sqlite_store.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Names = std::vector<std::u16string>;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

Names subkeys(HKEY key) {
    Names names;
    WCHAR name[256];
    DWORD length = 256;
    for (DWORD i = 0; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        names.emplace_back(name, length);
        length = 256;
    }
    return names;
}

Names subkeys(HKEY root, const std::u16string& path) {
    HKEY key = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return {};
    Names names = subkeys(key);
    RegCloseKey(key);
    return names;
}

Names valueNames(HKEY key) {
    Names names;
    WCHAR name[256];
    DWORD length = 256;
    for (DWORD i = 0; RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        names.emplace_back(name, length);
        length = 256;
    }
    return names;
}

bool createWithValue(HKEY root, const std::u16string& path, DWORD number) {
    HKEY key = 0;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS) return false;
    const LONG rc = RegSetValueExW(key, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

std::u16string numbered(const std::u16string& prefix, int i) {
    const std::string digits = std::to_string(i);
    return prefix + std::u16string(digits.begin(), digits.end());
}

std::string pragma(const char* statement) {
    tovik::sqlite::Query q = tovik::currentSqliteDatabase()->query(statement);
    return q.step() ? std::string(q.columnBlob(0)) : std::string();
}

// Runs body in a child process (which never inherits an open store: tests close theirs before
// forking); killed and reaped at the end of the scope unless waited for.
class ChildProcess {
public:
    explicit ChildProcess(const std::function<bool()>& body) : pid_(fork()) {
        if (pid_ == 0) _exit(body() ? 0 : 1);
    }
    ~ChildProcess() {
        if (pid_ > 0) wait(SIGKILL);
    }
    int wait(int signal = 0) {
        if (signal) kill(pid_, signal);
        int status = -1;
        waitpid(std::exchange(pid_, -1), &status, 0);
        return status;
    }
    pid_t pid_;
};

// A pipe whose ends close with it; each process closes the end it does not use, so a reader
// sees the end of the file instead of waiting for ever when the other side dies.
struct Pipe {
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe() { close(0), close(1); }
    void close(int end) {
        if (fds[end] >= 0) ::close(std::exchange(fds[end], -1));
    }
    int fds[2] = {-1, -1};
    // One byte from the read end, or 0 when nothing came within a minute (a test never hangs).
    char readByte() {
        pollfd p{fds[0], POLLIN, 0};
        char byte = 0;
        if (poll(&p, 1, 60000) != 1 || ::read(fds[0], &byte, 1) != 1) return 0;
        return byte;
    }
};

class StoreFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        tovik::closeRegistryStore();
        char pattern[] = "/tmp/tovik-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "registry.db").string();
    }
    void TearDown() override {
        tovik::closeRegistryStore();
        fs::remove_all(dir_);
    }
    void expectRefusedUnchanged(const fs::path& file) {
        SCOPED_TRACE(file.string());
        const std::string before = readBytes(file);
        const tovik::StoreOpenResult result = tovik::openRegistryStore(file.string());
        EXPECT_FALSE(result.ok);
        EXPECT_THAT(result.error, HasSubstr(file.string()));
        EXPECT_EQ(readBytes(file), before);
    }
    fs::path dir_;
    std::string path_;
};

TEST_F(StoreFileTest, CreatesFoldersAndAnOwnerOnlyStoreThatKeepsWrites) {
    const fs::path nested = dir_ / "a" / "b" / "registry.db";
    tovik::StoreOpenResult result = tovik::openRegistryStore(nested.string());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.created);
    EXPECT_EQ(fs::status(nested).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(pragma("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(pragma("PRAGMA synchronous"), "2");  // FULL
    ASSERT_TRUE(createWithValue(HKEY_CURRENT_USER, u"Single\\Key", 42));
    {
        tovik::RegistryBatch batch;
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(createWithValue(HKEY_LOCAL_MACHINE, numbered(u"Batch\\k", i), i));
    }
    tovik::closeRegistryStore();

    result = tovik::openRegistryStore(nested.string());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_FALSE(result.created);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, u"Batch").size(), 100u);
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Single\\Key", 0, 0, &key), ERROR_SUCCESS);
    WCHAR name[4];
    DWORD length = 4, type = 0, number = 0, size = 4;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size), 0);
    EXPECT_EQ(number, 42u);
    RegCloseKey(key);

    // An empty file has nothing to lose: it becomes a new store.
    writeBytes(path_, "");
    result = tovik::openRegistryStore(path_);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.created);
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE), ElementsAre());
}

TEST_F(StoreFileTest, FilesThatAreNotStoresAreRefusedAndLeftAlone) {
    writeBytes(dir_ / "garbage.db", std::string(5000, 'x'));
    expectRefusedUnchanged(dir_ / "garbage.db");
    writeBytes(dir_ / "damaged.db", std::string("SQLite format 3\0", 16) + std::string(8192, 'Z'));
    expectRefusedUnchanged(dir_ / "damaged.db");

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "foreign.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE keys(x); CREATE TABLE vals(y); INSERT INTO vals VALUES(1)", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    expectRefusedUnchanged(dir_ / "foreign.db");

    ASSERT_TRUE(tovik::openRegistryStore(path_).ok);
    tovik::closeRegistryStore();
    fs::permissions(path_, fs::perms::owner_read);
    expectRefusedUnchanged(path_);
    EXPECT_THAT(tovik::openRegistryStore(path_).error, HasSubstr("read-only"));

    // A failed open keeps the current store.
    tovik::openInMemoryRegistryStore();
    ASSERT_TRUE(createWithValue(HKEY_CURRENT_USER, u"Kept", 1));
    const tovik::StoreOpenResult folder = tovik::openRegistryStore(dir_.string());
    EXPECT_FALSE(folder.ok);
    EXPECT_THAT(folder.error, HasSubstr(dir_.string()));
    EXPECT_THAT(subkeys(HKEY_CURRENT_USER), ElementsAre(u"Kept"));
}

TEST_F(StoreFileTest, CommitsOfAnotherProcessReachOpenHandles) {
    ASSERT_TRUE(tovik::openRegistryStore(path_).ok);
    ASSERT_TRUE(createWithValue(HKEY_CURRENT_USER, u"Shared\\a", 1) &&
                createWithValue(HKEY_CURRENT_USER, u"Shared\\c", 1));
    tovik::closeRegistryStore();

    Pipe go;
    ChildProcess child([&] {
        go.close(1);
        char byte = 0;
        HKEY shared = 0;
        return read(go.fds[0], &byte, 1) == 1 && tovik::openRegistryStore(path_).ok &&
               RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared", 0, 0, &shared) == ERROR_SUCCESS &&
               createWithValue(shared, u"b", 2) && RegSetValueExW(shared, u"w", 0, REG_SZ, nullptr, 0) == ERROR_SUCCESS;
    });
    go.close(0);

    ASSERT_TRUE(tovik::openRegistryStore(path_).ok);
    HKEY shared = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared", 0, 0, &shared), ERROR_SUCCESS);
    EXPECT_THAT(subkeys(shared), ElementsAre(u"a", u"c"));
    EXPECT_THAT(valueNames(shared), ElementsAre());
    ASSERT_EQ(write(go.fds[1], "g", 1), 1);
    const int status = child.wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_THAT(subkeys(shared), ElementsAre(u"a", u"b", u"c"));
    EXPECT_THAT(valueNames(shared), ElementsAre(u"w"));
    RegCloseKey(shared);
}

TEST_F(StoreFileTest, AWriterKilledInABatchLeavesWhatItCommitted) {
    constexpr int kCommitted = 500;
    Pipe ready;
    ChildProcess child([&] {
        ready.close(0);
        if (!tovik::openRegistryStore(path_).ok) return false;
        tovik::RegistryBatch batch;
        for (int i = 0; i < kCommitted; ++i)
            if (!createWithValue(HKEY_LOCAL_MACHINE, numbered(u"Committed\\k", i), i)) return false;
        if (!batch.commit()) return false;
        for (int i = 0; createWithValue(HKEY_LOCAL_MACHINE, numbered(u"Pending\\k", i), i); ++i)
            if (i == 2000 && write(ready.fds[1], "r", 1) != 1) return false;
        return false;
    });
    ready.close(1);
    ASSERT_EQ(ready.readByte(), 'r');  // nothing if the child failed
    ASSERT_TRUE(WIFSIGNALED(child.wait(SIGKILL)));

    const tovik::StoreOpenResult reopened = tovik::openRegistryStore(path_);
    ASSERT_TRUE(reopened.ok) << reopened.error;
    EXPECT_EQ(pragma("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(pragma("PRAGMA foreign_key_check"), "");
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE), ElementsAre(u"Committed"));
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, u"Committed").size(), static_cast<std::size_t>(kCommitted));
    HKEY last = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, numbered(u"Committed\\k", kCommitted - 1).c_str(), 0, 0, &last), 0);
    EXPECT_THAT(valueNames(last), ElementsAre(u"v"));
    RegCloseKey(last);
}

TEST_F(StoreFileTest, AFullDiskFailsWritesAndLosesNothing) {
    ASSERT_TRUE(tovik::openRegistryStore(path_).ok);
    ASSERT_TRUE(createWithValue(HKEY_CURRENT_USER, u"Before", 1));
    tovik::currentSqliteDatabase()->exec(("PRAGMA max_page_count = " + pragma("PRAGMA page_count")).c_str());

    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Before", 0, 0, &key), ERROR_SUCCESS);
    const std::vector<BYTE> big(1 << 20, 7);
    EXPECT_EQ(RegSetValueExW(key, u"big", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size())), ERROR_CANTWRITE);
    LONG rc = ERROR_SUCCESS;
    for (int i = 0; i < 2000 && rc == ERROR_SUCCESS; ++i) {
        HKEY created = 0;
        rc = RegCreateKeyExW(key, numbered(u"k", i).c_str(), 0, nullptr, 0, 0, nullptr, &created, nullptr);
        RegCloseKey(created);
    }
    EXPECT_EQ(rc, ERROR_CANTWRITE);
    EXPECT_THAT(valueNames(key), ElementsAre(u"v"));
    RegCloseKey(key);

    tovik::currentSqliteDatabase()->exec("PRAGMA max_page_count = 1000000");
    EXPECT_TRUE(createWithValue(HKEY_CURRENT_USER, u"After", 2));
    EXPECT_EQ(pragma("PRAGMA integrity_check"), "ok");
}

TEST(StoreDefaultPathTest, FollowsXdgDataHomeElseHome) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string savedXdg = xdg ? xdg : "", savedHome = home ? home : "";

    setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(tovik::defaultRegistryPath(), "/data/home/tovik/registry.db");
    setenv("HOME", "/home/someone", 1);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(tovik::defaultRegistryPath(), "/home/someone/.local/share/tovik/registry.db");
    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(tovik::defaultRegistryPath(), "/home/someone/.local/share/tovik/registry.db");

    xdg ? setenv("XDG_DATA_HOME", savedXdg.c_str(), 1) : unsetenv("XDG_DATA_HOME");
    home ? setenv("HOME", savedHome.c_str(), 1) : unsetenv("HOME");
}

}  // namespace
