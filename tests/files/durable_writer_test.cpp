// Durable replacement of files: old or new content at every moment, the mode kept, links
// written through but never another user's in a shared folder, special files and planted links
// refused, and a failure that says why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/durable_writer.h"
#include "files/safe_read.h"
#include "files_test_support.h"

namespace {

using ::testing::HasSubstr;
using namespace files_test;
using tovik::files::copyFileOnce;
using tovik::files::DurableWriter;
using tovik::files::FileStatus;
using tovik::files::Problem;
using tovik::files::replaceFile;
using tovik::files::WriteOptions;

// Every test runs with files without a name (O_TMPFILE) and with the named temporaries that
// file systems without them get.
class DurableWrite : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { tovik::files::testing::setUnnamedFilesAllowed(GetParam()); }
    void TearDown() override { tovik::files::testing::setUnnamedFilesAllowed(true); }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_.path)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    Folder folder_;
};

INSTANTIATE_TEST_SUITE_P(Temporaries, DurableWrite, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Unnamed" : "Named"; });

TEST_P(DurableWrite, ReplacesKeepingTheModeAndCreatesWithTheGivenModeWhateverTheUmask) {
    const std::string target = folder_.file("user.reg");
    putFile(target, "old");
    ::chmod(target.c_str(), 0640);
    ASSERT_TRUE(replaceFile(target, "new content").ok());
    EXPECT_EQ(contentOf(target), "new content");
    EXPECT_EQ(modeOf(target), 0640u);

    const mode_t oldMask = ::umask(0077);
    WriteOptions options;
    options.newFileMode = 0644;
    const FileStatus created = replaceFile(folder_.file("fresh"), "x", options);
    ::umask(oldMask);
    ASSERT_TRUE(created.ok()) << created.message;
    EXPECT_EQ(modeOf(folder_.file("fresh")), 0644u);

    // A new file may take the mode of another file (a copy of the file it backs up).
    options.modeOf = target;
    ASSERT_TRUE(replaceFile(folder_.file("like"), "y", options).ok());
    EXPECT_EQ(modeOf(folder_.file("like")), 0640u);
    EXPECT_EQ(entries(), (std::vector<std::string>{"fresh", "like", "user.reg"})) << "a temporary was left";
}

TEST_P(DurableWrite, ALinkedTargetIsWrittenThroughToItsFileAndStaysALink) {
    fs::create_directory(folder_.file("real"));
    const std::string real = folder_.file("real/SOFTWARE");
    putFile(real, "old");
    ::chmod(real.c_str(), 0600);
    fs::create_symlink("real/SOFTWARE", folder_.file("relative"));
    fs::create_symlink(folder_.file("relative"), folder_.file("chain"));
    ASSERT_TRUE(replaceFile(folder_.file("chain"), "new").ok());
    EXPECT_TRUE(fs::is_symlink(folder_.file("chain")));
    EXPECT_TRUE(fs::is_symlink(folder_.file("relative")));
    EXPECT_EQ(contentOf(real), "new");
    EXPECT_EQ(modeOf(real), 0600u);

    // A link to a file not made yet makes that file where the link points.
    fs::create_symlink("real/later", folder_.file("dangling"));
    ASSERT_TRUE(replaceFile(folder_.file("dangling"), "made").ok());
    EXPECT_TRUE(fs::is_symlink(folder_.file("dangling")));
    EXPECT_EQ(contentOf(folder_.file("real/later")), "made");

    fs::create_symlink("loop", folder_.file("loop"));
    EXPECT_EQ(replaceFile(folder_.file("loop"), "x").error, ELOOP);
}

TEST_P(DurableWrite, AnotherUsersLinkInASharedStickyFolderIsRefusedAndOneOfOurOwnIsFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    const std::string shared = folder_.file("shared");
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    const std::string victim = folder_.file("victim");
    putFile(victim, "precious");
    const std::string planted = shared + "/export.reg";
    fs::create_symlink(victim, planted);
    ASSERT_EQ(::lchown(planted.c_str(), 12345, 12345), 0);

    const FileStatus refused = replaceFile(planted, "overwritten");
    EXPECT_EQ(refused.problem, Problem::unsafeLink);
    EXPECT_EQ(refused.error, EACCES);
    EXPECT_THAT(refused.message, HasSubstr("another user"));
    EXPECT_EQ(contentOf(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(planted));

    const std::string own = shared + "/mine.reg";
    fs::create_symlink(victim, own);
    ASSERT_TRUE(replaceFile(own, "mine").ok());
    EXPECT_EQ(contentOf(victim), "mine");
    EXPECT_TRUE(fs::is_symlink(own));
}

// Links that another user may place at the names a writer could choose for its temporaries
// (and at the names earlier versions used) never redirect a write.
TEST_P(DurableWrite, LinksPlantedAtTemporaryNamesRedirectNothing) {
    const std::string victim = folder_.file("victim");
    putFile(victim, "precious");
    const std::string target = folder_.file("SOFTWARE");
    putFile(target, "old");
    const std::string pid = std::to_string(::getpid());
    fs::create_symlink(victim, folder_.file(".SOFTWARE.tovik-new"));
    fs::create_symlink(victim, folder_.file("SOFTWARE.tovik-new"));
    fs::create_symlink(victim, folder_.file("SOFTWARE.tovik-backup.partial"));
    for (int n = 0; n < 50; ++n)
        fs::create_symlink(victim, folder_.file(".tovik-new-" + pid + "-" + std::to_string(n) + ".tmp"));

    ASSERT_TRUE(replaceFile(target, "new").ok());
    ASSERT_TRUE(copyFileOnce(target, folder_.file("SOFTWARE.tovik-backup"), false).ok());
    EXPECT_EQ(contentOf(target), "new");
    EXPECT_EQ(contentOf(folder_.file("SOFTWARE.tovik-backup")), "new");
    EXPECT_EQ(contentOf(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(target));
}

TEST_P(DurableWrite, FoldersAndSpecialFilesAreNeverReplacedNorOpened) {
    fs::create_directory(folder_.file("folder"));
    ASSERT_EQ(::mkfifo(folder_.file("fifo").c_str(), 0600), 0);
    fs::create_symlink(folder_.file("fifo"), folder_.file("link-to-fifo"));
    const int code = inChild([&] {
        for (const char* name : {"folder", "fifo", "link-to-fifo"}) {
            const FileStatus refused = replaceFile(folder_.file(name), "x");
            if (refused.problem != Problem::notRegularFile) return 1;
            if (refused.message.find("not a regular file") == std::string::npos) return 2;
        }
        return fs::is_fifo(folder_.file("fifo")) && fs::is_directory(folder_.file("folder")) ? 0 : 3;
    });
    EXPECT_EQ(code, 0) << "-1: it blocked";
}

TEST_P(DurableWrite, AFullDiskLeavesTheTargetAsItWasAndSaysWhy) {
    const std::string target = folder_.file("system.reg");
    putFile(target, "old");
    const std::string big(64 * 1024, 'n');
    FileStatus failed;
    {
        FileSizeLimit limit(4096);
        failed = replaceFile(target, big);
    }
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.error, EFBIG);
    EXPECT_EQ(failed.message, "Cannot write " + target + ": " + std::strerror(EFBIG) + ".");
    EXPECT_FALSE(failed.placed);
    EXPECT_EQ(contentOf(target), "old");
    EXPECT_EQ(entries(), std::vector<std::string>{"system.reg"}) << "the partial file was left";
}

TEST_P(DurableWrite, AStreamedFileAppearsWholeOnCommitAndNotAtAllWhenDiscarded) {
    const std::string target = folder_.file("export.reg");
    putFile(target, "previous");
    {
        DurableWriter writer(target);
        ASSERT_TRUE(writer.open().ok());
        std::fprintf(writer.stream(), "Windows Registry Editor Version 5.00\r\n");
        EXPECT_EQ(contentOf(target), "previous");
    }  // destroyed without a commit
    EXPECT_EQ(contentOf(target), "previous");
    EXPECT_EQ(entries(), std::vector<std::string>{"export.reg"});

    DurableWriter writer(target);
    ASSERT_TRUE(writer.open().ok());
    EXPECT_TRUE(writer.targetExisted());
    std::fprintf(writer.stream(), "REGEDIT4\r\n");
    ASSERT_TRUE(writer.commit().ok());
    EXPECT_EQ(contentOf(target), "REGEDIT4\r\n");

    // Only where no file is: an existing one stays as it was.
    DurableWriter onlyNew(target);
    ASSERT_TRUE(onlyNew.open().ok());
    ASSERT_TRUE(onlyNew.write("other").ok());
    EXPECT_EQ(onlyNew.commitIfNew().error, EEXIST);
    EXPECT_EQ(contentOf(target), "REGEDIT4\r\n");
    DurableWriter fresh(folder_.file("new.reg"));
    ASSERT_TRUE(fresh.open().ok());
    ASSERT_TRUE(fresh.write("fresh").ok());
    ASSERT_TRUE(fresh.commitIfNew().ok());
    EXPECT_EQ(contentOf(folder_.file("new.reg")), "fresh");
    EXPECT_EQ(entries(), (std::vector<std::string>{"export.reg", "new.reg"}));
}

TEST_P(DurableWrite, ACopyIsMadeOnceAndKeepsTheSourceModeWhenAsked) {
    const std::string source = folder_.file("user.reg");
    putFile(source, "first");
    ::chmod(source.c_str(), 0644);
    ASSERT_TRUE(copyFileOnce(source, folder_.file("private"), false).ok());
    ASSERT_TRUE(copyFileOnce(source, folder_.file("alike"), true).ok());
    EXPECT_EQ(modeOf(folder_.file("private")), 0600u);
    EXPECT_EQ(modeOf(folder_.file("alike")), 0644u);
    putFile(source, "second");
    ASSERT_TRUE(copyFileOnce(source, folder_.file("private"), false).ok());
    EXPECT_EQ(contentOf(folder_.file("private")), "first") << "the copy is of the state before the first change";

    ASSERT_EQ(::mkfifo(folder_.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(inChild([&] { return copyFileOnce(folder_.file("fifo"), folder_.file("copy"), false).ok() ? 1 : 0; }), 0);
    EXPECT_FALSE(fs::exists(folder_.file("copy")));
}

// The writer is killed after each of its steps in turn, until it runs to its end: the target
// always holds the old or the new content, whole.
int g_killAt = 0;
int g_steps = 0;
void killAtStep(const char*) {
    if (++g_steps == g_killAt) ::raise(SIGKILL);
}

TEST_P(DurableWrite, AKillAtEveryStepLeavesTheOldOrTheNewContentNeverAMix) {
    const std::string target = folder_.file("user.reg");
    const std::string oldContent(100000, 'o');
    const std::string newContent = std::string(150000, 'n') + "end";
    putFile(target, oldContent);
    int finishedAt = 0;
    for (int killAt = 1; killAt < 20 && finishedAt == 0; ++killAt) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            g_killAt = killAt;
            tovik::files::testing::setStepHook(killAtStep);
            DurableWriter writer(target);
            bool ok = writer.open().ok();
            ok = ok && writer.write(std::string_view(newContent).substr(0, 70000)).ok();
            ok = ok && writer.write(std::string_view(newContent).substr(70000)).ok();
            ok = ok && writer.commit().ok();
            ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        const std::string now = contentOf(target);
        EXPECT_TRUE(now == oldContent || now == newContent)
            << "after a kill at step " << killAt << ": " << now.size() << " bytes";
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            finishedAt = killAt;
        } else if (now == newContent) {
            putFile(target, oldContent);  // killed after the rename: start the next round from the old file
        }
    }
    // created, wrote, wrote, synced, placed, folder synced: six steps, then a run without a kill.
    EXPECT_EQ(finishedAt, 7);
    EXPECT_EQ(contentOf(target), newContent);
    // What the killed writers left is cleared by the next write in the folder.
    ASSERT_TRUE(replaceFile(target, "last").ok());
    EXPECT_EQ(entries(), std::vector<std::string>{"user.reg"});
}

}  // namespace
