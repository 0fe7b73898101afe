#pragma once
// What the hive tests share: a hive file in a fresh folder, hivexsh as an independent reader and
// writer, and the model's operations by path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hive_builder.h"
#include "stores/hive/hive_model.h"

namespace tovik::hive::testing {

// Runs hivexsh on file with the script on its input (-w: commits when the script says so).
inline std::string hivexSh(const std::string& file, const std::string& script, bool write = false) {
    TempFolder scratch;
    writeFile(scratch.file("script"), std::vector<std::uint8_t>(script.begin(), script.end()));
    return runCommand(std::string("hivexsh ") + (write ? "-w " : "") + "'" + file + "' < '" + scratch.file("script") +
                      "' 2>&1");
}

inline std::unique_ptr<HiveModel> openHive(const std::string& path, bool writable) {
    HiveResult result;
    std::unique_ptr<HiveModel> model = HiveModel::open(path, HiveOpenOptions{writable}, result);
    EXPECT_TRUE(model != nullptr) << result.message;
    return model;
}

// The key at a '\'-separated path below the root; fails the test when it is missing.
inline NodeId keyAt(HiveModel& model, std::u16string_view path) {
    NodeId key = model.root();
    while (!path.empty()) {
        const std::size_t slash = path.find(u'\\');
        NodeId child = 0;
        const HiveResult found = model.findChild(key, path.substr(0, slash), child);
        EXPECT_TRUE(found.ok()) << found.message;
        if (!found.ok()) return key;
        key = child;
        path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
    }
    return key;
}

inline std::vector<std::u16string> subkeyNames(HiveModel& model, NodeId key) {
    std::vector<std::u16string> names;
    std::size_t count = 0;
    EXPECT_TRUE(model.subkeyCount(key, count).ok());
    for (std::size_t i = 0; i < count; ++i) {
        NodeId child = 0;
        EXPECT_TRUE(model.subkeyAt(key, i, child).ok());
        names.push_back(model.name(child));
    }
    return names;
}

inline std::vector<std::u16string> valueNames(HiveModel& model, NodeId key) {
    std::vector<std::u16string> names;
    std::size_t count = 0;
    EXPECT_TRUE(model.valueCount(key, count).ok());
    for (std::size_t i = 0; i < count; ++i) {
        const HiveValue* value = nullptr;
        EXPECT_TRUE(model.valueAt(key, i, value).ok());
        names.push_back(value->name);
    }
    return names;
}

inline std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    return std::vector<std::uint8_t>(list.begin(), list.end());
}

// A writable empty hive in a fresh folder.
struct HiveFixture : ::testing::Test {
    TempFolder folder;
    std::string hivePath = folder.file("SOFTWARE");
    void SetUp() override { writeFile(hivePath, emptyHiveBytes()); }
};

}  // namespace tovik::hive::testing
