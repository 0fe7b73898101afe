// Resolving an address-bar path against the registry to the stored names or to where it stops.
#include <gtest/gtest.h>

#include <string>

#include "find/key_path.h"
#include "registry/registry_api.h"
#include "support/registry_fixture.h"

namespace {

using namespace tovik::find;

class ResolveKeyPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::FreshRegistry();
        testing_support::MakeKey(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner");
        testing_support::MakeKey(HKEY_LOCAL_MACHINE, u"Software\\\u00C9t\u00E9");  // Été
        for (int i = 0; i < 1500; ++i)
            testing_support::MakeKey(HKEY_CURRENT_USER, u"Many\\Key" + std::u16string(1, u'A' + i % 26) +
                                                            std::u16string(1, u'a' + i / 26 % 26) +
                                                            std::u16string(1, u'0' + i / 676));
    }
};

TEST_F(ResolveKeyPathTest, GivesTheStoredNamesOfAKeyThatExists) {
    const ResolvedKeyPath resolved = resolveKeyPath(HKEY_LOCAL_MACHINE, u"SOFTWARE\\sample\\INNER");
    EXPECT_TRUE(resolved.exists);
    EXPECT_EQ(resolved.existingPath, u"Software\\Sample\\Inner");
    EXPECT_EQ(resolved.existingNames, 3u);
    EXPECT_TRUE(resolved.missingName.empty());
    EXPECT_EQ(resolveKeyPath(HKEY_LOCAL_MACHINE, u"software\\\u00E9T\u00C9").existingPath, u"Software\\\u00C9t\u00E9");
    EXPECT_EQ(resolveKeyPath(HKEY_CURRENT_USER, u"many\\keyzf1").existingPath, u"Many\\KeyZf1");
    EXPECT_TRUE(resolveKeyPath(HKEY_CURRENT_USER, u"").exists);
}

TEST_F(ResolveKeyPathTest, SaysWhereAMissingPathStops) {
    const ResolvedKeyPath resolved = resolveKeyPath(HKEY_LOCAL_MACHINE, u"software\\Sample\\Gone\\Deeper");
    EXPECT_FALSE(resolved.exists);
    EXPECT_EQ(resolved.existingPath, u"Software\\Sample");
    EXPECT_EQ(resolved.existingNames, 2u);
    EXPECT_EQ(resolved.missingName, u"Gone");
    const ResolvedKeyPath none = resolveKeyPath(HKEY_CLASSES_ROOT, u"Nothing");
    EXPECT_FALSE(none.exists);
    EXPECT_EQ(none.existingPath, u"");
    EXPECT_EQ(none.missingName, u"Nothing");
    EXPECT_FALSE(resolveKeyPath(0x80000005u, u"").exists);
    EXPECT_EQ(resolveKeyPath(HKEY_CURRENT_USER, u"Many\\KeyZz9").missingName, u"KeyZz9");
}

}  // namespace
