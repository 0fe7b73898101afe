// The merge walk on hand-made trees: every kind of difference in tree order, names that differ in
// case alone, equal bytes under another type, string terminators, empty keys, the unnamed value,
// deep trees, missing top keys, and stopping.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "compare/tree_compare.h"
#include "tests/compare/compare_test_util.h"

namespace tovik::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr HKEY kHkcu = HKEY_CURRENT_USER;

class TreeCompareTest : public ::testing::Test {
protected:
    std::unique_ptr<Backend> a_ = openSqliteMemoryStore();
    std::unique_ptr<Backend> b_ = openSqliteMemoryStore();
    CompareSide sideA(std::u16string path = u"Top") { return CompareSide{a_.get(), kHkcu, std::move(path)}; }
    CompareSide sideB(std::u16string path = u"Top") { return CompareSide{b_.get(), kHkcu, std::move(path)}; }
};

TEST_F(TreeCompareTest, ReportsEveryKindOfDifferenceInTreeOrder) {
    for (Backend* side : {a_.get(), b_.get()}) {
        setValueIn(*side, kHkcu, u"Top", u"Same", REG_DWORD, dwordToBytes(1));
        setValueIn(*side, kHkcu, u"Top\\Both\\Deep", u"Same", REG_SZ, stringToBytes(u"x"));
    }
    setValueIn(*a_, kHkcu, u"Top", u"Gone", REG_SZ, stringToBytes(u"old"));
    setValueIn(*a_, kHkcu, u"Top", u"Changed", REG_DWORD, dwordToBytes(5));
    setValueIn(*b_, kHkcu, u"Top", u"Changed", REG_DWORD, dwordToBytes(6));
    setValueIn(*b_, kHkcu, u"Top", u"Added", REG_BINARY, {1, 2});
    setValueIn(*a_, kHkcu, u"Top\\Removed\\Inner", u"V", REG_SZ, stringToBytes(u"v"));
    setValueIn(*b_, kHkcu, u"Top\\New", u"W", REG_SZ, stringToBytes(u"w"));
    makeKeyIn(*b_, kHkcu, u"Top\\New\\Empty");
    setValueIn(*b_, kHkcu, u"Top\\Both\\Deep", u"More", REG_NONE, {});

    EXPECT_THAT(diffLines(sideA(), sideB()),
                ElementsAre("-val :Gone", "~val :Changed", "+val :Added", "+val Both\\Deep:More", "+key New",
                            "+val New:W (below)", "+key New\\Empty (below)", "-key Removed",
                            "-key Removed\\Inner (below)", "-val Removed\\Inner:V (below)"));
    // Everything, the equal entries too, in the same order.
    EXPECT_THAT(diffLines(sideA(), sideB(), true),
                ElementsAre("=key ", "=val :Same", "-val :Gone", "~val :Changed", "+val :Added", "=key Both",
                            "=key Both\\Deep", "=val Both\\Deep:Same", "+val Both\\Deep:More", "+key New",
                            "+val New:W (below)", "+key New\\Empty (below)", "-key Removed",
                            "-key Removed\\Inner (below)", "-val Removed\\Inner:V (below)"));
}

TEST_F(TreeCompareTest, NamesThatDifferInCaseAloneAreTheSame) {
    setValueIn(*a_, kHkcu, u"Top\\Software\\Ärger", u"Name", REG_SZ, stringToBytes(u"v"));
    setValueIn(*b_, kHkcu, u"TOP\\SOFTWARE\\äRGER", u"NAME", REG_SZ, stringToBytes(u"v"));
    EXPECT_THAT(diffLines(sideA(), sideB(u"top")), IsEmpty());
    // Data that differs in case is different data.
    setValueIn(*b_, kHkcu, u"TOP\\SOFTWARE\\äRGER", u"NAME", REG_SZ, stringToBytes(u"V"));
    EXPECT_THAT(diffLines(sideA(), sideB()), ElementsAre("~val Software\\Ärger:Name"));
}

TEST_F(TreeCompareTest, EqualBytesUnderAnotherTypeDiffer) {
    setValueIn(*a_, kHkcu, u"Top", u"S", REG_SZ, stringToBytes(u"%P%"));
    setValueIn(*b_, kHkcu, u"Top", u"S", REG_EXPAND_SZ, stringToBytes(u"%P%"));
    setValueIn(*a_, kHkcu, u"Top", u"N", REG_NONE, {});
    setValueIn(*b_, kHkcu, u"Top", u"N", REG_BINARY, {});
    setValueIn(*a_, kHkcu, u"Top", u"Odd", 0x12345, {7});
    setValueIn(*b_, kHkcu, u"Top", u"Odd", 0x12346, {7});
    LineSink sink;
    std::vector<std::pair<DWORD, DWORD>> types;
    struct TypeSink final : DifferenceSink {
        std::vector<std::pair<DWORD, DWORD>>* types;
        bool onDifference(const Difference& d) override {
            types->emplace_back(d.a.type, d.b.type);
            return true;
        }
    } typeSink;
    typeSink.types = &types;
    EXPECT_EQ(compareKeyTrees(sideA(), sideB(), typeSink).differences, 3u);
    EXPECT_THAT(types,
                ElementsAre(std::pair<DWORD, DWORD>{REG_SZ, REG_EXPAND_SZ},
                            std::pair<DWORD, DWORD>{REG_NONE, REG_BINARY}, std::pair<DWORD, DWORD>{0x12345, 0x12346}));
}

TEST_F(TreeCompareTest, AStringsTerminatorIsNoDifferenceButOtherBytesAre) {
    setValueIn(*a_, kHkcu, u"Top", u"Sz", REG_SZ, stringToBytes(u"abc"));
    setValueIn(*b_, kHkcu, u"Top", u"Sz", REG_SZ, stringToBytes(std::u16string(u"abc") + u'\0'));
    setValueIn(*a_, kHkcu, u"Top", u"Multi", REG_MULTI_SZ, stringToBytes(std::u16string(u"a\0b", 3)));
    setValueIn(*b_, kHkcu, u"Top", u"Multi", REG_MULTI_SZ, stringToBytes(std::u16string(u"a\0b\0\0", 5)));
    // Binary data is compared byte for byte, a trailing zero included.
    setValueIn(*a_, kHkcu, u"Top", u"Bin", REG_BINARY, {1, 0});
    setValueIn(*b_, kHkcu, u"Top", u"Bin", REG_BINARY, {1, 0, 0});
    EXPECT_THAT(diffLines(sideA(), sideB()), ElementsAre("~val :Bin"));
}

TEST_F(TreeCompareTest, EmptyKeysAndTheUnnamedValue) {
    makeKeyIn(*a_, kHkcu, u"Top\\EmptyBoth");
    makeKeyIn(*b_, kHkcu, u"Top\\EmptyBoth");
    makeKeyIn(*a_, kHkcu, u"Top\\EmptyA");
    setValueIn(*a_, kHkcu, u"Top", u"", REG_SZ, stringToBytes(u"a"));
    setValueIn(*b_, kHkcu, u"Top", u"", REG_SZ, stringToBytes(u"b"));
    setValueIn(*b_, kHkcu, u"Top\\EmptyBoth", u"", REG_SZ, {});
    EXPECT_THAT(diffLines(sideA(), sideB()), ElementsAre("~val :", "-key EmptyA", "+val EmptyBoth:"));
}

TEST_F(TreeCompareTest, DeepTreesAreWalkedToTheBottom) {
    std::u16string path = u"Top";
    std::u16string below;
    for (int level = 0; level < 500; ++level) {
        path += u"\\L";
        below += below.empty() ? u"L" : u"\\L";
    }
    setValueIn(*a_, kHkcu, path, u"V", REG_DWORD, dwordToBytes(1));
    setValueIn(*b_, kHkcu, path, u"V", REG_DWORD, dwordToBytes(2));
    makeKeyIn(*b_, kHkcu, path + u"\\Extra");
    EXPECT_THAT(diffLines(sideA(), sideB()),
                ElementsAre("~val " + utf16ToUtf8(below) + ":V", "+key " + utf16ToUtf8(below) + "\\Extra"));
}

TEST_F(TreeCompareTest, ATopKeyMissingOnOneSideIsAKeyOnlyOnTheOther) {
    setValueIn(*a_, kHkcu, u"Top", u"V", REG_DWORD, dwordToBytes(1));
    EXPECT_THAT(diffLines(sideA(), sideB()), ElementsAre("-key ", "-val :V (below)"));
    EXPECT_THAT(diffLines(sideB(), sideA()), ElementsAre("+key ", "+val :V (below)"));
    LineSink sink;
    EXPECT_EQ(compareKeyTrees(sideA(u"Nowhere"), sideB(u"Nowhere"), sink).outcome, CompareOutcome::KeyNotFound);
}

TEST_F(TreeCompareTest, DifferentKeysOfOneRegistryCompare) {
    setValueIn(*a_, kHkcu, u"One\\Sub", u"V", REG_DWORD, dwordToBytes(1));
    setValueIn(*a_, kHkcu, u"Two\\Sub", u"V", REG_DWORD, dwordToBytes(2));
    const CompareSide one{a_.get(), kHkcu, u"One"};
    const CompareSide two{a_.get(), kHkcu, u"Two"};
    EXPECT_THAT(diffLines(one, two), ElementsAre("~val Sub:V"));
}

TEST_F(TreeCompareTest, TheSinkStopsAndTheProgressCancels) {
    for (int k = 0; k < 20; ++k) makeKeyIn(*b_, kHkcu, u"Top\\K" + std::u16string(1, u'a' + k));
    makeKeyIn(*a_, kHkcu, u"Top");
    LineSink sink;
    sink.stopAfter = 3;
    CompareResult stopped = compareKeyTrees(sideA(), sideB(), sink);
    EXPECT_EQ(stopped.outcome, CompareOutcome::Stopped);
    EXPECT_EQ(sink.lines.size(), 3u);

    LineSink all;
    CompareOptions options;
    options.progress = [](std::size_t keys) { return keys < 5; };
    CompareResult cancelled = compareKeyTrees(sideA(), sideB(), all, options);
    EXPECT_EQ(cancelled.outcome, CompareOutcome::Cancelled);
    EXPECT_EQ(cancelled.keys, 5u);
    // Neither registry is left inside a read snapshot.
    EXPECT_FALSE(a_->inTransaction());
    EXPECT_FALSE(b_->inTransaction());
}

}  // namespace
}  // namespace tovik::test
