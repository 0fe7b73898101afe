// Discovery on a fake home: every launcher's prefixes found once, with their names, whatever
// damaged files lie beside them; stopping; Steam's KeyValues text; a prefix that Wine runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stop_token>

#include "discover/discovery.h"
#include "discover/key_values.h"
#include "fake_home.h"
#include "registry/utf8.h"
#include "stores/registry_discovery.h"

namespace {

using tovik::discover::FoundRegistry;
using tovik::discover::KeyValues;

fake_home::Expected asExpected(const FoundRegistry& found) {
    return {std::string(tovik::discover::kindWord(found.kind)), tovik::utf16ToUtf8(found.name), found.folder};
}

MATCHER_P(SameRegistry, expected, "") {
    return arg.kind == expected.kind && arg.name == expected.name && arg.folder == expected.folder;
}

auto registries(const std::vector<fake_home::Expected>& list) {
    std::vector<::testing::Matcher<fake_home::Expected>> matchers;
    for (const auto& e : list) matchers.push_back(SameRegistry(e));
    return ::testing::UnorderedElementsAreArray(matchers);
}

std::string describe(const std::vector<fake_home::Expected>& list) {
    std::string text;
    for (const auto& e : list) text += e.kind + " | " + e.name + " | " + e.folder + "\n";
    return text;
}

TEST(Discovery, FindsEveryLaunchersPrefixesOnceWithTheirNamesAndSkipsWhatItCannotRead) {
    const fake_home::FakeHome home;
    std::vector<fake_home::Expected> found;
    for (const FoundRegistry& registry : tovik::discover::discoverAllRegistries(home.folders())) {
        found.push_back(asExpected(registry));
        if (registry.kind == tovik::discover::RegistryKind::TovikStore) {
            EXPECT_FALSE(registry.changedAt) << "no store file yet";
        } else {
            EXPECT_TRUE(registry.changedAt) << registry.folder;
        }
    }
    EXPECT_THAT(found, registries(home.expected())) << describe(found);
}

TEST(Discovery, StopsWhenAskedAndReportsAsItFinds) {
    const fake_home::FakeHome home;
    std::stop_source stop;
    std::vector<std::string> seen;
    tovik::discover::discoverRegistries(
        home.folders(),
        [&](const FoundRegistry& found) {
            seen.push_back(found.folder);
            if (seen.size() == 3) stop.request_stop();
        },
        stop.get_token());
    EXPECT_EQ(seen.size(), 3u);
}

TEST(Discovery, FindsASteamAppsPrefixInAnyLibrary) {
    const fake_home::FakeHome home;
    EXPECT_EQ(tovik::discover::findSteamAppPrefix(home.folders(), "1091500"), home.folderOf("The \"Quoted\" Game"));
    EXPECT_EQ(tovik::discover::findSteamAppPrefix(home.folders(), "730"), home.folderOf("Counter-Strike 2"));
    for (const char* missing : {"228980", "999", "", "..", "220/../570"}) {
        EXPECT_EQ(tovik::discover::findSteamAppPrefix(home.folders(), missing), std::nullopt) << missing;
    }
}

TEST(Discovery, APrefixThatWineRunsOpensReadOnly) {
    const fake_home::FakeHome home;
    const std::string running = home.folderOf("Notepad++");
    wine_test::RunningWineserver wineserver(running);
    ASSERT_TRUE(wineserver.holding());
    std::size_t readOnly = 0;
    for (const FoundRegistry& found : tovik::discoverAllRegistries(home.folders())) {
        EXPECT_EQ(found.readOnly, found.folder == running) << found.folder;
        if (found.readOnly) {
            ++readOnly;
            EXPECT_THAT(found.readOnlyReason, ::testing::HasSubstr("Wine is running this prefix"));
        }
    }
    EXPECT_EQ(readOnly, 1u);
}

TEST(SteamKeyValues, ReadsStringsBlocksEscapesCommentsAndConditions) {
    const auto tree = tovik::discover::parseKeyValues(
        "\xEF\xBB\xBF// a comment\n\"AppState\" {\n  \"Name\" \"A \\\"B\\\" \\\\ C\" [$WIN32]\n"
        "  bare value // trailing\n  \"Inner\" { \"k\" \"v\" } [!$OSX]\n  \"empty\" {}\n}\n\"second\" \"2\"");
    ASSERT_TRUE(tree);
    ASSERT_EQ(tree->children.size(), 2u);
    const KeyValues& app = tree->children[0];
    EXPECT_TRUE(app.isBlock);
    EXPECT_EQ(app.text("name"), "A \"B\" \\ C") << "keys match in any case";
    EXPECT_EQ(app.text("bare"), "value");
    ASSERT_NE(app.find("inner"), nullptr);
    EXPECT_EQ(app.find("inner")->text("K"), "v");
    EXPECT_EQ(app.text("inner"), "") << "a block is no text";
    EXPECT_TRUE(app.find("empty")->children.empty());
    EXPECT_EQ(tree->text("second"), "2");
}

TEST(SteamKeyValues, RefusesDamagedText) {
    const std::string deep = std::string(100, '{');
    for (const std::string& damaged : {std::string("\"a\" \"unterminated"), std::string("\"a\" { \"b\" \"c\""),
                                       std::string("\"a\" \"b\" }"), std::string("\"lonely key\""), std::string("{ }"),
                                       std::string("\"a\" {") + "\"x\" " + deep, std::string("\"a\" \"b\\")}) {
        EXPECT_EQ(tovik::discover::parseKeyValues(damaged), std::nullopt) << damaged;
    }
    std::string nested;
    for (int i = 0; i < 40; ++i) nested += "\"k\" { ";
    for (int i = 0; i < 40; ++i) nested += "} ";
    EXPECT_EQ(tovik::discover::parseKeyValues(nested), std::nullopt) << "deeper than the limit";
    EXPECT_TRUE(tovik::discover::parseKeyValues(nested, 64));
}

}  // namespace
