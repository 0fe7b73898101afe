// Reading hives that hivexsh (another writer) made: names, order, case, data bytes.
#include "hive_test_support.h"

namespace tovik::hive::testing {
namespace {

using ::testing::ElementsAre;

struct HiveReading : HiveFixture {
    void SetUp() override {
        HiveFixture::SetUp();
        hivexSh(
            hivePath,
            "add Software\ncd Software\nadd beta\nadd Alpha\nadd GAMMA\nadd \xc3\x84rger\n"
            "setval "
            "4\nzeta\nstring:z\n@\nhex:1:47,00,72,00,fc,00,df,00,65,00,00,00\nAlpha\ndword:0x2a\nraw\nhex:3:00,ff,10\n"
            "commit\n",
            true);
    }
};

TEST_F(HiveReading, SubkeysInNameOrderIgnoringCaseAndFoundInAnyCase) {
    auto model = openHive(hivePath, false);
    const NodeId software = keyAt(*model, u"SOFTWARE");
    EXPECT_EQ(model->name(software), u"Software");
    EXPECT_THAT(subkeyNames(*model, software), ElementsAre(u"Alpha", u"beta", u"GAMMA", u"\u00c4rger"));
    NodeId child = 0;
    ASSERT_TRUE(model->findChild(software, u"gamma", child).ok());
    EXPECT_EQ(model->name(child), u"GAMMA");
    EXPECT_EQ(model->parent(child), software);
    ASSERT_TRUE(model->findChild(software, u"\u00e4RGER", child).ok());
    EXPECT_EQ(model->findChild(software, u"delta", child).status, HiveStatus::NotFound);
    EXPECT_EQ(model->subkeyAt(software, 4, child).status, HiveStatus::NotFound);
}

TEST_F(HiveReading, ValuesInTheHiveOrderWithTheirExactBytes) {
    auto model = openHive(hivePath, false);
    const NodeId software = keyAt(*model, u"Software");
    EXPECT_THAT(valueNames(*model, software), ElementsAre(u"zeta", u"", u"Alpha", u"raw"));
    const HiveValue* value = nullptr;
    ASSERT_TRUE(model->findValue(software, u"ALPHA", value).ok());
    EXPECT_EQ(value->type, 4u);
    EXPECT_EQ(value->data, bytes({0x2a, 0, 0, 0}));
    ASSERT_TRUE(model->findValue(software, u"", value).ok());
    EXPECT_EQ(value->type, 1u);
    EXPECT_EQ(value->data, bytes({'G', 0, 'r', 0, 0xfc, 0, 0xdf, 0, 'e', 0, 0, 0}));
    ASSERT_TRUE(model->valueAt(software, 3, value).ok());
    EXPECT_EQ(value->type, 3u);
    EXPECT_EQ(value->data, bytes({0x00, 0xff, 0x10}));
    EXPECT_EQ(model->valueAt(software, 4, value).status, HiveStatus::NotFound);
    EXPECT_EQ(model->findValue(software, u"missing", value).status, HiveStatus::NotFound);
}

TEST_F(HiveReading, KeysStayTheSameIdsWhenAnotherProgramChangesTheFile) {
    auto model = openHive(hivePath, false);
    const NodeId beta = keyAt(*model, u"Software\\beta");
    const NodeId gamma = keyAt(*model, u"Software\\GAMMA");
    EXPECT_TRUE(model->reloadIfChanged().ok());
    hivexSh(hivePath, "cd Software\ncd beta\nsetval 1\nnew\ndword:7\ncd ..\ncd GAMMA\ndel\ncommit\n", true);
    EXPECT_THAT(valueNames(*model, beta), ElementsAre());  // the old view until it is reread
    ASSERT_TRUE(model->reloadIfChanged().ok());
    EXPECT_THAT(valueNames(*model, beta), ElementsAre(u"new"));
    std::size_t count = 0;
    EXPECT_EQ(model->subkeyCount(gamma, count).status, HiveStatus::NotFound);
    EXPECT_THAT(subkeyNames(*model, keyAt(*model, u"Software")), ElementsAre(u"Alpha", u"beta", u"\u00c4rger"));
}

TEST(HiveOpening, FilesThatAreNoHiveAreRefusedWithASentence) {
    TempFolder folder;
    HiveResult result;
    EXPECT_EQ(HiveModel::open(folder.file("missing"), {}, result), nullptr);
    EXPECT_THAT(result.message, ::testing::HasSubstr("No such file"));
    EXPECT_EQ(HiveModel::open(folder.path(), {}, result), nullptr);
    EXPECT_THAT(result.message, ::testing::HasSubstr("not a file"));
    writeFile(folder.file("text"), std::vector<std::uint8_t>(9000, 'x'));
    EXPECT_EQ(HiveModel::open(folder.file("text"), {}, result), nullptr);
    EXPECT_THAT(result.message, ::testing::HasSubstr("is not a Windows registry hive"));
}

}  // namespace
}  // namespace tovik::hive::testing
