// Export targets that must not be written, and what an export leaves on disk: never the open
// store or its -wal and -shm files, never through another user's link in a shared sticky folder;
// a killed export leaves no file of its own and the old file intact, also under the longest
// names; temporaries of exports that were killed are removed; new files are private and a
// replaced file keeps its mode and owner; values that an import cannot give back are told.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "backup/backup_export.h"
#include "files/durable_writer.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

using namespace reliability;
namespace fs = std::filesystem;

ChildExit Export(const std::string& store, const std::string& key, const std::string& target) {
    return RunProgram(TOVIK_REG_PATH, {"--registry", store, "export", key, target});
}

void setBinary(const std::u16string& path, const std::u16string& name, const Bytes& data) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

const Bytes kOldFile = {'o', 'l', 'd', ' ', 'b', 'a', 'c', 'k', 'u', 'p'};

// A store on disk with HKLM\Software\Kept, open in this process, so that its -wal and -shm
// files exist while the children run.
class ExportTargets : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeStore(store_));
        ASSERT_TRUE(tovik::openRegistryStore(store_).ok);
        fs::create_directory(exports_);
    }
    void TearDown() override { tovik::closeRegistryStore(); }

    TempDir dir_;
    std::string store_ = dir_.File("registry.db");
    std::string exports_ = dir_.File("exports");
};

TEST_F(ExportTargets, TheOpenStoreAndItsLogsAreRefusedWhateverThePathSays) {
    ASSERT_TRUE(fs::exists(store_ + "-wal") && fs::exists(store_ + "-shm"));
    fs::create_hard_link(store_, exports_ + "/hard-link.db");
    fs::create_symlink(store_, exports_ + "/symbolic-link.db");
    const std::string before = DumpRegistry();
    for (const std::string& target : {store_, store_ + "-wal", store_ + "-shm", dir_.path() + "/./registry.db",
                                      exports_ + "/hard-link.db", exports_ + "/symbolic-link.db"}) {
        const ChildExit run = Export(store_, "HKLM\\Software", target);
        EXPECT_EQ(run.code, 1) << target;
        EXPECT_NE(run.err.find("it is the registry store in use"), std::string::npos) << target << ": " << run.err;
        EXPECT_EQ(DumpRegistry(), before) << target;
    }
    EXPECT_EQ(IntegrityCheck(store_), "ok");
    // Another file of the same folder is written as usual.
    EXPECT_EQ(Export(store_, "HKLM\\Software", dir_.File("backup.txt")).code, 0);
}

TEST_F(ExportTargets, AnotherUsersLinkInASharedStickyFolderIsRefused) {
    const std::optional<Account> other = UnprivilegedAccount();
    if (!other) GTEST_SKIP() << "needs root: a link of another user is made with lchown";
    const std::string shared = dir_.File("shared");
    const std::string mine = dir_.File("mine.txt");
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    WriteFileBytes(mine, kOldFile);

    const std::string planted = shared + "/backup.txt";
    fs::create_symlink(mine, planted);
    ASSERT_EQ(::lchown(planted.c_str(), other->uid, other->gid), 0);
    const ChildExit refused = Export(store_, "HKLM\\Software", planted);
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("a link in a shared folder owned by neither you nor the folder's owner"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(ReadFileBytes(mine), kOldFile);
    EXPECT_TRUE(fs::is_symlink(planted));

    // A link of one's own in the same folder is followed: the file it names is replaced.
    const std::string own = shared + "/own.txt";
    fs::create_symlink(mine, own);
    const ChildExit followed = Export(store_, "HKLM\\Software", own);
    EXPECT_EQ(followed.code, 0) << followed.err;
    EXPECT_NE(ReadFileBytes(mine), kOldFile);
    EXPECT_TRUE(fs::is_symlink(own));
}

// Kills at several moments of an export onto an existing file with a name of 250 characters:
// each leaves the old file as it was and nothing else in its folder.
TEST_F(ExportTargets, AKilledExportLeavesTheOldFileAndNoOtherUnderALongName) {
    std::mt19937 random(11);
    Bytes data(65536);
    for (int i = 0; i < 200; ++i) {
        for (BYTE& b : data) b = static_cast<BYTE>(random());
        setBinary(u"Software\\Big", u"v" + Ascii(std::to_string(i)), data);
    }
    const std::string name = std::string(246, 'b') + ".txt";
    const std::string target = exports_ + "/" + name;

    // A complete export first: the name is accepted, and its time tells when to kill.
    const ChildExit whole = Export(store_, "HKLM\\Software\\Big", target);
    ASSERT_EQ(whole.code, 0) << whole.err;
    ASSERT_GT(fs::file_size(target), 50'000'000u);
    EXPECT_EQ(FolderEntries(exports_), std::vector<std::string>{name});

    // A loaded machine may let an export finish before its kill: go round the moments until three
    // kills have landed midway (or give up after three rounds).
    int killedMidway = 0;
    const double fractions[] = {0.05, 0.2, 0.4, 0.6, 0.8};
    for (int attempt = 0; attempt < 15 && killedMidway < 3; ++attempt) {
        const double fraction = fractions[attempt % 5];
        WriteFileBytes(target, kOldFile);
        Child child({{TOVIK_REG_PATH, "--registry", store_, "export", "HKLM\\Software\\Big", target}, {}, {}, {}, {}});
        ::usleep(static_cast<useconds_t>(whole.seconds * fraction * 1e6));
        child.Kill(SIGKILL);
        const ChildExit run = child.Wait();
        EXPECT_EQ(FolderEntries(exports_), std::vector<std::string>{name}) << "killed at " << fraction;
        if (run.exited) continue;  // it finished first: the new file is complete
        ++killedMidway;
        EXPECT_EQ(ReadFileBytes(target), kOldFile) << "killed at " << fraction;
    }
    EXPECT_GE(killedMidway, 3);
}

// A process id that no process has now.
pid_t deadProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST_F(ExportTargets, TemporariesOfKilledExportsAreRemovedAndNothingElse) {
    const std::string dead = std::to_string(deadProcess());
    const std::string alive = std::to_string(::getpid());
    const std::vector<std::string> stale = {".tovik-export-" + dead + "-0.tmp", ".backup.txt." + dead + "-3-12345.tmp"};
    const std::vector<std::string> kept = {".tovik-export-" + alive + "-0.tmp", ".tovik-export-x-0.tmp", "backup.txt",
                                           "notes-" + dead + ".tmp"};
    for (const std::string& entry : stale) WriteFileBytes(exports_ + "/" + entry, kOldFile);
    for (const std::string& entry : kept) WriteFileBytes(exports_ + "/" + entry, kOldFile);
    // A link under a temporary's name is not a temporary: the file it names must stay.
    fs::create_symlink(exports_ + "/backup.txt", exports_ + "/.tovik-export-" + dead + "-1.tmp");
    std::vector<std::string> expected = kept;
    expected.push_back(".tovik-export-" + dead + "-1.tmp");
    if (const std::optional<Account> other = UnprivilegedAccount()) {
        // Another user's temporary is theirs to remove.
        const std::string theirs = ".tovik-export-" + dead + "-2.tmp";
        WriteFileBytes(exports_ + "/" + theirs, kOldFile);
        ASSERT_EQ(::chown((exports_ + "/" + theirs).c_str(), other->uid, other->gid), 0);
        expected.push_back(theirs);
    }
    std::sort(expected.begin(), expected.end());

    EXPECT_EQ(tovik::files::removeStaleTemporaries(exports_), stale.size());
    EXPECT_EQ(FolderEntries(exports_), expected);
    EXPECT_EQ(ReadFileBytes(exports_ + "/backup.txt"), kOldFile);
}

// Sets the umask for one test and puts the old one back.
struct UmaskFor {
    explicit UmaskFor(mode_t mask) : old(::umask(mask)) {}
    ~UmaskFor() { ::umask(old); }
    mode_t old;
};

TEST_F(ExportTargets, NewFilesArePrivateAndAReplacedFileKeepsItsModeAndOwner) {
    const UmaskFor open(0);
    const std::string fresh = exports_ + "/new.txt";
    ASSERT_EQ(Export(store_, "HKLM\\Software", fresh).code, 0);
    EXPECT_EQ(fs::status(fresh).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    const std::string existing = exports_ + "/shared.txt";
    WriteFileBytes(existing, kOldFile);
    ASSERT_EQ(::chmod(existing.c_str(), 0664), 0);
    const std::optional<Account> other = UnprivilegedAccount();
    if (other) ASSERT_EQ(::chown(existing.c_str(), other->uid, other->gid), 0);
    struct stat before {};
    ASSERT_EQ(::stat(existing.c_str(), &before), 0);
    ASSERT_EQ(Export(store_, "HKLM\\Software", existing).code, 0);
    struct stat after {};
    ASSERT_EQ(::stat(existing.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced in one step, not rewritten in place";
    EXPECT_EQ(after.st_mode & 07777, 0664u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
}

TEST_F(ExportTargets, ValuesThatAnImportCannotGiveBackAreCountedAndNamed) {
    auto setText = [](const std::u16string& name, DWORD type, const Bytes& data) {
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Odd", 0, nullptr, 0, 0, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    };
    setText(u"fine", REG_SZ, stringToBytes(u"plain text"));
    setText(u"x", REG_SZ, stringToBytes(u"x=DW:5"));
    setText(u"lines", REG_SZ, stringToBytes(u"one\ntwo"));
    setText(u"@", REG_DWORD, dwordToBytes(1));
    setText(u"parts", REG_MULTI_SZ, stringToBytes(std::u16string(u"a|b\0c\0\0", 7)));  // a part holding "|"
    const std::string target = exports_ + "/odd.txt";
    const ChildExit run = Export(store_, "HKLM\\Software\\Odd", target);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("4 of the values and keys written cannot come back"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("[Software\\Odd] \"x\""), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("\"fine\""), std::string::npos) << run.err;
    EXPECT_GT(fs::file_size(target), 0u);

    const ChildExit clean = Export(store_, "HKLM\\Software\\Kept", exports_ + "/clean.txt");
    EXPECT_EQ(clean.code, 0);
    EXPECT_EQ(clean.err, "");
}

}  // namespace
