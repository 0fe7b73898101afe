// A store whose key tree loops back on itself (HKEY_LOCAL_MACHINE made a child of a key below it)
// passes SQLite's integrity check, yet every walk over it must end: tovik-reg's query -r, export
// and delete-key stop with an error, write nothing without bound and leave the store as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "reliability/reliability_support.h"

namespace {

using namespace reliability;
namespace fs = std::filesystem;

constexpr std::string_view kLoops = "its key tree loops back on itself";

class LoopedTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeLoopedStore(store_));
        ASSERT_EQ(IntegrityCheck(store_), "ok");
        before_ = ReadFileBytes(store_);
    }
    ChildExit Run(std::vector<std::string> args) {
        // Should the walk go round for ever, its output and files stay small and it is stopped.
        args.insert(args.begin(), {"/bin/bash", "-c", "set -o pipefail; \"$0\" \"$@\" | head -c 65536", TOVIK_REG_PATH,
                                   "--registry", store_});
        const ChildExit run = RunChild({std::move(args), {}, 64u << 20, {}, {}}, 30);
        EXPECT_TRUE(run.exited) << "signal " << run.signal;
        EXPECT_FALSE(run.timedOut);
        EXPECT_LT(run.seconds, 10 * TimeScale());
        EXPECT_EQ(run.code, 1) << run.err;
        EXPECT_NE(run.err.find(kLoops), std::string::npos) << run.err;
        return run;
    }
    TempDir dir_;
    std::string store_ = dir_.File("registry.db");
    Bytes before_;
};

TEST_F(LoopedTree, QueryRecursiveStopsWithAnErrorAfterPrintingTheKeysOnce) {
    for (const std::string key : {"HKLM", "HKLM\\Software", "HKLM\\Software\\Kept\\Deep"}) {
        const ChildExit run = Run({"query", key, "-r"});
        EXPECT_LT(run.out.size(), 4096u) << key;
        // The key lines before the loop, each once.
        std::size_t kept = 0;
        for (std::size_t at = run.out.find("Kept]"); at != std::string::npos; at = run.out.find("Kept]", at + 1))
            ++kept;
        EXPECT_LE(kept, 1u) << key << ":\n" << run.out;
    }
    // A key outside the loop is read as usual.
    const ChildExit plain = RunProgram(TOVIK_REG_PATH, {"--registry", store_, "query", "HKCU", "-r"});
    EXPECT_EQ(plain.code, 0) << plain.err;
}

TEST_F(LoopedTree, ExportStopsAndLeavesNoFile) {
    const std::string target = dir_.File("backup.txt");
    const ChildExit run = Run({"export", "HKLM\\Software", target});
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(FolderEntries(dir_.path()), (std::vector<std::string>{"registry.db"}));
}

TEST_F(LoopedTree, DeleteKeyStopsAndSaysWhy) {
    for (const std::string key : {"HKLM\\Software", "HKLM\\Software\\Kept\\Deep"}) Run({"delete-key", key});
    // The walk deleted nothing it could not finish: the keys before the loop are still there.
    const ChildExit query = RunProgram(TOVIK_REG_PATH, {"--registry", store_, "query", "HKLM\\Software\\Kept"});
    EXPECT_EQ(query.code, 0) << query.err;
    EXPECT_NE(query.out.find("\"data\"=SZ:precious"), std::string::npos) << query.out;
    EXPECT_EQ(IntegrityCheck(store_), "ok");
}

}  // namespace
