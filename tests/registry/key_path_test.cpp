// The one key-path parser: every spelling people type or paste reads to the same root and path,
// and what names no key is refused with its reason. The roots' table is checked through it.
#include <gtest/gtest.h>

#include <string>

#include "registry/key_path.h"
#include "registry/registry_api.h"
#include "registry/roots.h"

namespace {

using tovik::KeyPathError;
using tovik::ParsedKeyPath;
using tovik::parseKeyPath;

std::string printable(std::u16string_view text) {
    return testing::PrintToString(std::u16string(text));
}

TEST(ParseKeyPath, ReadsEverySpellingOfAKey) {
    struct Case {
        std::u16string_view text;
        HKEY root;
        std::u16string_view path;
    };
    const Case cases[] = {
        // Roots: long and short names, any case, alone or with a trailing separator.
        {u"HKEY_LOCAL_MACHINE\\Software\\Sample", HKEY_LOCAL_MACHINE, u"Software\\Sample"},
        {u"HKLM\\Software\\Sample", HKEY_LOCAL_MACHINE, u"Software\\Sample"},
        {u"hklm\\software\\", HKEY_LOCAL_MACHINE, u"software"},
        {u"HkCu", HKEY_CURRENT_USER, u""},
        {u"HKCR\\", HKEY_CLASSES_ROOT, u""},
        {u"hkey_classes_root\\.txt", HKEY_CLASSES_ROOT, u".txt"},
        {u"HKEY_current_USER\\Control Panel", HKEY_CURRENT_USER, u"Control Panel"},
        // Slashes, in a text without backslashes.
        {u"HKLM/Software/Sample", HKEY_LOCAL_MACHINE, u"Software\\Sample"},
        {u"hkcu/", HKEY_CURRENT_USER, u""},
        {u"/HKLM/Software", HKEY_LOCAL_MACHINE, u"Software"},
        // With a backslash, a slash belongs to a name: such key names exist.
        {u"HKCR\\MIME\\Database\\Content Type\\text/html", HKEY_CLASSES_ROOT,
         u"MIME\\Database\\Content Type\\text/html"},
        // Doubled backslashes, as escaped text has them, also mixed with single ones.
        {u"HKLM\\\\Software\\\\Sample", HKEY_LOCAL_MACHINE, u"Software\\Sample"},
        {u"HKLM\\\\Software\\Sample\\\\", HKEY_LOCAL_MACHINE, u"Software\\Sample"},
        {u"HKLM\\\\", HKEY_LOCAL_MACHINE, u""},
        // A leading backslash, single or doubled.
        {u"\\HKLM\\Software", HKEY_LOCAL_MACHINE, u"Software"},
        {u"\\\\HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, u""},
        // The drive-like root of PowerShell.
        {u"HKLM:\\Software\\Sample", HKEY_LOCAL_MACHINE, u"Software\\Sample"},
        {u"hkcu:", HKEY_CURRENT_USER, u""},
        {u"HKCU:/Software", HKEY_CURRENT_USER, u"Software"},
        // The platform editor's address line, in English and in Japanese.
        {u"Computer\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Sample", HKEY_LOCAL_MACHINE, u"SOFTWARE\\Sample"},
        {u"computer\\hkcu", HKEY_CURRENT_USER, u""},
        {u"\u30B3\u30F3\u30D4\u30E5\u30FC\u30BF\u30FC\\HKEY_CLASSES_ROOT\\.txt", HKEY_CLASSES_ROOT, u".txt"},
        // White space around the whole text goes; inside names it stays.
        {u"  \tHKEY_CURRENT_USER\\My Key \u3000\n", HKEY_CURRENT_USER, u"My Key"},
        {u" HKLM\\ spaced \\in ", HKEY_LOCAL_MACHINE, u" spaced \\in"},
        {u"HKLM\\\u6771\u4EAC (\u6A19\u6E96\u6642)", HKEY_LOCAL_MACHINE, u"\u6771\u4EAC (\u6A19\u6E96\u6642)"},
        // A key may itself be named like a root or "Computer" below the root.
        {u"HKLM\\Computer\\HKLM", HKEY_LOCAL_MACHINE, u"Computer\\HKLM"},
    };
    for (const Case& c : cases) {
        const ParsedKeyPath parsed = parseKeyPath(c.text);
        EXPECT_TRUE(parsed.ok()) << printable(c.text) << " error " << static_cast<int>(parsed.error);
        EXPECT_EQ(parsed.root, c.root) << printable(c.text);
        EXPECT_EQ(parsed.path, c.path) << printable(c.text);
    }
}

TEST(ParseKeyPath, RefusesWhatNamesNoKeyWithItsReason) {
    const std::u16string longest(kMaxKeyNameLength, u'n');
    std::u16string deepest = u"HKLM";
    for (int i = 0; i < kMaxKeyDepth; ++i) deepest += u"\\k";
    ASSERT_TRUE(parseKeyPath(u"HKLM\\" + longest).ok());
    ASSERT_TRUE(parseKeyPath(deepest).ok());

    const struct {
        std::u16string text;
        KeyPathError error;
    } cases[] = {
        {u"", KeyPathError::Empty},
        {u" \t\u3000", KeyPathError::Empty},
        {u"HKEY_USERS\\x", KeyPathError::UnknownRoot},  // known, but not held
        {u"HKU", KeyPathError::UnknownRoot},
        {u"HKLMX", KeyPathError::UnknownRoot},
        {u"HKL", KeyPathError::UnknownRoot},
        {u"HKLM::\\x", KeyPathError::UnknownRoot},
        {u"Software\\HKLM", KeyPathError::UnknownRoot},
        {u"Computer", KeyPathError::UnknownRoot},
        {u"Computer\\Software", KeyPathError::UnknownRoot},
        {u"Computer\\Computer\\HKLM", KeyPathError::UnknownRoot},
        {u"\\", KeyPathError::UnknownRoot},
        {u"HKLM \\x", KeyPathError::UnknownRoot},
        // Empty names: more than a doubled backslash, or a doubled slash.
        {u"HKLM\\a\\\\\\b", KeyPathError::EmptyName},
        {u"HKLM\\\\\\a", KeyPathError::EmptyName},
        {u"HKLM\\a\\\\\\", KeyPathError::EmptyName},
        {u"\\\\\\HKLM", KeyPathError::EmptyName},
        {u"HKLM/a//b", KeyPathError::EmptyName},
        {u"HKLM//", KeyPathError::EmptyName},
        {u"HKLM\\" + longest + u"n", KeyPathError::NameTooLong},
        {u"HKLM/a/" + longest + u"n/b", KeyPathError::NameTooLong},
        {deepest + u"\\k", KeyPathError::TooDeep},
    };
    for (const auto& c : cases) {
        const ParsedKeyPath parsed = parseKeyPath(c.text);
        EXPECT_EQ(parsed.error, c.error) << printable(c.text.substr(0, 40));
        EXPECT_FALSE(parsed.ok());
    }
}

TEST(FullKeyPath, WritesTheLongRootNameAndReadsBack) {
    EXPECT_EQ(tovik::fullKeyPath(HKEY_LOCAL_MACHINE, u"Software\\Sample"), u"HKEY_LOCAL_MACHINE\\Software\\Sample");
    EXPECT_EQ(tovik::fullKeyPath(HKEY_CURRENT_USER, u""), u"HKEY_CURRENT_USER");
    for (const tovik::RootInfo& root : tovik::heldRoots()) {
        const ParsedKeyPath back = parseKeyPath(tovik::fullKeyPath(root.handle, u"a b\\c/d"));
        EXPECT_EQ(back.root, root.handle);
        EXPECT_EQ(back.path, u"a b\\c/d");
        EXPECT_EQ(parseKeyPath(root.shortName).root, root.handle);
    }
}

TEST(Roots, NamesAndHandlesOfEveryPredefinedRoot) {
    for (const tovik::RootInfo& root : tovik::allRoots()) {
        EXPECT_EQ(tovik::findRoot(root.handle), &root);
        EXPECT_EQ(tovik::findRootByName(root.longName), &root);
        if (!root.shortName.empty()) {
            EXPECT_EQ(tovik::findRootByName(root.shortName), &root);
        }
        EXPECT_EQ(tovik::isHeldRoot(root.handle), root.held);
        EXPECT_EQ(std::u16string_view(rootKeyName(root.handle)), root.held ? root.longName : u"");
    }
    EXPECT_EQ(tovik::heldRoots().size(), 3u);
    EXPECT_EQ(tovik::findRootByName(u"hkey_dyn_data")->handle, HKEY_DYN_DATA);
    EXPECT_EQ(tovik::findRootByName(u""), nullptr);
    EXPECT_EQ(tovik::findRoot(0), nullptr);
}

}  // namespace
