// A prefix on disk: what is refused, the three roots, saving with a backup and the file's mode,
// a running wineserver (a process holding the lock Wine's server holds), and two editors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "stores/wine/wine_prefix.h"
#include "stores/wine/wineserver_check.h"
#include "support/file_size_limit.h"
#include "wine_test_support.h"

namespace {

using namespace tovik::wine;
using ::testing::HasSubstr;
using wine_test::dword;
using wine_test::FakeWineserver;
using wine_test::readBytes;
using wine_test::ScratchDir;
using wine_test::sz;
using wine_test::writeBytes;
using wine_test::fs::path;

const std::string kSystem = wine_test::machineHeader() +
                            "\n[Software\\\\Classes\\\\.txt] 1700000000\n#time=1d0000000000001\n@=\"txtfile\"\n"
                            "\n[Software\\\\Wine] 1700000000\n#time=1d0000000000002\n\"Version\"=\"win10\"\n";
const std::string kUser =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
    "#arch=win64\n\n[Environment] 1700000000\n#time=1d0000000000003\n\"TEMP\"=str(2):\"%USERPROFILE%\"\n";

void makePrefix(const path& dir, const std::string& system = kSystem, const std::string& user = kUser) {
    writeBytes(dir / "system.reg", system);
    writeBytes(dir / "user.reg", user);
}

std::unique_ptr<WinePrefix> openOk(const path& dir) {
    std::string error;
    auto prefix = WinePrefix::open(dir, error);
    EXPECT_NE(prefix, nullptr) << error;
    return prefix;
}

std::string openError(const path& dir) {
    std::string error;
    EXPECT_EQ(WinePrefix::open(dir, error), nullptr);
    return error;
}

TEST(WinePrefixOpening, RefusesWhatIsNotAPrefixWineWouldRun) {
    ScratchDir dir;
    EXPECT_THAT(openError(dir.path() / "missing"), HasSubstr("No such file"));
    writeBytes(dir.path() / "file", "x");
    EXPECT_THAT(openError(dir.path() / "file"), HasSubstr("not a folder"));
    EXPECT_THAT(openError(dir.path()), HasSubstr("has no system.reg and user.reg"));
    writeBytes(dir.path() / "system.reg", kSystem);
    EXPECT_THAT(openError(dir.path()), HasSubstr("has no system.reg and user.reg"));
    wine_test::fs::create_directory(dir.path() / "user.reg");
    EXPECT_THAT(openError(dir.path()), HasSubstr("not a regular file"));
    wine_test::fs::remove(dir.path() / "user.reg");

    makePrefix(dir.path(), kSystem, "WINE REGISTRY Version 3\n");
    EXPECT_THAT(openError(dir.path()), HasSubstr("user.reg cannot be opened: line 1"));
    makePrefix(dir.path(), wine_test::machineHeader("arm"), kUser);
    EXPECT_THAT(openError(dir.path()), HasSubstr("\"arm\" is unknown"));
    makePrefix(dir.path(), wine_test::machineHeader("win32"), kUser);
    EXPECT_THAT(openError(dir.path()), HasSubstr("user.reg is for win64 but system.reg is for win32"));
    // Without #arch in system.reg Wine takes win32.
    makePrefix(dir.path(), "WINE REGISTRY Version 2\n", kUser);
    EXPECT_THAT(openError(dir.path()), HasSubstr("system.reg is for win32"));
    if (::geteuid() != 0) {
        makePrefix(dir.path());
        ::chmod((dir.path() / "user.reg").c_str(), 0);
        EXPECT_THAT(openError(dir.path()), HasSubstr("Permission denied"));
    }
    EXPECT_FALSE(wine_test::fs::exists(dir.path() / "system.reg.tovik-backup"));
}

TEST(WinePrefixOpening, ClassesRootIsTheMachinesClassesKey) {
    ScratchDir dir;
    makePrefix(dir.path());
    auto prefix = openOk(dir.path());
    EXPECT_FALSE(prefix->readOnly()) << prefix->readOnlyReason();
    WineKey* classes = prefix->classesRoot();
    ASSERT_NE(classes, nullptr);
    EXPECT_EQ(classes, prefix->machine().findPath(prefix->localMachine(), u"SOFTWARE\\classes"));
    EXPECT_EQ(&prefix->fileOf(*classes), &prefix->machine());
    EXPECT_EQ(&prefix->fileOf(*prefix->currentUser().subkey(0)), &prefix->user());
    std::string error;
    ASSERT_TRUE(prefix->beginWrite(error)) << error;
    ASSERT_EQ(prefix->machine().setValue(*classes->findSubkey(u".txt"), u"", kRegSz, sz(u"other")), EditResult::ok);
    ASSERT_TRUE(prefix->commitWrite(error)) << error;
    auto reopened = openOk(dir.path());
    EXPECT_EQ(reopened->machine().findPath(reopened->localMachine(), u"Software\\Classes\\.txt")->value(0).data(),
              sz(u"other"));
}

TEST(WinePrefixSaving, SavesChangedFilesKeepingModeAndOneBackup) {
    ScratchDir dir;
    makePrefix(dir.path());
    ::chmod((dir.path() / "system.reg").c_str(), 0640);
    auto prefix = openOk(dir.path());
    std::string error;
    // A batch without changes writes nothing.
    ASSERT_TRUE(prefix->beginWrite(error)) << error;
    ASSERT_TRUE(prefix->commitWrite(error)) << error;
    EXPECT_FALSE(wine_test::fs::exists(dir.path() / "system.reg.tovik-backup"));

    ASSERT_TRUE(prefix->beginWrite(error)) << error;
    WineKey* wine = prefix->machine().findPath(prefix->localMachine(), u"Software\\Wine");
    ASSERT_EQ(prefix->machine().setValue(*wine, u"Version", kRegSz, sz(u"win7")), EditResult::ok);
    ASSERT_TRUE(prefix->commitWrite(error)) << error;
    EXPECT_EQ(readBytes(dir.path() / "system.reg.tovik-backup"), kSystem);
    EXPECT_FALSE(wine_test::fs::exists(dir.path() / "user.reg.tovik-backup"));
    EXPECT_EQ(readBytes(dir.path() / "user.reg"), kUser);
    struct stat st {};
    ASSERT_EQ(::stat((dir.path() / "system.reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    const std::string once = readBytes(dir.path() / "system.reg");
    EXPECT_THAT(once, HasSubstr("\"Version\"=\"win7\""));
    EXPECT_FALSE(wine_test::fs::exists(dir.path() / "system.reg.tovik-new"));

    // The backup is the state before Tovik's first change, and stays so.
    ASSERT_TRUE(prefix->beginWrite(error)) << error;
    ASSERT_EQ(prefix->machine().setValue(*wine, u"Count", kRegDword, dword(3)), EditResult::ok);
    ASSERT_TRUE(prefix->commitWrite(error)) << error;
    EXPECT_EQ(readBytes(dir.path() / "system.reg.tovik-backup"), kSystem);
    auto reopened = openOk(dir.path());
    WineKey* back = reopened->machine().findPath(reopened->localMachine(), u"Software\\Wine");
    EXPECT_EQ(back->value(*back->findValue(u"Version")).data(), sz(u"win7"));
    EXPECT_EQ(back->value(*back->findValue(u"Count")).data(), dword(3));
}

TEST(WinePrefixOpening, AFifoAsARegistryFileIsRefusedWithoutWaitingForAWriter) {
    ScratchDir dir;
    makePrefix(dir.path());
    wine_test::fs::remove(dir.path() / "system.reg");
    ASSERT_EQ(::mkfifo((dir.path() / "system.reg").c_str(), 0600), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        ::_exit(openError(dir.path()).find("not a regular file") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "the open blocked";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(WinePrefixSaving, AFailedSaveIsReportedAndNotKept) {
    ScratchDir dir;
    makePrefix(dir.path());
    auto prefix = openOk(dir.path());
    std::string error;
    ASSERT_TRUE(prefix->beginWrite(error)) << error;
    const auto generation = prefix->generation();
    WineKey* wine = prefix->machine().findPath(prefix->localMachine(), u"Software\\Wine");
    ASSERT_EQ(prefix->machine().setValue(*wine, u"Lost", kRegSz, sz(std::u16string(4000, u'x'))), EditResult::ok);
    {
        test_support::FileSizeLimit full(4096);  // the new file cannot be written whole
        EXPECT_FALSE(prefix->commitWrite(error));
    }
    EXPECT_THAT(error, HasSubstr((dir.path() / "system.reg").string() + ": " + std::strerror(EFBIG)));
    EXPECT_EQ(readBytes(dir.path() / "system.reg"), kSystem);
    EXPECT_GT(prefix->generation(), generation);
    WineKey* reread = prefix->machine().findPath(prefix->localMachine(), u"Software\\Wine");
    EXPECT_FALSE(reread->findValue(u"Lost")) << "the model shows what the file holds";
    EXPECT_FALSE(prefix->writing());
}

TEST(WinePrefixSafety, ARunningWineserverMakesThePrefixReadOnly) {
    ScratchDir dir;
    makePrefix(dir.path());
    // Debian's layout: the prefix names its server's temporary folder.
    const std::string folder = dir.path().filename().string() + "-server";
    writeBytes(dir.path() / "wineserver", folder);
    const auto locks = wineserverLockPaths(dir.path());
    ASSERT_EQ(locks.size(), std::getenv("TMPDIR") ? 3u : 2u);
    const std::string lock = locks.back();
    ASSERT_EQ(lock.rfind("/tmp/" + folder + "/server-", 0), 0u) << lock;
    const std::string serverDir = lock.substr(0, lock.rfind('/'));
    wine_test::fs::create_directories(serverDir);
    struct Cleanup {
        std::string dir;
        ~Cleanup() { wine_test::fs::remove_all(dir.substr(0, dir.rfind('/'))); }
    } cleanup{serverDir};
    writeBytes(lock, "");
    EXPECT_TRUE(checkWineserver(dir.path()).mayWrite) << "an unlocked lock file is a stopped server";

    std::string error;
    {
        FakeWineserver server(lock);
        ASSERT_TRUE(server.holding());
        auto prefix = openOk(dir.path());
        EXPECT_TRUE(prefix->readOnly());
        EXPECT_THAT(prefix->readOnlyReason(), HasSubstr("Wine is running this prefix"));
        EXPECT_FALSE(prefix->beginWrite(error));
        EXPECT_EQ(error, prefix->readOnlyReason());
    }
    // A wineserver that starts while Tovik writes finds its lock taken and ends; the write is kept.
    auto prefix = openOk(dir.path());
    ASSERT_TRUE(prefix->beginWrite(error)) << error;
    WineKey* wine = prefix->machine().findPath(prefix->localMachine(), u"Software\\Wine");
    ASSERT_EQ(prefix->machine().setValue(*wine, u"Late", kRegSz, sz(u"x")), EditResult::ok);
    {
        FakeWineserver server(lock);
        EXPECT_FALSE(server.holding()) << "a wineserver started in the middle of a save";
    }
    EXPECT_TRUE(prefix->commitWrite(error)) << error;
    EXPECT_THAT(readBytes(dir.path() / "system.reg"), HasSubstr("\"Late\"="));
    FakeWineserver after(lock);
    EXPECT_TRUE(after.holding()) << "the lock is given back after the save";
}

TEST(WinePrefixSafety, NoWineserverCanStartWhileTovikWrites) {
    ScratchDir dir;
    makePrefix(dir.path());
    const std::string lock = wineserverLockPaths(dir.path()).front();
    struct Cleanup {
        std::string dir;
        ~Cleanup() { wine_test::fs::remove_all(dir); }
    } cleanup{lock.substr(0, lock.rfind('/'))};
    wine_test::fs::remove_all(cleanup.dir);  // Tovik makes the server folder as wineserver would
    auto prefix = openOk(dir.path());
    std::string error;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(prefix->beginWrite(error)) << error;
        ASSERT_EQ(prefix->user().setValue(*prefix->currentUser().subkey(0), u"R" + std::u16string(1, u'0' + round),
                                          kRegSz, sz(u"1")),
                  EditResult::ok);
        {
            FakeWineserver server(lock);
            EXPECT_FALSE(server.holding()) << "round " << round;
        }
        ASSERT_TRUE(prefix->commitWrite(error)) << error;
        FakeWineserver server(lock);
        EXPECT_TRUE(server.holding()) << "round " << round;
    }
    struct stat st {};
    ASSERT_EQ(::stat(cleanup.dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "wineserver accepts only a folder of its user alone";
    EXPECT_THAT(readBytes(dir.path() / "user.reg"), HasSubstr("\"R1\"="));
}

TEST(WinePrefixSafety, AFileAnotherProgramChangedDuringAWriteIsNeverSavedOver) {
    ScratchDir dir;
    makePrefix(dir.path());
    const path user = dir.path() / "user.reg";
    // Wine saves by writing a new file and renaming it over; another editor may rewrite the file
    // in place, with the same size and time.
    const std::string other = kUser + "\n[Software\\\\Other] 1700000000\n\"Kept\"=\"yes\"\n";
    std::string same = kUser;
    same.replace(same.find("USERPROFILE"), 11, "USERPROFILF");
    const std::vector<std::function<void()>> changes{
        [&] {
            writeBytes(dir.path() / "user.reg.wine-new", other);
            wine_test::fs::rename(dir.path() / "user.reg.wine-new", user);
        },
        [&] {
            struct stat st {};
            ASSERT_EQ(::stat(user.c_str(), &st), 0);
            const int fd = ::open(user.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::pwrite(fd, same.data(), same.size(), 0), static_cast<ssize_t>(same.size()));
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(fd, times);
            ::close(fd);
        },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i == 0 ? "replaced" : "rewritten in place");
        writeBytes(user, kUser);
        auto prefix = openOk(dir.path());
        std::string error;
        ASSERT_TRUE(prefix->beginWrite(error)) << error;
        ASSERT_EQ(prefix->user().setValue(*prefix->currentUser().subkey(0), u"Mine", kRegSz, sz(u"1")), EditResult::ok);
        const std::string changed = i == 0 ? other : same;
        changes[i]();
        EXPECT_FALSE(prefix->commitWrite(error));
        EXPECT_THAT(error, HasSubstr("changed by another program"));
        EXPECT_EQ(readBytes(user), changed) << "the other program's change was overwritten";
        EXPECT_FALSE(prefix->writing());
        EXPECT_FALSE(prefix->currentUser().subkey(0)->findValue(u"Mine")) << "the model shows what the file holds";
    }
}

TEST(WinePrefixSafety, UpstreamServerFolderIsNamedFromDeviceAndInode) {
    ScratchDir dir;
    makePrefix(dir.path());
    struct stat st {};
    ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
    char expected[128];
    std::snprintf(expected, sizeof expected, "/tmp/.wine-%u/server-%llx-%llx/lock", ::getuid(),
                  static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino));
    const auto locks = wineserverLockPaths(dir.path());
    ASSERT_FALSE(locks.empty());
    EXPECT_EQ(locks.front(), expected);
}

TEST(WinePrefixSafety, TwoEditorsKeepEachOthersWrites) {
    ScratchDir dir;
    makePrefix(dir.path());
    auto first = openOk(dir.path());
    auto second = openOk(dir.path());
    std::string error;
    ASSERT_TRUE(first->beginWrite(error)) << error;
    // While one writes, the prefix is locked against every other writer.
    const int other = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(first->user().setValue(*first->currentUser().subkey(0), u"A", kRegSz, sz(u"1")), EditResult::ok);
    ASSERT_TRUE(first->commitWrite(error)) << error;
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::flock(other, LOCK_UN);
    ::close(other);

    const auto generation = second->generation();
    ASSERT_TRUE(second->beginWrite(error)) << error;
    EXPECT_GT(second->generation(), generation) << "the changed file was read again";
    WineKey* env = second->currentUser().subkey(0);
    ASSERT_TRUE(env->findValue(u"A"));
    ASSERT_EQ(second->user().setValue(*env, u"B", kRegSz, sz(u"2")), EditResult::ok);
    ASSERT_TRUE(second->commitWrite(error)) << error;

    auto third = openOk(dir.path());
    WineKey* both = third->currentUser().subkey(0);
    EXPECT_TRUE(both->findValue(u"A"));
    EXPECT_TRUE(both->findValue(u"B"));
    EXPECT_TRUE(both->findValue(u"TEMP"));
}

}  // namespace
