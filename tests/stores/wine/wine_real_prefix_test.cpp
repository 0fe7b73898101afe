// With Wine itself (TOVIK_TEST_WINE=1 and wine on PATH): a fresh prefix comes back unchanged,
// Wine reads what the model wrote, the model reads what Wine wrote, and a running wineserver
// makes the prefix read-only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "registry/key_time.h"
#include "stores/wine/wine_prefix.h"
#include "wine_test_support.h"

namespace {

using namespace tovik::wine;
using ::testing::HasSubstr;
using ::testing::Not;
using wine_test::dword;
using wine_test::readBytes;
using wine_test::shellQuoted;
using wine_test::sz;
using wine_test::wineEnvironment;
using wine_test::wineWanted;

class WineCommands {
public:
    explicit WineCommands(std::string prefix) : prefix_(std::move(prefix)) {}
    // Runs `command` with the prefix and without a display; returns its standard output.
    std::string run(const std::string& command) const {
        const std::string line = wineEnvironment(prefix_) + command + " 2>/dev/null";
        std::string out;
        FILE* pipe = ::popen(line.c_str(), "r");
        if (!pipe) return out;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        ::pclose(pipe);
        return out;
    }
    void waitForServer() const { run("wineserver -w"); }

private:
    std::string prefix_;
};

// A fresh prefix made by wineboot, for tests that run Wine (skipped without TOVIK_TEST_WINE=1).
class WineRealPrefix : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!wineWanted(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(wine_test::makeWinePrefix(dir_)) << "wineboot -i made no prefix in " << dir_;
    }
    wine_test::ScratchDir scratch_;
    const std::string dir_ = (scratch_.path() / "prefix").string();
    const WineCommands wine_{dir_};
};

TEST_F(WineRealPrefix, RoundTripEditsBothWaysAndReadOnlyWhileWineRuns) {

    std::string error;
    auto prefix = WinePrefix::open(dir_, error);
    ASSERT_NE(prefix, nullptr) << error;
    ASSERT_FALSE(prefix->readOnly()) << prefix->readOnlyReason();
    {
        SCOPED_TRACE("a fresh prefix saved without change is byte for byte the same");
        EXPECT_EQ(prefix->machine().serialize(), readBytes(dir_ + "/system.reg"));
        EXPECT_EQ(prefix->user().serialize(), readBytes(dir_ + "/user.reg"));
    }
    {
        SCOPED_TRACE("Wine reads the values and keys written through the model");
        ASSERT_TRUE(prefix->beginWrite(error)) << error;
        WineRegistryFile& user = prefix->user();
        WineKey* tovik = nullptr;
        ASSERT_EQ(user.createKey(*prefix->currentUser().findSubkey(u"Software"), u"Tovik", &tovik), EditResult::ok);
        ASSERT_EQ(user.setValue(*tovik, u"S", kRegSz, sz(u"plain text")), EditResult::ok);
        ASSERT_EQ(user.setValue(*tovik, u"E", kRegExpandSz, sz(u"%PATH%")), EditResult::ok);
        ASSERT_EQ(user.setValue(*tovik, u"M", kRegMultiSz, sz(std::u16string(u"a\0b\0", 4))), EditResult::ok);
        ASSERT_EQ(user.setValue(*tovik, u"D", kRegDword, dword(42)), EditResult::ok);
        ASSERT_EQ(user.setValue(*tovik, u"B", kRegBinary, std::string("\x01\xff", 2)), EditResult::ok);
        ASSERT_EQ(user.setValue(*tovik, u"", kRegSz, sz(u"default")), EditResult::ok);
        WineKey* sub = nullptr;
        WineKey* gone = nullptr;
        ASSERT_EQ(user.createKey(*tovik, u"Sub", &sub), EditResult::ok);
        ASSERT_EQ(user.createKey(*tovik, u"Gone", &gone), EditResult::ok);
        ASSERT_EQ(user.deleteKey(*gone), EditResult::ok);
        WineKey* wineKey = prefix->machine().findPath(prefix->localMachine(), u"Software\\Wine");
        ASSERT_NE(wineKey, nullptr);
        ASSERT_EQ(prefix->machine().setValue(*wineKey, u"TovikMark", kRegDword, dword(7)), EditResult::ok);
        ASSERT_TRUE(prefix->commitWrite(error)) << error;

        const std::string out = wine_.run("wine reg query 'HKCU\\Software\\Tovik' /s");
        EXPECT_THAT(out, HasSubstr("    S    REG_SZ    plain text\r\n"));
        EXPECT_THAT(out, HasSubstr("    E    REG_EXPAND_SZ    %PATH%\r\n"));
        EXPECT_THAT(out, HasSubstr("    M    REG_MULTI_SZ    a\\0b\r\n"));
        EXPECT_THAT(out, HasSubstr("    D    REG_DWORD    0x2a\r\n"));
        EXPECT_THAT(out, HasSubstr("    B    REG_BINARY    01FF\r\n"));
        EXPECT_THAT(out, HasSubstr("REG_SZ    default\r\n"));
        EXPECT_THAT(out, HasSubstr("HKEY_CURRENT_USER\\Software\\Tovik\\Sub\r\n"));
        EXPECT_THAT(out, Not(HasSubstr("Gone")));
        EXPECT_THAT(wine_.run("wine reg query 'HKLM\\Software\\Wine' /v TovikMark"),
                    HasSubstr("TovikMark    REG_DWORD    0x7"));
        wine_.waitForServer();
    }
    {
        SCOPED_TRACE("the model reads exactly what Wine wrote");
        const std::string key = "'HKCU\\Software\\FromWine'";
        wine_.run("wine reg add " + key + " /v S /t REG_SZ /d 'h\xC3\xA9llo' /f");
        wine_.run("wine reg add " + key + " /v E /t REG_EXPAND_SZ /d '%TEMP%\\x' /f");
        wine_.run("wine reg add " + key + " /v M /t REG_MULTI_SZ /d 'one\\0two' /f");
        wine_.run("wine reg add " + key + " /v D /t REG_DWORD /d 4294967295 /f");
        wine_.run("wine reg add " + key + " /v B /t REG_BINARY /d 00ff10 /f");
        wine_.run("wine reg add " + key + " /v Q /t REG_QWORD /d 0x1122334455667788 /f");
        wine_.waitForServer();
        auto reread = WinePrefix::open(dir_, error);
        ASSERT_NE(reread, nullptr) << error;
        WineKey* from = reread->user().findPath(reread->currentUser(), u"Software\\FromWine");
        ASSERT_NE(from, nullptr);
        auto value = [&](std::u16string_view name) -> const WineValue& {
            static const WineValue none{};
            const auto index = from->findValue(name);
            return index ? from->value(*index) : none;
        };
        EXPECT_EQ(value(u"S").type(), kRegSz);
        EXPECT_EQ(value(u"S").data(), sz(u"h\u00e9llo"));
        EXPECT_EQ(value(u"E").type(), kRegExpandSz);
        EXPECT_EQ(value(u"E").data(), sz(u"%TEMP%\\x"));
        EXPECT_EQ(value(u"M").type(), kRegMultiSz);
        EXPECT_EQ(value(u"M").data(), sz(std::u16string(u"one\0two\0", 8)));
        EXPECT_EQ(value(u"D").data(), dword(0xFFFFFFFFu));
        EXPECT_EQ(value(u"B").data(), std::string("\x00\xff\x10", 3));
        EXPECT_EQ(value(u"Q").type(), 11u);
        EXPECT_EQ(value(u"Q").data(), std::string("\x88\x77\x66\x55\x44\x33\x22\x11", 8));
        WineKey* tovik = reread->user().findPath(reread->currentUser(), u"Software\\Tovik");
        ASSERT_NE(tovik, nullptr) << "Wine kept the keys written through the model";
        EXPECT_NE(tovik->findSubkey(u"Sub"), nullptr);
    }
    {
        SCOPED_TRACE("while wineserver runs the prefix is read-only");
        wine_.run("wineserver -p");
        auto running = WinePrefix::open(dir_, error);
        ASSERT_NE(running, nullptr) << error;
        EXPECT_TRUE(running->readOnly());
        EXPECT_THAT(running->readOnlyReason(), HasSubstr("Wine is running this prefix"));
        EXPECT_FALSE(running->beginWrite(error));
        wine_.run("wineserver -k");
        wine_.waitForServer();
        auto stopped = WinePrefix::open(dir_, error);
        ASSERT_NE(stopped, nullptr) << error;
        EXPECT_FALSE(stopped->readOnly()) << stopped->readOnlyReason();
    }
}

// The time a fresh read of the prefix gives HKCU\path; 0 when the key is missing.
std::int64_t userKeyTime(const std::string& dir, std::u16string_view path) {
    std::string error;
    auto prefix = WinePrefix::open(dir, error);
    EXPECT_NE(prefix, nullptr) << error;
    if (!prefix) return 0;
    const WineKey* key = prefix->user().findPath(prefix->currentUser(), path);
    return key ? static_cast<std::int64_t>(key->lastWriteTime()) : 0;
}

// wineserver and the model touch the same keys, and each keeps the other's times: the model reads
// what wineserver wrote, wineserver reads back what the model wrote and writes it again unchanged.
TEST_F(WineRealPrefix, KeyTimesAreTouchedAsWineserverTouchesThemAndKeptBothWays) {
    wine_.waitForServer();
    const std::int64_t environment = userKeyTime(dir_, u"Environment");
    ASSERT_GT(environment, 0);

    // wineserver: a new key touches it and its parent; the same data again touches nothing.
    std::int64_t before = tovik::fileTimeNow();
    wine_.run("wine reg add 'HKCU\\Software\\Timed\\Sub' /f");
    wine_.run("wine reg add 'HKCU\\Software\\Timed' /v Mark /t REG_DWORD /d 1 /f");
    wine_.waitForServer();
    std::int64_t after = tovik::fileTimeNow();
    const std::int64_t timed = userKeyTime(dir_, u"Software\\Timed");
    const std::int64_t sub = userKeyTime(dir_, u"Software\\Timed\\Sub");
    EXPECT_GE(timed, before);
    EXPECT_LE(timed, after);
    EXPECT_GE(sub, before);
    EXPECT_LE(sub, after);
    EXPECT_EQ(userKeyTime(dir_, u"Environment"), environment) << "a key wineserver did not write keeps its time";
    wine_.run("wine reg add 'HKCU\\Software\\Timed' /v Mark /t REG_DWORD /d 1 /f");
    wine_.run("wine reg add 'HKCU\\Software\\Other' /f");  // so that wineserver saves user.reg
    wine_.waitForServer();
    EXPECT_EQ(userKeyTime(dir_, u"Software\\Timed"), timed) << "wineserver skips setting the same data";

    // The model: the same rule, and its times survive wineserver's load and save exactly.
    std::string error;
    auto prefix = WinePrefix::open(dir_, error);
    ASSERT_NE(prefix, nullptr) << error;
    ASSERT_TRUE(prefix->beginWrite(error)) << error;
    WineRegistryFile& user = prefix->user();
    WineKey* key = user.findPath(prefix->currentUser(), u"Software\\Timed");
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(user.setValue(*key, u"Mark", kRegDword, dword(1)), EditResult::ok);
    EXPECT_EQ(static_cast<std::int64_t>(key->lastWriteTime()), timed) << "the same data again touches nothing";
    before = tovik::fileTimeNow();
    ASSERT_EQ(user.setValue(*key, u"Mark", kRegDword, dword(2)), EditResult::ok);
    const std::int64_t written = static_cast<std::int64_t>(key->lastWriteTime());
    EXPECT_GE(written, before);
    ASSERT_TRUE(prefix->commitWrite(error)) << error;
    prefix.reset();
    EXPECT_EQ(userKeyTime(dir_, u"Software\\Timed\\Sub"), sub);

    wine_.run("wine reg add 'HKCU\\Software\\Another' /f");
    wine_.waitForServer();
    EXPECT_NE(userKeyTime(dir_, u"Software\\Another"), 0) << "wineserver saved user.reg again";
    EXPECT_EQ(userKeyTime(dir_, u"Software\\Timed"), written);
    EXPECT_EQ(userKeyTime(dir_, u"Software\\Timed\\Sub"), sub);
    EXPECT_EQ(userKeyTime(dir_, u"Environment"), environment);
}

}  // namespace
