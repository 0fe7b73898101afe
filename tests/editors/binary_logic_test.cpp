// The binary editor's type list and OK rule.
#include <gtest/gtest.h>

#include "editors/binary_rules.h"

namespace {

TEST(BinaryTypeListTest, SortedByNameAndFoundByTypeNumber) {
    const std::vector<BinaryTypeEntry> list = sortedBinaryTypeList();
    std::vector<std::u16string_view> names;
    std::vector<DWORD> types;
    for (const BinaryTypeEntry& entry : list) {
        names.push_back(entry.name);
        types.push_back(entry.type);
    }
    EXPECT_EQ(names, (std::vector<std::u16string_view>{u"REG_BINARY", u"REG_DWORD_BIG_ENDIAN", u"REG_LINK",
                                                       u"REG_MULTI_SZ", u"REG_NONE", u"REG_RESOURCE_LIST"}));
    EXPECT_EQ(types, (std::vector<DWORD>{3, 5, 6, 7, 0, 8}));
    EXPECT_EQ(findTypePosition(list, REG_NONE), 4);
    for (const DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_DWORD, DWORD{9}, kNoBinaryType})
        EXPECT_EQ(findTypePosition(list, type), -1) << type;
}

TEST(BinaryOkRuleTest, NeedsANameAndWhenAddingAType) {
    EXPECT_EQ(binaryOkRule(u"", false, 0), BinaryOkVerdict::NameEmpty);
    EXPECT_EQ(binaryOkRule(u"v", true, -1), BinaryOkVerdict::NoTypeChosen);
    EXPECT_EQ(binaryOkRule(u"v", true, 0), BinaryOkVerdict::Accept);
    EXPECT_EQ(binaryOkRule(u"v", false, -1), BinaryOkVerdict::Accept);
}

}  // namespace
