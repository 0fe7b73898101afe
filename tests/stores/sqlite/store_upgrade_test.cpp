// A store written by the previous layout (data/store_v1.db, made by that version's tovik-reg) is
// upgraded on first open and keeps every key and value, in order, with their names' case.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "registry/registry_store.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int64_t userVersion(const fs::path& store)
{
    sqlite3* db = nullptr;
    std::int64_t version = -1;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            version = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return version;
}

class StoreUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tovik::CloseRegistryStore();
        char pattern[] = "/tmp/tovik-upgrade-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        store_ = dir_ / "registry.db";
        fs::copy_file(fs::path(TOVIK_TEST_DATA) / "store_v1.db", store_);
    }
    void TearDown() override
    {
        tovik::CloseRegistryStore();
        fs::remove_all(dir_);
    }
    // tovik-reg's command on the store; its output, or the error output after "failed: ".
    std::string reg(std::vector<std::string_view> args)
    {
        args.insert(args.begin(), {"--registry", store_.c_str()});
        std::ostringstream out, err;
        const int code = tovik::cli::RunCommandLine(args, out, err);
        return code == 0 ? out.str() : "failed: " + err.str();
    }
    std::string everything()
    {
        return reg({"query", "HKCR", "-r"}) + reg({"query", "HKCU", "-r"}) + reg({"query", "HKLM", "-r"});
    }
    fs::path dir_;
    fs::path store_;
};

TEST_F(StoreUpgradeTest, KeepsEveryKeyAndValueAndGoesOnWorking)
{
    ASSERT_EQ(userVersion(store_), 1);
    EXPECT_EQ(everything(), readText(fs::path(TOVIK_TEST_DATA) / "store_v1_content.txt"));
    EXPECT_EQ(userVersion(store_), 2);

    // New values come after the old ones, overwrites keep their place, deleted keys stay gone
    // and names that the old store held still compare case-insensitively.
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Zeta", "Fourth", "SZ", "vier"}), "");
    EXPECT_EQ(reg({"set", "HKLM\\Software\\Zeta", "SECOND", "SZ", "deux"}), "");
    EXPECT_EQ(reg({"query", "HKLM\\Software\\zeta"}),
              "[Software\\Zeta]\n\"Second\"=SZ:deux\n\"first\"=DW:8(8)\n\"@\"=SZ:\n\"Third\"=BIN:00 01 FF \n"
              "\"Fourth\"=SZ:vier\n");
    EXPECT_EQ(reg({"add-key", "HKLM\\Software\\Temp\\New"}), "");
    EXPECT_EQ(reg({"query", "HKLM\\Software\\Temp", "-r"}), "[Software\\Temp]\n[Software\\Temp\\New]\n");
    EXPECT_EQ(reg({"delete-key", "HKLM\\Software\\Beta"}), "");
    EXPECT_NE(reg({"query", "HKLM\\Software\\Beta"}).rfind("failed: ", 0), std::string::npos);

    // A second open finds the new layout and changes nothing.
    const std::string before = everything();
    EXPECT_EQ(everything(), before);
    EXPECT_EQ(userVersion(store_), 2);
}

}  // namespace
