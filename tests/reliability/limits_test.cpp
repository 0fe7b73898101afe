// Limits: keys deeper than 512 levels, key names over 255 characters and value names over 16,383
// characters are refused, by the registry operations and by tovik-reg with a clear error; walks
// over a chain 512 levels deep with the longest names (export, import, query, delete) run in a
// thread with a small stack; values of 16 MiB round-trip through export and import.
#include <gtest/gtest.h>
#include <pthread.h>

#include <filesystem>
#include <functional>

#include "backup/backup_export.h"
#include "backup/backup_import.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

using namespace reliability;

ChildExit tovikReg(const std::string& store, std::vector<std::string> args) {
    args.insert(args.begin(), {TOVIK_REG_PATH, "--registry", store});
    return RunChild({args, {}, {}, {}, {}}, 300);
}

// Runs work on a thread whose whole stack is stackBytes: a walk that recursed per level would
// overflow it at depth 512.
void OnSmallStack(std::size_t stackBytes, const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_t thread;
    auto* call = new std::function<void()>(work);
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* arg) -> void* {
                      auto* f = static_cast<std::function<void()>*>(arg);
                      (*f)();
                      delete f;
                      return nullptr;
                  },
                  call),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

std::size_t smallStack() {
    return TimeScale() > 1 ? 1024 * 1024 : 256 * 1024;
}

// n levels, each named with 255 characters ending in its level number.
std::u16string deepPath(int levels) {
    std::u16string path;
    for (int level = 1; level <= levels; ++level) {
        std::u16string name = Ascii(std::to_string(level));
        name.insert(0, static_cast<std::size_t>(kMaxKeyNameLength) - name.size(), u'd');
        if (!path.empty()) path += u'\\';
        path += name;
    }
    return path;
}

HKEY create(HKEY parent, const std::u16string& path, LONG* rc) {
    HKEY key = 0;
    DWORD disposition = 0;
    *rc = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition);
    return key;
}

class Limits : public ::testing::Test {
protected:
    void SetUp() override { tovik::openInMemoryRegistryStore(); }
    void TearDown() override { tovik::closeRegistryStore(); }
};

TEST_F(Limits, TheOperationsRefuseWhatLiesBeyond) {
    LONG rc = 0;
    // Depth: 512 levels in one call, then one more from a handle at 512, or 513 in one call.
    HKEY deepest = create(HKEY_LOCAL_MACHINE, deepPath(kMaxKeyDepth), &rc);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    create(deepest, u"one more", &rc);
    EXPECT_EQ(rc, ERROR_INVALID_PARAMETER);
    RegCloseKey(deepest);
    create(HKEY_CURRENT_USER, deepPath(kMaxKeyDepth + 1), &rc);
    EXPECT_EQ(rc, ERROR_INVALID_PARAMETER);
    HKEY opened = 0;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, deepPath(1).c_str(), 0, 0, &opened), ERROR_FILE_NOT_FOUND)
        << "nothing of the refused path was made";

    // Key names: 255 characters, not 256.
    RegCloseKey(create(HKEY_LOCAL_MACHINE, std::u16string(255, u'k'), &rc));
    EXPECT_EQ(rc, ERROR_SUCCESS);
    create(HKEY_LOCAL_MACHINE, std::u16string(256, u'k'), &rc);
    EXPECT_EQ(rc, ERROR_INVALID_PARAMETER);
    create(HKEY_LOCAL_MACHINE, u"ok\\" + std::u16string(256, u'k'), &rc);
    EXPECT_EQ(rc, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"ok", 0, 0, &opened), ERROR_FILE_NOT_FOUND);

    // Value names: 16,383 characters, not 16,384; also for deleting.
    HKEY key = create(HKEY_LOCAL_MACHINE, u"values", &rc);
    const DWORD one = 1;
    const std::u16string longest(kMaxValueNameLength, u'v');
    const std::u16string tooLong(kMaxValueNameLength + 1, u'v');
    EXPECT_EQ(RegSetValueExW(key, longest.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, tooLong.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteValueW(key, tooLong.c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteValueW(key, longest.c_str()), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(Limits, WalksAtDepth512WithTheLongestNamesNeedLittleStack) {
    LONG rc = 0;
    const std::u16string deep = u"Deep\\" + deepPath(kMaxKeyDepth - 1);
    HKEY bottom = create(HKEY_LOCAL_MACHINE, deep, &rc);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    const Bytes data = stringToBytes(u"at the bottom");
    ASSERT_EQ(RegSetValueExW(bottom, u"v", 0, REG_SZ, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    RegCloseKey(bottom);

    TempDir dir;
    const std::string file = dir.File("deep.txt");
    tovik::ExportResult exported;
    OnSmallStack(smallStack(), [&] { exported = tovik::exportKeyToFile(file, HKEY_LOCAL_MACHINE, u"Deep"); });
    ASSERT_EQ(exported.outcome, tovik::ExportOutcome::Written);
    EXPECT_EQ(exported.keys, static_cast<std::size_t>(kMaxKeyDepth));
    const std::string before = DumpRegistry();

    // Into a new store, and back out again identically.
    tovik::openInMemoryRegistryStore();
    tovik::ImportResult imported;
    OnSmallStack(smallStack(), [&] {
        const auto lines = tovik::readBackupFileAt(file);
        ASSERT_TRUE(lines.has_value());
        imported = tovik::importBackupLines(lines->lines);
    });
    EXPECT_EQ(imported.outcome, tovik::ImportOutcome::Finished);
    EXPECT_EQ(imported.keysCreated, static_cast<std::size_t>(kMaxKeyDepth));
    EXPECT_EQ(DumpRegistry(), before);

    bool deleted = false;
    OnSmallStack(smallStack(), [&] { deleted = deleteKeyTree(HKEY_LOCAL_MACHINE, u"Deep"); });
    EXPECT_TRUE(deleted);
    EXPECT_EQ(DumpRegistry(), "");
}

TEST(LimitsOfTovikReg, RefusedWithAClearErrorAndNothingMade) {
    TempDir dir;
    const std::string store = dir.File("registry.db");
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    tovik::closeRegistryStore();
    const std::string tooLongName(kMaxKeyNameLength + 1, 'k');
    std::string tooDeep = "HKLM";
    for (int i = 0; i <= kMaxKeyDepth; ++i) tooDeep += "\\k";
    const struct {
        std::vector<std::string> args;
        const char* error;
    } refused[] = {
        {{"add-key", tooDeep}, "key too deep: a key lies at most 512 levels below its root."},
        {{"add-key", "HKLM\\" + tooLongName}, "key name too long: a name in a key path has at most 255 characters."},
        {{"set", "HKLM\\Ok\\" + tooLongName, "v", "DW", "1"}, "key name too long"},
        {{"set", "HKLM\\Ok", std::string(kMaxValueNameLength + 1, 'v'), "DW", "1"},
         "value name too long: a value name has at most 16383 characters."},
        {{"set", tooDeep, "v", "SZ", "x"}, "key too deep"},
        {{"delete-key", tooDeep}, "key too deep"},
        {{"export", "HKLM\\" + tooLongName, "out.txt"}, "key name too long"},
    };
    for (const auto& call : refused) {
        const ChildExit run = tovikReg(store, call.args);
        EXPECT_EQ(run.code, 1) << call.args[0];
        EXPECT_NE(run.err.find(call.error), std::string::npos) << run.err;
    }
    const ChildExit query = tovikReg(store, {"query", "HKLM", "-r"});
    EXPECT_EQ(query.code, 0) << query.err;
    EXPECT_EQ(query.out, "[]\n") << "nothing was created";

    // Right at the limits everything is accepted.
    std::string deepest = "HKLM";
    for (int i = 0; i < kMaxKeyDepth; ++i) deepest += "\\k";
    EXPECT_EQ(tovikReg(store, {"add-key", deepest}).code, 0);
    EXPECT_EQ(tovikReg(store, {"set", "HKLM\\" + std::string(kMaxKeyNameLength, 'k'),
                               std::string(kMaxValueNameLength, 'v'), "DW", "1"})
                  .code,
              0);
    const ChildExit deep = tovikReg(store, {"query", deepest});
    EXPECT_EQ(deep.code, 0) << deep.err;
}

// Values of 16 MiB of each text form, written and read back by tovik-reg export and import.
TEST(LimitsOfTovikReg, SixteenMebibyteValuesRoundTrip) {
    constexpr std::size_t kSize = 16 << 20;
    TempDir dir;
    const std::string store = dir.File("registry.db");
    const std::string file = dir.File("big.txt");
    Bytes binary(kSize);
    for (std::size_t i = 0; i < kSize; ++i) binary[i] = static_cast<BYTE>(i * 7 + (i >> 12));
    std::u16string text(kSize / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(u'A' + i % 26 + (i % 97 == 0 ? 0x3000 : 0));
    std::u16string multi = text;
    for (std::size_t i = 1000; i < multi.size(); i += 1000) multi[i] = u'|';
    multi[multi.size() - 1] = multi[multi.size() - 2] = u'|';
    const struct {
        const char16_t* name;
        DWORD type;
        Bytes data;
    } values[] = {
        {u"binary", REG_BINARY, binary},
        {u"string", REG_SZ, stringToBytes(text)},
        {u"expand", REG_EXPAND_SZ, stringToBytes(text)},
        {u"multi", REG_MULTI_SZ, TextToMultiSz(multi)},
        {u"none", REG_NONE, binary},
    };
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    HKEY key = 0;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Large", 0, nullptr, 0, 0, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    for (const auto& v : values) {
        ASSERT_EQ(v.data.size(), kSize);
        ASSERT_EQ(RegSetValueExW(key, v.name, 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size())),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
    tovik::closeRegistryStore();

    const ChildExit exported = tovikReg(store, {"export", "HKCU\\Large", file});
    ASSERT_EQ(exported.code, 0) << exported.err;
    std::filesystem::remove(store);
    std::filesystem::remove(store + "-wal");
    std::filesystem::remove(store + "-shm");
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    tovik::closeRegistryStore();
    const ChildExit imported = tovikReg(store, {"import", file});
    ASSERT_EQ(imported.code, 0) << imported.err;

    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    for (const auto& v : values) {
        const auto back = ReadValue(HKEY_CURRENT_USER, u"Large", v.name);
        ASSERT_TRUE(back.has_value()) << Utf8(v.name);
        EXPECT_EQ(back->type, v.type) << Utf8(v.name);
        EXPECT_TRUE(back->data == v.data) << Utf8(v.name) << ": " << back->data.size() << " bytes back";
    }
    tovik::closeRegistryStore();
}

}  // namespace
