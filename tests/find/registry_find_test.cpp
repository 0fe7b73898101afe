// The registry search: the walk's order, every option, next and previous with wrap-around, start
// positions, scopes, slices and cancelling, on registries built in an in-memory store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "find/registry_find.h"
#include "find_test_util.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "support/registry_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace tovik::find;
using find_test::Describe;
using find_test::FindAllDescribed;
using find_test::FindOne;
using testing_support::MakeKey;
using testing_support::SetValue;

Bytes Sz(std::u16string_view text) { return StringToBytes(text); }

FindOptions Looking(std::u16string text, bool keys = true, bool names = true, bool data = true) {
    FindOptions options;
    options.text = std::move(text);
    options.keyNames = keys;
    options.valueNames = names;
    options.data = data;
    return options;
}

// Keys and values created out of the order in which the tree and the list show them.
class RegistryFindTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::FreshRegistry();
        SetValue(HKEY_CLASSES_ROOT, u".txt", u"", REG_SZ, Sz(u"txtfile"));
        SetValue(HKEY_CURRENT_USER, u"", u"RootVal", REG_DWORD, DwordToBytes(5));
        SetValue(HKEY_CURRENT_USER, u"Software\\Zeta", u"b", REG_SZ, Sz(u"x"));
        SetValue(HKEY_CURRENT_USER, u"Software\\Zeta", u"A", REG_SZ, Sz(u"y"));
        MakeKey(HKEY_CURRENT_USER, u"Software\\alpha");
        MakeKey(HKEY_LOCAL_MACHINE, u"System\\alphabet");
        SetValue(HKEY_LOCAL_MACHINE, u"System\\Last\\Deepest", u"Marker", REG_SZ, Sz(u"needle"));
    }

    // Every item in the walk's order, as the empty text matches each of them.
    const std::vector<std::string> everything_ = {
        "HKEY_CLASSES_ROOT\\.txt",
        "HKEY_CLASSES_ROOT\\.txt [@]",
        "HKEY_CURRENT_USER [RootVal]",
        "HKEY_CURRENT_USER\\Software",
        "HKEY_CURRENT_USER\\Software\\alpha",
        "HKEY_CURRENT_USER\\Software\\Zeta",
        "HKEY_CURRENT_USER\\Software\\Zeta [A]",
        "HKEY_CURRENT_USER\\Software\\Zeta [b]",
        "HKEY_LOCAL_MACHINE\\System",
        "HKEY_LOCAL_MACHINE\\System\\alphabet",
        "HKEY_LOCAL_MACHINE\\System\\Last",
        "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest",
        "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]",
    };
};

TEST_F(RegistryFindTest, FindAllFollowsTheTreeAndListOrder) {
    EXPECT_EQ(FindAllDescribed(Looking(u"")), everything_);
}

// Searches again and again from the last hit until the first hit comes back (or too many came).
std::vector<std::string> SearchAround(FindDirection direction, std::size_t most) {
    const FindOptions options = Looking(u"");
    std::vector<std::string> hits;
    FindHit hit;
    std::string found = FindOne(options, direction, FindStart::Edge(), &hit);
    while (!found.empty() && hits.size() <= most) {
        hits.push_back(found);
        if (hits.size() > 1 && found == hits.front()) break;
        found = FindOne(options, direction, FindStart::After(hit), &hit);
    }
    return hits;
}

TEST_F(RegistryFindTest, NextAndPreviousVisitEveryHitInOrderAndWrapAround) {
    std::vector<std::string> forward = SearchAround(FindDirection::Next, everything_.size() + 1);
    // The last hit wraps around to the first.
    ASSERT_EQ(forward.size(), everything_.size() + 1);
    EXPECT_EQ(forward.back(), everything_.front());
    forward.pop_back();
    EXPECT_EQ(forward, everything_);

    std::vector<std::string> backward = SearchAround(FindDirection::Previous, everything_.size() + 1);
    ASSERT_EQ(backward.size(), everything_.size() + 1);
    EXPECT_EQ(backward.back(), everything_.back());
    backward.pop_back();
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, everything_);
}

TEST_F(RegistryFindTest, WhatToLookAtSelectsKeyNamesValueNamesOrData) {
    EXPECT_THAT(FindAllDescribed(Looking(u"a", true, false, false)),
                ElementsAre("HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\alpha",
                            "HKEY_CURRENT_USER\\Software\\Zeta", "HKEY_LOCAL_MACHINE\\System\\alphabet",
                            "HKEY_LOCAL_MACHINE\\System\\Last"));
    EXPECT_THAT(FindAllDescribed(Looking(u"a", false, true, false)),
                ElementsAre("HKEY_CURRENT_USER [RootVal]", "HKEY_CURRENT_USER\\Software\\Zeta [A]",
                            "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]"));
    EXPECT_THAT(FindAllDescribed(Looking(u"x", false, false, true)),
                ElementsAre("HKEY_CLASSES_ROOT\\.txt [@]=", "HKEY_CURRENT_USER\\Software\\Zeta [b]="));
    // Root names are not key names.
    EXPECT_THAT(FindAllDescribed(Looking(u"HKEY")), IsEmpty());
    EXPECT_THAT(FindAllDescribed(Looking(u"a", false, false, false)), IsEmpty());
}

TEST_F(RegistryFindTest, AValueMatchingByNameAndDataIsOneHit) {
    SetValue(HKEY_LOCAL_MACHINE, u"Both", u"same", REG_SZ, Sz(u"same"));
    EXPECT_THAT(FindAllDescribed(Looking(u"same")), ElementsAre("HKEY_LOCAL_MACHINE\\Both [same]"));
    EXPECT_THAT(FindAllDescribed(Looking(u"same", true, false, true)), ElementsAre("HKEY_LOCAL_MACHINE\\Both [same]="));
}

TEST_F(RegistryFindTest, CaseFoldingIsTheRegistrysUnlessCaseIsMatched) {
    MakeKey(HKEY_LOCAL_MACHINE, u"\u00C4RGER\\\u0391\u03A3\u03A4\u03A1\u039F");  // ÄRGER\ΑΣΤΡΟ
    FindOptions options = Looking(u"\u00E4rger");                               // ärger
    EXPECT_THAT(FindAllDescribed(options), ElementsAre("HKEY_LOCAL_MACHINE\\?RGER"));
    options.text = u"\u03C3\u03C4\u03C1";  // στρ
    EXPECT_THAT(FindAllDescribed(options), ElementsAre("HKEY_LOCAL_MACHINE\\?RGER\\?????"));
    options.matchCase = true;
    EXPECT_THAT(FindAllDescribed(options), IsEmpty());
    options.text = u"ZETA";
    EXPECT_THAT(FindAllDescribed(options), IsEmpty());
    options.text = u"Zeta";
    EXPECT_THAT(FindAllDescribed(options), ElementsAre("HKEY_CURRENT_USER\\Software\\Zeta"));
    options.matchCase = false;
    options.text = u"ZETA";
    EXPECT_THAT(FindAllDescribed(options), ElementsAre("HKEY_CURRENT_USER\\Software\\Zeta"));
}

TEST_F(RegistryFindTest, WholeMatchWantsTheWholeNameOrData) {
    FindOptions options = Looking(u"ALPHA");
    options.wholeMatch = true;
    EXPECT_THAT(FindAllDescribed(options), ElementsAre("HKEY_CURRENT_USER\\Software\\alpha"));
    options.text = u"needl";
    EXPECT_THAT(FindAllDescribed(options), IsEmpty());
    options.text = u"needle";
    EXPECT_THAT(FindAllDescribed(options), ElementsAre("HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]="));
    options.matchCase = true;
    options.text = u"Needle";
    EXPECT_THAT(FindAllDescribed(options), IsEmpty());
}

TEST_F(RegistryFindTest, TheUnnamedValueIsFoundAsAt) {
    EXPECT_THAT(FindAllDescribed(Looking(u"@", false, true, false)), ElementsAre("HKEY_CLASSES_ROOT\\.txt [@]"));
    FindHit hit;
    FindOne(Looking(u"@"), FindDirection::Next, FindStart::Edge(), &hit);
    EXPECT_EQ(hit.kind, HitKind::ValueName);
    EXPECT_EQ(hit.valueName, u"");
    EXPECT_EQ(hit.ShownValueName(), u"@");
    EXPECT_EQ(hit.type, REG_SZ);
}

TEST_F(RegistryFindTest, DataIsMatchedAsTheListShowsIt) {
    SetValue(HKEY_LOCAL_MACHINE, u"Types", u"dw", REG_DWORD, DwordToBytes(0x1234));
    SetValue(HKEY_LOCAL_MACHINE, u"Types", u"bin", REG_BINARY, Bytes{0x0A, 0xFF, 0x00});
    SetValue(HKEY_LOCAL_MACHINE, u"Types", u"multi", REG_MULTI_SZ, TextToMultiSz(u"one|two||"));
    SetValue(HKEY_LOCAL_MACHINE, u"Types", u"big", REG_BINARY, Bytes(5000, 0x5A));
    const auto dataHit = [](std::u16string text) { return FindAllDescribed(Looking(std::move(text), false, false, true)); };
    const std::u16string dwordText = FormatValue(REG_DWORD, DwordToBytes(0x1234).data(), 4).text;
    EXPECT_THAT(dataHit(dwordText), ElementsAre("HKEY_LOCAL_MACHINE\\Types [dw]="));
    EXPECT_THAT(dataHit(u"4660"), ElementsAre("HKEY_LOCAL_MACHINE\\Types [dw]="));
    EXPECT_THAT(dataHit(u"0a ff 00"), ElementsAre("HKEY_LOCAL_MACHINE\\Types [bin]="));
    EXPECT_THAT(dataHit(u"two|"), ElementsAre("HKEY_LOCAL_MACHINE\\Types [multi]="));
    // Data far past what one row shows is still searched.
    EXPECT_THAT(dataHit(u"5A 5A"), ElementsAre("HKEY_LOCAL_MACHINE\\Types [big]="));
}

TEST_F(RegistryFindTest, ALongDataHitShowsAWindowAroundTheMatch) {
    std::u16string text(5000, u'x');
    text.replace(3000, 6, u"NEEDLE");
    SetValue(HKEY_LOCAL_MACHINE, u"Long", u"v", REG_SZ, Sz(text));
    FindHit hit;
    ASSERT_EQ(FindOne(Looking(u"needle", false, false, true), FindDirection::Next, FindStart::Edge(), &hit),
              "HKEY_LOCAL_MACHINE\\Long [v]=");
    EXPECT_LE(hit.text.size(), RegistryFind::kMaxHitTextChars + 2);
    EXPECT_EQ(hit.text.front(), u'…');
    EXPECT_EQ(hit.text.back(), u'…');
    EXPECT_EQ(hit.text.substr(hit.matchStart, hit.matchLength), u"NEEDLE");
}

TEST_F(RegistryFindTest, ASingleHitWrapsAroundToItselfOnlyWhenAskedTo) {
    FindOptions options = Looking(u"needle");
    FindHit hit;
    ASSERT_EQ(FindOne(options, FindDirection::Next, FindStart::Edge(), &hit),
              "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]=");
    EXPECT_EQ(FindOne(options, FindDirection::Next, FindStart::After(hit)), Describe(hit));
    EXPECT_EQ(FindOne(options, FindDirection::Previous, FindStart::After(hit)), Describe(hit));
    options.wrapAround = false;
    EXPECT_EQ(FindOne(options, FindDirection::Next, FindStart::After(hit)), "");
    EXPECT_EQ(FindOne(options, FindDirection::Previous, FindStart::After(hit)), "");
    EXPECT_EQ(FindOne(Looking(u"nowhere"), FindDirection::Next, FindStart::Edge()), "");
}

TEST_F(RegistryFindTest, TheLastKeyIsFoundFromTheTopAndFirstFromTheEnd) {
    EXPECT_EQ(FindOne(Looking(u"Deepest"), FindDirection::Next, FindStart::Edge()), "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest");
    EXPECT_EQ(FindOne(Looking(u"e"), FindDirection::Previous, FindStart::Edge()),
              "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]");
}

TEST_F(RegistryFindTest, AStartKeyIsLookedAtFirstInEitherDirection) {
    const FindOptions options = Looking(u"a", true, true, false);
    const FindStart zeta = FindStart::AtKey(HKEY_CURRENT_USER, u"software\\ZETA");
    EXPECT_EQ(FindOne(options, FindDirection::Next, zeta), "HKEY_CURRENT_USER\\Software\\Zeta");
    EXPECT_EQ(FindOne(options, FindDirection::Previous, zeta), "HKEY_CURRENT_USER\\Software\\Zeta");
    // A root starts with its values, and backward it comes after everything above it.
    EXPECT_EQ(FindOne(options, FindDirection::Next, FindStart::AtKey(HKEY_CURRENT_USER, u"")),
              "HKEY_CURRENT_USER [RootVal]");
    EXPECT_EQ(FindOne(Looking(u"txt"), FindDirection::Previous, FindStart::AtKey(HKEY_CURRENT_USER, u"")),
              "HKEY_CLASSES_ROOT\\.txt [@]=");
    // Past the start the search goes on, wrapping before the start.
    EXPECT_EQ(FindOne(Looking(u"txt"), FindDirection::Next, FindStart::AtKey(HKEY_CURRENT_USER, u"")),
              "HKEY_CLASSES_ROOT\\.txt");
}

TEST_F(RegistryFindTest, AMissingStartStandsWhereItWouldBe) {
    const FindOptions options = Looking(u"a", true, false, false);
    // "Beta" would sort between "alpha" and "Zeta".
    const FindStart beta = FindStart::AtKey(HKEY_CURRENT_USER, u"Software\\Beta\\Gone");
    EXPECT_EQ(FindOne(options, FindDirection::Next, beta), "HKEY_CURRENT_USER\\Software\\Zeta");
    EXPECT_EQ(FindOne(options, FindDirection::Previous, beta), "HKEY_CURRENT_USER\\Software\\alpha");
    FindStart value = FindStart::AtKey(HKEY_CURRENT_USER, u"Software\\Zeta");
    value.valueName = u"B0";  // would be listed after "b", the key's last value
    EXPECT_EQ(FindOne(Looking(u""), FindDirection::Next, value), "HKEY_LOCAL_MACHINE\\System");
    EXPECT_EQ(FindOne(Looking(u""), FindDirection::Previous, value), "HKEY_CURRENT_USER\\Software\\Zeta [b]");
}

TEST_F(RegistryFindTest, FindNextGoesOnAfterTheHitsKeyWasDeleted) {
    FindHit hit;
    ASSERT_EQ(FindOne(Looking(u"zeta"), FindDirection::Next, FindStart::Edge(), &hit), "HKEY_CURRENT_USER\\Software\\Zeta");
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, u"Software\\Zeta"));
    EXPECT_EQ(FindOne(Looking(u"a", true, false, false), FindDirection::Next, FindStart::After(hit)),
              "HKEY_LOCAL_MACHINE\\System\\alphabet");
    EXPECT_EQ(FindOne(Looking(u"a", true, false, false), FindDirection::Previous, FindStart::After(hit)),
              "HKEY_CURRENT_USER\\Software\\alpha");
}

TEST_F(RegistryFindTest, AScopeLimitsTheSearchToOneSubtree) {
    FindOptions options = Looking(u"a", true, true, false);
    options.scopeRoot = HKEY_CURRENT_USER;
    options.scopePath = u"SOFTWARE";
    EXPECT_THAT(FindAllDescribed(options),
                ElementsAre("HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\alpha",
                            "HKEY_CURRENT_USER\\Software\\Zeta", "HKEY_CURRENT_USER\\Software\\Zeta [A]"));
    FindHit last;
    FindOne(options, FindDirection::Previous, FindStart::Edge(), &last);
    EXPECT_EQ(Describe(last), "HKEY_CURRENT_USER\\Software\\Zeta [A]");
    EXPECT_EQ(FindOne(options, FindDirection::Next, FindStart::After(last)), "HKEY_CURRENT_USER\\Software");
    // A start outside the scope starts at its top.
    EXPECT_EQ(FindOne(options, FindDirection::Next, FindStart::AtKey(HKEY_LOCAL_MACHINE, u"System")),
              "HKEY_CURRENT_USER\\Software");
    options.scopePath = u"Software\\Missing";
    EXPECT_THAT(FindAllDescribed(options), IsEmpty());
}

TEST_F(RegistryFindTest, SlicesGiveTheSameHitsAsOneRun) {
    RegistryFind sliced = RegistryFind::FindAll(Looking(u""));
    int slices = 0;
    while (sliced.Step(1) == FindStatus::Running) ++slices;
    EXPECT_EQ(sliced.Status(), FindStatus::Finished);
    EXPECT_GE(slices, static_cast<int>(everything_.size()));
    std::vector<std::string> hits;
    for (const FindHit& hit : sliced.Hits()) hits.push_back(Describe(hit));
    EXPECT_EQ(hits, everything_);
    EXPECT_EQ(sliced.KeysExamined(), 11u);  // the three roots and the eight keys
    EXPECT_EQ(sliced.ValuesExamined(), 5u);
}

TEST_F(RegistryFindTest, CancelStopsTheSearchWhereItIs) {
    RegistryFind find = RegistryFind::FindAll(Looking(u""));
    ASSERT_EQ(find.Step(3), FindStatus::Running);
    find.Cancel();
    EXPECT_EQ(find.Status(), FindStatus::Cancelled);
    EXPECT_EQ(find.Step(1000), FindStatus::Cancelled);
    EXPECT_EQ(find.Hits().size(), 3u);

    RegistryFind next(Looking(u"needle"), FindDirection::Next, FindStart::Edge());
    int calls = 0;
    EXPECT_EQ(RunFind(next, [&](const RegistryFind&) { return ++calls < 2; }, 1), FindStatus::Cancelled);
    EXPECT_EQ(calls, 2);
}

TEST_F(RegistryFindTest, FindAllStopsCollectingAtItsLimit) {
    RegistryFind find = RegistryFind::FindAll(Looking(u""), 3);
    EXPECT_EQ(RunFind(find), FindStatus::Finished);
    EXPECT_TRUE(find.Truncated());
    EXPECT_EQ(find.Hits().size(), 3u);
    RegistryFind all = RegistryFind::FindAll(Looking(u""));
    RunFind(all);
    EXPECT_FALSE(all.Truncated());
}

TEST(RegistryFindShapes, TheFractionDoneGrowsWithTheWalkInBothDirections) {
    testing_support::FreshRegistry();
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        for (char16_t c = u'a'; c < u'k'; ++c) MakeKey(root, std::u16string(1, c) + u"\\inner");
    }
    for (const FindDirection direction : {FindDirection::Next, FindDirection::Previous}) {
        // Starting in the middle root, the search wraps: it goes once round all of it.
        RegistryFind find(Looking(u"nothing"), direction, FindStart::AtKey(HKEY_CURRENT_USER, u"e"));
        double last = 0;
        std::vector<double> inLowRoot;
        while (find.Step(1) == FindStatus::Running) {
            const double done = find.FractionDone();
            EXPECT_GE(done, last);
            EXPECT_LE(done, 1.0);
            last = done;
            if (find.CurrentKeyPath() == u"HKEY_CLASSES_ROOT\\e") inLowRoot.push_back(done);
        }
        EXPECT_EQ(find.Status(), FindStatus::NotFound);
        EXPECT_EQ(find.FractionDone(), 1.0);
        // HKCR\e stands a third of the registry before HKCU\e: two thirds of the way round
        // forward, one third backward.
        ASSERT_FALSE(inLowRoot.empty());
        const double expected = direction == FindDirection::Next ? 2.0 / 3 : 1.0 / 3;
        EXPECT_NEAR(inLowRoot.front(), expected, 0.05);
    }
}

TEST(RegistryFindShapes, KeysNestedToTheDeepestLevelAreWalkedBothWays) {
    testing_support::FreshRegistry();
    std::u16string path;
    for (int level = 0; level < kMaxKeyDepth; ++level) path += level == 0 ? u"k" : u"\\k";
    SetValue(HKEY_LOCAL_MACHINE, path, u"bottom", REG_SZ, Sz(u"here"));
    FindHit hit;
    ASSERT_EQ(FindOne(Looking(u"bottom"), FindDirection::Next, FindStart::Edge(), &hit).empty(), false);
    EXPECT_EQ(hit.path, path);
    EXPECT_EQ(FindOne(Looking(u"bottom"), FindDirection::Previous, FindStart::Edge()), Describe(hit));
    RegistryFind keys = RegistryFind::FindAll(Looking(u"k", true, false, false));
    RunFind(keys);
    EXPECT_EQ(keys.Hits().size(), static_cast<std::size_t>(kMaxKeyDepth));
}

TEST(RegistryFindShapes, KeysDeletedDuringASlicedSearchEndItCleanly) {
    testing_support::FreshRegistry();
    for (int i = 0; i < 50; ++i) {
        const std::u16string name = u"Top\\k" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                    std::u16string(1, static_cast<char16_t>(u'a' + i / 26));
        SetValue(HKEY_LOCAL_MACHINE, name + u"\\child", u"v", REG_SZ, Sz(u"x"));
    }
    RegistryFind find = RegistryFind::FindAll(Looking(u"v"));
    ASSERT_EQ(find.Step(20), FindStatus::Running);
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"Top"));
    EXPECT_EQ(RunFind(find), FindStatus::Finished);
    EXPECT_LT(find.Hits().size(), 50u);
}

TEST(RegistryFindShapes, AStoreClosedDuringASearchLeavesItIncompleteNotWhole) {
    testing_support::FreshRegistry();
    for (char16_t c = u'a'; c < u'k'; ++c) SetValue(HKEY_LOCAL_MACHINE, std::u16string(1, c) + u"\\x", u"v", REG_SZ, Sz(u"d"));
    RegistryFind whole = RegistryFind::FindAll(Looking(u"nothing"));
    EXPECT_EQ(RunFind(whole), FindStatus::Finished);
    EXPECT_FALSE(whole.Incomplete());

    RegistryFind find = RegistryFind::FindAll(Looking(u"nothing"));
    ASSERT_EQ(find.Step(8), FindStatus::Running);
    tovik::CloseRegistryStore();
    EXPECT_EQ(RunFind(find), FindStatus::Finished);
    EXPECT_TRUE(find.Incomplete());
    // A deleted key is nothing missed.
    testing_support::FreshRegistry();
    for (char16_t c = u'a'; c < u'k'; ++c) MakeKey(HKEY_LOCAL_MACHINE, u"Top\\" + std::u16string(1, c) + u"\\x");
    RegistryFind deleted = RegistryFind::FindAll(Looking(u"nothing"));
    ASSERT_EQ(deleted.Step(6), FindStatus::Running);
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"Top"));
    EXPECT_EQ(RunFind(deleted), FindStatus::Finished);
    EXPECT_FALSE(deleted.Incomplete());
}

TEST(RegistryFindShapes, WideKeysAreEnteredAtTheirPlace) {
    testing_support::FreshRegistry();
    for (int i = 0; i < 3000; ++i) {
        char16_t name[8] = u"w00000";
        for (int d = 0, n = i; d < 5; ++d, n /= 10) name[5 - d] = static_cast<char16_t>(u'0' + n % 10);
        MakeKey(HKEY_CURRENT_USER, std::u16string(u"Wide\\") + name);
    }
    EXPECT_EQ(FindOne(Looking(u"w"), FindDirection::Next, FindStart::AtKey(HKEY_CURRENT_USER, u"wide\\W02500")),
              "HKEY_CURRENT_USER\\Wide\\w02500");
    EXPECT_EQ(FindOne(Looking(u"w"), FindDirection::Previous, FindStart::AtKey(HKEY_CURRENT_USER, u"wide\\W02500x")),
              "HKEY_CURRENT_USER\\Wide\\w02500");
}

}  // namespace
