// The file model: reading every form of Wine's files, writing them back unchanged, and edits
// that change only what they must, in Wine's forms and order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "stores/wine/wine_name_order.h"
#include "stores/wine/wine_registry_file.h"
#include "wine_test_support.h"

namespace {

using namespace tovik::wine;
using ::testing::HasSubstr;
using wine_test::dword;
using wine_test::machineHeader;
using wine_test::parseOk;
using wine_test::sz;

// 2023-11-14 22:13:20 UTC, the key line's 1700000000.
constexpr std::uint64_t kT1 = 1700000000ull * 10000000ull + 116444736000000000ull;
constexpr std::uint64_t kNow = 1800000000ull * 10000000ull + 116444736000000000ull + 1234567;

const std::string kSample = machineHeader() + "\n[Software\\\\Classes\\\\.txt] 1700000000\n"
                                              "#time=1d0000000000001\n"
                                              "@=\"txtfile\"\n"
                                              "\"Content Type\"=\"text/plain\"\n"
                                              "\n[Software\\\\Wine] 1700000000\n"
                                              "#time=1d0000000000002\n"
                                              "#class=\"Cls\"\n"
                                              "#unknown option\n"
                                              ";; a comment\n"
                                              "\"Str\"=str:\"a\\\\b\\\"c\\x3042\\n\"\n"
                                              "\"Exp\"=str(2):\"%SystemRoot%\"\n"
                                              "\"Multi\"=str(7):\"one\\0two\\0\"\n"
                                              "\"Dw\"=dword:0000002a\n"
                                              "\"Bin\"=hex:01,02,\\\n"
                                              "  03,ff\n"
                                              "\"Other\"=hex(ffff0007):aa\n"
                                              "\"Odd\"=hex(1):61,00,62\n"
                                              "\"Utf8\"=\"\xE3\x81\x82\"\n"
                                              "\n[Software\\\\Wine\\\\Empty] 1700000000\n"
                                              "#time=1d0000000000003\n"
                                              "\n[System\\\\CurrentControlSet] 1700000000\n"
                                              "#time=1d0000000000004\n"
                                              "#link\n"
                                              "\"SymbolicLinkValue\"=hex(6):5c,00\n";

std::vector<std::u16string> subkeyNames(const WineKey& key) {
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < key.subkeyCount(); ++i) names.push_back(key.subkey(i)->name());
    return names;
}

std::vector<std::u16string> valueNames(const WineKey& key) {
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < key.valueCount(); ++i) names.push_back(key.value(i).name());
    return names;
}

std::unique_ptr<WineRegistryFile> sample() {
    auto file = parseOk(kSample);
    file->setClock([] { return kNow; });
    return file;
}

TEST(WineFileReading, EveryValueFormAndOption) {
    auto file = sample();
    WineKey* wine = file->findPath(file->root(), u"software\\WINE");
    ASSERT_NE(wine, nullptr);
    EXPECT_EQ(wine->name(), u"Wine") << "lookups ignore case, names keep it";
    EXPECT_EQ(valueNames(*wine),
              (std::vector<std::u16string>{u"Str", u"Exp", u"Multi", u"Dw", u"Bin", u"Other", u"Odd", u"Utf8"}));
    auto data = [&](std::u16string_view name) -> const WineValue& { return wine->value(*wine->findValue(name)); };
    EXPECT_EQ(data(u"str").type(), kRegSz);
    EXPECT_EQ(data(u"Str").data(), sz(u"a\\b\"c\u3042\n"));
    EXPECT_EQ(data(u"Exp").type(), kRegExpandSz);
    EXPECT_EQ(data(u"Exp").data(), sz(u"%SystemRoot%"));
    EXPECT_EQ(data(u"Multi").type(), kRegMultiSz);
    EXPECT_EQ(data(u"Multi").data(), sz(std::u16string(u"one\0two\0", 8)));
    EXPECT_EQ(data(u"Dw").type(), kRegDword);
    EXPECT_EQ(data(u"Dw").data(), dword(42));
    EXPECT_EQ(data(u"Bin").type(), kRegBinary);
    EXPECT_EQ(data(u"Bin").data(), std::string("\x01\x02\x03\xff", 4));
    EXPECT_EQ(data(u"Other").type(), 0xffff0007u);
    EXPECT_EQ(data(u"Odd").type(), kRegSz);
    EXPECT_EQ(data(u"Odd").data(), std::string("a\0b", 3));
    EXPECT_EQ(data(u"Utf8").data(), sz(u"\u3042"));
    EXPECT_EQ(wine->className(), std::u16string(u"Cls"));
    EXPECT_EQ(wine->lastWriteTime(), 0x1d0000000000002ull) << "#time wins over the key line";

    WineKey* link = file->findPath(file->root(), u"System\\CurrentControlSet");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->isLink());
    EXPECT_EQ(link->value(0).type(), kRegLink);
    EXPECT_EQ(file->arch(), "win64");
}

TEST(WineFileReading, ParentsAreImpliedAndSubkeysInWineOrder) {
    auto file = parseOk(machineHeader() + "\n[B\\\\x] 1\n\n[a\\\\_u] 1\n\n[a\\\\Z] 1\n\n[a] 1700000000\n\"v\"=\"1\"\n");
    EXPECT_EQ(subkeyNames(file->root()), (std::vector<std::u16string>{u"a", u"B"}));
    WineKey* a = file->root().findSubkey(u"A");
    ASSERT_NE(a, nullptr);
    // Wine compares lower-cased names: '_' (0x5f) sorts before 'z' (0x7a).
    EXPECT_EQ(subkeyNames(*a), (std::vector<std::u16string>{u"_u", u"Z"}));
    EXPECT_EQ(a->valueCount(), 1u) << "a later block of an implied key gives it its values";
    WineKey* b = file->root().findSubkey(u"b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->lastWriteTime(), 1 * 10000000ull + 116444736000000000ull)
        << "an implied key takes its first child's time";
}

TEST(WineFileReading, RepeatedKeysAndValuesMergeAsInWine) {
    const std::string text = machineHeader() + "\n[K] 1\n\"a\"=\"1\"\n\"b\"=\"2\"\n\"A\"=\"3\"\n"
                                               "\n[L] 1\n\n[k] 1\n\"c\"=\"4\"\n";
    auto file = parseOk(text);
    WineKey* k = file->root().findSubkey(u"K");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(valueNames(*k), (std::vector<std::u16string>{u"a", u"b", u"c"}));
    EXPECT_EQ(k->value(0).data(), sz(u"3")) << "the last line for a name holds its data";
    EXPECT_EQ(file->serialize(), text);
    // Once the key changes it is written as one block with one line per value.
    ASSERT_EQ(file->setValue(*k, u"d", kRegSz, sz(u"5")), EditResult::ok);
    const std::string saved = file->serialize();
    EXPECT_THAT(saved, HasSubstr("\"A\"=\"3\"\n\"b\"=\"2\"\n\"c\"=\"4\"\n\"d\"=\"5\"\n"));
    EXPECT_EQ(saved.find("\"a\"=\"1\""), std::string::npos);
    EXPECT_EQ(saved.find("[k]"), std::string::npos);
    auto again = parseOk(saved);
    EXPECT_EQ(valueNames(*again->root().findSubkey(u"K")), (std::vector<std::u16string>{u"A", u"b", u"c", u"d"}));
}

// Moved with its parent, an unchanged key that came in two blocks keeps every line it had in
// them, the blank lines between its blocks and its #time line included.
TEST(WineFileReading, ARepeatedKeyMovedWithItsParentKeepsItsLines) {
    const std::string text =
        machineHeader() + "\n[P\\\\K] 1\n#time=1\n\"a\"=\"1\"\n\n \n[L] 1\n\n[p\\\\k] 2\n\"c\"=\"4\"\n\n";
    auto file = parseOk(text);
    EXPECT_EQ(file->serialize(), text);
    ASSERT_EQ(file->renameKey(*file->root().findSubkey(u"P"), u"Q"), EditResult::ok);
    EXPECT_THAT(file->serialize(), HasSubstr("\n[Q\\\\K] 1\n#time=1\n\"a\"=\"1\"\n\n \n\"c\"=\"4\"\n"));
}

TEST(WineFileReading, SiblingsInAnyOrderEndInWineOrderAndMerge) {
    // Siblings shuffled, some repeated later in another case with a value of their own, some
    // implied by a deeper key first.
    std::mt19937 random(11);
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i) names.push_back((i % 3 == 0 ? "K" : "k") + std::to_string(i));
    std::shuffle(names.begin(), names.end(), random);
    std::string text = machineHeader();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i % 7 == 0) text += "\n[P\\\\" + names[i] + "\\\\deep] 1\n";
        text += "\n[P\\\\" + names[i] + "] 1\n\"first\"=\"1\"\n";
    }
    for (std::size_t i = 0; i < names.size(); i += 10) {
        std::string upper = names[i];
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        text += "\n[p\\\\" + upper + "] 1\n\"second\"=\"2\"\n";
    }
    auto file = parseOk(text);
    WineKey* p = file->root().findSubkey(u"P");
    ASSERT_NE(p, nullptr);
    std::vector<std::u16string> expected;
    for (const std::string& name : names) expected.emplace_back(name.begin(), name.end());
    std::sort(expected.begin(), expected.end(),
              [](const std::u16string& a, const std::u16string& b) { return compareNames(a, b) < 0; });
    EXPECT_EQ(subkeyNames(*p), expected);
    for (std::size_t i = 0; i < names.size(); ++i) {
        WineKey* key = p->findSubkey(std::u16string(names[i].begin(), names[i].end()));
        ASSERT_NE(key, nullptr) << names[i];
        EXPECT_EQ(key->valueCount(), i % 10 == 0 ? 2u : 1u) << names[i];
        EXPECT_EQ(key->subkeyCount(), i % 7 == 0 ? 1u : 0u) << names[i];
    }
    EXPECT_EQ(file->serialize(), text) << "an unedited file comes back byte for byte";
    WineKey* added = nullptr;
    ASSERT_EQ(file->createKey(*p, u"k1500a", &added), EditResult::ok);
    const auto after = subkeyNames(*p);
    const auto at = std::find(after.begin(), after.end(), u"k1500a");
    ASSERT_NE(at, after.end());
    EXPECT_TRUE(std::is_sorted(after.begin(), after.end(), [](const std::u16string& a, const std::u16string& b) {
        return compareNames(a, b) < 0;
    }));
}

TEST(WineFileReading, MalformedLinesAreKeptAsWineReadsThem) {
    const std::string text = machineHeader() +
                             "\n[Good] 1\n"
                             "\"NoEnd=\"x\n"      // a name without its closing quote is no value
                             "\"Bad\"=wrong:1\n"  // unknown data: Wine keeps an empty REG_NONE value
                             "\"Cut\"=\"no end\n"
                             "\"Hex\"=hex:01,zz\n"
                             "garbage line\n"
                             "\n[Broken 1\n"  // a key line without its bracket: dropped with its values
                             "\"x\"=\"y\"\n"
                             "\n[After] 1\r\n\"crlf\"=\"v\"\r\n";
    auto file = parseOk(text);
    WineKey* good = file->root().findSubkey(u"Good");
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(valueNames(*good), (std::vector<std::u16string>{u"Bad", u"Cut", u"Hex"}));
    for (std::size_t i = 0; i < good->valueCount(); ++i) {
        EXPECT_EQ(good->value(i).type(), kRegNone);
        EXPECT_EQ(good->value(i).data(), "");
    }
    EXPECT_EQ(subkeyNames(file->root()), (std::vector<std::u16string>{u"After", u"Good"}));
    EXPECT_EQ(file->root().findSubkey(u"After")->value(0).data(), sz(u"v"));
    EXPECT_EQ(file->serialize(), text);
}

TEST(WineFileReading, RefusesWhatWineRefuses) {
    std::string error;
    EXPECT_EQ(WineRegistryFile::parse("WINE REGISTRY Version 1\n", error), nullptr);
    EXPECT_THAT(error, HasSubstr("WINE REGISTRY Version 2"));
    EXPECT_EQ(WineRegistryFile::parse("", error), nullptr);
    EXPECT_EQ(WineRegistryFile::parse("REGEDIT4\n", error), nullptr);
    EXPECT_EQ(WineRegistryFile::parse(machineHeader("win16"), error), nullptr);
    EXPECT_THAT(error, HasSubstr("win16"));
    EXPECT_THAT(error, HasSubstr("line 4"));
    EXPECT_EQ(WineRegistryFile::parse(machineHeader("win32") + "#arch=win64\n", error), nullptr);
    EXPECT_THAT(error, HasSubstr("two architectures"));
    // An #arch inside a key is a key option, which Wine ignores.
    EXPECT_NE(WineRegistryFile::parse(machineHeader() + "[K] 1\n#arch=bad\n", error), nullptr);
    EXPECT_NE(WineRegistryFile::parse("WINE REGISTRY Version 2\r\n", error), nullptr);
}

TEST(WineFileWriting, UneditedFilesComeBackByteForByte) {
    EXPECT_EQ(sample()->serialize(), kSample);
    // Out of order, without a final line feed, odd spacing: still the same bytes.
    const std::string odd = machineHeader() + "[z] 5\n  \"v\" = dword:1\n[a]\n[]\n@=\"root\"";
    auto file = parseOk(odd);
    EXPECT_EQ(file->serialize(), odd);
    EXPECT_EQ(file->root().value(0).data(), sz(u"root"));
}

TEST(WineFileWriting, ValueEditsRewriteOnlyTheirKey) {
    auto file = sample();
    WineKey* wine = file->findPath(file->root(), u"Software\\Wine");
    ASSERT_EQ(file->setValue(*wine, u"Dw", kRegDword, dword(7)), EditResult::ok);
    ASSERT_EQ(file->deleteValue(*wine, u"EXP"), EditResult::ok);
    ASSERT_EQ(file->setValue(*wine, u"New", kRegBinary, "\x05"), EditResult::ok);
    EXPECT_EQ(file->deleteValue(*wine, u"missing"), EditResult::notFound);
    const std::string saved = file->serialize();
    const std::string before = kSample.substr(0, kSample.find("[Software\\\\Wine]"));
    const std::string after = kSample.substr(kSample.find("\n[Software\\\\Wine\\\\Empty]"));
    const std::string expected = before +
                                 "[Software\\\\Wine] 1800000000\n"
                                 "#time=1dda4c66b465687\n"
                                 "#class=\"Cls\"\n"
                                 "#unknown option\n"
                                 ";; a comment\n"
                                 "\"Str\"=str:\"a\\\\b\\\"c\\x3042\\n\"\n"
                                 "\"Multi\"=str(7):\"one\\0two\\0\"\n"
                                 "\"Dw\"=dword:00000007\n"
                                 "\"Bin\"=hex:01,02,\\\n"
                                 "  03,ff\n"
                                 "\"Other\"=hex(ffff0007):aa\n"
                                 "\"Odd\"=hex(1):61,00,62\n"
                                 "\"Utf8\"=\"\xE3\x81\x82\"\n"
                                 "\"New\"=hex:05\n" +
                                 after;
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(wine->lastWriteTime(), kNow);
}

TEST(WineFileWriting, SettingTheSameDataChangesNothing) {
    auto file = sample();
    WineKey* wine = file->findPath(file->root(), u"Software\\Wine");
    ASSERT_EQ(file->setValue(*wine, u"dw", kRegDword, dword(42)), EditResult::ok);
    EXPECT_FALSE(file->modified());
    EXPECT_EQ(file->serialize(), kSample);
}

TEST(WineFileWriting, NewKeysGoWhereWineWritesThem) {
    auto file = sample();
    WineKey* software = file->root().findSubkey(u"Software");
    WineKey* added = nullptr;
    bool created = false;
    ASSERT_EQ(file->createKey(*software, u"Tovik", &added, &created), EditResult::ok);
    EXPECT_TRUE(created);
    WineKey* inner = nullptr;
    ASSERT_EQ(file->createKey(*software, u"Apple", &inner), EditResult::ok);
    ASSERT_EQ(file->setValue(*inner, u"v", kRegSz, sz(u"x")), EditResult::ok);
    WineKey* again = nullptr;
    ASSERT_EQ(file->createKey(*software, u"TOVIK", &again, &created), EditResult::ok);
    EXPECT_FALSE(created);
    EXPECT_EQ(again, added);
    EXPECT_EQ(subkeyNames(*software), (std::vector<std::u16string>{u"Apple", u"Classes", u"Tovik", u"Wine"}));

    const std::string saved = file->serialize();
    const std::string apple = "\n[Software\\\\Apple] 1800000000\n#time=1dda4c66b465687\n\"v\"=\"x\"\n";
    const std::string tovik = "\n[Software\\\\Tovik] 1800000000\n#time=1dda4c66b465687\n";
    // Apple before Software\Classes, the empty Tovik between Classes and Wine.
    EXPECT_EQ(saved, machineHeader() + apple +
                         kSample.substr(machineHeader().size(),
                                        kSample.find("\n[Software\\\\Wine]") - machineHeader().size()) +
                         tovik + kSample.substr(kSample.find("\n[Software\\\\Wine]")))
        << saved;
    auto reread = parseOk(saved);
    EXPECT_NE(reread->findPath(reread->root(), u"Software\\Tovik"), nullptr)
        << "an empty new key is written and read back";
}

TEST(WineFileWriting, DeletingKeysFollowsWine) {
    auto file = sample();
    WineKey* wine = file->findPath(file->root(), u"Software\\Wine");
    EXPECT_EQ(file->deleteKey(*wine), EditResult::hasSubkeys);
    EXPECT_EQ(file->deleteKey(file->root()), EditResult::notAllowed);
    ASSERT_EQ(file->deleteKey(*wine->findSubkey(u"Empty")), EditResult::ok);
    std::string saved = file->serialize();
    EXPECT_EQ(saved.find("Empty"), std::string::npos);
    EXPECT_THAT(saved, HasSubstr("[Software\\\\Wine] 1800000000\n")) << "its parent is touched";

    // A key that only existed as a parent is written once its last subkey is gone.
    auto implied = parseOk(machineHeader() + "\n[P\\\\C] 1700000000\n#time=1d0000000000001\n");
    implied->setClock([] { return kNow; });
    WineKey* p = implied->root().findSubkey(u"P");
    ASSERT_EQ(implied->deleteKey(*p->findSubkey(u"C")), EditResult::ok);
    EXPECT_EQ(implied->serialize(), machineHeader() + "\n[P] 1800000000\n#time=1dda4c66b465687\n");
    // And a key whose values are all deleted but has subkeys is no longer written.
    auto parent = parseOk(machineHeader() + "\n[P] 1\n\"v\"=\"1\"\n\n[P\\\\C] 1\n");
    ASSERT_EQ(parent->deleteValue(*parent->root().findSubkey(u"P"), u"v"), EditResult::ok);
    EXPECT_EQ(parent->serialize(), machineHeader() + "\n[P\\\\C] 1\n");
}

TEST(WineFileWriting, RenamingAKeyMovesItsSubtreeAndKeepsItsValues) {
    auto file = parseOk(machineHeader() + "\n[A] 1\n#time=1\n\"a\"=\"1\"\n"
                                          "\n[B] 2\n#time=2\n\"b\"=\"2\"\n"
                                          "\n[B\\\\Sub] 3\n#time=3\n\"s\"=dword:00000003\n"
                                          "\n[C] 4\n#time=4\n");
    file->setClock([] { return kNow; });
    WineKey* b = file->root().findSubkey(u"B");
    EXPECT_EQ(file->renameKey(*b, u"a"), EditResult::alreadyExists);
    EXPECT_EQ(file->renameKey(*b, u"x\\y"), EditResult::invalidName);
    ASSERT_EQ(file->renameKey(*b, u"D"), EditResult::ok);
    EXPECT_EQ(subkeyNames(file->root()), (std::vector<std::u16string>{u"A", u"C", u"D"}));
    EXPECT_EQ(file->serialize(), machineHeader() + "\n[A] 1\n#time=1\n\"a\"=\"1\"\n"
                                                   "\n[C] 4\n#time=4\n"
                                                   "\n[D] 1800000000\n#time=1dda4c66b465687\n\"b\"=\"2\"\n"
                                                   "\n[D\\\\Sub] 3\n#time=3\n\"s\"=dword:00000003\n");
    EXPECT_EQ(file->pathOf(*b->subkey(0)), u"D\\Sub");
}

TEST(WineFileWriting, RenamingAValueKeepsTypeDataAndPlace) {
    auto file = sample();
    WineKey* wine = file->findPath(file->root(), u"Software\\Wine");
    EXPECT_EQ(file->renameValue(*wine, u"Dw", u"str"), EditResult::alreadyExists);
    EXPECT_EQ(file->renameValue(*wine, u"nope", u"x"), EditResult::notFound);
    ASSERT_EQ(file->renameValue(*wine, u"Dw", u"Count"), EditResult::ok);
    EXPECT_EQ(wine->value(3).name(), u"Count");
    EXPECT_EQ(wine->value(3).data(), dword(42));
    EXPECT_FALSE(wine->findValue(u"Dw"));
    EXPECT_THAT(file->serialize(), HasSubstr("\"Multi\"=str(7):\"one\\0two\\0\"\n\"Count\"=dword:0000002a\n"));
}

TEST(WineFileWriting, KeysAndValuesWithEscapedNames) {
    auto file = sample();
    WineKey* key = nullptr;
    ASSERT_EQ(file->createKey(file->root(), u"[x]\u3042", &key), EditResult::ok);
    ASSERT_EQ(file->setValue(*key, u"q\"\\", kRegSz, sz(u"\t")), EditResult::ok);
    const std::string saved = file->serialize();
    EXPECT_THAT(saved, HasSubstr("[\\[x\\]\\x3042] 1800000000\n"));
    EXPECT_THAT(saved, HasSubstr("\"q\\\"\\\\\"=\"\\t\"\n"));
    auto reread = parseOk(saved);
    WineKey* back = reread->root().findSubkey(u"[X]\u3042");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->value(0).name(), u"q\"\\");
}

TEST(WineFileWriting, LinkKeysTakeOnlyTheirTarget) {
    auto file = sample();
    WineKey* link = file->findPath(file->root(), u"System\\CurrentControlSet");
    EXPECT_EQ(file->setValue(*link, u"x", kRegSz, sz(u"1")), EditResult::notAllowed);
    EXPECT_EQ(file->setValue(*link, u"SymbolicLinkValue", kRegLink, "\\\0X\0"), EditResult::ok);
}

TEST(WineFileWriting, ManyValuesStayFindableThroughEdits) {
    auto file = parseOk(machineHeader() + "\n[K] 1\n");
    WineKey* key = file->root().findSubkey(u"K");
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(file->setValue(*key, u"v" + std::u16string(1, u'a' + i % 26) + char16_t(u'0' + i / 26), kRegDword,
                                 dword(i)),
                  EditResult::ok);
    ASSERT_EQ(file->deleteValue(*key, u"VA0"), EditResult::ok);
    ASSERT_EQ(file->renameValue(*key, u"vb0", u"first"), EditResult::ok);
    EXPECT_EQ(key->valueCount(), 499u);
    EXPECT_EQ(key->value(0).name(), u"first");
    EXPECT_EQ(*key->findValue(u"FIRST"), 0u);
    EXPECT_FALSE(key->findValue(u"vb0"));
    EXPECT_EQ(key->value(*key->findValue(u"vz9")).data(), dword(25 + 26 * 9));
    auto reread = parseOk(file->serialize());
    EXPECT_EQ(reread->root().findSubkey(u"K")->valueCount(), 499u);
}

}  // namespace
