// The options naming the registry, as tovik and tovik-reg both read them: each spelling, and
// the combinations that are refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "stores/registry_source_args.h"

namespace {

using tovik::RegistrySource;
using Kind = RegistrySource::Kind;

// Takes every argument as an option; "" when they fit together, else the first error.
std::string parse(std::vector<std::string_view> args, RegistrySource& source) {
    std::string error;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        if (!tovik::takeRegistrySourceOption(args, i, source, error)) return "not taken: " + std::string(args[i]);
    }
    return error.empty() ? tovik::checkRegistrySource(source) : error;
}

TEST(RegistrySourceOptions, EachSpellingNamesItsRegistry) {
    RegistrySource prefix;
    EXPECT_EQ(parse({"--wine-prefix=/home/u/.wine"}, prefix), "");
    EXPECT_EQ(prefix.kind, Kind::WinePrefix);
    EXPECT_EQ(prefix.path, "/home/u/.wine");
    EXPECT_FALSE(prefix.writable);

    RegistrySource windows;
    EXPECT_EQ(parse({"--windows", "/mnt/c/Windows", "--user=/mnt/c/Users/a/NTUSER.DAT", "--write"}, windows), "");
    EXPECT_EQ(windows.kind, Kind::Windows);
    EXPECT_EQ(windows.path, "/mnt/c/Windows");
    EXPECT_EQ(windows.userHive, "/mnt/c/Users/a/NTUSER.DAT");
    EXPECT_TRUE(windows.writable);

    RegistrySource hive;
    EXPECT_EQ(parse({"--as", "HKLM\\SOFTWARE", "--hive=/tmp/SOFTWARE"}, hive), "");
    EXPECT_EQ(hive.kind, Kind::Hive);
    EXPECT_EQ(hive.path, "/tmp/SOFTWARE");
    EXPECT_EQ(hive.mountAs, "HKLM\\SOFTWARE");
    EXPECT_FALSE(hive.writable);
}

TEST(RegistrySourceOptions, MissingValuesAndConflictingCombinationsAreRefused) {
    const std::vector<std::vector<std::string_view>> refused = {
        {"--wine-prefix="},  // an empty value
        {"--steam-app"},
        {"--steam-app", "Dota"},  // not an app's number
        {"--steam-app", "570", "--wine-prefix", "p"},
        {"--wine-prefix", "a", "--wine-prefix", "b"},              // twice
        {"--wine-prefix", "p", "--hive", "h", "--as", "HKLM\\X"},  // two registries
        {"--windows", "/w", "--hive", "/h", "--as", "HKLM"},
        {"--windows"},
        {"--windows="},
        {"--user", "NTUSER.DAT"},             // --user without --windows
        {"--windows", "/w", "--as", "HKLM"},  // --as without --hive
        {"--hive", "h"},                      // --hive without --as
        {"--wine-prefix", "p", "--write"},    // a prefix is written without it
        {"--write"},
        {"--hive", "h", "--as", "HKLM\\X", "--write", "--write"},
    };
    for (const auto& args : refused) {
        RegistrySource source;
        std::string joined;
        for (std::string_view arg : args) joined += std::string(arg) + " ";
        const std::string error = parse(args, source);
        EXPECT_NE(error, "") << joined;
        EXPECT_EQ(error.rfind("not taken", 0), std::string::npos) << joined << ": " << error;
    }
}

TEST(RegistrySourceOptions, AWinePrefixWithoutAFolderIsTheDefaultOneAndASteamAppItsProtonPrefix) {
    const std::vector<std::string_view> commandWords = {"query"};
    for (const std::vector<std::string_view>& args :
         {std::vector<std::string_view>{"--wine-prefix"}, {"--wine-prefix", "query"}, {"--wine-prefix", "--"}}) {
        RegistrySource source;
        std::string error;
        std::size_t i = 0;
        EXPECT_TRUE(tovik::takeRegistrySourceOption(args, i, source, error, commandWords));
        EXPECT_EQ(i, 0u) << "the next argument is not its folder: " << args.size();
        EXPECT_EQ(error, "");
        EXPECT_EQ(source.kind, Kind::WinePrefix);

        tovik::discover::UserFolders folders;
        folders.home = "/home/u";
        EXPECT_EQ(tovik::resolveRegistrySource(source, folders), "");
        EXPECT_EQ(source.path, "/home/u/.wine");
        source.path.clear();
        folders.winePrefix = "/games/prefix";
        EXPECT_EQ(tovik::resolveRegistrySource(source, folders), "");
        EXPECT_EQ(source.path, "/games/prefix");
    }
    RegistrySource steam;
    EXPECT_EQ(parse({"--steam-app=1091500"}, steam), "");
    EXPECT_EQ(steam.kind, Kind::WinePrefix);
    EXPECT_EQ(steam.steamApp, "1091500");
    tovik::discover::UserFolders nowhere;
    nowhere.home = "/nonexistent-home";
    EXPECT_THAT(tovik::resolveRegistrySource(steam, nowhere), ::testing::HasSubstr("Steam app 1091500"));
    EXPECT_EQ(steam.path, "");
}

TEST(RegistrySourceOptions, OtherArgumentsAreLeftToTheProgram) {
    const std::vector<std::string_view> args = {"--wine-prefix", "p", "query", "--wine", "--registry"};
    RegistrySource source;
    std::string error;
    std::size_t i = 0;
    EXPECT_TRUE(tovik::takeRegistrySourceOption(args, i, source, error));
    EXPECT_EQ(i, 1u) << "left on the option's value";
    for (i = 2; i < args.size(); ++i) EXPECT_FALSE(tovik::takeRegistrySourceOption(args, i, source, error)) << args[i];
}

}  // namespace
