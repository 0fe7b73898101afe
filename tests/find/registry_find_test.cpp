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
using find_test::describe;
using find_test::findAllDescribed;
using find_test::findOne;
using testing_support::MakeKey;
using testing_support::SetValue;

Bytes sz(std::u16string_view text) {
    return stringToBytes(text);
}

FindOptions looking(std::u16string text, bool keys = true, bool names = true, bool data = true) {
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
        SetValue(HKEY_CLASSES_ROOT, u".txt", u"", REG_SZ, sz(u"txtfile"));
        SetValue(HKEY_CURRENT_USER, u"", u"RootVal", REG_DWORD, dwordToBytes(5));
        SetValue(HKEY_CURRENT_USER, u"Software\\Zeta", u"b", REG_SZ, sz(u"x"));
        SetValue(HKEY_CURRENT_USER, u"Software\\Zeta", u"A", REG_SZ, sz(u"y"));
        MakeKey(HKEY_CURRENT_USER, u"Software\\alpha");
        MakeKey(HKEY_LOCAL_MACHINE, u"System\\alphabet");
        SetValue(HKEY_LOCAL_MACHINE, u"System\\Last\\Deepest", u"Marker", REG_SZ, sz(u"needle"));
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
    EXPECT_EQ(findAllDescribed(looking(u"")), everything_);
}

// Searches again and again from the last hit until the first hit comes back (or too many came).
std::vector<std::string> searchAround(FindDirection direction, std::size_t most) {
    const FindOptions options = looking(u"");
    std::vector<std::string> hits;
    FindHit hit;
    std::string found = findOne(options, direction, FindStart::edge(), &hit);
    while (!found.empty() && hits.size() <= most) {
        hits.push_back(found);
        if (hits.size() > 1 && found == hits.front()) break;
        found = findOne(options, direction, FindStart::after(hit), &hit);
    }
    return hits;
}

TEST_F(RegistryFindTest, NextAndPreviousVisitEveryHitInOrderAndWrapAround) {
    std::vector<std::string> forward = searchAround(FindDirection::Next, everything_.size() + 1);
    // The last hit wraps around to the first.
    ASSERT_EQ(forward.size(), everything_.size() + 1);
    EXPECT_EQ(forward.back(), everything_.front());
    forward.pop_back();
    EXPECT_EQ(forward, everything_);

    std::vector<std::string> backward = searchAround(FindDirection::Previous, everything_.size() + 1);
    ASSERT_EQ(backward.size(), everything_.size() + 1);
    EXPECT_EQ(backward.back(), everything_.back());
    backward.pop_back();
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, everything_);
}

TEST_F(RegistryFindTest, WhatToLookAtSelectsKeyNamesValueNamesOrData) {
    EXPECT_THAT(findAllDescribed(looking(u"a", true, false, false)),
                ElementsAre("HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\alpha",
                            "HKEY_CURRENT_USER\\Software\\Zeta", "HKEY_LOCAL_MACHINE\\System\\alphabet",
                            "HKEY_LOCAL_MACHINE\\System\\Last"));
    EXPECT_THAT(findAllDescribed(looking(u"a", false, true, false)),
                ElementsAre("HKEY_CURRENT_USER [RootVal]", "HKEY_CURRENT_USER\\Software\\Zeta [A]",
                            "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]"));
    EXPECT_THAT(findAllDescribed(looking(u"x", false, false, true)),
                ElementsAre("HKEY_CLASSES_ROOT\\.txt [@]=", "HKEY_CURRENT_USER\\Software\\Zeta [b]="));
    // Root names are not key names.
    EXPECT_THAT(findAllDescribed(looking(u"HKEY")), IsEmpty());
    EXPECT_THAT(findAllDescribed(looking(u"a", false, false, false)), IsEmpty());
}

TEST_F(RegistryFindTest, AValueMatchingByNameAndDataIsOneHit) {
    SetValue(HKEY_LOCAL_MACHINE, u"Both", u"same", REG_SZ, sz(u"same"));
    EXPECT_THAT(findAllDescribed(looking(u"same")), ElementsAre("HKEY_LOCAL_MACHINE\\Both [same]"));
    EXPECT_THAT(findAllDescribed(looking(u"same", true, false, true)), ElementsAre("HKEY_LOCAL_MACHINE\\Both [same]="));
}

TEST_F(RegistryFindTest, CaseFoldingIsTheRegistrysUnlessCaseIsMatched) {
    MakeKey(HKEY_LOCAL_MACHINE, u"\u00C4RGER\\\u0391\u03A3\u03A4\u03A1\u039F");  // ÄRGER\ΑΣΤΡΟ
    FindOptions options = looking(u"\u00E4rger");                                // ärger
    EXPECT_THAT(findAllDescribed(options), ElementsAre("HKEY_LOCAL_MACHINE\\?RGER"));
    options.text = u"\u03C3\u03C4\u03C1";  // στρ
    EXPECT_THAT(findAllDescribed(options), ElementsAre("HKEY_LOCAL_MACHINE\\?RGER\\?????"));
    options.matchCase = true;
    EXPECT_THAT(findAllDescribed(options), IsEmpty());
    options.text = u"ZETA";
    EXPECT_THAT(findAllDescribed(options), IsEmpty());
    options.text = u"Zeta";
    EXPECT_THAT(findAllDescribed(options), ElementsAre("HKEY_CURRENT_USER\\Software\\Zeta"));
    options.matchCase = false;
    options.text = u"ZETA";
    EXPECT_THAT(findAllDescribed(options), ElementsAre("HKEY_CURRENT_USER\\Software\\Zeta"));
}

TEST_F(RegistryFindTest, WholeMatchWantsTheWholeNameOrData) {
    FindOptions options = looking(u"ALPHA");
    options.wholeMatch = true;
    EXPECT_THAT(findAllDescribed(options), ElementsAre("HKEY_CURRENT_USER\\Software\\alpha"));
    options.text = u"needl";
    EXPECT_THAT(findAllDescribed(options), IsEmpty());
    options.text = u"needle";
    EXPECT_THAT(findAllDescribed(options), ElementsAre("HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]="));
    options.matchCase = true;
    options.text = u"Needle";
    EXPECT_THAT(findAllDescribed(options), IsEmpty());
}

TEST_F(RegistryFindTest, TheUnnamedValueIsFoundAsAt) {
    EXPECT_THAT(findAllDescribed(looking(u"@", false, true, false)), ElementsAre("HKEY_CLASSES_ROOT\\.txt [@]"));
    FindHit hit;
    findOne(looking(u"@"), FindDirection::Next, FindStart::edge(), &hit);
    EXPECT_EQ(hit.kind, HitKind::ValueName);
    EXPECT_EQ(hit.valueName, u"");
    EXPECT_EQ(hit.shownValueName(), u"@");
    EXPECT_EQ(hit.type, REG_SZ);
}

TEST_F(RegistryFindTest, DataIsMatchedAsTheListShowsIt) {
    SetValue(HKEY_LOCAL_MACHINE, u"Types", u"dw", REG_DWORD, dwordToBytes(0x1234));
    SetValue(HKEY_LOCAL_MACHINE, u"Types", u"bin", REG_BINARY, Bytes{0x0A, 0xFF, 0x00});
    SetValue(HKEY_LOCAL_MACHINE, u"Types", u"multi", REG_MULTI_SZ, TextToMultiSz(u"one|two||"));
    SetValue(HKEY_LOCAL_MACHINE, u"Types", u"big", REG_BINARY, Bytes(5000, 0x5A));
    const auto dataHit = [](std::u16string text) {
        return findAllDescribed(looking(std::move(text), false, false, true));
    };
    const std::u16string dwordText = FormatValue(REG_DWORD, dwordToBytes(0x1234).data(), 4).text;
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
    SetValue(HKEY_LOCAL_MACHINE, u"Long", u"v", REG_SZ, sz(text));
    FindHit hit;
    ASSERT_EQ(findOne(looking(u"needle", false, false, true), FindDirection::Next, FindStart::edge(), &hit),
              "HKEY_LOCAL_MACHINE\\Long [v]=");
    EXPECT_LE(hit.text.size(), RegistryFind::kMaxHitTextChars + 2);
    EXPECT_EQ(hit.text.front(), u'…');
    EXPECT_EQ(hit.text.back(), u'…');
    EXPECT_EQ(hit.text.substr(hit.matchStart, hit.matchLength), u"NEEDLE");
}

TEST_F(RegistryFindTest, ASingleHitWrapsAroundToItselfOnlyWhenAskedTo) {
    FindOptions options = looking(u"needle");
    FindHit hit;
    ASSERT_EQ(findOne(options, FindDirection::Next, FindStart::edge(), &hit),
              "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]=");
    EXPECT_EQ(findOne(options, FindDirection::Next, FindStart::after(hit)), describe(hit));
    EXPECT_EQ(findOne(options, FindDirection::Previous, FindStart::after(hit)), describe(hit));
    options.wrapAround = false;
    EXPECT_EQ(findOne(options, FindDirection::Next, FindStart::after(hit)), "");
    EXPECT_EQ(findOne(options, FindDirection::Previous, FindStart::after(hit)), "");
    EXPECT_EQ(findOne(looking(u"nowhere"), FindDirection::Next, FindStart::edge()), "");
}

TEST_F(RegistryFindTest, TheLastKeyIsFoundFromTheTopAndFirstFromTheEnd) {
    EXPECT_EQ(findOne(looking(u"Deepest"), FindDirection::Next, FindStart::edge()),
              "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest");
    EXPECT_EQ(findOne(looking(u"e"), FindDirection::Previous, FindStart::edge()),
              "HKEY_LOCAL_MACHINE\\System\\Last\\Deepest [Marker]");
}

TEST_F(RegistryFindTest, AStartKeyIsLookedAtFirstInEitherDirection) {
    const FindOptions options = looking(u"a", true, true, false);
    const FindStart zeta = FindStart::atKey(HKEY_CURRENT_USER, u"software\\ZETA");
    EXPECT_EQ(findOne(options, FindDirection::Next, zeta), "HKEY_CURRENT_USER\\Software\\Zeta");
    EXPECT_EQ(findOne(options, FindDirection::Previous, zeta), "HKEY_CURRENT_USER\\Software\\Zeta");
    // A root starts with its values, and backward it comes after everything above it.
    EXPECT_EQ(findOne(options, FindDirection::Next, FindStart::atKey(HKEY_CURRENT_USER, u"")),
              "HKEY_CURRENT_USER [RootVal]");
    EXPECT_EQ(findOne(looking(u"txt"), FindDirection::Previous, FindStart::atKey(HKEY_CURRENT_USER, u"")),
              "HKEY_CLASSES_ROOT\\.txt [@]=");
    // Past the start the search goes on, wrapping before the start.
    EXPECT_EQ(findOne(looking(u"txt"), FindDirection::Next, FindStart::atKey(HKEY_CURRENT_USER, u"")),
              "HKEY_CLASSES_ROOT\\.txt");
}

TEST_F(RegistryFindTest, AMissingStartStandsWhereItWouldBe) {
    const FindOptions options = looking(u"a", true, false, false);
    // "Beta" would sort between "alpha" and "Zeta".
    const FindStart beta = FindStart::atKey(HKEY_CURRENT_USER, u"Software\\Beta\\Gone");
    EXPECT_EQ(findOne(options, FindDirection::Next, beta), "HKEY_CURRENT_USER\\Software\\Zeta");
    EXPECT_EQ(findOne(options, FindDirection::Previous, beta), "HKEY_CURRENT_USER\\Software\\alpha");
    FindStart value = FindStart::atKey(HKEY_CURRENT_USER, u"Software\\Zeta");
    value.valueName = u"B0";  // would be listed after "b", the key's last value
    EXPECT_EQ(findOne(looking(u""), FindDirection::Next, value), "HKEY_LOCAL_MACHINE\\System");
    EXPECT_EQ(findOne(looking(u""), FindDirection::Previous, value), "HKEY_CURRENT_USER\\Software\\Zeta [b]");
}

TEST_F(RegistryFindTest, FindNextGoesOnAfterTheHitsKeyWasDeleted) {
    FindHit hit;
    ASSERT_EQ(findOne(looking(u"zeta"), FindDirection::Next, FindStart::edge(), &hit),
              "HKEY_CURRENT_USER\\Software\\Zeta");
    ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Software\\Zeta"));
    EXPECT_EQ(findOne(looking(u"a", true, false, false), FindDirection::Next, FindStart::after(hit)),
              "HKEY_LOCAL_MACHINE\\System\\alphabet");
    EXPECT_EQ(findOne(looking(u"a", true, false, false), FindDirection::Previous, FindStart::after(hit)),
              "HKEY_CURRENT_USER\\Software\\alpha");
}

TEST_F(RegistryFindTest, AScopeLimitsTheSearchToOneSubtree) {
    FindOptions options = looking(u"a", true, true, false);
    options.scopeRoot = HKEY_CURRENT_USER;
    options.scopePath = u"SOFTWARE";
    EXPECT_THAT(findAllDescribed(options),
                ElementsAre("HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\alpha",
                            "HKEY_CURRENT_USER\\Software\\Zeta", "HKEY_CURRENT_USER\\Software\\Zeta [A]"));
    FindHit last;
    findOne(options, FindDirection::Previous, FindStart::edge(), &last);
    EXPECT_EQ(describe(last), "HKEY_CURRENT_USER\\Software\\Zeta [A]");
    EXPECT_EQ(findOne(options, FindDirection::Next, FindStart::after(last)), "HKEY_CURRENT_USER\\Software");
    // A start outside the scope starts at its top.
    EXPECT_EQ(findOne(options, FindDirection::Next, FindStart::atKey(HKEY_LOCAL_MACHINE, u"System")),
              "HKEY_CURRENT_USER\\Software");
    options.scopePath = u"Software\\Missing";
    EXPECT_THAT(findAllDescribed(options), IsEmpty());
}

TEST_F(RegistryFindTest, SlicesGiveTheSameHitsAsOneRun) {
    RegistryFind sliced = RegistryFind::findAll(looking(u""));
    int slices = 0;
    while (sliced.step(1) == FindStatus::Running) ++slices;
    EXPECT_EQ(sliced.status(), FindStatus::Finished);
    EXPECT_GE(slices, static_cast<int>(everything_.size()));
    std::vector<std::string> hits;
    for (const FindHit& hit : sliced.hits()) hits.push_back(describe(hit));
    EXPECT_EQ(hits, everything_);
    EXPECT_EQ(sliced.keysExamined(), 11u);  // the three roots and the eight keys
    EXPECT_EQ(sliced.valuesExamined(), 5u);
}

TEST_F(RegistryFindTest, CancelStopsTheSearchWhereItIs) {
    RegistryFind find = RegistryFind::findAll(looking(u""));
    ASSERT_EQ(find.step(3), FindStatus::Running);
    find.cancel();
    EXPECT_EQ(find.status(), FindStatus::Cancelled);
    EXPECT_EQ(find.step(1000), FindStatus::Cancelled);
    EXPECT_EQ(find.hits().size(), 3u);

    RegistryFind next(looking(u"needle"), FindDirection::Next, FindStart::edge());
    int calls = 0;
    EXPECT_EQ(runFind(
                  next, [&](const RegistryFind&) { return ++calls < 2; }, 1),
              FindStatus::Cancelled);
    EXPECT_EQ(calls, 2);
}

TEST_F(RegistryFindTest, FindAllStopsCollectingAtItsLimit) {
    RegistryFind find = RegistryFind::findAll(looking(u""), 3);
    EXPECT_EQ(runFind(find), FindStatus::Finished);
    EXPECT_TRUE(find.truncated());
    EXPECT_EQ(find.hits().size(), 3u);
    RegistryFind all = RegistryFind::findAll(looking(u""));
    runFind(all);
    EXPECT_FALSE(all.truncated());
}

TEST(RegistryFindShapes, TheFractionDoneGrowsWithTheWalkInBothDirections) {
    testing_support::FreshRegistry();
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        for (char16_t c = u'a'; c < u'k'; ++c) MakeKey(root, std::u16string(1, c) + u"\\inner");
    }
    for (const FindDirection direction : {FindDirection::Next, FindDirection::Previous}) {
        // Starting in the middle root, the search wraps: it goes once round all of it.
        RegistryFind find(looking(u"nothing"), direction, FindStart::atKey(HKEY_CURRENT_USER, u"e"));
        double last = 0;
        std::vector<double> inLowRoot;
        while (find.step(1) == FindStatus::Running) {
            const double done = find.fractionDone();
            EXPECT_GE(done, last);
            EXPECT_LE(done, 1.0);
            last = done;
            if (find.currentKeyPath() == u"HKEY_CLASSES_ROOT\\e") inLowRoot.push_back(done);
        }
        EXPECT_EQ(find.status(), FindStatus::NotFound);
        EXPECT_EQ(find.fractionDone(), 1.0);
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
    SetValue(HKEY_LOCAL_MACHINE, path, u"bottom", REG_SZ, sz(u"here"));
    FindHit hit;
    ASSERT_EQ(findOne(looking(u"bottom"), FindDirection::Next, FindStart::edge(), &hit).empty(), false);
    EXPECT_EQ(hit.path, path);
    EXPECT_EQ(findOne(looking(u"bottom"), FindDirection::Previous, FindStart::edge()), describe(hit));
    RegistryFind keys = RegistryFind::findAll(looking(u"k", true, false, false));
    runFind(keys);
    EXPECT_EQ(keys.hits().size(), static_cast<std::size_t>(kMaxKeyDepth));
}

TEST(RegistryFindShapes, KeysDeletedDuringASlicedSearchEndItCleanly) {
    testing_support::FreshRegistry();
    for (int i = 0; i < 50; ++i) {
        const std::u16string name = u"Top\\k" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                    std::u16string(1, static_cast<char16_t>(u'a' + i / 26));
        SetValue(HKEY_LOCAL_MACHINE, name + u"\\child", u"v", REG_SZ, sz(u"x"));
    }
    RegistryFind find = RegistryFind::findAll(looking(u"v"));
    ASSERT_EQ(find.step(20), FindStatus::Running);
    ASSERT_TRUE(deleteKeyTree(HKEY_LOCAL_MACHINE, u"Top"));
    EXPECT_EQ(runFind(find), FindStatus::Finished);
    EXPECT_LT(find.hits().size(), 50u);
}

TEST(RegistryFindShapes, AStoreClosedDuringASearchLeavesItIncompleteNotWhole) {
    testing_support::FreshRegistry();
    for (char16_t c = u'a'; c < u'k'; ++c)
        SetValue(HKEY_LOCAL_MACHINE, std::u16string(1, c) + u"\\x", u"v", REG_SZ, sz(u"d"));
    RegistryFind whole = RegistryFind::findAll(looking(u"nothing"));
    EXPECT_EQ(runFind(whole), FindStatus::Finished);
    EXPECT_FALSE(whole.incomplete());

    RegistryFind find = RegistryFind::findAll(looking(u"nothing"));
    ASSERT_EQ(find.step(8), FindStatus::Running);
    tovik::closeRegistryStore();
    EXPECT_EQ(runFind(find), FindStatus::Finished);
    EXPECT_TRUE(find.incomplete());
    // A deleted key is nothing missed.
    testing_support::FreshRegistry();
    for (char16_t c = u'a'; c < u'k'; ++c) MakeKey(HKEY_LOCAL_MACHINE, u"Top\\" + std::u16string(1, c) + u"\\x");
    RegistryFind deleted = RegistryFind::findAll(looking(u"nothing"));
    ASSERT_EQ(deleted.step(6), FindStatus::Running);
    ASSERT_TRUE(deleteKeyTree(HKEY_LOCAL_MACHINE, u"Top"));
    EXPECT_EQ(runFind(deleted), FindStatus::Finished);
    EXPECT_FALSE(deleted.incomplete());
}

TEST(RegistryFindShapes, WideKeysAreEnteredAtTheirPlace) {
    testing_support::FreshRegistry();
    for (int i = 0; i < 3000; ++i) {
        char16_t name[8] = u"w00000";
        for (int d = 0, n = i; d < 5; ++d, n /= 10) name[5 - d] = static_cast<char16_t>(u'0' + n % 10);
        MakeKey(HKEY_CURRENT_USER, std::u16string(u"Wide\\") + name);
    }
    EXPECT_EQ(findOne(looking(u"w"), FindDirection::Next, FindStart::atKey(HKEY_CURRENT_USER, u"wide\\W02500")),
              "HKEY_CURRENT_USER\\Wide\\w02500");
    EXPECT_EQ(findOne(looking(u"w"), FindDirection::Previous, FindStart::atKey(HKEY_CURRENT_USER, u"wide\\W02500x")),
              "HKEY_CURRENT_USER\\Wide\\w02500");
}

}  // namespace
