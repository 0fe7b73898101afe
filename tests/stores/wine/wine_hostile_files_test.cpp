// Hostile Wine registry files: cut anywhere, broken escapes, very long lines, deep keys and a
// million values give a clear error or a correct result, and unedited files still come back as
// they were.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "stores/wine/wine_registry_file.h"
#include "wine_test_support.h"

namespace {

using namespace tovik::wine;
using ::testing::HasSubstr;
using wine_test::machineHeader;

const std::string kText = machineHeader() +
                          "\n[Software\\\\A\\x3042] 1700000000\n#time=1d0000000000001\n#class=\"c\"\n"
                          "@=\"d\\\"q\\x41\\101\"\n\"B\"=hex:01,02,\\\n  03\n\"M\"=str(7):\"a\\0b\\0\"\n"
                          "\"D\"=dword:ffffffff\n\"T\"=hex(ffff0007):00\n\n[Software\\\\B] 1\n";

TEST(WineHostileFiles, EveryTruncationReadsOrFailsCleanly) {
    for (std::size_t n = 0; n <= kText.size(); ++n) {
        const std::string cut = kText.substr(0, n);
        std::string error;
        auto file = WineRegistryFile::parse(cut, error);
        if (!file) {
            // Only a cut first line or a cut architecture name is refused, as Wine refuses them.
            const bool inArch = error.find("architecture") != std::string::npos;
            EXPECT_TRUE(n < std::string("WINE REGISTRY Version 2\n").size() || inArch) << error;
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(file->serialize(), cut) << "cut at " << n;
    }
}

TEST(WineHostileFiles, GarbageLinesNeverBreakTheRoundTrip) {
    std::mt19937 random(16);
    const std::string pieces[] = {
        "[",  "]",  "\\", "\"",   "@", "=",        "#time=", "hex(",   "):",   "str(7):\"", "\\x",   "\\0",      ",",
        "\n", "\r", " ",  "\\\n", "a", "\xE3\x81", "\0",     "dword:", "hex:", "ff",        "#link", "#class=\""};
    for (int round = 0; round < 300; ++round) {
        std::string text = machineHeader();
        const int count = static_cast<int>(random() % 60);
        for (int i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
        std::string error;
        auto file = WineRegistryFile::parse(text, error);
        ASSERT_NE(file, nullptr) << error;
        EXPECT_EQ(file->serialize(), text);
        // Edits on whatever was read still give a file that reads back.
        WineKey* key = nullptr;
        ASSERT_EQ(file->createKey(file->root(), u"Tovik", &key), EditResult::ok);
        ASSERT_EQ(file->setValue(*key, u"v", kRegSz, std::string("x\0\0\0", 4)), EditResult::ok);
        auto reread = WineRegistryFile::parse(file->serialize(), error);
        ASSERT_NE(reread, nullptr) << error;
        WineKey* back = reread->root().findSubkey(u"Tovik");
        ASSERT_NE(back, nullptr) << file->serialize();
        ASSERT_TRUE(back->findValue(u"v"));
    }
}

TEST(WineHostileFiles, HundredMegabyteLines) {
    const std::size_t bytes = 100u << 20;
    std::string text = machineHeader() + "\n[K] 1\n\"hex\"=hex:";
    text.reserve(text.size() + bytes + 64);
    std::size_t listed = 0;
    for (; text.size() < bytes; ++listed) text += "ab,";
    text += "cd\n\"cut\"=\"";
    text.append(bytes, 'x');  // never closed
    text += "\n";
    std::string error;
    auto file = WineRegistryFile::parse(text, error);
    ASSERT_NE(file, nullptr) << error;
    WineKey* key = file->root().findSubkey(u"K");
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->valueCount(), 2u);
    const std::string_view data = key->value(0).data();
    EXPECT_EQ(data.size(), listed + 1);
    EXPECT_EQ(data.back(), '\xcd');
    EXPECT_EQ(key->value(1).type(), kRegNone) << "an unterminated string reads as Wine reads it";
    EXPECT_EQ(file->serialize().size(), text.size());
}

TEST(WineHostileFiles, KeysNestedTooDeepAreRefused) {
    auto nested = [](std::size_t levels) {
        std::string path;
        for (std::size_t i = 0; i < levels; ++i) path += (i ? "\\\\k" : "k");
        return machineHeader() + "\n[" + path + "] 1\n";
    };
    std::string error;
    EXPECT_EQ(WineRegistryFile::parse(nested(1000), error), nullptr);
    EXPECT_THAT(error, HasSubstr("512 levels"));
    auto file = WineRegistryFile::parse(nested(kMaxKeyDepth), error);
    ASSERT_NE(file, nullptr) << error;
    WineKey* deepest = &file->root();
    while (deepest->subkeyCount()) deepest = deepest->subkey(0);
    EXPECT_EQ(deepest->depth(), kMaxKeyDepth);
    EXPECT_EQ(file->createKey(*deepest, u"one more", nullptr), EditResult::tooDeep);
}

TEST(WineHostileFiles, AMillionValuesInOneKey) {
    std::string text = machineHeader() + "\n[K] 1\n";
    for (int i = 0; i < 1000000; ++i) text += "\"v" + std::to_string(i) + "\"=dword:1\n";
    text += "\"V999999\"=dword:2\n";  // the same name again, in another case
    std::string error;
    auto file = WineRegistryFile::parse(text, error);
    ASSERT_NE(file, nullptr) << error;
    WineKey* key = file->root().findSubkey(u"K");
    ASSERT_EQ(key->valueCount(), 1000000u);
    EXPECT_EQ(key->value(999999).data(), wine_test::dword(2));
    EXPECT_EQ(*key->findValue(u"v123456"), 123456u);
    EXPECT_EQ(file->serialize(), text);
}

}  // namespace
