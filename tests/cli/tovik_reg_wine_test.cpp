// tovik-reg --wine-prefix end to end: every command on a prefix's files, the refusal while Wine
// runs the prefix, and (with TOVIK_TEST_WINE=1 and wine on PATH) Wine itself reading what
// tovik-reg wrote and tovik-reg reading what Wine wrote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
Outcome Shell(const std::string& line, const wine_test::fs::path& scratch) {
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
    Outcome Reg(const std::vector<std::string>& args) {
        std::string line = wine_test::shellQuoted(TOVIK_REG_PATH) + " --wine-prefix " + wine_test::shellQuoted(prefix_);
        for (const std::string& arg : args) line += " " + wine_test::shellQuoted(arg);
        return Shell(line, scratch_.path());
    }
    void Ok(const std::vector<std::string>& args) {
        const Outcome result = Reg(args);
        EXPECT_EQ(result.exitCode, 0) << args.front() << ": " << result.err;
    }
    std::string File(const char* name) const { return readBytes(prefix_ + "/" + name); }

    wine_test::ScratchDir scratch_;
    std::string prefix_;
};

TEST_F(TovikRegOnAPrefix, EveryCommandReadsAndWritesThePrefixFiles) {
    Ok({"set", "HKCU\\Software\\Tovik", "S", "SZ", "plain text"});
    Ok({"set", "HKCU\\Software\\Tovik", "D", "DW", "42"});
    Ok({"set", "HKCR\\.tovik", "@", "SZ", "tovikfile"});
    Ok({"add-key", "HKLM\\Software\\Empty"});
    EXPECT_THAT(File("user.reg"), HasSubstr("[Software\\\\Tovik] "));
    // tovik-reg writes a string without its terminating zero, which Wine's file holds as hex.
    EXPECT_THAT(File("user.reg"), HasSubstr("\"S\"=hex(1):70,00,6c,00,61,00,69,00,6e,00,20,00,74,00,65,00,78,00,"
                                            "74,00\n\"D\"=dword:0000002a\n"));
    EXPECT_THAT(File("system.reg"), HasSubstr("[Software\\\\Classes\\\\.tovik] "));
    EXPECT_THAT(File("system.reg"), HasSubstr("[Software\\\\Empty] ")) << "an empty key the user made is kept";

    const Outcome query = Reg({"query", "HKLM\\Software\\Classes\\.tovik"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.out, "[Software\\Classes\\.tovik]\n\"@\"=SZ:tovikfile\n");

    const std::string exported = (scratch_.path() / "tovik.txt").string();
    Ok({"export", "HKCU\\Software", exported});
    Ok({"delete-value", "HKCU\\Software\\Tovik", "D"});
    Ok({"delete-key", "HKCU\\Software\\Tovik"});
    EXPECT_THAT(File("user.reg"), Not(HasSubstr("Tovik")));
    Ok({"import", exported});
    EXPECT_THAT(File("user.reg"), HasSubstr("\"D\"=dword:0000002a"));

    const Outcome overwrite = Reg({"export", "HKCU", prefix_ + "/user.reg"});
    EXPECT_EQ(overwrite.exitCode, 1) << "an export wrote over the prefix's own file";
    EXPECT_THAT(File("user.reg"), HasSubstr("WINE REGISTRY Version 2"));
}

TEST_F(TovikRegOnAPrefix, AFolderThatIsNoPrefixIsRefusedAndLeftAlone) {
    const std::string empty = (scratch_.path() / "empty").string();
    wine_test::fs::create_directories(empty);
    const Outcome result = Shell(wine_test::shellQuoted(TOVIK_REG_PATH) + " --wine-prefix " + wine_test::shellQuoted(empty) + " add-key HKCU\\\\A",
                                 scratch_.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr("is not a Wine prefix"));
    EXPECT_TRUE(wine_test::fs::is_empty(empty));
}

TEST_F(TovikRegOnAPrefix, WhileWineRunsThePrefixReadsWorkAndEveryWriteIsRefusedWithTheReason) {
    Ok({"set", "HKCU\\Software\\Tovik", "S", "SZ", "before"});
    const std::string user = File("user.reg");
    wine_test::RunningWineserver server(prefix_);
    ASSERT_TRUE(server.holding());
    const Outcome query = Reg({"query", "HKCU\\Software\\Tovik"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.out, "[Software\\Tovik]\n\"S\"=SZ:before\n");
    for (const std::vector<std::string>& write : std::vector<std::vector<std::string>>{
             {"set", "HKCU\\Software\\Tovik", "S", "SZ", "after"},
             {"delete-value", "HKCU\\Software\\Tovik", "S"},
             {"add-key", "HKCU\\Software\\New"},
             {"delete-key", "HKCU\\Software\\Tovik"},
         }) {
        const Outcome refused = Reg(write);
        EXPECT_EQ(refused.exitCode, 1) << write.front();
        EXPECT_THAT(refused.err, HasSubstr("read-only")) << write.front();
        EXPECT_THAT(refused.err, HasSubstr("wineserver -k")) << write.front();
    }
    EXPECT_EQ(File("user.reg"), user);
}

// The prefix's files as they may be found: user.reg a link into another folder (written
// through, the link kept), a FIFO (refused at once, not waited on), a disk that fills up (the
// save fails and says why).
TEST_F(TovikRegOnAPrefix, AUserRegThatIsALinkIsWrittenThroughToItsFile) {
    const std::string elsewhere = (scratch_.path() / "kept").string();
    wine_test::fs::create_directories(elsewhere);
    wine_test::fs::rename(prefix_ + "/user.reg", elsewhere + "/user.reg");
    wine_test::fs::create_symlink(elsewhere + "/user.reg", prefix_ + "/user.reg");
    Ok({"set", "HKCU\\Software\\Tovik", "D", "DW", "7"});
    EXPECT_TRUE(wine_test::fs::is_symlink(prefix_ + "/user.reg"));
    EXPECT_THAT(readBytes(elsewhere + "/user.reg"), HasSubstr("\"D\"=dword:00000007"));
}

TEST_F(TovikRegOnAPrefix, AFifoAsUserRegFailsAtOnceWithAClearMessage) {
    wine_test::fs::remove(prefix_ + "/user.reg");
    ASSERT_EQ(::mkfifo((prefix_ + "/user.reg").c_str(), 0600), 0);
    const Outcome result = Shell("timeout 20 " + wine_test::shellQuoted(TOVIK_REG_PATH) + " --wine-prefix " +
                                     wine_test::shellQuoted(prefix_) + " query HKCU",
                                 scratch_.path());
    EXPECT_EQ(result.exitCode, 1) << "124: it blocked";
    EXPECT_THAT(result.err, HasSubstr(prefix_ + "/user.reg"));
    EXPECT_THAT(result.err, HasSubstr("not a regular file"));
}

TEST_F(TovikRegOnAPrefix, ASaveThatFailsSaysWhy) {
    Ok({"set", "HKCU\\Software\\Tovik", "S", "SZ", "before"});
    const std::string user = File("user.reg");
    // Files may not grow past 2 KiB (ulimit counts 512-byte blocks), as on a full disk.
    const Outcome failed = Shell("ulimit -f 4; trap '' XFSZ; " + wine_test::shellQuoted(TOVIK_REG_PATH) +
                                     " --wine-prefix " + wine_test::shellQuoted(prefix_) + " set HKCU\\\\Software " +
                                     "Big SZ " + std::string(4000, 'x'),
                                 scratch_.path());
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_THAT(failed.err, HasSubstr(prefix_ + "/user.reg"));
    EXPECT_THAT(failed.err, HasSubstr(std::strerror(EFBIG)));
    EXPECT_EQ(File("user.reg"), user);
}

// ---- With Wine itself ----

class TovikRegWithWine : public TovikRegOnAPrefix {
protected:
    void SetUp() override { prefix_ = (scratch_.path() / "prefix").string(); }
    // Runs a Wine command on the prefix, without a display.
    Outcome Wine(const std::string& command) {
        return Shell("env -u DISPLAY WINEDEBUG=-all WINEPREFIX=" + wine_test::shellQuoted(prefix_) + " " + command, scratch_.path());
    }
};

TEST_F(TovikRegWithWine, WineReadsWhatTovikRegWroteAndTovikRegReadsWhatWineWrote) {
    std::string why;
    if (!wine_test::wineWanted(why)) GTEST_SKIP() << why;
    ASSERT_TRUE(wine_test::makeWinePrefix(prefix_)) << "wineboot -i made no prefix in " << prefix_;
    const std::string system = File("system.reg");
    {
        SCOPED_TRACE("tovik-reg writes, Wine reads");
        const std::string key = "HKCU\\Software\\Tovik";
        Ok({"set", key, "S", "SZ", "plain text"});
        Ok({"set", key, "E", "EXP", "%PATH%"});
        Ok({"set", key, "M", "MLT", "a|b||"});
        Ok({"set", key, "D", "DW", "42"});
        Ok({"set", key, "B", "BIN", "01 FF"});
        Ok({"set", key, "N", "NON", ""});
        Ok({"set", key, "Q", "11", "88 77 66 55 44 33 22 11"});
        Ok({"set", key, "@", "SZ", "default"});
        Ok({"add-key", key + "\\Sub"});
        Ok({"add-key", key + "\\Gone"});
        Ok({"delete-key", key + "\\Gone"});
        EXPECT_EQ(File("system.reg"), system) << "system.reg was written without a change to it";

        const Outcome out = Wine("wine reg query 'HKCU\\Software\\Tovik' /s");
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
        Wine("wineserver -w");
        // Wine has saved the prefix again, in its own forms: what tovik-reg wrote came back.
        const Outcome saved = Reg({"query", key});
        EXPECT_EQ(saved.exitCode, 0) << saved.err;
        EXPECT_THAT(saved.out, HasSubstr("\"Q\"=??:88 77 66 55 44 33 22 11 \n"));
        EXPECT_THAT(saved.out, HasSubstr("\"M\"=MLT:a|b||\n"));
        EXPECT_THAT(saved.out, HasSubstr("\"S\"=SZ:plain text\n"));
    }
    {
        SCOPED_TRACE("Wine writes, tovik-reg reads");
        const std::string key = "'HKCU\\Software\\FromWine'";
        Wine("wine reg add " + key + " /v S /t REG_SZ /d 'h\xC3\xA9llo' /f");
        Wine("wine reg add " + key + " /v E /t REG_EXPAND_SZ /d '%TEMP%\\x' /f");
        Wine("wine reg add " + key + " /v M /t REG_MULTI_SZ /d 'one\\0two' /f");
        Wine("wine reg add " + key + " /v D /t REG_DWORD /d 4294967295 /f");
        Wine("wine reg add " + key + " /v B /t REG_BINARY /d 00ff10 /f");
        Wine("wine reg add " + key + " /v Q /t REG_QWORD /d 0x1122334455667788 /f");
        Wine("wineserver -w");
        const Outcome query = Reg({"query", "HKCU\\Software\\FromWine"});
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
        SCOPED_TRACE("while wineserver runs, tovik-reg refuses to write and says why");
        Wine("wineserver -p");
        const std::string user = File("user.reg");
        const Outcome refused = Reg({"set", "HKCU\\Software\\Tovik", "S", "SZ", "lost"});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_THAT(refused.err, HasSubstr("Wine is running this prefix"));
        EXPECT_EQ(File("user.reg"), user);
        Wine("wineserver -k");
        Wine("wineserver -w");
    }
}

}  // namespace
