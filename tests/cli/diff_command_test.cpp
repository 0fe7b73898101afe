// tovik-reg diff and import --dry-run, run in-process on store files in a temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
        outcome.code = tovik::cli::RunCommandLine(views, out, err);
        outcome.out = out.str();
        outcome.err = err.str();
        return outcome;
    }
    void Ok(const std::vector<std::string>& args) {
        const Outcome outcome = Run(args);
        ASSERT_EQ(outcome.code, 0) << outcome.err;
    }
    // The same game key in store a: a snapshot of it, then the changes an installer makes.
    void MakeChangedStore() {
        Ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Size", "DW", "5"});
        Ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Name", "SZ", "hello"});
        Ok({"--registry", a_, "set", "HKCU\\Software\\Game\\Old", "Gone", "SZ", "x"});
        Ok({"--registry", a_, "export", "HKCU\\Software\\Game", Snapshot(), "--format", "reg"});
        Ok({"--registry", a_, "set", "HKCU\\Software\\Game", "Size", "DW", "6"});
        Ok({"--registry", a_, "delete-value", "HKCU\\Software\\Game", "Name"});
        Ok({"--registry", a_, "set", "HKCU\\Software\\Game\\Video", "Mode", "SZ", "full"});
        Ok({"--registry", a_, "delete-key", "HKCU\\Software\\Game\\Old"});
    }
    std::string Snapshot() const { return (dir_ / "snapshot.reg").string(); }
    std::string File(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
    std::string a_, b_;
};

TEST_F(DiffCommandTest, ListsWhatChangedSinceASnapshotWithTheExitStatusOfDiff) {
    MakeChangedStore();
    const Outcome changed = Run({"--registry", a_, "diff", Snapshot(), "HKCU\\Software\\Game"});
    EXPECT_EQ(changed.code, 1) << changed.err;
    EXPECT_EQ(changed.out,
              " [HKEY_CURRENT_USER\\Software\\Game]\n"
              "-  \"Size\"=DW:5(5)\n"
              "+  \"Size\"=DW:6(6)\n"
              "-  \"Name\"=SZ:hello\n"
              "-[HKEY_CURRENT_USER\\Software\\Game\\Old]\n"
              "-  \"Gone\"=SZ:x\n"
              "+[HKEY_CURRENT_USER\\Software\\Game\\Video]\n"
              "+  \"Mode\"=SZ:full\n");
    // --reverse reads from the other side: every sign turns.
    const Outcome reversed = Run({"--registry", a_, "diff", Snapshot(), "HKCU\\Software\\Game", "--reverse"});
    EXPECT_EQ(reversed.code, 1);
    EXPECT_THAT(reversed.out, HasSubstr("+[HKEY_CURRENT_USER\\Software\\Game\\Old]\n"));
    EXPECT_THAT(reversed.out, HasSubstr("-[HKEY_CURRENT_USER\\Software\\Game\\Video]\n"));

    const Outcome same = Run({"--registry", a_, "diff", "HKCU\\Software\\Game", "hkcu/software/GAME"});
    EXPECT_EQ(same.code, 0);
    EXPECT_EQ(same.out, "");
    const Outcome missing = Run({"--registry", a_, "diff", "HKCU\\Software\\Nothing", "HKCU\\Software\\Nowhere"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_THAT(missing.err, HasSubstr("no such key"));
    const Outcome notAFile = Run({"--registry", a_, "diff", "HKCU\\Software\\Game", File("absent.reg")});
    EXPECT_EQ(notAFile.code, 2);
}

TEST_F(DiffCommandTest, TheRegOutputTurnsOneSideIntoTheOther) {
    MakeChangedStore();
    Ok({"--registry", b_, "import", Snapshot()});
    // b holds the snapshot: the .reg that turns it into a's key, imported into b, leaves no difference.
    const Outcome reg = Run({"--registry", b_, "diff", "HKCU\\Software\\Game", "--b", "--registry", a_, "--format", "reg"});
    ASSERT_EQ(reg.code, 1) << reg.err;
    {
        std::ofstream file(File("change.reg"), std::ios::binary);
        file << reg.out;
    }
    EXPECT_EQ(Run({"--registry", b_, "diff", "HKCU\\Software\\Game", "--b", "--registry", a_}).code, 1);
    Ok({"--registry", b_, "import", File("change.reg")});
    const Outcome after = Run({"--registry", b_, "diff", "HKCU\\Software\\Game", "--b", "--registry", a_});
    EXPECT_EQ(after.code, 0) << after.out;

    // The reverse file, from a, turns b back into the snapshot.
    const Outcome back = Run({"--registry", a_, "diff", Snapshot(), "HKCU\\Software\\Game", "--format", "reg4", "--reverse"});
    ASSERT_EQ(back.code, 1);
    EXPECT_THAT(back.out, HasSubstr("REGEDIT4\r\n"));
    {
        std::ofstream file(File("back.reg"), std::ios::binary);
        file << back.out;
    }
    Ok({"--registry", b_, "import", File("back.reg")});
    EXPECT_EQ(Run({"--registry", b_, "diff", "HKCU\\Software\\Game", Snapshot()}).code, 0);
}

TEST_F(DiffCommandTest, JsonListsEachDifferenceWithBothValues) {
    MakeChangedStore();
    const Outcome json = Run({"--registry", a_, "diff", Snapshot(), "HKCU\\Software\\Game", "--json"});
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
    MakeChangedStore();
    Ok({"--registry", a_, "export", "HKCU\\Software\\Game", File("after.reg"), "--format", "reg"});
    const Outcome files = Run({"diff", Snapshot(), File("after.reg")});
    EXPECT_EQ(files.code, 1) << files.err;
    EXPECT_THAT(files.out, HasSubstr("+[HKEY_CURRENT_USER\\Software\\Game\\Video]\n"));
    EXPECT_FALSE(fs::exists(dir_ / "xdg")) << "no store is made for two files";
}

TEST_F(DiffCommandTest, ImportDryRunPrintsThePreviewAndWritesNothing) {
    MakeChangedStore();
    const Outcome preview = Run({"--registry", a_, "import", "--dry-run", Snapshot()});
    EXPECT_EQ(preview.code, 0) << preview.err;
    EXPECT_THAT(preview.out, HasSubstr(" [HKEY_CURRENT_USER\\Software\\Game]\n"
                                       "-  \"Size\"=DW:6(6)\n"
                                       "+  \"Size\"=DW:5(5)\n"
                                       "+  \"Name\"=SZ:hello\n"
                                       "+[HKEY_CURRENT_USER\\Software\\Game\\Old]\n"
                                       "+  \"Gone\"=SZ:x\n"));
    EXPECT_THAT(preview.out, HasSubstr("create 1 keys"));
    // Nothing was written: the key still differs from the snapshot as before.
    EXPECT_EQ(Run({"--registry", a_, "diff", Snapshot(), "HKCU\\Software\\Game"}).code, 1);
    EXPECT_EQ(Run({"--registry", a_, "query", "HKCU\\Software\\Game\\Old"}).code, 1);
}

TEST_F(DiffCommandTest, UsageErrors) {
    EXPECT_EQ(Run({"diff", "HKCU\\Software"}).code, 2);
    EXPECT_EQ(Run({"diff", "HKCU\\A", "HKCU\\B", "--json", "--format", "reg"}).code, 2);
    EXPECT_EQ(Run({"diff", "HKCU\\A", "--b", "HKCU\\B"}).code, 2);
    EXPECT_EQ(Run({"diff", "HKCU\\A", "--b", "--registry", a_, "--b", "--registry", b_}).code, 2);
    EXPECT_EQ(Run({"diff", "HKCU\\A", "HKCU\\B", "--format", "backup"}).code, 2);
}

}  // namespace
