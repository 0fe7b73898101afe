// The synthetic registry generator: same options, same registry; the shape and mix it is asked for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/registry_generator.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace {

using tovik::bench::GeneratorOptions;

struct ValueSeen {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
    bool operator==(const ValueSeen&) const = default;
};

struct KeySeen {
    std::u16string path;
    std::size_t depth;
    std::size_t subkeys;
    std::vector<ValueSeen> values;
    bool operator==(const KeySeen&) const = default;
};

// Every key below root, depth first in the registry's order, read through the registry operations.
void walk(HKEY key, const std::u16string& path, std::size_t depth, std::vector<KeySeen>& out) {
    KeySeen seen{path, depth, 0, {}};
    for (DWORD index = 0;; ++index) {
        WCHAR name[400];
        DWORD nameLength = 400;
        DWORD type = 0;
        std::vector<BYTE> data(70000);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        data.resize(size);
        seen.values.push_back({std::u16string(name, nameLength), type, std::move(data)});
    }
    std::vector<std::u16string> children;
    for (DWORD index = 0;; ++index) {
        WCHAR name[300];
        DWORD length = 300;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name, length);
    }
    seen.subkeys = children.size();
    out.push_back(std::move(seen));
    for (const std::u16string& child : children) {
        HKEY sub = 0;
        ASSERT_EQ(RegOpenKeyExW(key, child.c_str(), 0, 0, &sub), ERROR_SUCCESS);
        walk(sub, path + u"\\" + child, depth + 1, out);
        RegCloseKey(sub);
    }
}

std::vector<KeySeen> generateInMemory(const GeneratorOptions& options) {
    tovik::openInMemoryRegistryStore();
    const tovik::bench::GeneratorResult result = tovik::bench::generateRegistry(options);
    EXPECT_TRUE(result.ok) << result.error;
    std::vector<KeySeen> keys;
    walk(HKEY_LOCAL_MACHINE, u"", 0, keys);
    tovik::closeRegistryStore();
    keys.erase(keys.begin());  // the root itself
    return keys;
}

GeneratorOptions smallOptions() {
    GeneratorOptions options;
    options.keys = 156;  // 4 + 16 + 64 + 72: the last of four levels partly filled
    options.fanOut = 4;
    options.values = 700;
    options.wideKeys = {100};
    return options;
}

std::size_t valueCount(const std::vector<KeySeen>& keys) {
    std::size_t n = 0;
    for (const KeySeen& key : keys) n += key.values.size();
    return n;
}

TEST(RegistryGenerator, SameOptionsGiveTheSameRegistryAndAnotherSeedAnotherContent) {
    const GeneratorOptions options = smallOptions();
    const std::vector<KeySeen> first = generateInMemory(options);
    const std::vector<KeySeen> second = generateInMemory(options);
    ASSERT_EQ(first.size(), 157u);
    EXPECT_TRUE(first == second);

    GeneratorOptions reseeded = options;
    reseeded.seed = 2;
    const std::vector<KeySeen> other = generateInMemory(reseeded);
    ASSERT_EQ(other.size(), first.size());
    EXPECT_EQ(valueCount(other), valueCount(first));
    EXPECT_FALSE(other == first);
}

TEST(RegistryGenerator, TreeHasTheAskedSizeFanOutDepthAndEvenSpread) {
    const GeneratorOptions options = smallOptions();
    const std::vector<KeySeen> keys = generateInMemory(options);
    std::size_t treeKeys = 0, maxDepth = 0;
    for (const KeySeen& key : keys) {
        if (key.path == u"\\Wide100") continue;
        ++treeKeys;
        maxDepth = std::max(maxDepth, key.depth);
        EXPECT_LE(key.subkeys, options.fanOut) << std::string(key.path.begin(), key.path.end());
        // 700 values over 156 keys: 4 or 5 each.
        EXPECT_GE(key.values.size(), 4u);
        EXPECT_LE(key.values.size(), 5u);
    }
    EXPECT_EQ(treeKeys, options.keys);
    EXPECT_EQ(maxDepth, 4u);
    EXPECT_EQ(tovik::bench::treeDepth(options), 4u);
    EXPECT_EQ(valueCount(keys), 800u);
}

TEST(RegistryGenerator, ValuesFollowTheTypeMixAndSizes) {
    GeneratorOptions options = smallOptions();
    options.mix = {50, 25, 15, 10};
    options.stringLength = 40;
    options.binarySize = 24;
    std::map<DWORD, std::size_t> types;
    for (const KeySeen& key : generateInMemory(options)) {
        for (const ValueSeen& value : key.values) {
            ++types[value.type];
            switch (value.type) {
            case REG_SZ:
                EXPECT_GE(value.data.size(), 2u * 30);
                EXPECT_LE(value.data.size(), 2u * 50);
                break;
            case REG_DWORD: EXPECT_EQ(value.data.size(), 4u); break;
            case REG_BINARY: EXPECT_EQ(value.data.size(), 24u); break;
            case REG_MULTI_SZ: EXPECT_EQ(value.data.size() % 2, 0u); break;
            default: ADD_FAILURE() << "unexpected type " << value.type;
            }
        }
    }
    // 800 values in all: the mix holds exactly for every hundred.
    EXPECT_EQ(types[REG_SZ], 400u);
    EXPECT_EQ(types[REG_DWORD], 200u);
    EXPECT_EQ(types[REG_BINARY], 120u);
    EXPECT_EQ(types[REG_MULTI_SZ], 80u);
}

TEST(RegistryGenerator, WideKeyHoldsItsValuesInCreationOrderBelowTheBase) {
    GeneratorOptions options;
    options.root = HKEY_CURRENT_USER;
    options.basePath = u"Bench\\Data";
    options.keys = 0;
    options.values = 0;
    options.wideKeys = {300, 20};
    tovik::openInMemoryRegistryStore();
    const tovik::bench::GeneratorResult result = tovik::bench::generateRegistry(options);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.values, 320u);
    HKEY wide = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Bench\\Data\\Wide300", 0, 0, &wide), ERROR_SUCCESS);
    std::vector<KeySeen> seen;
    walk(wide, u"", 0, seen);
    RegCloseKey(wide);
    tovik::closeRegistryStore();
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].values.size(), 300u);
    for (std::size_t i = 0; i < 300; ++i) {
        const std::u16string& name = seen[0].values[i].name;
        std::string suffix(1, '_');
        suffix += std::to_string(i);
        ASSERT_TRUE(name.size() > suffix.size() && std::equal(suffix.rbegin(), suffix.rend(), name.rbegin()))
            << "value " << i;
    }
}

TEST(RegistryGenerator, RefusesOptionsItCannotHonour) {
    GeneratorOptions options = smallOptions();
    EXPECT_EQ(tovik::bench::validateOptions(options), "");
    options.mix = {40, 30, 20, 20};
    EXPECT_NE(tovik::bench::validateOptions(options), "");

    options = smallOptions();
    options.fanOut = 1;
    options.keys = 600;  // a chain deeper than the store allows
    EXPECT_NE(tovik::bench::validateOptions(options), "");
    options.keys = 512;
    EXPECT_EQ(tovik::bench::validateOptions(options), "");  // the wide key sits at depth 1

    options = smallOptions();
    options.wideKeys = {10, 10};
    EXPECT_NE(tovik::bench::validateOptions(options), "");

    options = smallOptions();
    options.keys = 0;
    EXPECT_NE(tovik::bench::validateOptions(options), "");  // values but no keys
    options.basePath = u"A\\\\B";
    options.values = 0;
    EXPECT_NE(tovik::bench::validateOptions(options), "");

    tovik::openInMemoryRegistryStore();
    options = smallOptions();
    options.fanOut = 0;
    EXPECT_FALSE(tovik::bench::generateRegistry(options).ok);
    tovik::closeRegistryStore();
}

TEST(RegistryGenerator, FanOutForDepthIsTheSmallestThatFits) {
    EXPECT_EQ(tovik::bench::fanOutForDepth(100'000, 5), 10u);  // 10 + ... + 10^5 = 111,110 keys
    EXPECT_EQ(tovik::bench::fanOutForDepth(111'110, 5), 10u);
    EXPECT_EQ(tovik::bench::fanOutForDepth(111'111, 5), 11u);
    EXPECT_EQ(tovik::bench::fanOutForDepth(30, 30), 1u);
    EXPECT_EQ(tovik::bench::fanOutForDepth(30, 1), 30u);
    GeneratorOptions options;
    options.keys = 111'111;
    options.fanOut = tovik::bench::fanOutForDepth(options.keys, 5);
    EXPECT_EQ(tovik::bench::treeDepth(options), 5u);
}

TEST(RegistryGenerator, FileIsCompleteAndAnExistingFileIsLeftAlone) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tovik-gen-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "store.db").string();
    GeneratorOptions options = smallOptions();

    const tovik::bench::GeneratorResult made = tovik::bench::generateRegistryFile(path, options);
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(made.keys, 157u);
    EXPECT_EQ(made.values, 800u);
    EXPECT_FALSE(std::filesystem::exists(path + ".partial"));

    ASSERT_TRUE(tovik::openRegistryStore(path).ok);
    std::vector<KeySeen> keys;
    walk(HKEY_LOCAL_MACHINE, u"", 0, keys);
    tovik::closeRegistryStore();
    EXPECT_EQ(keys.size(), 158u);
    EXPECT_EQ(valueCount(keys), 800u);

    const auto sizeBefore = std::filesystem::file_size(path);
    options.seed = 9;
    EXPECT_FALSE(tovik::bench::generateRegistryFile(path, options).ok);
    EXPECT_EQ(std::filesystem::file_size(path), sizeBefore);
    std::filesystem::remove_all(dir);
}

}  // namespace
