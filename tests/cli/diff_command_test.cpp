// tovik-reg diff and import --dry-run, run in-process on store files in a temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

class DiffCommandTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tovik-diff-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        a_ = (dir_ / "a.db").string();
        b_ = (dir_ / "b.db").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    Outcome Run(const std::vector<std::string>& args) {
        std::vector<std::string_view> views(args.begin(), args.end());
        std::ostringstream out, err;
        Outcome outcome;
        outcome.code = tovik::cli::runCommandLine(views, out, err);
        outcome.out = out.str();
        outcome.err = err.str();
        return outcome;
    }
    void ok(const std::vector<std::string>& args) {
        const Outcome outcome = Run(args);
        ASSERT_EQ(outcome.code, 0) << outcome.err;
    }
    // The same game key in store a: a snapshot of it, then the changes an installer makes.
    void makeChangedStore() {
        ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Size", "DW", "5"});
        ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Name", "SZ", "hello"});
        ok({"--registry", a_, "set", "HKCU\\Software\\Game\\Old", "Gone", "SZ", "x"});
        ok({"--registry", a_, "export", "HKCU\\Software\\Game", snapshot(), "--format", "reg"});
        ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Size", "DW", "6"});
        ok({"--registry", a_, "delete-value", "HKCU\\Software\\Game", "Name"});
        ok({"--registry", a_, "set", "HKCU\\Software\\Game\\Video", "Mode", "SZ", "full"});
        ok({"--registry", a_, "delete-key", "HKCU\\Software\\Game\\Old"});
    }
    std::string snapshot() const { return (dir_ / "snapshot.reg").string(); }
    std::string filePath(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
    std::string a_, b_;
};

TEST_F(DiffCommandTest, ListsWhatChangedSinceASnapshotWithTheExitStatusOfDiff) {
    makeChangedStore();
    const Outcome changed = Run({"--registry", a_, "diff", snapshot(), "HKCU\\Software\\Game"});
    EXPECT_EQ(changed.code, 1) << changed.err;
    EXPECT_EQ(changed.out, " [HKEY_CURRENT_USER\\Software\\Game]\n"
                           "-  \"Size\"=DW:5(5)\n"
                           "+  \"Size\"=DW:6(6)\n"
                           "-  \"Name\"=SZ:hello\n"
                           "-[HKEY_CURRENT_USER\\Software\\Game\\Old]\n"
                           "-  \"Gone\"=SZ:x\n"
                           "+[HKEY_CURRENT_USER\\Software\\Game\\Video]\n"
                           "+  \"Mode\"=SZ:full\n");
    // --reverse reads from the other side: every sign turns.
    const Outcome reversed = Run({"--registry", a_, "diff", snapshot(), "HKCU\\Software\\Game", "--reverse"});
    EXPECT_EQ(reversed.code, 1);
    EXPECT_THAT(reversed.out, HasSubstr("+[HKEY_CURRENT_USER\\Software\\Game\\Old]\n"));
    EXPECT_THAT(reversed.out, HasSubstr("-[HKEY_CURRENT_USER\\Software\\Game\\Video]\n"));

    const Outcome same = Run({"--registry", a_, "diff", "HKCU\\Software\\Game", "hkcu/software/GAME"});
    EXPECT_EQ(same.code, 0);
    EXPECT_EQ(same.out, "");
    const Outcome missing = Run({"--registry", a_, "diff", "HKCU\\Software\\Nothing", "HKCU\\Software\\Nowhere"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_THAT(missing.err, HasSubstr("no such key"));
    const Outcome notAFile = Run({"--registry", a_, "diff", "HKCU\\Software\\Game", filePath("absent.reg")});
    EXPECT_EQ(notAFile.code, 2);
}

TEST_F(DiffCommandTest, TheRegOutputTurnsOneSideIntoTheOther) {
    makeChangedStore();
    ok({"--registry", b_, "import", snapshot()});
    // b holds the snapshot: the .reg that turns it into a's key, imported into b, leaves no difference.
    const Outcome reg =
        Run({"--registry", b_, "diff", "HKCU\\Software\\Game", "--b", "--registry", a_, "--format", "reg"});
    ASSERT_EQ(reg.code, 1) << reg.err;
    {
        std::ofstream file(filePath("change.reg"), std::ios::binary);
        file << reg.out;
    }
    EXPECT_EQ(Run({"--registry", b_, "diff", "HKCU\\Software\\Game", "--b", "--registry", a_}).code, 1);
    ok({"--registry", b_, "import", filePath("change.reg")});
    const Outcome after = Run({"--registry", b_, "diff", "HKCU\\Software\\Game", "--b", "--registry", a_});
    EXPECT_EQ(after.code, 0) << after.out;

    // The reverse file, from a, turns b back into the snapshot.
    const Outcome back =
        Run({"--registry", a_, "diff", snapshot(), "HKCU\\Software\\Game", "--format", "reg4", "--reverse"});
    ASSERT_EQ(back.code, 1);
    EXPECT_THAT(back.out, HasSubstr("REGEDIT4\r\n"));
    {
        std::ofstream file(filePath("back.reg"), std::ios::binary);
        file << back.out;
    }
    ok({"--registry", b_, "import", filePath("back.reg")});
    EXPECT_EQ(Run({"--registry", b_, "diff", "HKCU\\Software\\Game", snapshot()}).code, 0);
}

TEST_F(DiffCommandTest, JsonListsEachDifferenceWithBothValues) {
    makeChangedStore();
    const Outcome json = Run({"--registry", a_, "diff", snapshot(), "HKCU\\Software\\Game", "--json"});
    ASSERT_EQ(json.code, 1);
    const nlohmann::json parsed = nlohmann::json::parse(json.out);
    ASSERT_EQ(parsed.size(), 6u);
    EXPECT_EQ(parsed[0]["change"], "changed");
    EXPECT_EQ(parsed[0]["name"], "Size");
    EXPECT_EQ(parsed[0]["a"]["hex"], "05000000");
    EXPECT_EQ(parsed[0]["b"]["hex"], "06000000");
    EXPECT_EQ(parsed[1]["change"], "removed");
    EXPECT_TRUE(parsed[1]["b"].is_null());
    EXPECT_EQ(parsed[2]["kind"], "key");
    EXPECT_EQ(parsed[2]["path"], "HKEY_CURRENT_USER\\Software\\Game\\Old");
}

TEST_F(DiffCommandTest, TwoFilesCompareWithoutARegistry) {
    makeChangedStore();
    ok({"--registry", a_, "export", "HKCU\\Software\\Game", filePath("after.reg"), "--format", "reg"});
    const Outcome files = Run({"diff", snapshot(), filePath("after.reg")});
    EXPECT_EQ(files.code, 1) << files.err;
    EXPECT_THAT(files.out, HasSubstr("+[HKEY_CURRENT_USER\\Software\\Game\\Video]\n"));
    EXPECT_FALSE(fs::exists(dir_ / "xdg")) << "no store is made for two files";
}

// A backup file is a snapshot as a .reg export is: taken at the same moment, both list the same
// changes since; a broken line ends what is read, as it ends an import.
TEST_F(DiffCommandTest, ABackupFileSnapshotListsWhatTheRegSnapshotLists) {
    ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Size", "DW", "5"});
    ok({"--registry", a_, "set", "HKCU\\Software\\Game\\Old\\Deep", "Gone", "SZ", "x"});
    ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Bytes", "BIN", "01 02 03"});
    const std::string backup = filePath("game.bak");
    ok({"--registry", a_, "export", "HKCU\\Software\\Game", backup});
    ok({"--registry", a_, "export", "HKCU\\Software\\Game", snapshot(), "--format", "reg"});
    ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Size", "DW", "6"});
    ok({"--registry", a_, "delete-key", "HKCU\\Software\\Game\\Old"});
    ok({"--registry", a_, "set", "HKCU\\Software\\Game\\Video", "Mode", "SZ", "full"});

    const Outcome fromReg = Run({"--registry", a_, "diff", snapshot(), "HKCU\\Software\\Game"});
    const Outcome fromBackup = Run({"--registry", a_, "diff", backup, "HKCU\\Software\\Game"});
    EXPECT_EQ(fromBackup.code, 1) << fromBackup.err;
    EXPECT_EQ(fromBackup.out, fromReg.out);
    EXPECT_THAT(fromBackup.out, HasSubstr("-[HKEY_CURRENT_USER\\Software\\Game\\Old\\Deep]\n"));

    // Its first value line broken: only the keys before it are read.
    std::ifstream in(backup, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string line = std::string("\"\0S\0i\0z\0e\0\"\0", 12);
    const std::size_t at = bytes.find(line);
    ASSERT_NE(at, std::string::npos);
    bytes[at] = '#';
    std::ofstream(filePath("broken.bak"), std::ios::binary) << bytes;
    const Outcome broken = Run({"--registry", a_, "diff", filePath("broken.bak"), "HKCU\\Software\\Game"});
    EXPECT_EQ(broken.code, 1) << broken.err;
    EXPECT_THAT(broken.out, HasSubstr("+  \"Size\"=DW:6(6)\n"));
    EXPECT_THAT(broken.out, testing::Not(HasSubstr("Old")));
}

TEST_F(DiffCommandTest, ImportDryRunPrintsThePreviewAndWritesNothing) {
    makeChangedStore();
    const Outcome preview = Run({"--registry", a_, "import", "--dry-run", snapshot()});
    EXPECT_EQ(preview.code, 0) << preview.err;
    EXPECT_THAT(preview.out, HasSubstr(" [HKEY_CURRENT_USER\\Software\\Game]\n"
                                       "-  \"Size\"=DW:6(6)\n"
                                       "+  \"Size\"=DW:5(5)\n"
                                       "+  \"Name\"=SZ:hello\n"
                                       "+[HKEY_CURRENT_USER\\Software\\Game\\Old]\n"
                                       "+  \"Gone\"=SZ:x\n"));
    EXPECT_THAT(preview.out, HasSubstr("create 1 keys"));
    // Nothing was written: the key still differs from the snapshot as before.
    EXPECT_EQ(Run({"--registry", a_, "diff", snapshot(), "HKCU\\Software\\Game"}).code, 1);
    EXPECT_EQ(Run({"--registry", a_, "query", "HKCU\\Software\\Game\\Old"}).code, 1);
}

// A backup file previews as a .reg file does, with what its import would take: it deletes
// nothing, and a key line whose parent is missing writes nothing.
TEST_F(DiffCommandTest, ImportDryRunPreviewsABackupFile) {
    ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Size", "DW", "5"});
    ok({"--registry", a_, "set", "HKCU\\Software\\Game\\Old", "Gone", "SZ", "x"});
    const std::string backup = filePath("game.bak");
    ok({"--registry", a_, "export", "HKCU\\Software\\Game", backup});
    ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Size", "DW", "6"});
    ok({"--registry", a_, "delete-key", "HKCU\\Software\\Game\\Old"});
    ok({"--registry", a_, "set", "HKCU\\Software\\Game\\Video", "Mode", "SZ", "full"});

    const Outcome preview = Run({"--registry", a_, "import", "--dry-run", backup});
    EXPECT_EQ(preview.code, 0) << preview.err;
    EXPECT_THAT(preview.out, HasSubstr(" [HKEY_CURRENT_USER\\Software\\Game]\n"
                                       "-  \"Size\"=DW:6(6)\n"
                                       "+  \"Size\"=DW:5(5)\n"
                                       "+[HKEY_CURRENT_USER\\Software\\Game\\Old]\n"
                                       "+  \"Gone\"=SZ:x\n"));
    EXPECT_THAT(preview.out, HasSubstr("create 1 keys and delete 0; add 1 values, change 1 and delete 0"));
    EXPECT_EQ(Run({"--registry", a_, "query", "HKCU\\Software\\Game\\Old"}).code, 1) << "nothing is written";

    std::ofstream(filePath("ansi.bak")) << "Tovik\r\n";
    EXPECT_EQ(Run({"--registry", a_, "import", "--dry-run", filePath("ansi.bak")}).code, 1);
}

TEST_F(DiffCommandTest, UsageErrors) {
    EXPECT_EQ(Run({"diff", "HKCU\\Software"}).code, 2);
    EXPECT_EQ(Run({"diff", "HKCU\\A", "HKCU\\B", "--json", "--format", "reg"}).code, 2);
    EXPECT_EQ(Run({"diff", "HKCU\\A", "--b", "HKCU\\B"}).code, 2);
    EXPECT_EQ(Run({"diff", "HKCU\\A", "--b", "--registry", a_, "--b", "--registry", b_}).code, 2);
    EXPECT_EQ(Run({"diff", "HKCU\\A", "HKCU\\B", "--format", "backup"}).code, 2);
}

}  // namespace
