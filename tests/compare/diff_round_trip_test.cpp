// The .reg that a comparison writes, applied: on random trees, importing the file that turns A
// into B into A leaves nothing to compare, and the reverse file brings A back. A .reg file read as
// a tree compares equal to the registry it was exported from.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "compare/apply_difference.h"
#include "compare/diff_reg_writer.h"
#include "compare/reg_file_tree.h"
#include "regfile/reg_export.h"
#include "regfile/reg_import.h"
#include "regfile/reg_text.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "tests/compare/compare_test_util.h"
#include "tests/stores/hive/hive_builder.h"
#include "tests/stores/wine/wine_test_support.h"

namespace tovik::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr HKEY kHkcu = HKEY_CURRENT_USER;

// Names that try the case folding, the .reg escapes and non-ASCII text.
// asciiKeys: key names of printable ASCII alone, the only ones hivex writes.
std::u16string randomName(std::mt19937& random, bool forKey, bool asciiKeys = false) {
    static const std::u16string units = u"abcABCxyzXYZ_ -.éÉ日本ЖжΣσ0123";
    static const std::u16string asciiUnits = u"abcABCxyzXYZ_ -.0123";
    static const std::u16string valueOnly = u"\"\\=[]";
    std::uniform_int_distribution<int> length(1, 6);
    std::u16string name;
    const int n = length(random);
    for (int i = 0; i < n; ++i) {
        const bool special = !forKey && random() % 8 == 0;
        const std::u16string& from = special ? valueOnly : forKey && asciiKeys ? asciiUnits : units;
        name.push_back(from[random() % from.size()]);
    }
    return name;
}

// A string's data: text without zero units, with or without the terminator.
Bytes randomString(std::mt19937& random, DWORD type) {
    std::u16string text;
    const int n = static_cast<int>(random() % 12);
    for (int i = 0; i < n; ++i) text.push_back(static_cast<char16_t>(u'A' + random() % 40));
    if (type == REG_MULTI_SZ && !text.empty()) text[text.size() / 2] = 0;
    if (random() % 2) text.push_back(0);
    return stringToBytes(text);
}

void setRandomValue(Backend& backend, KeyId key, std::mt19937& random, std::u16string name) {
    static const DWORD types[] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY,
                                  REG_DWORD, REG_MULTI_SZ, REG_QWORD,     0x4242};
    const DWORD type = types[random() % std::size(types)];
    Bytes data;
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        data = randomString(random, type);
    } else {
        data.resize(type == REG_DWORD ? 4 : random() % 10);
        for (BYTE& b : data) b = static_cast<BYTE>(random());
    }
    backend.setValue(key, name, type, data.data(), static_cast<DWORD>(data.size()));
}

// A random tree below HKCU\Top: keys down to four levels, a few values each.
void fillRandom(Backend& backend, std::mt19937& random, bool asciiKeys = false) {
    std::vector<KeyId> keys{makeKeyIn(backend, kHkcu, u"Top")};
    std::vector<std::size_t> depths{1};
    const int count = 5 + static_cast<int>(random() % 40);
    for (int k = 0; k < count; ++k) {
        const std::size_t parent = random() % keys.size();
        if (depths[parent] > 4) continue;
        const std::u16string name = randomName(random, true, asciiKeys);
        const std::u16string_view names[] = {name};
        KeyId id = kNoKey;
        bool created = false;
        if (backend.createKeys(keys[parent], depths[parent], names, id, created) == ERROR_SUCCESS && created) {
            keys.push_back(id);
            depths.push_back(depths[parent] + 1);
        }
    }
    for (KeyId key : keys) {
        const int values = static_cast<int>(random() % 4);
        for (int v = 0; v < values; ++v)
            setRandomValue(backend, key, random, random() % 5 == 0 ? u"" : randomName(random, false));
    }
}

// Changes a copy at random: keys added and deleted, values added, overwritten, deleted, their
// names' case changed.
void mutate(Backend& backend, std::mt19937& random, bool asciiKeys = false) {
    std::vector<KeyId> keys{makeKeyIn(backend, kHkcu, u"Top")};
    std::vector<std::size_t> depths{1};
    std::vector<SubkeyEntry> children;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        children.clear();
        backend.listSubkeys(keys[i], 0, -1, children);
        for (const SubkeyEntry& child : children) {
            keys.push_back(child.id);
            depths.push_back(depths[i] + 1);
        }
    }
    const int changes = 1 + static_cast<int>(random() % 12);
    for (int c = 0; c < changes; ++c) {
        const std::size_t at = random() % keys.size();
        const KeyId key = keys[at];
        if (!backend.keyExists(key)) continue;
        std::vector<ValueEntry> values;
        backend.listValues(key, 0, -1, values);
        switch (random() % 5) {
        case 0: {
            const std::u16string name = randomName(random, true, asciiKeys);
            const std::u16string_view names[] = {name};
            KeyId id = kNoKey;
            bool created = false;
            if (backend.createKeys(key, depths[at], names, id, created) == ERROR_SUCCESS)
                setRandomValue(backend, id, random, u"x");
            break;
        }
        case 1:
            if (key != keys.front()) deleteBackendSubtree(backend, key);
            break;
        case 2: setRandomValue(backend, key, random, randomName(random, false)); break;
        case 3:
            if (!values.empty()) setRandomValue(backend, key, random, values[random() % values.size()].name);
            break;
        case 4:
            if (!values.empty()) backend.deleteValue(key, values[random() % values.size()].name);
            break;
        }
    }
}

std::u16string diffRegText(const CompareSide& a, const CompareSide& b, bool reverse) {
    BytesSink sink;
    RegFileWriter writer(sink, RegFileFormat::Version5);
    writer.writeHeader();
    const CompareSide& target = reverse ? b : a;
    DiffRegWriter diff(writer, target.root, target.path, reverse);
    EXPECT_EQ(compareKeyTrees(a, b, diff).outcome, CompareOutcome::Done);
    EXPECT_TRUE(writer.finish());
    return decodeRegFileBytes(sink.bytes.data(), sink.bytes.size()).text;
}

// Where side A lives: the import of the .reg writes into it as the current registry.
enum class Registry { Memory, WinePrefix, HiveFile };

class DiffRoundTrip : public testing::TestWithParam<Registry> {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tovik-round-trip-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);  // the file registries' histories
    }
    void TearDown() override {
        closeRegistryStore();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    // A fresh, empty registry of the parameter's kind, current.
    void openFresh(unsigned seed) {
        const std::filesystem::path place = dir_ / std::to_string(seed);
        RegistrySource source;
        switch (GetParam()) {
        case Registry::Memory: openInMemoryRegistryStore(); return;
        case Registry::WinePrefix:
            wine_test::makeEmptyPrefix(place);
            source.kind = RegistrySource::Kind::WinePrefix;
            source.path = place.string();
            break;
        case Registry::HiveFile:
            hive::testing::writeFile(place.string() + ".hive", hive::testing::emptyHiveBytes());
            source.kind = RegistrySource::Kind::Hive;
            source.path = place.string() + ".hive";
            source.mountAs = "HKCU";
            source.writable = true;
            break;
        }
        const StoreOpenResult opened = openRegistry(source);
        ASSERT_TRUE(opened.ok) << opened.error;
    }
    // Fewer seeds where every import saves a whole file.
    unsigned seeds() const { return GetParam() == Registry::Memory ? 60 : 15; }

    std::filesystem::path dir_;
};

INSTANTIATE_TEST_SUITE_P(EveryKind, DiffRoundTrip,
                         testing::Values(Registry::Memory, Registry::WinePrefix, Registry::HiveFile),
                         [](const testing::TestParamInfo<Registry>& info) {
                             switch (info.param) {
                             case Registry::Memory: return "Memory";
                             case Registry::WinePrefix: return "WinePrefix";
                             case Registry::HiveFile: return "HiveFile";
                             }
                             return "";
                         });

TEST_P(DiffRoundTrip, TheRegThatTurnsAIntoBDoesSoAndTheReverseTurnsItBack) {
    for (unsigned seed = 1; seed <= seeds(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        // A is the current registry (the import writes there); A0 and B are built from the same seed.
        ASSERT_NO_FATAL_FAILURE(openFresh(seed));
        Backend& a = *currentBackend();
        std::unique_ptr<Backend> a0 = openSqliteMemoryStore();
        std::unique_ptr<Backend> b = openSqliteMemoryStore();
        std::mt19937 random(seed), random0(seed), randomB(seed);
        const bool ascii = GetParam() == Registry::HiveFile;
        ASSERT_EQ(a.beginBatch(), ERROR_SUCCESS);  // one save of a file registry, not one a value
        fillRandom(a, random, ascii);
        ASSERT_EQ(a.commitBatch(false), ERROR_SUCCESS);
        fillRandom(*a0, random0, ascii);
        fillRandom(*b, randomB, ascii);
        std::mt19937 mutation(seed * 7919);
        mutate(*b, mutation, ascii);

        const CompareSide sideA{&a, kHkcu, u"Top"};
        const CompareSide sideB{b.get(), kHkcu, u"Top"};
        const std::u16string forward = diffRegText(sideA, sideB, false);
        const std::u16string backward = diffRegText(sideA, sideB, true);

        const RegFileImportReport applied = importRegFileText(forward);
        EXPECT_EQ(applied.failed() + applied.skipped(), 0u);
        EXPECT_THAT(diffLines(sideA, sideB), IsEmpty()) << "the .reg was:\n" << utf16ToUtf8(forward);

        const RegFileImportReport undone = importRegFileText(backward);
        EXPECT_EQ(undone.failed() + undone.skipped(), 0u);
        EXPECT_THAT(diffLines(sideA, CompareSide{a0.get(), kHkcu, u"Top"}), IsEmpty()) << "the reverse .reg was:\n"
                                                                                       << utf16ToUtf8(backward);
    }
    closeRegistryStore();
}

// Each difference applied on its own settles it: once every one is applied the sides compare
// equal, and applying them back the other way, every entry in turn, gives the first tree again.
TEST(DiffRoundTripTest, ApplyingEachDifferenceMakesTheSidesEqual) {
    struct Item {
        std::u16string path, name;
        bool isValue, below;
    };
    const auto differences = [](const CompareSide& a, const CompareSide& b) {
        std::vector<Item> items;
        class Collect final : public DifferenceSink {
        public:
            explicit Collect(std::vector<Item>& items) : items_(items) {}
            bool onDifference(const Difference& d) override {
                items_.push_back({std::u16string(d.path), std::u16string(d.name), !d.isKey(), d.belowOneSidedKey});
                return true;
            }
            std::vector<Item>& items_;
        } collect(items);
        EXPECT_EQ(compareKeyTrees(a, b, collect).outcome, CompareOutcome::Done);
        return items;
    };
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::unique_ptr<Backend> a = openSqliteMemoryStore();
        std::unique_ptr<Backend> a0 = openSqliteMemoryStore();
        std::unique_ptr<Backend> b = openSqliteMemoryStore();
        std::mt19937 random(seed), random0(seed), randomB(seed);
        fillRandom(*a, random);
        fillRandom(*a0, random0);
        fillRandom(*b, randomB);
        std::mt19937 mutation(seed * 7919);
        mutate(*b, mutation);
        const CompareSide sideA{a.get(), kHkcu, u"Top"}, sideB{b.get(), kHkcu, u"Top"};
        const CompareSide sideA0{a0.get(), kHkcu, u"Top"};

        // A key on one side only is applied whole: what lies below it comes or goes with it.
        for (const Item& item : differences(sideA, sideB)) {
            if (item.below) continue;
            EXPECT_EQ(applyDifference(sideB, sideA, item.path,
                                      item.isValue ? std::optional<std::u16string_view>(item.name) : std::nullopt),
                      ERROR_SUCCESS);
        }
        EXPECT_THAT(diffLines(sideA, sideB), IsEmpty());

        for (const Item& item : differences(sideA0, sideA))
            EXPECT_EQ(applyDifference(sideA0, sideA, item.path,
                                      item.isValue ? std::optional<std::u16string_view>(item.name) : std::nullopt),
                      ERROR_SUCCESS);
        EXPECT_THAT(diffLines(sideA, sideA0), IsEmpty());
    }
}

TEST(DiffRoundTripTest, ApplyingIsRefusedWhereItCannotBeDone) {
    std::unique_ptr<Backend> a = openSqliteMemoryStore();
    setValueIn(*a, kHkcu, u"One\\Sub", u"V", REG_DWORD, dwordToBytes(1));
    // A key compared with a key below it: a copy would meet itself.
    EXPECT_EQ(applyDifference({a.get(), kHkcu, u"One"}, {a.get(), kHkcu, u"one\\Sub"}, u"Sub", std::nullopt),
              ERROR_INVALID_PARAMETER);
    // A root is never deleted.
    std::unique_ptr<Backend> empty = openSqliteMemoryStore();
    EXPECT_EQ(applyDifference({empty.get(), kHkcu, u"Nothing"}, {a.get(), kHkcu, u""}, u"", std::nullopt),
              ERROR_ACCESS_DENIED);
    EXPECT_TRUE(a->keyExists(makeKeyIn(*a, kHkcu, u"One\\Sub")));
}

TEST(DiffRoundTripTest, TheRegNamesTheKeysOfItsSideAndDeletesWhatIsOnlyThere) {
    std::unique_ptr<Backend> a = openSqliteMemoryStore();
    std::unique_ptr<Backend> b = openSqliteMemoryStore();
    setValueIn(*a, kHkcu, u"Old\\Gone\\Below", u"V", REG_DWORD, dwordToBytes(1));
    setValueIn(*a, kHkcu, u"Old", u"Drop", REG_DWORD, dwordToBytes(1));
    setValueIn(*b, kHkcu, u"New\\Made", u"", REG_SZ, stringToBytes(std::u16string(u"x") + u'\0'));
    const std::u16string text =
        diffRegText(CompareSide{a.get(), kHkcu, u"Old"}, CompareSide{b.get(), kHkcu, u"New"}, false);
    EXPECT_EQ(text, u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Old]\r\n\"Drop\"=-\r\n\r\n"
                    u"[-HKEY_CURRENT_USER\\Old\\Gone]\r\n\r\n[HKEY_CURRENT_USER\\Old\\Made]\r\n@=\"x\"\r\n\r\n");
}

TEST(DiffRoundTripTest, ARegFileReadAsATreeEqualsTheRegistryItWasExportedFrom) {
    openInMemoryRegistryStore();
    std::mt19937 random(99);
    fillRandom(*currentBackend(), random);
    BytesSink sink;
    ASSERT_EQ(exportRegFile(sink, kHkcu, u"Top").outcome, RegFileExportOutcome::Written);
    const std::u16string text = decodeRegFileBytes(sink.bytes.data(), sink.bytes.size()).text;
    std::unique_ptr<Backend> file = openSqliteMemoryStore();
    const RegFileTreeResult read = readRegFileTree(text, *file);
    EXPECT_TRUE(read.ok());
    EXPECT_EQ(read.skipped, 0u);
    const CompareSide registry{currentBackend(), kHkcu, u"Top"};
    const CompareSide tree{file.get(), kHkcu, u"Top"};
    EXPECT_THAT(diffLines(registry, tree), IsEmpty());

    // Deletions in the file apply to the tree read so far.
    const std::u16string withDeletions =
        text +
        u"[-HKEY_CURRENT_USER\\Top]\r\n\r\n[HKEY_CURRENT_USER\\Top\\Only]\r\n\"v\"=dword:00000001\r\n\"v\"=-\r\n";
    std::unique_ptr<Backend> deleted = openSqliteMemoryStore();
    EXPECT_TRUE(readRegFileTree(withDeletions, *deleted).ok());
    std::unique_ptr<Backend> expected = openSqliteMemoryStore();
    makeKeyIn(*expected, kHkcu, u"Top\\Only");
    EXPECT_THAT(diffLines(CompareSide{deleted.get(), kHkcu, u"Top"}, CompareSide{expected.get(), kHkcu, u"Top"}),
                IsEmpty());
    closeRegistryStore();
}

}  // namespace
}  // namespace tovik::test
