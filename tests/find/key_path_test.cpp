// Address-bar paths: parsing what users type and paste, the full path of a key, and resolving a
// path against the registry to the stored names or to where it stops.
#include <gtest/gtest.h>

#include <string>

#include "find/key_path.h"
#include "registry/registry_api.h"
#include "support/registry_fixture.h"

namespace {

using namespace tovik::find;

TEST(ParseKeyPath, AcceptsLongAndShortRootsInAnyCaseWithOrWithoutATrailingBackslash) {
    struct Case {
        std::u16string text;
        HKEY root;
        std::u16string path;
    };
    const Case cases[] = {
        {u"HKEY_LOCAL_MACHINE\\Software\\Sample", HKEY_LOCAL_MACHINE, u"Software\\Sample"},
        {u"hklm\\software\\", HKEY_LOCAL_MACHINE, u"software"},
        {u"HkCu", HKEY_CURRENT_USER, u""},
        {u"HKCR\\", HKEY_CLASSES_ROOT, u""},
        {u"hkey_classes_root\\.txt", HKEY_CLASSES_ROOT, u".txt"},
        {u"  \tHKEY_CURRENT_USER\\My Key \u3000\n", HKEY_CURRENT_USER, u"My Key"},
        {u"HKLM\\ spaced \\in", HKEY_LOCAL_MACHINE, u" spaced \\in"},
    };
    for (const Case& c : cases) {
        const ParsedKeyPath parsed = ParseKeyPath(c.text);
        EXPECT_TRUE(parsed.ok());
        EXPECT_EQ(parsed.root, c.root);
        EXPECT_EQ(parsed.path, c.path);
    }
}

TEST(ParseKeyPath, RefusesWhatNamesNoKey) {
    EXPECT_EQ(ParseKeyPath(u"   ").error, KeyPathError::Empty);
    EXPECT_EQ(ParseKeyPath(u"HKEY_USERS\\x").error, KeyPathError::UnknownRoot);
    EXPECT_EQ(ParseKeyPath(u"HKLMX").error, KeyPathError::UnknownRoot);
    EXPECT_EQ(ParseKeyPath(u"Software\\HKLM").error, KeyPathError::UnknownRoot);
    EXPECT_EQ(ParseKeyPath(u"\\HKLM\\a").error, KeyPathError::EmptyName);
    EXPECT_EQ(ParseKeyPath(u"HKLM\\a\\\\b").error, KeyPathError::EmptyName);
    EXPECT_EQ(ParseKeyPath(u"HKLM\\\\").error, KeyPathError::EmptyName);
    EXPECT_EQ(ParseKeyPath(u"HKLM\\a\\\\").error, KeyPathError::EmptyName);
    EXPECT_EQ(ParseKeyPath(u"HKLM\\" + std::u16string(kMaxKeyNameLength + 1, u'n')).error, KeyPathError::NameTooLong);
    EXPECT_TRUE(ParseKeyPath(u"HKLM\\" + std::u16string(kMaxKeyNameLength, u'n')).ok());
    std::u16string deep = u"HKLM";
    for (int i = 0; i < kMaxKeyDepth; ++i) deep += u"\\k";
    EXPECT_TRUE(ParseKeyPath(deep).ok());
    EXPECT_EQ(ParseKeyPath(deep + u"\\k").error, KeyPathError::TooDeep);
    EXPECT_EQ(ParseKeyPath(u"HKLM\\x").root, HKEY_LOCAL_MACHINE);
}

TEST(FullKeyPath, JoinsTheRootsLongNameAndThePath) {
    EXPECT_EQ(FullKeyPath(HKEY_LOCAL_MACHINE, u"Software\\Sample"), u"HKEY_LOCAL_MACHINE\\Software\\Sample");
    EXPECT_EQ(FullKeyPath(HKEY_CURRENT_USER, u""), u"HKEY_CURRENT_USER");
    // What is copied parses back to the same key.
    const ParsedKeyPath back = ParseKeyPath(FullKeyPath(HKEY_CLASSES_ROOT, u"a b\\c"));
    EXPECT_EQ(back.root, HKEY_CLASSES_ROOT);
    EXPECT_EQ(back.path, u"a b\\c");
}

class ResolveKeyPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::FreshRegistry();
        testing_support::MakeKey(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner");
        testing_support::MakeKey(HKEY_LOCAL_MACHINE, u"Software\\\u00C9t\u00E9");  // Été
        for (int i = 0; i < 1500; ++i) testing_support::MakeKey(HKEY_CURRENT_USER, u"Many\\Key" + std::u16string(1, u'A' + i % 26) + std::u16string(1, u'a' + i / 26 % 26) + std::u16string(1, u'0' + i / 676));
    }
};

TEST_F(ResolveKeyPathTest, GivesTheStoredNamesOfAKeyThatExists) {
    const ResolvedKeyPath resolved = ResolveKeyPath(HKEY_LOCAL_MACHINE, u"SOFTWARE\\sample\\INNER");
    EXPECT_TRUE(resolved.exists);
    EXPECT_EQ(resolved.existingPath, u"Software\\Sample\\Inner");
    EXPECT_EQ(resolved.existingNames, 3u);
    EXPECT_TRUE(resolved.missingName.empty());
    EXPECT_EQ(ResolveKeyPath(HKEY_LOCAL_MACHINE, u"software\\\u00E9T\u00C9").existingPath, u"Software\\\u00C9t\u00E9");
    EXPECT_EQ(ResolveKeyPath(HKEY_CURRENT_USER, u"many\\keyzf1").existingPath, u"Many\\KeyZf1");
    EXPECT_TRUE(ResolveKeyPath(HKEY_CURRENT_USER, u"").exists);
}

TEST_F(ResolveKeyPathTest, SaysWhereAMissingPathStops) {
    const ResolvedKeyPath resolved = ResolveKeyPath(HKEY_LOCAL_MACHINE, u"software\\Sample\\Gone\\Deeper");
    EXPECT_FALSE(resolved.exists);
    EXPECT_EQ(resolved.existingPath, u"Software\\Sample");
    EXPECT_EQ(resolved.existingNames, 2u);
    EXPECT_EQ(resolved.missingName, u"Gone");
    const ResolvedKeyPath none = ResolveKeyPath(HKEY_CLASSES_ROOT, u"Nothing");
    EXPECT_FALSE(none.exists);
    EXPECT_EQ(none.existingPath, u"");
    EXPECT_EQ(none.missingName, u"Nothing");
    EXPECT_FALSE(ResolveKeyPath(0x80000005u, u"").exists);
    EXPECT_EQ(ResolveKeyPath(HKEY_CURRENT_USER, u"Many\\KeyZz9").missingName, u"KeyZz9");
}

}  // namespace
