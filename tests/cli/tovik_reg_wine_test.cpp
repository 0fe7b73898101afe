// tovik-reg --wine-prefix end to end: every command on a prefix's files, the refusal while Wine
// runs the prefix, the registries found in a home and the prefixes named without a folder, and (with TOVIK_TEST_WINE=1 and wine on PATH) Wine itself reading what
// tovik-reg wrote and tovik-reg reading what Wine wrote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fake_home.h"
#include "wine_test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using wine_test::readBytes;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs `line` in the shell; its stdout, and its stderr through a file in `scratch`.
Outcome shell(const std::string& line, const wine_test::fs::path& scratch) {
    const std::string errFile = (scratch / "stderr").string();
    Outcome result;
    FILE* pipe = ::popen((line + " 2>" + wine_test::shellQuoted(errFile)).c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = readBytes(errFile);
    return result;
}

class TovikRegOnAPrefix : public ::testing::Test {
protected:
    void SetUp() override {
        prefix_ = (scratch_.path() / "prefix").string();
        wine_test::makeEmptyPrefix(prefix_);
    }
    Outcome reg(const std::vector<std::string>& args) {
        std::string line = wine_test::shellQuoted(TOVIK_REG_PATH) + " --wine-prefix " + wine_test::shellQuoted(prefix_);
        for (const std::string& arg : args) line += " " + wine_test::shellQuoted(arg);
        return shell(line, scratch_.path());
    }
    void ok(const std::vector<std::string>& args) {
        const Outcome result = reg(args);
        EXPECT_EQ(result.exitCode, 0) << args.front() << ": " << result.err;
    }
    std::string fileText(const char* name) const { return readBytes(prefix_ + "/" + name); }

    wine_test::ScratchDir scratch_;
    std::string prefix_;
};

TEST_F(TovikRegOnAPrefix, EveryCommandReadsAndWritesThePrefixFiles) {
    ok({"set", "HKCU\\Software\\Tovik", "S", "SZ", "plain text"});
    ok({"set", "HKCU\\Software\\Tovik", "D", "DW", "42"});
    ok({"set", "HKCU\\Software\\Tovik", "E", "EXP", "%PATH%"});
    ok({"set", "HKCU\\Software\\Tovik", "M", "MLT", "a|b"});
    ok({"set", "HKCU\\Software\\Tovik", "M2", "MLT", "c||"});
    ok({"set", "HKCR\\.tovik", "@", "SZ", "tovikfile"});
    ok({"add-key", "HKLM\\Software\\Empty"});
    EXPECT_THAT(fileText("user.reg"), HasSubstr("[Software\\\\Tovik] "));
    // Strings end as Windows' tools end them, so Wine's file holds them as quoted text.
    EXPECT_THAT(fileText("user.reg"), HasSubstr("\"S\"=\"plain text\"\n\"D\"=dword:0000002a\n"
                                                "\"E\"=str(2):\"%PATH%\"\n\"M\"=str(7):\"a\\0b\\0\"\n"
                                                "\"M2\"=str(7):\"c\\0\"\n"));
    EXPECT_THAT(fileText("system.reg"), HasSubstr("[Software\\\\Classes\\\\.tovik] "));
    EXPECT_THAT(fileText("system.reg"), HasSubstr("[Software\\\\Empty] ")) << "an empty key the user made is kept";

    const Outcome query = reg({"query", "HKLM\\Software\\Classes\\.tovik"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.out, "[Software\\Classes\\.tovik]\n\"@\"=SZ:tovikfile\n");

    const std::string exported = (scratch_.path() / "tovik.txt").string();
    ok({"export", "HKCU\\Software", exported});
    ok({"delete-value", "HKCU\\Software\\Tovik", "D"});
    ok({"delete-key", "HKCU\\Software\\Tovik"});
    EXPECT_THAT(fileText("user.reg"), Not(HasSubstr("Tovik")));
    ok({"import", exported});
    EXPECT_THAT(fileText("user.reg"), HasSubstr("\"D\"=dword:0000002a"));

    const Outcome overwrite = reg({"export", "HKCU", prefix_ + "/user.reg"});
    EXPECT_EQ(overwrite.exitCode, 1) << "an export wrote over the prefix's own file";
    EXPECT_THAT(fileText("user.reg"), HasSubstr("WINE REGISTRY Version 2"));
}

// HKEY_CLASSES_ROOT is HKLM\Software\Classes: a delete of a key above it would stop there after
// deleting everything else, so it is refused before anything goes.
TEST_F(TovikRegOnAPrefix, DeletingTheKeysAboveTheClassesRootIsRefusedAndDeletesNothing) {
    ok({"set", "HKLM\\Software\\Wine", "Version", "SZ", "win10"});
    ok({"set", "HKCR\\.tovik", "@", "SZ", "tovikfile"});
    const std::string before = fileText("system.reg");
    for (const char* key : {"HKLM\\Software", "HKLM\\Software\\Classes"}) {
        const Outcome refused = reg({"delete-key", key});
        EXPECT_EQ(refused.exitCode, 1) << key;
        EXPECT_THAT(refused.err, HasSubstr("nothing was deleted")) << key;
        EXPECT_EQ(fileText("system.reg"), before) << key;
    }
    const std::string file = (scratch_.path() / "delete.reg").string();
    wine_test::writeBytes(file, "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software]\n");
    const Outcome imported = reg({"import", file});
    EXPECT_EQ(imported.exitCode, 1);
    EXPECT_EQ(fileText("system.reg"), before);
}

TEST_F(TovikRegOnAPrefix, AFolderThatIsNoPrefixIsRefusedAndLeftAlone) {
    const std::string empty = (scratch_.path() / "empty").string();
    wine_test::fs::create_directories(empty);
    const Outcome result = shell(wine_test::shellQuoted(TOVIK_REG_PATH) + " --wine-prefix " +
                                     wine_test::shellQuoted(empty) + " add-key HKCU\\\\A",
                                 scratch_.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr("is not a Wine prefix"));
    EXPECT_TRUE(wine_test::fs::is_empty(empty));
}

TEST_F(TovikRegOnAPrefix, WhileWineRunsThePrefixReadsWorkAndEveryWriteIsRefusedWithTheReason) {
    ok({"set", "HKCU\\Software\\Tovik", "S", "SZ", "before"});
    const std::string user = fileText("user.reg");
    wine_test::RunningWineserver server(prefix_);
    ASSERT_TRUE(server.holding());
    const Outcome query = reg({"query", "HKCU\\Software\\Tovik"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.out, "[Software\\Tovik]\n\"S\"=SZ:before\n");
    for (const std::vector<std::string>& write : std::vector<std::vector<std::string>>{
             {"set", "HKCU\\Software\\Tovik", "S", "SZ", "after"},
             {"delete-value", "HKCU\\Software\\Tovik", "S"},
             {"add-key", "HKCU\\Software\\New"},
             {"delete-key", "HKCU\\Software\\Tovik"},
         }) {
        const Outcome refused = reg(write);
        EXPECT_EQ(refused.exitCode, 1) << write.front();
        EXPECT_THAT(refused.err, HasSubstr("read-only")) << write.front();
        EXPECT_THAT(refused.err, HasSubstr("wineserver -k")) << write.front();
    }
    EXPECT_EQ(fileText("user.reg"), user);

    // A read that fails on its own (no such key, no hit) is no refused write.
    for (const std::vector<std::string>& read : std::vector<std::vector<std::string>>{
             {"query", "HKCU\\Software\\Missing"},
             {"find", "no such text anywhere", "HKCU\\Software"},
         }) {
        const Outcome failed = reg(read);
        EXPECT_EQ(failed.exitCode, 1) << read.front();
        EXPECT_THAT(failed.err, Not(HasSubstr("read-only"))) << read.front() << ": " << failed.err;
    }
}

// A .reg file of `keys` keys under HKCU\Software\Bulk, two values each; its path.
std::string writeBulkImport(const wine_test::fs::path& scratch, int keys) {
    std::string text = "REGEDIT4\n\n";
    for (int k = 0; k < keys; ++k)
        text +=
            "[HKEY_CURRENT_USER\\Software\\Bulk\\K" + std::to_string(k) + "]\n\"A\"=\"x\"\n\"B\"=dword:00000001\n\n";
    const std::string file = (scratch / "bulk.reg").string();
    wine_test::writeBytes(file, text);
    return file;
}

// Waits until a tovik-reg holds the prefix's lock, that is, has read the files to write them;
// false when none did within some seconds.
bool waitForWriter(const std::string& prefix) {
    const int fd = ::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = false;
    for (int i = 0; i < 20000 && !held; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::flock(fd, LOCK_UN);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        } else {
            held = true;
        }
    }
    ::close(fd);
    return held;
}

TEST_F(TovikRegOnAPrefix, AWriteNeverSavesOverAFileAnotherProgramReplacedMeanwhile) {
    ok({"set", "HKCU\\Software\\Tovik", "S", "SZ", "before"});
    const std::string file = writeBulkImport(scratch_.path(), 30000);
    Outcome import;
    std::thread writer([&] { import = reg({"import", file}); });
    const bool during = waitForWriter(prefix_);
    // Once it has read the files (right after taking the lock), another program saves user.reg
    // as Wine does: a new file renamed over the old one.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string other = fileText("user.reg") + "\n[Software\\\\Other] 1700000000\n\"Kept\"=\"yes\"\n";
    wine_test::writeBytes(prefix_ + "/user.reg.other", other);
    wine_test::fs::rename(prefix_ + "/user.reg.other", prefix_ + "/user.reg");
    writer.join();
    ASSERT_TRUE(during) << "the import never locked the prefix";
    EXPECT_THAT(fileText("user.reg"), HasSubstr("[Software\\\\Other]"))
        << "exit " << import.exitCode << ": " << import.err;
    if (import.exitCode == 0) {
        // It read the files only after the other program saved: both changes are there.
        EXPECT_THAT(fileText("user.reg"), HasSubstr("[Software\\\\Bulk\\\\K29999]"));
    } else {
        EXPECT_EQ(import.exitCode, 1);
        EXPECT_THAT(import.err, HasSubstr("changed by another program"));
    }
}

// The prefix's files as they may be found: user.reg a link into another folder (written
// through, the link kept), a FIFO (refused at once, not waited on), a disk that fills up (the
// save fails and says why).
TEST_F(TovikRegOnAPrefix, AUserRegThatIsALinkIsWrittenThroughToItsFile) {
    const std::string elsewhere = (scratch_.path() / "kept").string();
    wine_test::fs::create_directories(elsewhere);
    wine_test::fs::rename(prefix_ + "/user.reg", elsewhere + "/user.reg");
    wine_test::fs::create_symlink(elsewhere + "/user.reg", prefix_ + "/user.reg");
    ok({"set", "HKCU\\Software\\Tovik", "D", "DW", "7"});
    EXPECT_TRUE(wine_test::fs::is_symlink(prefix_ + "/user.reg"));
    EXPECT_THAT(readBytes(elsewhere + "/user.reg"), HasSubstr("\"D\"=dword:00000007"));
}

TEST_F(TovikRegOnAPrefix, AFifoAsUserRegFailsAtOnceWithAClearMessage) {
    wine_test::fs::remove(prefix_ + "/user.reg");
    ASSERT_EQ(::mkfifo((prefix_ + "/user.reg").c_str(), 0600), 0);
    const Outcome result = shell("timeout 20 " + wine_test::shellQuoted(TOVIK_REG_PATH) + " --wine-prefix " +
                                     wine_test::shellQuoted(prefix_) + " query HKCU",
                                 scratch_.path());
    EXPECT_EQ(result.exitCode, 1) << "124: it blocked";
    EXPECT_THAT(result.err, HasSubstr(prefix_ + "/user.reg"));
    EXPECT_THAT(result.err, HasSubstr("not a regular file"));
}

TEST_F(TovikRegOnAPrefix, ASaveThatFailsSaysWhy) {
    ok({"set", "HKCU\\Software\\Tovik", "S", "SZ", "before"});
    const std::string user = fileText("user.reg");
    // Files may not grow past 2 KiB (ulimit counts 512-byte blocks), as on a full disk.
    const Outcome failed =
        shell("ulimit -f 4; trap '' XFSZ; " + wine_test::shellQuoted(TOVIK_REG_PATH) + " --wine-prefix " +
                  wine_test::shellQuoted(prefix_) + " set HKCU\\\\Software " + "Big SZ " + std::string(4000, 'x'),
              scratch_.path());
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_THAT(failed.err, HasSubstr(prefix_ + "/user.reg"));
    EXPECT_THAT(failed.err, HasSubstr(std::strerror(EFBIG)));
    EXPECT_EQ(fileText("user.reg"), user);
}

// The prefix's reasons come in the user's language: a registry file that is not Wine's, a delete
// Wine's layout forbids and a file that cannot be read, each said in English to an English user
// and in Japanese, with no English left in it, to a Japanese one.
TEST_F(TovikRegOnAPrefix, AWineFailureReachesEachUserInTheirLanguage) {
    ok({"set", "HKLM\\Software\\Wine", "Version", "SZ", "win10"});
    const std::string broken = (scratch_.path() / "broken").string();
    wine_test::makeEmptyPrefix(broken);
    wine_test::writeBytes(broken + "/system.reg", "REGEDIT4\n");
    const std::string fifo = (scratch_.path() / "fifo").string();
    wine_test::makeEmptyPrefix(fifo);
    wine_test::fs::remove(fifo + "/user.reg");
    ASSERT_EQ(::mkfifo((fifo + "/user.reg").c_str(), 0600), 0);
    struct Case {
        std::string prefix;
        std::string command;
        const char* english;
        const char* japanese;
    };
    const Case cases[] = {
        {broken, "query HKLM", "line 1: this is not a Wine registry file of version 2",
         "1行目: バージョン2のWineのレジストリファイルではありません"},
        {prefix_, "delete-key 'HKLM\\Software'", "cannot be deleted, nor can the keys above it; nothing was deleted.",
         "このキーとその上のキーは削除できません。何も削除していません。"},
        {fifo, "query HKCU", ": it is not a regular file.",
         "/user.reg を読み込めません: 通常のファイルではありません。"},
    };
    for (const Case& c : cases) {
        const std::string run = " timeout 20 " + wine_test::shellQuoted(TOVIK_REG_PATH) + " --wine-prefix " +
                                wine_test::shellQuoted(c.prefix) + " " + c.command;
        const Outcome english =
            shell("env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=en_US.UTF-8" + run, scratch_.path());
        EXPECT_EQ(english.exitCode, 1) << c.command;
        EXPECT_THAT(english.err, HasSubstr(c.english)) << c.command;
        const Outcome japanese =
            shell("env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=ja_JP.UTF-8" + run, scratch_.path());
        EXPECT_EQ(japanese.exitCode, 1) << c.command;
        EXPECT_THAT(japanese.err, HasSubstr(c.japanese)) << c.command;
        for (const char* word : {"line ", " the ", " not ", "nothing", "cannot", "Cannot"})
            EXPECT_THAT(japanese.err, Not(HasSubstr(word))) << c.command << ": " << japanese.err;
    }
}

// ---- With Wine itself ----

class TovikRegWithWine : public TovikRegOnAPrefix {
protected:
    void SetUp() override { prefix_ = (scratch_.path() / "prefix").string(); }
    // Runs a Wine command on the prefix, without a display.
    Outcome wine(const std::string& command) {
        return shell(wine_test::wineEnvironment(prefix_) + command, scratch_.path());
    }
};

TEST_F(TovikRegWithWine, WineReadsWhatTovikRegWroteAndTovikRegReadsWhatWineWrote) {
    std::string why;
    if (!wine_test::wineWanted(why)) GTEST_SKIP() << why;
    ASSERT_TRUE(wine_test::makeWinePrefix(prefix_)) << "wineboot -i made no prefix in " << prefix_;
    const std::string system = fileText("system.reg");
    {
        SCOPED_TRACE("tovik-reg writes, Wine reads");
        const std::string key = "HKCU\\Software\\Tovik";
        ok({"set", key, "S", "SZ", "plain text"});
        ok({"set", key, "E", "EXP", "%PATH%"});
        ok({"set", key, "M", "MLT", "a|b||"});
        ok({"set", key, "D", "DW", "42"});
        ok({"set", key, "B", "BIN", "01 FF"});
        ok({"set", key, "N", "NON", ""});
        ok({"set", key, "Q", "REG_QWORD", "0x1122334455667788"});
        ok({"set", key, "@", "SZ", "default"});
        ok({"add-key", key + "\\Sub"});
        ok({"add-key", key + "\\Gone"});
        ok({"delete-key", key + "\\Gone"});
        EXPECT_EQ(fileText("system.reg"), system) << "system.reg was written without a change to it";

        const Outcome out = wine("wine reg query 'HKCU\\Software\\Tovik' /s");
        EXPECT_THAT(out.out, HasSubstr("    S    REG_SZ    plain text\r\n"));
        EXPECT_THAT(out.out, HasSubstr("    E    REG_EXPAND_SZ    %PATH%\r\n"));
        EXPECT_THAT(out.out, HasSubstr("    M    REG_MULTI_SZ    a\\0b\r\n"));
        EXPECT_THAT(out.out, HasSubstr("    D    REG_DWORD    0x2a\r\n"));
        EXPECT_THAT(out.out, HasSubstr("    B    REG_BINARY    01FF\r\n"));
        EXPECT_THAT(out.out, HasSubstr("    N    REG_NONE    \r\n"));
        EXPECT_THAT(out.out, HasSubstr("    Q    REG_QWORD    ")) << "Wine 8's reg shows no QWORD data; read below";
        EXPECT_THAT(out.out, HasSubstr("REG_SZ    default\r\n"));
        EXPECT_THAT(out.out, HasSubstr("HKEY_CURRENT_USER\\Software\\Tovik\\Sub\r\n"));
        EXPECT_THAT(out.out, Not(HasSubstr("Gone")));
        wine("wineserver -w");
        // Wine has saved the prefix again, in its own forms: what tovik-reg wrote came back.
        const Outcome saved = reg({"query", key});
        EXPECT_EQ(saved.exitCode, 0) << saved.err;
        EXPECT_THAT(saved.out, HasSubstr("\"Q\"=??:88 77 66 55 44 33 22 11 \n"));
        EXPECT_THAT(saved.out, HasSubstr("\"M\"=MLT:a|b||\n"));
        EXPECT_THAT(saved.out, HasSubstr("\"S\"=SZ:plain text\n"));
    }
    {
        SCOPED_TRACE("Wine writes, tovik-reg reads");
        const std::string key = "'HKCU\\Software\\FromWine'";
        wine("wine reg add " + key + " /v S /t REG_SZ /d 'h\xC3\xA9llo' /f");
        wine("wine reg add " + key + " /v E /t REG_EXPAND_SZ /d '%TEMP%\\x' /f");
        wine("wine reg add " + key + " /v M /t REG_MULTI_SZ /d 'one\\0two' /f");
        wine("wine reg add " + key + " /v D /t REG_DWORD /d 4294967295 /f");
        wine("wine reg add " + key + " /v B /t REG_BINARY /d 00ff10 /f");
        wine("wine reg add " + key + " /v Q /t REG_QWORD /d 0x1122334455667788 /f");
        wine("wineserver -w");
        const Outcome query = reg({"query", "HKCU\\Software\\FromWine"});
        EXPECT_EQ(query.exitCode, 0) << query.err;
        EXPECT_EQ(query.out,
                  // in the order Wine saved them: by name
                  "[Software\\FromWine]\n"
                  "\"B\"=BIN:00 FF 10 \n"
                  "\"D\"=DW:-1(FFFFFFFF)\n"
                  "\"E\"=EXP:%TEMP%\\x\n"
                  "\"M\"=MLT:one|two||\n"
                  "\"Q\"=??:88 77 66 55 44 33 22 11 \n"
                  "\"S\"=SZ:h\xC3\xA9llo\n");
    }
    {
        SCOPED_TRACE("a Wine program started during an import waits for it and then sees it");
        const std::string file = writeBulkImport(scratch_.path(), 30000);
        Outcome import;
        std::thread writer([&] { import = reg({"import", file}); });
        const bool during = waitForWriter(prefix_);
        const Outcome added = wine("wine reg add 'HKCU\\Software\\DuringImport' /v X /t REG_SZ /d y /f");
        writer.join();
        ASSERT_TRUE(during) << "the import never locked the prefix";
        EXPECT_EQ(import.exitCode, 0) << import.err;
        EXPECT_EQ(added.exitCode, 0) << added.err;
        wine("wineserver -w");
        const Outcome query = reg({"query", "HKCU\\Software\\Bulk\\K29999"});
        EXPECT_EQ(query.exitCode, 0) << "Wine wrote back the files it loaded before the import was saved";
        EXPECT_EQ(reg({"query", "HKCU\\Software\\DuringImport"}).exitCode, 0);
    }
    {
        SCOPED_TRACE("while wineserver runs, tovik-reg refuses to write and says why");
        wine("wineserver -p");
        const std::string user = fileText("user.reg");
        const Outcome refused = reg({"set", "HKCU\\Software\\Tovik", "S", "SZ", "lost"});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_THAT(refused.err, HasSubstr("Wine is running this prefix"));
        EXPECT_EQ(fileText("user.reg"), user);
        wine("wineserver -k");
        wine("wineserver -w");
    }
}

// tovik-reg in a home with every launcher's prefixes.
class TovikRegInAHome : public ::testing::Test {
protected:
    Outcome reg(const std::string& arguments, const std::string& environment = {}) {
        return shell("env " + (environment.empty() ? home_.environment() : environment) + " " +
                         wine_test::shellQuoted(TOVIK_REG_PATH) + " " + arguments,
                     scratch_.path());
    }
    fake_home::FakeHome home_;
    wine_test::ScratchDir scratch_;
};

TEST_F(TovikRegInAHome, RegistriesListsWhatIsFoundOneLineEachWithWhetherItIsReadOnly) {
    wine_test::RunningWineserver wineserver(home_.folderOf("Gaming"));
    ASSERT_TRUE(wineserver.holding());
    const Outcome listed = reg("registries");
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.err, "");
    std::vector<std::string> expected;
    for (const fake_home::Expected& e : home_.expected()) {
        expected.push_back(e.kind + "\t" + e.name + "\t" + e.folder + "\t" +
                           (e.name == "Gaming" ? "read-only" : "writable"));
    }
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = listed.out.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(listed.out.substr(start, end - start));
    }
    EXPECT_THAT(lines, ::testing::UnorderedElementsAreArray(expected)) << listed.out;

    EXPECT_EQ(reg("--wine-prefix registries").exitCode, 2) << "it names no registry";
    EXPECT_EQ(reg("registries extra").exitCode, 2);
}

TEST_F(TovikRegInAHome, SteamAppOpensThatGamesProtonPrefix) {
    const Outcome set = reg("--steam-app 1091500 set 'HKCU\\Software\\Game' Mode SZ windowed");
    EXPECT_EQ(set.exitCode, 0) << set.err;
    const Outcome query = reg("--wine-prefix " + wine_test::shellQuoted(home_.folderOf("The \"Quoted\" Game")) +
                              " query 'HKCU\\Software\\Game'");
    EXPECT_EQ(query.out, "[Software\\Game]\n\"Mode\"=SZ:windowed\n") << query.err;

    const Outcome missing = reg("--steam-app 228980 query HKLM");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.err, HasSubstr("Steam app 228980 has no Proton prefix"));
    EXPECT_EQ(reg("--steam-app Dota query HKLM").exitCode, 2);
    EXPECT_EQ(reg("--steam-app 730 --wine-prefix query HKLM").exitCode, 2);
}

TEST_F(TovikRegInAHome, WinePrefixWithoutAFolderIsWineprefixElseDotWine) {
    EXPECT_EQ(reg("--wine-prefix set 'HKCU\\Software\\A' V SZ custom").exitCode, 0);
    const std::string withoutWineprefix = "-u WINEPREFIX HOME=" + wine_test::shellQuoted(home_.home().string());
    EXPECT_EQ(reg("--wine-prefix set 'HKCU\\Software\\A' V SZ dotwine", withoutWineprefix).exitCode, 0);
    EXPECT_EQ(
        reg("--wine-prefix " + wine_test::shellQuoted(home_.folderOf("custom")) + " query 'HKCU\\Software\\A'").out,
        "[Software\\A]\n\"V\"=SZ:custom\n");
    EXPECT_EQ(
        reg("--wine-prefix " + wine_test::shellQuoted(home_.folderOf(".wine")) + " query 'HKCU\\Software\\A'").out,
        "[Software\\A]\n\"V\"=SZ:dotwine\n");
}

}  // namespace
