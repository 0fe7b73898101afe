// Damaged and hostile hive files: opening and walking them ends with a sentence or with what the
// file really holds, never with a crash, a hang or memory out of proportion to the file.
#include "hive_test_support.h"

namespace tovik::hive::testing {
namespace {

using ::testing::HasSubstr;

std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

constexpr std::size_t kFirstHbin = 0x1000;
constexpr std::size_t kSubkeyListField = 0x20;  // in an nk record, from its cell's start
constexpr std::size_t kValueListField = 0x2c;
constexpr std::size_t kNameLengthField = 0x4c;

// Everything below the root, read as a program shows it; the first failure's sentence, or "".
struct Walk {
    std::size_t keys = 0;
    std::size_t valueBytes = 0;
    std::string failure;
};

void walkKey(HiveModel& model, NodeId key, Walk& walk) {
    if (++walk.keys > 10000 || !walk.failure.empty()) return;
    std::size_t values = 0, subkeys = 0;
    HiveResult result = model.valueCount(key, values);
    for (std::size_t i = 0; result.ok() && i < values; ++i) {
        const HiveValue* value = nullptr;
        result = model.valueAt(key, i, value);
        if (result.ok()) walk.valueBytes += value->data.size();
    }
    if (result.ok()) result = model.subkeyCount(key, subkeys);
    for (std::size_t i = 0; result.ok() && i < subkeys; ++i) {
        NodeId child = 0;
        result = model.subkeyAt(key, i, child);
        if (result.ok()) walkKey(model, child, walk);
    }
    if (!result.ok() && walk.failure.empty()) walk.failure = result.message.empty() ? "(no sentence)" : result.message;
}

struct HostileHive : HiveFixture {
    std::vector<std::uint8_t> bytes;
    void SetUp() override {
        HiveFixture::SetUp();
        hivexSh(hivePath,
                "add A\ncd A\nadd B\nsetval 2\nSmall\ndword:0x10\nText\nstring:some text here\n"
                "cd ..\nsetval 1\nRootValue\nhex:3:01,02,03,04,05,06,07,08,09\ncommit\n",
                true);
        bytes = readFile(hivePath);
    }
    // The cell of the first subkey of the key whose nk cell is at nk (offsets from the file's start).
    std::size_t firstSubkey(std::size_t nk) const {
        const std::size_t list = kFirstHbin + get32(bytes, nk + kSubkeyListField);
        return kFirstHbin + get32(bytes, list + 8);  // lf/lh: size, id, count, then (offset, hash)
    }
    Walk openAndWalk(HiveResult& opened) {
        writeFile(hivePath, bytes);
        Walk walk;
        std::unique_ptr<HiveModel> model = HiveModel::open(hivePath, {}, opened);
        if (model) walkKey(*model, model->root(), walk);
        return walk;
    }
};

TEST_F(HostileHive, EveryTruncationOpensWithASentenceOrReadsWhatIsLeft) {
    const std::vector<std::uint8_t> whole = bytes;
    for (std::size_t length = 0; length < whole.size(); length += whole.size() / 64 + 1) {
        bytes.assign(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        HiveResult opened;
        const Walk walk = openAndWalk(opened);
        if (!opened.ok()) EXPECT_THAT(opened.message, HasSubstr(hivePath)) << length;
        EXPECT_LE(walk.valueBytes, length) << "more data than the file holds at length " << length;
    }
}

TEST_F(HostileHive, ARootOffsetOutsideTheFileIsRefused) {
    put32(bytes, 0x24, 0x7ffffff0);
    fixChecksum(bytes);
    HiveResult opened;
    openAndWalk(opened);
    EXPECT_FALSE(opened.ok());
    EXPECT_THAT(opened.message, HasSubstr("is not a Windows registry hive, or it is damaged"));
}

TEST_F(HostileHive, SubkeyListsThatLoopEndTheWalkWithASentence) {
    const std::vector<std::uint8_t> sound = bytes;
    // A lists the root as its subkey: the walk would go round for ever.
    const std::size_t a = firstSubkey(kRootKeyOffset);
    const std::size_t aList = kFirstHbin + get32(bytes, a + kSubkeyListField);
    put32(bytes, aList + 8, static_cast<std::uint32_t>(kRootKeyOffset - kFirstHbin));
    HiveResult opened;
    const Walk walk = openAndWalk(opened);
    ASSERT_TRUE(opened.ok()) << opened.message;
    EXPECT_THAT(walk.failure, HasSubstr("damaged"));
    EXPECT_LT(walk.keys, 10u);

    // The root lists itself.
    bytes = sound;
    const std::size_t rootList = kFirstHbin + get32(bytes, kRootKeyOffset + kSubkeyListField);
    put32(bytes, rootList + 8, static_cast<std::uint32_t>(kRootKeyOffset - kFirstHbin));
    const Walk self = openAndWalk(opened);
    EXPECT_LT(self.keys, 10u);
    EXPECT_THAT(self.failure, HasSubstr("damaged"));
}

// Two bytes make a key's name empty: its path then names its parent again, at the same depth, and
// a walk that opened it would go round until memory ran out. Every walk ends with an error.
TEST_F(HostileHive, AKeyWithoutANameEndsEveryWalkWithAnError) {
    const std::size_t b = firstSubkey(firstSubkey(kRootKeyOffset));
    bytes[b + kNameLengthField] = 0;
    bytes[b + kNameLengthField + 1] = 0;
    writeFile(hivePath, bytes);
    TempFolder scratch;
    // Bounded, should the walk go round after all: 20 s, 64 MiB of output.
    const std::string reg =
        "ulimit -f 131072; timeout 20 " + std::string(TOVIK_REG_PATH) + " --hive '" + hivePath + "' --as 'HKLM\\H' ";
    const std::string errors = scratch.file("err");
    const auto run = [&](const std::string& command) {
        return runCommand(reg + command + " > '" + scratch.file("out") + "' 2> '" + errors + "'; echo $?");
    };
    for (const char* key : {"HKLM\\H", "HKLM\\H\\A", "HKLM"}) {
        EXPECT_EQ(run("query '" + std::string(key) + "' -r"), "1\n") << key;
        const auto err = readFile(errors);
        EXPECT_THAT(std::string(err.begin(), err.end()), HasSubstr("H\\A")) << key;
        EXPECT_LT(readFile(scratch.file("out")).size(), 4096u) << key;
    }
    EXPECT_EQ(run("export 'HKLM\\H' '" + scratch.file("backup.txt") + "'"), "1\n");
    EXPECT_EQ(run("export 'HKLM\\H' '" + scratch.file("backup.reg") + "'"), "1\n");
}

TEST_F(HostileHive, AValueClaimingGigabytesIsNotBelieved) {
    const std::size_t list = kFirstHbin + get32(bytes, kRootKeyOffset + kValueListField);
    const std::size_t vk = kFirstHbin + get32(bytes, list + 4);
    ASSERT_EQ(bytes[vk + 4], 'v');
    for (std::uint32_t claimed : {0x7fffffffu, 0xfffffff0u, 0x40000000u}) {
        std::vector<std::uint8_t> hostile = bytes;
        put32(hostile, vk + 8, claimed);
        std::swap(bytes, hostile);
        HiveResult opened;
        const Walk walk = openAndWalk(opened);
        std::swap(bytes, hostile);
        EXPECT_LE(walk.valueBytes, bytes.size()) << std::hex << claimed;
    }
}

TEST_F(HostileHive, RecordsPointingAnywhereNeverCrashTheWalk) {
    // Every subkey and value list offset of the root and of A set to places all over the file.
    const std::size_t a = firstSubkey(kRootKeyOffset);
    const std::vector<std::uint8_t> sound = bytes;
    std::size_t refused = 0;
    for (std::size_t field : {kRootKeyOffset + kSubkeyListField, kRootKeyOffset + kValueListField, a + kSubkeyListField,
                              a + kValueListField}) {
        for (std::uint32_t target = 0; target < sound.size() + 0x100; target += 120) {
            bytes = sound;
            put32(bytes, field, target);
            HiveResult opened;
            const Walk walk = openAndWalk(opened);
            if (!opened.ok() || !walk.failure.empty()) ++refused;
            EXPECT_LE(walk.valueBytes, 4 * sound.size());
        }
    }
    EXPECT_GT(refused, 0u) << "no damaged offset was noticed";
}

}  // namespace
}  // namespace tovik::hive::testing
