// The options naming the registry, as tovik and tovik-reg both read them: each spelling, and
// the combinations that are refused.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stores/registry_source_args.h"

namespace {

using tovik::RegistrySource;
using tovik::RegistrySourceArgs;
using Kind = RegistrySource::Kind;

// Takes every argument as an option; the source, or the first error.
std::optional<RegistrySource> Parse(std::vector<std::string_view> args, std::string& error) {
    RegistrySourceArgs options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const RegistrySourceArgs::Taken taken = options.take(args, i, error);
        if (taken == RegistrySourceArgs::Taken::Error) return std::nullopt;
        if (taken == RegistrySourceArgs::Taken::NotMine) {
            error = "not mine: " + std::string(args[i]);
            return std::nullopt;
        }
    }
    return options.finish(error);
}

TEST(RegistrySourceArgs, EachSpellingNamesItsRegistry) {
    std::string error;
    EXPECT_EQ(Parse({}, error)->kind, Kind::UserStore);

    const auto store = Parse({"--registry", "/tmp/r.db"}, error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->kind, Kind::StoreFile);
    EXPECT_EQ(store->path, "/tmp/r.db");

    const auto prefix = Parse({"--wine-prefix=/home/u/.wine"}, error);
    ASSERT_TRUE(prefix) << error;
    EXPECT_EQ(prefix->kind, Kind::WinePrefix);
    EXPECT_EQ(prefix->path, "/home/u/.wine");
    EXPECT_FALSE(prefix->writable);

    const auto windows = Parse({"--windows", "/mnt/c/Windows", "--user=/mnt/c/Users/a/NTUSER.DAT", "--write"}, error);
    ASSERT_TRUE(windows) << error;
    EXPECT_EQ(windows->kind, Kind::Windows);
    EXPECT_EQ(windows->userHive, "/mnt/c/Users/a/NTUSER.DAT");
    EXPECT_TRUE(windows->writable);

    const auto hive = Parse({"--as", "HKLM\\SOFTWARE", "--hive", "SOFTWARE"}, error);
    ASSERT_TRUE(hive) << error;
    EXPECT_EQ(hive->kind, Kind::Hive);
    EXPECT_EQ(hive->path, "SOFTWARE");
    EXPECT_EQ(hive->mountAs, "HKLM\\SOFTWARE");
}

TEST(RegistrySourceArgs, MissingValuesAndConflictingCombinationsAreRefused) {
    const std::vector<std::vector<std::string_view>> refused = {
        {"--wine-prefix"},                              // no value
        {"--wine-prefix="},                             // an empty one
        {"--registry", "a.db", "--registry", "b.db"},   // twice
        {"--registry", "a.db", "--wine-prefix", "p"},   // two registries
        {"--wine-prefix", "p", "--hive", "h", "--as", "HKLM\\X"},
        {"--user", "NTUSER.DAT"},                       // --user without --windows
        {"--hive", "h"},                                // --hive without --as
        {"--as", "HKLM\\X"},                            // --as without --hive
        {"--wine-prefix", "p", "--write"},              // nothing to make writable
        {"--write"},
        {"--hive", "h", "--as", "HKLM\\X", "--write", "--write"},
    };
    for (const auto& args : refused) {
        std::string error;
        const auto source = Parse(args, error);
        std::string joined;
        for (std::string_view arg : args) joined += std::string(arg) + " ";
        EXPECT_FALSE(source) << joined;
        EXPECT_FALSE(error.empty()) << joined;
    }
}

TEST(RegistrySourceArgs, OtherArgumentsAreLeftToTheProgram) {
    RegistrySourceArgs options;
    const std::vector<std::string_view> args = {"--wine-prefix", "p", "query", "--registryX"};
    std::string error;
    std::size_t i = 0;
    EXPECT_EQ(options.take(args, i, error), RegistrySourceArgs::Taken::Taken);
    EXPECT_EQ(i, 1u) << "left on the option's value";
    i = 2;
    EXPECT_EQ(options.take(args, i, error), RegistrySourceArgs::Taken::NotMine);
    i = 3;
    EXPECT_EQ(options.take(args, i, error), RegistrySourceArgs::Taken::NotMine);
}

}  // namespace
