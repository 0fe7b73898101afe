// Searching value data across a registry: the hits of every type, with every option, are the
// values whose shown data text matches, in the walk's order; the last key's values are found;
// a data search stops when cancelled.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "find/registry_find.h"
#include "find/text_match.h"
#include "find_test_util.h"
#include "registry/value_types.h"
#include "support/registry_fixture.h"

namespace {

using namespace tovik::find;
using find_test::describe;
using find_test::findOne;
using testing_support::SetValue;

struct Written {
    DWORD type;
    Bytes data;
};

FindOptions dataOnly(std::u16string text, bool matchCase, bool whole) {
    FindOptions options;
    options.text = std::move(text);
    options.keyNames = options.valueNames = false;
    options.matchCase = matchCase;
    options.wholeMatch = whole;
    return options;
}

// Keys below HKLM\Data with values of every type and random data; HKLM\Data\zz Last is the
// walk's last key.
class DataSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::FreshRegistry();
        std::mt19937 rng(7);
        const std::vector<DWORD> types = {
            REG_NONE, REG_SZ,       REG_EXPAND_SZ,     REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
            REG_LINK, REG_MULTI_SZ, REG_RESOURCE_LIST, 11};
        const std::u16string units = u"abAB09 |()-\u00E9\u00C9";
        for (int k = 0; k < 30; ++k) {
            const std::u16string path = u"Data\\K" + std::u16string(1, static_cast<char16_t>(u'a' + k % 26)) +
                                        std::u16string(1, static_cast<char16_t>(u'0' + k / 26));
            for (std::size_t t = 0; t < types.size(); ++t) {
                Bytes data;
                const std::size_t length = rng() % 6;
                if (types[t] == REG_SZ || types[t] == REG_EXPAND_SZ || types[t] == REG_MULTI_SZ) {
                    std::u16string text;
                    for (std::size_t i = 0; i < length; ++i) text += units[rng() % units.size()];
                    if (types[t] == REG_MULTI_SZ && rng() % 2) text += u'|';
                    data = types[t] == REG_MULTI_SZ ? TextToMultiSz(text) : stringToBytes(text);
                } else {
                    for (std::size_t i = 0; i < length; ++i)
                        data.push_back(static_cast<std::uint8_t>(rng() % 3 ? 0xA0 + rng() % 4 : rng()));
                }
                write(path, u"v" + std::u16string(1, static_cast<char16_t>(u'0' + t)), types[t], data);
            }
        }
        write(u"Data\\zz Last", u"bin", REG_BINARY, Bytes{0xDE, 0xC0, 0xAD});
        write(u"Data\\zz Last", u"dw", REG_DWORD, dwordToBytes(987654321));
        write(u"Data\\zz Last", u"multi", REG_MULTI_SZ, TextToMultiSz(u"tail|end||"));
        write(u"Data\\zz Last", u"sz", REG_SZ, stringToBytes(u"Final Text"));
    }

    void write(const std::u16string& path, const std::u16string& name, DWORD type, Bytes data) {
        SetValue(HKEY_LOCAL_MACHINE, path, name, type, data);
        written_[u"HKEY_LOCAL_MACHINE\\" + path + u"\\" + name] = {type, std::move(data)};
    }

    // What matching each value's shown text gives, in the walk's order.
    std::vector<std::string> expectedHits(const FindOptions& options) const {
        FindOptions every;
        every.keyNames = every.data = false;  // the empty text: every value, in order
        RegistryFind all = RegistryFind::findAll(every, SIZE_MAX);
        runFind(all);
        const TextMatcher matcher(options.text, options.matchCase, options.wholeMatch);
        std::vector<std::string> hits;
        for (const FindHit& value : all.hits()) {
            const Written& w = written_.at(value.fullKeyPath() + u"\\" + value.valueName);
            if (matcher.matches(formatValueText(w.type, w.data.data(), w.data.size(), SIZE_MAX)))
                hits.push_back(describe(value) + "=");
        }
        return hits;
    }

    std::map<std::u16string, Written> written_;
};

TEST_F(DataSearchTest, FindsExactlyTheValuesWhoseShownDataMatches) {
    const std::vector<std::u16string> texts = {
        u"A0",        u"a1 a", u" A2 ", u"0(",     u"(0)", u"-",  u"|",     u"b|",        u"\u00E9",
        u"AB",        u"0A",   u"A3 ",  u"a0 a1 ", u"1",   u"()", u"Final", u"DE C0 AD ", u"987654321(3ADE68B1)",
        u"tail|end||"};
    int nonEmpty = 0;
    for (const std::u16string& text : texts) {
        for (const bool matchCase : {false, true}) {
            for (const bool whole : {false, true}) {
                const FindOptions options = dataOnly(text, matchCase, whole);
                RegistryFind find = RegistryFind::findAll(options, SIZE_MAX);
                ASSERT_EQ(runFind(find, {}, 7), FindStatus::Finished);
                std::vector<std::string> hits;
                for (const FindHit& hit : find.hits()) {
                    hits.push_back(describe(hit));
                    // The hit shows the text where it matched.
                    EXPECT_TRUE(
                        TextMatcher(text, matchCase, true).matches(hit.text.substr(hit.matchStart, hit.matchLength)));
                }
                const std::vector<std::string> expected = expectedHits(options);
                EXPECT_EQ(hits, expected)
                    << find_test::narrow(text) << " matchCase " << matchCase << " whole " << whole;
                nonEmpty += !expected.empty();
            }
        }
    }
    EXPECT_GT(nonEmpty, 40);  // most searches have hits to compare
}

TEST_F(DataSearchTest, TheLastKeysValuesAreFoundByTheirData) {
    const FindStart top = FindStart::edge();
    EXPECT_EQ(findOne(dataOnly(u"de c0 ad", false, false), FindDirection::Next, top),
              "HKEY_LOCAL_MACHINE\\Data\\zz Last [bin]=");
    EXPECT_EQ(findOne(dataOnly(u"987654321(3ADE68B1)", true, true), FindDirection::Next, top),
              "HKEY_LOCAL_MACHINE\\Data\\zz Last [dw]=");
    EXPECT_EQ(findOne(dataOnly(u"END|", false, false), FindDirection::Next, top),
              "HKEY_LOCAL_MACHINE\\Data\\zz Last [multi]=");
    FindHit hit;
    EXPECT_EQ(findOne(dataOnly(u"final text", false, true), FindDirection::Next, top, &hit),
              "HKEY_LOCAL_MACHINE\\Data\\zz Last [sz]=");
    EXPECT_EQ(hit.text, u"Final Text");
    EXPECT_EQ(hit.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(findOne(dataOnly(u"final text", true, true), FindDirection::Next, top), "");
    // Backward from the end the last key's data is the first hit.
    EXPECT_EQ(findOne(dataOnly(u"ad ", false, false), FindDirection::Previous, top),
              "HKEY_LOCAL_MACHINE\\Data\\zz Last [bin]=");
}

TEST_F(DataSearchTest, ACancelledDataSearchFindsNothingMore) {
    RegistryFind find(dataOnly(u"Final Text", true, true), FindDirection::Next, FindStart::edge());
    ASSERT_EQ(find.step(5), FindStatus::Running);
    find.cancel();
    EXPECT_EQ(find.step(100000), FindStatus::Cancelled);
    EXPECT_LT(find.valuesExamined(), written_.size());

    RegistryFind again(dataOnly(u"Final Text", true, true), FindDirection::Next, FindStart::edge());
    EXPECT_EQ(runFind(
                  again, [](const RegistryFind& f) { return f.valuesExamined() < 50; }, 10),
              FindStatus::Cancelled);
}

}  // namespace
