// Permissions: the store's folder is created 0700 and the store 0600 (with its -wal and -shm
// files), whatever the umask, both for the user's registry and for a store named on the command
// line (whose folder must exist).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

using namespace reliability;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 07777;
    return st.st_mode & 07777;
}

// Sets the umask for one test and puts the old one back.
class Umask {
public:
    explicit Umask(mode_t mask) : old_(::umask(mask)) {}
    ~Umask() { ::umask(old_); }

private:
    mode_t old_;
};

class StorePermissions : public ::testing::TestWithParam<mode_t> {};

TEST_P(StorePermissions, UserRegistryFolderAndFiles) {
    TempDir dir;
    Umask mask(GetParam());
    const std::string folder = dir.File("data/tovik");
    const std::string store = folder + "/registry.db";
    const tovik::StoreOpenResult opened = tovik::openUserRegistry(store);
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(dir.File("data")) & 077, 0u) << "a folder made on the way is private too";
    EXPECT_EQ(modeOf(store), 0600u);
    EXPECT_EQ(modeOf(store + "-wal"), 0600u);
    EXPECT_EQ(modeOf(store + "-shm"), 0600u);
    tovik::closeRegistryStore();
    for (const std::string& name : FolderEntries(folder)) {
        EXPECT_EQ(modeOf(folder + "/" + name) & 077, 0u) << name;
    }
}

TEST_P(StorePermissions, StoreNamedOnTheCommandLine) {
    TempDir dir;
    Umask mask(GetParam());
    // tovik-reg makes the folders of the user's store; a store it is named must lie in a folder
    // that exists.
    const ChildExit run =
        RunChild({{TOVIK_REG_PATH, "add-key", "HKCU\\Software\\P"}, {"XDG_DATA_HOME=" + dir.File("new")}, {}, {}, {}});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(modeOf(dir.File("new/tovik")), 0700u);
    EXPECT_EQ(modeOf(dir.File("new")), 0700u);
    EXPECT_EQ(modeOf(dir.File("new/tovik/registry.db")), 0600u);
    ASSERT_EQ(::mkdir(dir.File("named").c_str(), 0755), 0);
    const std::string store = dir.File("named/registry.db");
    ASSERT_EQ(RunChild({{TOVIK_REG_PATH, "--registry", store, "add-key", "HKCU\\Software\\P"}, {}, {}, {}, {}}).code,
              0);
    EXPECT_EQ(modeOf(store), 0600u);

    // A store opened directly (tests, tools) makes its folder private as well.
    const std::string other = dir.File("direct/registry.db");
    ASSERT_TRUE(tovik::openRegistryStore(other).ok);
    EXPECT_EQ(modeOf(dir.File("direct")), 0700u);
    EXPECT_EQ(modeOf(other), 0600u);
    tovik::closeRegistryStore();
}

INSTANTIATE_TEST_SUITE_P(Umasks, StorePermissions, ::testing::Values(mode_t{0}, mode_t{022}, mode_t{077}));

TEST(StorePermissionsKept, AnExistingFolderIsLeftAsTheUserSetIt) {
    TempDir dir;
    const std::string folder = dir.File("shared");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    ASSERT_EQ(::chmod(folder.c_str(), 0750), 0);
    ASSERT_TRUE(tovik::openUserRegistry(folder + "/registry.db").ok);
    tovik::closeRegistryStore();
    EXPECT_EQ(modeOf(folder), 0750u);
    EXPECT_EQ(modeOf(folder + "/registry.db"), 0600u);
}

}  // namespace
