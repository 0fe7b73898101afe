// The registry semantics every store keeps, run through the registry operations against each
// kind of store: names, order, case, the unnamed value, paths, deletion, durability, two
// processes, enumeration by index and renaming; and a store that is read-only refuses writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "history/recording_backend.h"
#include "history/undo_redo.h"
#include "hive_test_store.h"
#include "registry/backend.h"
#include "registry/key_time.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "wine_test_support.h"

namespace {

struct StoreKind {
    std::string name;
    bool persistent;  // a file that another process, or this one later, opens again
    std::function<bool(const std::string& path)> open;
    bool unicodeKeyNames = true;  // false: key names of printable ASCII only (hive files)
    // Names order as folded to upper case (Windows, the Tovik store) or to lower case (Wine,
    // whose own order a prefix's files keep): '_' sorts after the letters or before them.
    bool lowerCaseOrder = false;
    // Strings are written as Windows' tools write them, with their terminators (a registry that
    // Windows or Wine reads), or as the Tovik store keeps them, without.
    bool windowsStrings = false;
};

// A Wine prefix in the folder beside path, made empty (as Wine starts one) the first time.
bool openWinePrefixBeside(const std::string& path) {
    const std::filesystem::path dir = std::filesystem::path(path).parent_path() / "prefix";
    if (!std::filesystem::exists(dir / "system.reg")) wine_test::makeEmptyPrefix(dir);
    tovik::RegistrySource source;
    source.kind = tovik::RegistrySource::Kind::WinePrefix;
    source.path = dir.string();
    const tovik::StoreOpenResult opened = tovik::openRegistry(source);
    return opened.ok && !opened.readOnly;
}

void PrintTo(const StoreKind& kind, std::ostream* out) {
    *out << kind.name;
}

std::vector<StoreKind> storeKinds() {
    return {
        {"SqliteFile", true, [](const std::string& path) { return tovik::openRegistryStore(path).ok; }},
        {"SqliteMemory", false,
         [](const std::string&) {
             tovik::openInMemoryRegistryStore();
             return true;
         }},
        {"HiveFiles", true, [](const std::string& path) { return tovik::testing::openTestHives(path, true); }, false,
         false, true},
        {"WinePrefix", true, openWinePrefixBeside, true, true, true},
    };
}

HKEY create(HKEY root, const std::u16string& path, DWORD* disposition = nullptr) {
    HKEY key = 0;
    DWORD made = 0;
    EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &made), ERROR_SUCCESS);
    if (disposition) *disposition = made;
    return key;
}

LONG open(HKEY root, const std::u16string& path, HKEY* key) {
    return RegOpenKeyExW(root, path.c_str(), 0, 0, key);
}

void setDword(HKEY key, const std::u16string& name, DWORD value) {
    EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
}

std::vector<std::u16string> subkeysOf(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

struct Value {
    std::u16string name;
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const Value&) const = default;
};

std::vector<Value> valuesOf(HKEY key) {
    std::vector<Value> values;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD length = 256, type = 0, size = 64;
        BYTE data[64];
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        values.push_back({std::u16string(name, length), type, std::vector<BYTE>(data, data + size)});
    }
    return values;
}

std::vector<std::u16string> valueNames(HKEY key) {
    std::vector<std::u16string> names;
    for (const Value& v : valuesOf(key)) names.push_back(v.name);
    return names;
}

// The backend's id of root\path, walking name by name; kNoKey when a name is missing.
tovik::KeyId idOf(HKEY root, const std::u16string& path) {
    tovik::Backend& store = *tovik::currentBackend();
    tovik::KeyId id = store.rootKey(root);
    std::size_t start = 0;
    while (id != tovik::kNoKey && start < path.size()) {
        const std::size_t cut = std::min(path.find(u'\\', start), path.size());
        id = store.findChild(id, std::u16string_view(path).substr(start, cut - start));
        start = cut + 1;
    }
    return id;
}

class StoreContract : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovik-contract-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/registry.db";
        // The change history is kept in the user's state folder: here, this test's own.
        setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
        ASSERT_TRUE(GetParam().open(path_));
    }
    void TearDown() override {
        tovik::closeRegistryStore();
        std::filesystem::remove_all(dir_);
    }
    std::string dir_, path_;
};

TEST_P(StoreContract, NamesCompareWithoutCaseAndKeepTheirCase) {
    const bool unicode = GetParam().unicodeKeyNames;
    const std::u16string middle = unicode ? u"Ünïcode" : u"MiXed";
    const HKEY key = create(HKEY_CURRENT_USER, unicode ? u"Software\\Ünïcode\\Жук" : u"Software\\MiXed\\Case");
    HKEY again = 0;
    ASSERT_EQ(open(HKEY_CURRENT_USER, unicode ? u"SOFTWARE\\üNÏCODE\\жУК" : u"SOFTWARE\\mIxED\\cASE", &again),
              ERROR_SUCCESS);
    DWORD disposition = 0;
    RegCloseKey(create(HKEY_CURRENT_USER, u"software", &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    HKEY software = 0;
    ASSERT_EQ(open(HKEY_CURRENT_USER, u"Software", &software), ERROR_SUCCESS);
    EXPECT_EQ(subkeysOf(software), std::vector<std::u16string>{middle});

    setDword(key, u"Speed", 1);
    setDword(again, u"SPEED", 2);  // the same value: overwritten, first spelling kept
    const std::vector<Value> values = valuesOf(key);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, u"Speed");
    EXPECT_EQ(values[0].data, (std::vector<BYTE>{2, 0, 0, 0}));
    EXPECT_EQ(RegDeleteValueW(key, u"speed"), ERROR_SUCCESS);
    EXPECT_TRUE(valuesOf(key).empty());
    for (HKEY h : {key, again, software}) RegCloseKey(h);
}

// The ASCII letters of text in the other case.
std::u16string swapCase(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
        else if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return text;
}

TEST_P(StoreContract, AKeysStoredPathIsTheOneItsParentsList) {
    const bool unicode = GetParam().unicodeKeyNames;
    RegCloseKey(create(HKEY_CURRENT_USER, unicode ? u"Software\\Ünïcode\\Жук" : u"Software\\MiXed\\Case"));
    RegCloseKey(create(HKEY_LOCAL_MACHINE, u"Software\\Wine\\Direct3D"));
    std::u16string stored = u"stale";
    if (unicode) {
        ASSERT_EQ(RegQueryStoredPath(HKEY_CURRENT_USER, u"SOFTWARE\\üNÏCODE\\жУК", &stored), ERROR_SUCCESS);
        EXPECT_EQ(stored.substr(stored.find(u'\\')), u"\\Ünïcode\\Жук");
    }
    // Every key down to three levels, asked for with its letters in the other case, is found under
    // the names its parents list (for hive files that includes the keys where hives are mounted).
    std::size_t checked = 0;
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        std::vector<std::u16string> paths{u""};
        for (std::size_t next = 0; next < paths.size() && checked < 200; ++next) {
            const std::u16string parentPath = paths[next];
            HKEY parent = 0;
            if (open(root, parentPath, &parent) != ERROR_SUCCESS) continue;
            for (const std::u16string& name : subkeysOf(parent)) {
                const std::u16string path = parentPath.empty() ? name : parentPath + u"\\" + name;
                ASSERT_EQ(RegQueryStoredPath(root, swapCase(path).c_str(), &stored), ERROR_SUCCESS);
                EXPECT_EQ(stored, path);
                ++checked;
                if (std::count(path.begin(), path.end(), u'\\') < 2) paths.push_back(path);
            }
            RegCloseKey(parent);
        }
    }
    EXPECT_GE(checked, 5u);
    HKEY software = 0;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, u"software", &software), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryStoredPath(software, u"WINE\\direct3d", &stored), ERROR_SUCCESS);
    EXPECT_EQ(stored, u"Wine\\Direct3D");
    EXPECT_EQ(RegQueryStoredPath(software, u"Wine\\Missing", &stored), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(stored.empty());
    RegCloseKey(software);
}

TEST_P(StoreContract, SubkeysListInNameOrderAndValuesInCreationOrder) {
    const HKEY key = create(HKEY_LOCAL_MACHINE, u"Order");
    for (const char16_t* name : {u"delta", u"Bravo", u"alpha", u"Charlie", u"_under", u"10", u"9"})
        RegCloseKey(create(key, name));
    // Folded to upper case '_' (0x5F) sorts after the letters, to lower case before them; digits
    // compare unit by unit.
    if (GetParam().lowerCaseOrder)
        EXPECT_EQ(subkeysOf(key),
                  (std::vector<std::u16string>{u"10", u"9", u"_under", u"alpha", u"Bravo", u"Charlie", u"delta"}));
    else
        EXPECT_EQ(subkeysOf(key),
                  (std::vector<std::u16string>{u"10", u"9", u"alpha", u"Bravo", u"Charlie", u"delta", u"_under"}));

    for (const char16_t* name : {u"zulu", u"Alpha", u"mike"}) setDword(key, name, 0);
    setDword(key, u"ALPHA", 7);  // overwriting keeps the value's place
    EXPECT_EQ(valueNames(key), (std::vector<std::u16string>{u"zulu", u"Alpha", u"mike"}));
    EXPECT_EQ(RegDeleteValueW(key, u"zulu"), ERROR_SUCCESS);
    setDword(key, u"zulu", 0);  // made again: now the newest
    EXPECT_EQ(valueNames(key), (std::vector<std::u16string>{u"Alpha", u"mike", u"zulu"}));
    RegCloseKey(key);
}

TEST_P(StoreContract, TheUnnamedValueHasTheEmptyName) {
    const HKEY key = create(HKEY_CLASSES_ROOT, u".txt");
    const BYTE text[] = {'t', 0, 0, 0};
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, text, sizeof text), ERROR_SUCCESS);
    setDword(key, u"Other", 3);
    const std::vector<Value> values = valuesOf(key);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], (Value{u"", REG_SZ, {text, text + sizeof text}}));
    EXPECT_EQ(RegDeleteValueW(key, u""), ERROR_SUCCESS);  // "" and null name the same value
    EXPECT_EQ(valueNames(key), std::vector<std::u16string>{u"Other"});
    EXPECT_EQ(RegDeleteValueW(key, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_P(StoreContract, CreatingAPathCreatesEveryMissingKey) {
    DWORD disposition = 0;
    RegCloseKey(create(HKEY_CURRENT_USER, u"A\\B\\C\\D", &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    for (const char16_t* path : {u"A", u"A\\B", u"A\\B\\C", u"A\\B\\C\\D"}) {
        HKEY key = 0;
        EXPECT_EQ(open(HKEY_CURRENT_USER, path, &key), ERROR_SUCCESS) << "missing after create";
        RegCloseKey(key);
    }
    RegCloseKey(create(HKEY_CURRENT_USER, u"A\\B\\C\\D", &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(create(HKEY_CURRENT_USER, u"A\\B\\E", &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    HKEY b = 0;
    ASSERT_EQ(open(HKEY_CURRENT_USER, u"A\\B", &b), ERROR_SUCCESS);
    EXPECT_EQ(subkeysOf(b), (std::vector<std::u16string>{u"C", u"E"}));
    RegCloseKey(b);
}

TEST_P(StoreContract, AKeyWithSubkeysIsNotDeleted) {
    const HKEY parent = create(HKEY_LOCAL_MACHINE, u"Parent");
    RegCloseKey(create(parent, u"Child"));
    setDword(parent, u"Kept", 1);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(valueNames(parent), std::vector<std::u16string>{u"Kept"}) << "a refused delete changed the key";

    EXPECT_EQ(RegDeleteKeyW(parent, u"Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(parent, u"Child"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Parent"), ERROR_SUCCESS);
    // The handle outlives its key: it reads as deleted, and writes through it fail.
    EXPECT_EQ(RegDeleteValueW(parent, u"Kept"), ERROR_KEY_DELETED);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(parent, u"New", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_KEY_DELETED);
    HKEY child = 0;
    EXPECT_EQ(RegCreateKeyExW(parent, u"Orphan", 0, nullptr, 0, 0, nullptr, &child, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED) << "a root was deleted";
    RegCloseKey(parent);
    RegCloseKey(create(HKEY_LOCAL_MACHINE, u"Parent"));  // made again: empty
    HKEY again = 0;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, u"Parent", &again), ERROR_SUCCESS);
    EXPECT_TRUE(valuesOf(again).empty());
    EXPECT_TRUE(subkeysOf(again).empty());
    RegCloseKey(again);
}

TEST_P(StoreContract, EnumerationByIndexReachesAnyIndexAndSaysWhenABufferIsShort) {
    const HKEY key = create(HKEY_CURRENT_USER, u"Many");
    std::vector<std::u16string> expected;
    for (int i = 0; i < 300; ++i) {
        std::u16string name = u"k";
        for (char c : std::to_string(1000 + i)) name.push_back(static_cast<char16_t>(c));
        expected.push_back(name);
        RegCloseKey(create(key, name));
    }
    // Backwards and by leaps, not only 0, 1, 2, ...
    for (DWORD i = 300; i-- > 0;) {
        WCHAR name[16];
        DWORD length = 16;
        ASSERT_EQ(RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(std::u16string(name, length), expected[i]);
    }
    WCHAR name[16];
    DWORD length = 16;
    EXPECT_EQ(RegEnumKeyExW(key, 300, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    length = 5;  // "k1000" needs 5 units and the terminator
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 5u);

    setDword(key, u"Number", 42);
    DWORD type = 0, size = 2, nameLength = 16;
    BYTE data[4];
    EXPECT_EQ(RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegEnumValueW(key, 1, name, &nameLength, nullptr, &type, data, &size), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST_P(StoreContract, RenamingAKeyTakesItsSubtreeAndRefusesATakenName) {
    const HKEY key = create(HKEY_CURRENT_USER, u"Old\\Inner\\Deep");
    setDword(key, u"Here", 5);
    RegCloseKey(key);
    RegCloseKey(create(HKEY_CURRENT_USER, u"Taken"));
    tovik::Backend& store = *tovik::currentBackend();
    const tovik::KeyId old = idOf(HKEY_CURRENT_USER, u"Old");
    ASSERT_NE(old, tovik::kNoKey);

    EXPECT_EQ(store.renameKey(old, u"TAKEN"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(store.renameKey(old, u"Bad\\Name"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(store.renameKey(store.rootKey(HKEY_CURRENT_USER), u"Other"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(store.renameKey(old, u"New"), ERROR_SUCCESS);

    HKEY gone = 0, moved = 0;
    EXPECT_EQ(open(HKEY_CURRENT_USER, u"Old", &gone), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(open(HKEY_CURRENT_USER, u"new\\inner\\deep", &moved), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(moved), std::vector<std::u16string>{u"Here"});
    RegCloseKey(moved);
    EXPECT_EQ(subkeysOf(HKEY_CURRENT_USER), (std::vector<std::u16string>{u"New", u"Taken"}));

    EXPECT_EQ(store.renameKey(old, u"NEW"), ERROR_SUCCESS) << "a change of case alone";
    EXPECT_EQ(subkeysOf(HKEY_CURRENT_USER), (std::vector<std::u16string>{u"NEW", u"Taken"}));
    const tovik::KeyId taken = idOf(HKEY_CURRENT_USER, u"Taken");
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Taken"), ERROR_SUCCESS);
    EXPECT_EQ(store.renameKey(taken, u"X"), ERROR_KEY_DELETED);
}

// When root\path was last written, as RegQueryInfoKeyW gives it; -1 when it cannot be opened.
std::int64_t writeTime(HKEY root, const std::u16string& path) {
    HKEY key = 0;
    if (open(root, path, &key) != ERROR_SUCCESS) return -1;
    FILETIME time{};
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, &time),
              ERROR_SUCCESS);
    RegCloseKey(key);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// The keys below HKCU\Software\Times whose times a test follows, and the times last seen.
class KeyTimes {
public:
    explicit KeyTimes(std::vector<std::u16string> keys) : keys_(std::move(keys)) { remember(); }
    void remember() {
        seen_.clear();
        for (const std::u16string& key : keys_) seen_.push_back(writeTime(HKEY_CURRENT_USER, path(key)));
    }
    // Runs write, then expects exactly the keys named in touched to carry a time from its run and
    // every other key to keep the time it had.
    void expectAfter(const char* what, const std::function<void()>& write, const std::vector<std::u16string>& touched) {
        const std::int64_t before = tovik::fileTimeNow();
        write();
        const std::int64_t after = tovik::fileTimeNow();
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            const std::int64_t now = writeTime(HKEY_CURRENT_USER, path(keys_[i]));
            if (now == -1) continue;  // deleted or renamed away
            const bool expected = std::find(touched.begin(), touched.end(), keys_[i]) != touched.end();
            const std::string name(keys_[i].begin(), keys_[i].end());
            if (!expected && seen_[i] == -1) continue;  // a key that came by a rename: its test checks it
            if (expected) {
                EXPECT_GE(now, before) << what << ": " << name;
                EXPECT_LE(now, after) << what << ": " << name;
            } else {
                EXPECT_EQ(now, seen_[i]) << what << ": " << name << " was not written";
            }
        }
        remember();
    }
    std::vector<std::int64_t> seen() const { return seen_; }
    static std::u16string path(const std::u16string& key) {
        return key.empty() ? u"Software\\Times" : u"Software\\Times\\" + key;
    }

private:
    std::vector<std::u16string> keys_;
    std::vector<std::int64_t> seen_;
};

// As Windows and wineserver keep them: setting (to other data) or deleting a value touches its
// key; creating a key touches it and its parent, deleting one its parent; renaming touches the key
// only; everything else keeps its time, through saving and opening again. (Every key holds a value
// or no subkeys: a Wine file keeps no time for others, whose times come from their subkeys'.)
TEST_P(StoreContract, WritesTouchTheTimesOfTheKeysTheyChangeAndNoOthers) {
    const HKEY top = create(HKEY_CURRENT_USER, u"Software\\Times");
    setDword(top, u"Keep", 1);
    RegCloseKey(top);
    KeyTimes times({u"", u"A", u"A\\Deep", u"B", u"C", u"C\\Deep", u"D", u"D\\Deep"});
    times.expectAfter("create A\\Deep", [] { RegCloseKey(create(HKEY_CURRENT_USER, KeyTimes::path(u"A\\Deep"))); },
                      {u"", u"A", u"A\\Deep"});
    EXPECT_GT(times.seen()[1], tovik::fileTimeFromUnixSeconds(1500000000));
    times.expectAfter("create B", [] { RegCloseKey(create(HKEY_CURRENT_USER, KeyTimes::path(u"B"))); }, {u"", u"B"});
    times.expectAfter("open A again", [] { RegCloseKey(create(HKEY_CURRENT_USER, KeyTimes::path(u"A"))); }, {});

    HKEY a = 0;
    ASSERT_EQ(open(HKEY_CURRENT_USER, KeyTimes::path(u"A"), &a), ERROR_SUCCESS);
    times.expectAfter("set", [&] { setDword(a, u"Keep", 1); }, {u"A"});
    times.expectAfter("set another", [&] { setDword(a, u"Speed", 1); }, {u"A"});
    times.expectAfter("set the same", [&] { setDword(a, u"speed", 1); }, {});
    times.expectAfter("set other data", [&] { setDword(a, u"Speed", 2); }, {u"A"});
    times.expectAfter("rename a value", [&] { EXPECT_EQ(RegRenameValueW(a, u"Speed", u"Pace"), ERROR_SUCCESS); },
                      {u"A"});
    times.expectAfter("delete a value", [&] { EXPECT_EQ(RegDeleteValueW(a, u"Pace"), ERROR_SUCCESS); }, {u"A"});
    times.expectAfter("delete no value", [&] { EXPECT_EQ(RegDeleteValueW(a, u"Pace"), ERROR_FILE_NOT_FOUND); }, {});
    RegCloseKey(a);

    times.expectAfter("a batch",
                      [] {
                          tovik::RegistryBatch batch;
                          HKEY b = create(HKEY_CURRENT_USER, KeyTimes::path(u"B"));
                          for (DWORD i = 0; i < 3; ++i)
                              setDword(b, u"Batched" + std::u16string(1, static_cast<char16_t>(u'0' + i)), i);
                          RegCloseKey(b);
                          // As an import makes keys: a key, its value, a key below it.
                          HKEY d = create(HKEY_CURRENT_USER, KeyTimes::path(u"D"));
                          setDword(d, u"Made", 1);
                          RegCloseKey(d);
                          RegCloseKey(create(HKEY_CURRENT_USER, KeyTimes::path(u"D\\Deep")));
                          EXPECT_TRUE(batch.finish());
                      },
                      {u"", u"B", u"D", u"D\\Deep"});
    times.expectAfter("delete B",
                      [] { EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, KeyTimes::path(u"B").c_str()), ERROR_SUCCESS); },
                      {u""});
    const std::int64_t deepBefore = times.seen()[2];
    times.expectAfter(
        "rename A",
        [] { EXPECT_EQ(RegRenameKey(HKEY_CURRENT_USER, KeyTimes::path(u"A").c_str(), u"C"), ERROR_SUCCESS); }, {u"C"});
    EXPECT_EQ(times.seen()[5], deepBefore) << "a renamed key's subkeys keep their times";

    if (!GetParam().persistent) return;
    const std::vector<std::int64_t> kept = times.seen();
    tovik::closeRegistryStore();
    ASSERT_TRUE(GetParam().open(path_));
    times.remember();
    EXPECT_EQ(times.seen(), kept) << "times survive saving and opening again";
}

TEST_P(StoreContract, RenamingAValueKeepsItsTypeDataAndPlace) {
    const HKEY key = create(HKEY_CURRENT_USER, u"Values");
    setDword(key, u"first", 1);
    const BYTE bytes[] = {9, 8, 7};
    ASSERT_EQ(RegSetValueExW(key, u"middle", 0, REG_BINARY, bytes, sizeof bytes), ERROR_SUCCESS);
    setDword(key, u"last", 3);
    tovik::Backend& store = *tovik::currentBackend();
    const tovik::KeyId id = idOf(HKEY_CURRENT_USER, u"Values");

    EXPECT_EQ(store.renameValue(id, u"MIDDLE", u"Renamed"), ERROR_SUCCESS);
    const std::vector<Value> values = valuesOf(key);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[1], (Value{u"Renamed", REG_BINARY, {9, 8, 7}}));
    EXPECT_EQ(store.renameValue(id, u"renamed", u"LAST"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(store.renameValue(id, u"missing", u"x"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.renameValue(id, u"renamed", u"RENAMED"), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key), (std::vector<std::u16string>{u"first", u"RENAMED", u"last"}));
    RegCloseKey(key);
}

TEST_P(StoreContract, StringsTheEditorsWriteEndAsTheRegistrysOwnToolsEndThem) {
    const HKEY key = create(HKEY_CURRENT_USER, u"Strings");
    const struct {
        const char16_t* name;
        DWORD type;
        const char16_t* text;
        Bytes plain;       // as the Tovik store keeps it
        Bytes terminated;  // as Windows' tools write it
    } cases[] = {
        {u"sz", REG_SZ, u"ab", {'a', 0, 'b', 0}, {'a', 0, 'b', 0, 0, 0}},
        {u"expand", REG_EXPAND_SZ, u"%P%", {'%', 0, 'P', 0, '%', 0}, {'%', 0, 'P', 0, '%', 0, 0, 0}},
        {u"multi", REG_MULTI_SZ, u"a|b", {'a', 0, 0, 0, 'b', 0}, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {u"ended", REG_MULTI_SZ, u"a||", {'a', 0, 0, 0, 0, 0}, {'a', 0, 0, 0, 0, 0}},
        {u"none", REG_MULTI_SZ, u"", {}, {0, 0}},
        {u"empty", REG_SZ, u"", {}, {0, 0}},
    };
    for (const auto& c : cases) {
        const Bytes data = tovik::valueDataToWrite(c.type, c.text);
        ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    }
    RegCloseKey(key);
    if (GetParam().persistent) {
        tovik::closeRegistryStore();
        ASSERT_TRUE(GetParam().open(path_));
    }
    HKEY reopened = 0;
    ASSERT_EQ(open(HKEY_CURRENT_USER, u"Strings", &reopened), ERROR_SUCCESS);
    std::vector<Value> expected;
    for (const auto& c : cases)
        expected.push_back({c.name, c.type, GetParam().windowsStrings ? c.terminated : c.plain});
    EXPECT_EQ(valuesOf(reopened), expected);
    RegCloseKey(reopened);
}

TEST_P(StoreContract, AWriteThatSucceededSurvivesTheProcessBeingKilled) {
    if (!GetParam().persistent) GTEST_SKIP() << "nothing outlives this store's process";
    tovik::closeRegistryStore();  // a connection must not cross fork()
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!GetParam().open(path_)) _exit(2);
        HKEY key = 0;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Durable", 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS)
            _exit(3);
        const DWORD value = 77;
        if (RegSetValueExW(key, u"Kept", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) !=
            ERROR_SUCCESS)
            _exit(4);
        kill(getpid(), SIGKILL);  // no close, no clean exit
        _exit(5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child failed with " << WEXITSTATUS(status);
    ASSERT_TRUE(GetParam().open(path_));
    HKEY key = 0;
    ASSERT_EQ(open(HKEY_CURRENT_USER, u"Durable", &key), ERROR_SUCCESS);
    EXPECT_EQ(valuesOf(key), (std::vector<Value>{{u"Kept", REG_DWORD, {77, 0, 0, 0}}}));
    RegCloseKey(key);
}

// Keys below root\path, the key itself included; 0 when it is missing.
std::size_t keysIn(HKEY root, const std::u16string& path) {
    HKEY key = 0;
    if (open(root, path, &key) != ERROR_SUCCESS) return 0;
    std::size_t count = 1;
    for (const std::u16string& name : subkeysOf(key)) count += keysIn(root, path + u"\\" + name);
    RegCloseKey(key);
    return count;
}

std::u16string digits(int n) {
    const std::string text = std::to_string(n);
    return std::u16string(text.begin(), text.end());
}

// Device, inode and change time of each file: a save replaces at least one of them.
std::vector<std::uint64_t> fileStamps(const std::vector<std::string>& files) {
    std::vector<std::uint64_t> stamps;
    for (const std::string& file : files) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) st = {};
        stamps.insert(stamps.end(), {static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_size),
                                     static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u + st.st_mtim.tv_nsec});
    }
    return stamps;
}

TEST_P(StoreContract, ASubtreeDeleteOrRenameKilledAtAnyMomentLeavesTheSubtreeWholeOrGone) {
    if (!GetParam().persistent) GTEST_SKIP() << "nothing outlives this store's process";
    if (tovik::currentBackend()->commitsAlongTheWay())
        GTEST_SKIP() << "this store commits a long delete along the way and keeps each commit";
    // Groups of 100 keys.
    constexpr int kGroups = 20;
    constexpr std::size_t kKeys = 1 + kGroups * 101;
    const std::vector<std::string> files = tovik::currentBackend()->files();
    std::mt19937 random(7);
    for (const bool rename : {false, true}) {
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE((rename ? "rename, round " : "delete, round ") + std::to_string(round));
            ASSERT_TRUE(GetParam().open(path_));
            ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Moved"));
            ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Doomed"));
            {
                tovik::RegistryBatch batch;
                for (int g = 0; g < kGroups; ++g) {
                    for (int k = 0; k < 100; ++k) {
                        const std::u16string path = u"Doomed\\G" + digits(g) + u"\\K" + digits(k);
                        RegCloseKey(create(HKEY_CURRENT_USER, path));
                    }
                }
                ASSERT_TRUE(batch.finish());
            }
            ASSERT_EQ(keysIn(HKEY_CURRENT_USER, u"Doomed"), kKeys);
            tovik::closeRegistryStore();  // a store must not cross fork()
            const std::vector<std::uint64_t> before = fileStamps(files);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (!GetParam().open(path_)) _exit(2);
                if (rename) _exit(RegRenameKey(HKEY_CURRENT_USER, u"Doomed", u"Moved") == ERROR_SUCCESS ? 0 : 3);
                _exit(deleteKeyTree(HKEY_CURRENT_USER, u"Doomed") ? 0 : 4);
            }
            // Round 0 kills right after the first save; the others at a random moment.
            int status = 0;
            bool ended = false;
            if (round == 0) {
                while (fileStamps(files) == before && !(ended = waitpid(child, &status, WNOHANG) == child)) {}
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 150000));
            }
            if (!ended) {
                kill(child, SIGKILL);
                ASSERT_EQ(waitpid(child, &status, 0), child);
            }
            ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0)
                << "the child failed with " << WEXITSTATUS(status);
            ASSERT_TRUE(GetParam().open(path_));
            const std::size_t doomed = keysIn(HKEY_CURRENT_USER, u"Doomed");
            const std::size_t moved = keysIn(HKEY_CURRENT_USER, u"Moved");
            if (rename) {
                EXPECT_TRUE((doomed == kKeys && moved == 0) || (doomed == 0 && moved == kKeys))
                    << doomed << " keys under the old name, " << moved << " under the new";
            } else {
                EXPECT_TRUE(doomed == kKeys || doomed == 0) << doomed << " of " << kKeys << " keys left";
            }
            tovik::closeRegistryStore();
        }
    }
}

TEST_P(StoreContract, TwoProcessesSeeEachOthersWrites) {
    if (!GetParam().persistent) GTEST_SKIP() << "no other process can open this store";
    tovik::closeRegistryStore();  // a connection must not cross fork()
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char go = 0;
        if (read(toChild[0], &go, 1) != 1 || !GetParam().open(path_)) _exit(2);
        HKEY key = 0;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared", 0, 0, &key) != ERROR_SUCCESS) _exit(3);
        const DWORD value = 1;
        if (RegSetValueExW(key, u"FromChild", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) !=
            ERROR_SUCCESS)
            _exit(4);
        if (write(toParent[1], "d", 1) != 1 || read(toChild[0], &go, 1) != 1) _exit(5);
        WCHAR name[32];
        DWORD length = 32;
        // The parent's value follows the child's in creation order.
        if (RegEnumValueW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) _exit(6);
        _exit(std::u16string(name, length) == u"FromParent" ? 0 : 7);
    }
    ASSERT_TRUE(GetParam().open(path_));
    const HKEY key = create(HKEY_CURRENT_USER, u"Shared");
    EXPECT_TRUE(valuesOf(key).empty());  // the handle has read the list before the child writes
    ASSERT_EQ(write(toChild[1], "g", 1), 1);
    char done = 0;
    ASSERT_EQ(read(toParent[0], &done, 1), 1);
    EXPECT_EQ(valueNames(key), std::vector<std::u16string>{u"FromChild"});
    setDword(key, u"FromParent", 2);
    ASSERT_EQ(write(toChild[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's check failed: " << status;
    RegCloseKey(key);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

// ---- Undo and redo: every kind of change, on every store ----

// Everything below root\path: each key's path, then its values (name, type, data) in the order the
// registry lists them, then its subkeys; values sorted by name when sortValues (an undone value
// delete brings the value back at the end of the creation order).
void dumpTree(HKEY root, const std::u16string& path, std::vector<std::u16string>& out, bool sortValues) {
    HKEY key = 0;
    if (open(root, path, &key) != ERROR_SUCCESS) return;
    out.push_back(u"[" + path + u"]");
    std::vector<std::u16string> values;
    for (DWORD i = 0;; ++i) {
        WCHAR name[512];
        static BYTE data[65536];
        DWORD length = 512, type = 0, size = sizeof data;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::u16string line(name, length);
        line += u"=" + digits(static_cast<int>(type)) + u":";
        for (DWORD b = 0; b < size; ++b) line += digits(data[b]) + u",";
        values.push_back(line);
    }
    if (sortValues) std::sort(values.begin(), values.end());
    out.insert(out.end(), values.begin(), values.end());
    const std::vector<std::u16string> subkeys = subkeysOf(key);
    RegCloseKey(key);
    for (const std::u16string& name : subkeys) dumpTree(root, path + u"\\" + name, out, sortValues);
}

std::vector<std::u16string> dump(bool sortValues = true) {
    std::vector<std::u16string> out;
    dumpTree(HKEY_CURRENT_USER, u"Area", out, sortValues);
    return out;
}

tovik::history::RecordingBackend& recorder() {
    tovik::history::RecordingBackend* recorder = tovik::history::currentRecorder();
    if (!recorder) throw std::runtime_error("the registry is not recorded");
    return *recorder;
}

void setBinary(HKEY key, const std::u16string& name, std::vector<BYTE> data, DWORD type = REG_BINARY) {
    EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
}

// One change of each kind, made as one command, on the tree that MakeArea builds.
struct ChangeCase {
    const char* name;
    std::function<void()> change;
    // Changes what the change touched behind the history's back (another program).
    std::function<void(tovik::Backend& unrecorded)> interfere;
};

void makeArea() {
    tovik::history::ChangeScope scope(u"make the area");
    const HKEY area = create(HKEY_CURRENT_USER, u"Area");
    setDword(area, u"first", 1);
    setBinary(area, u"blob", {1, 2, 3});
    setDword(area, u"last", 3);
    const HKEY inner = create(area, u"Inner\\Deep");
    setDword(inner, u"deep", 4);
    RegCloseKey(inner);
    RegCloseKey(create(area, u"Inner\\Other"));
    RegCloseKey(area);
}

tovik::KeyId keyIdOf(const std::u16string& path, tovik::Backend& store) {
    return tovik::history::resolvePath(store, u"HKEY_CURRENT_USER\\" + path);
}

std::vector<ChangeCase> changeCases() {
    const auto dword = [](tovik::Backend& b, const std::u16string& key, const std::u16string& name, DWORD v) {
        ASSERT_EQ(b.setValue(keyIdOf(key, b), name, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v),
                  ERROR_SUCCESS);
    };
    return {
        {"add a value",
         [] {
             HKEY k = create(HKEY_CURRENT_USER, u"Area");
             setDword(k, u"added", 9);
             RegCloseKey(k);
         },
         [=](tovik::Backend& b) { dword(b, u"Area", u"added", 10); }},
        {"overwrite a value",
         [] {
             HKEY k = create(HKEY_CURRENT_USER, u"Area");
             setBinary(k, u"BLOB", {7});
             RegCloseKey(k);
         },
         [=](tovik::Backend& b) { dword(b, u"Area", u"blob", 10); }},
        {"delete a value",
         [] {
             HKEY k = create(HKEY_CURRENT_USER, u"Area");
             RegDeleteValueW(k, u"first");
             RegCloseKey(k);
         },
         [=](tovik::Backend& b) { dword(b, u"Area", u"first", 1); }},
        {"overwrite a large value",
         [] {
             HKEY k = create(HKEY_CURRENT_USER, u"Area");
             setBinary(k, u"blob", std::vector<BYTE>(20000, 7));
             RegCloseKey(k);
         },
         [](tovik::Backend& b) {
             const std::vector<BYTE> other(20000, 8);
             ASSERT_EQ(b.setValue(keyIdOf(u"Area", b), u"blob", REG_BINARY, other.data(), 20000), ERROR_SUCCESS);
         }},
        {"rename a value",
         [] {
             HKEY k = create(HKEY_CURRENT_USER, u"Area");
             RegRenameValueW(k, u"LAST", u"final");
             RegCloseKey(k);
         },
         [](tovik::Backend& b) { ASSERT_EQ(b.deleteValue(keyIdOf(u"Area", b), u"final"), ERROR_SUCCESS); }},
        // As an import makes a key: in a batch, its values set right after it, one name twice in
        // two cases and one value too large to keep in the history; the batch commits half-way, as
        // an import does every so many lines, and a name is set a third time after that.
        {"make a key with its values in a batch",
         [] {
             tovik::history::ChangeScope scope(u"import");
             tovik::RegistryBatch batch;
             const HKEY k = create(HKEY_CURRENT_USER, u"Area\\Imported");
             setDword(k, u"one", 1);
             setBinary(k, u"big", std::vector<BYTE>(20000, 5));
             setDword(k, u"ONE", 2);
             batch.commit();
             setDword(k, u"two", 3);
             setDword(k, u"One", 4);
             RegCloseKey(k);
         },
         [=](tovik::Backend& b) { dword(b, u"Area\\Imported", u"big", 3); }},
        {"create keys", [] { RegCloseKey(create(HKEY_CURRENT_USER, u"Area\\New\\Newer")); },
         [=](tovik::Backend& b) { dword(b, u"Area\\New\\Newer", u"foreign", 1); }},
        {"rename a key", [] { ASSERT_EQ(RegRenameKey(HKEY_CURRENT_USER, u"Area\\Inner", u"Renamed"), ERROR_SUCCESS); },
         [](tovik::Backend& b) { ASSERT_EQ(b.renameKey(keyIdOf(u"Area\\Renamed", b), u"Elsewhere"), ERROR_SUCCESS); }},
        {"delete a subtree",
         [] {
             tovik::history::ChangeScope scope(u"delete Inner");
             ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Area\\Inner"));
         },
         [](tovik::Backend& b) {
             tovik::KeyId id = 0;
             bool created = false;
             const std::u16string_view name = u"Inner";
             ASSERT_EQ(
                 b.createKeys(keyIdOf(u"Area", b), 1, std::span<const std::u16string_view>(&name, 1), id, created),
                 ERROR_SUCCESS);
         }},
    };
}

class HistoryContract : public StoreContract {
protected:
    // Closes and opens the registry again, as a new process would, when it outlives the process.
    void restart() {
        if (!GetParam().persistent) return;
        tovik::closeRegistryStore();
        ASSERT_TRUE(GetParam().open(path_));
    }
};

TEST_P(HistoryContract, EveryKindOfChangeIsUndoneAndRedoneAcrossARestart) {
    for (const ChangeCase& c : changeCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Area"));
        makeArea();
        const std::vector<std::u16string> before = dump();
        c.change();
        const std::vector<std::u16string> after = dump();
        ASSERT_NE(before, after);
        restart();
        const auto undone = tovik::history::undoChanges(recorder(), 1);
        ASSERT_TRUE(undone.ok) << undone.error;
        EXPECT_EQ(dump(), before);
        restart();
        const auto redone = tovik::history::redoChanges(recorder(), 1);
        ASSERT_TRUE(redone.ok) << redone.error;
        EXPECT_EQ(dump(), after);
        // The undo and the redo are entries of their own, newest first.
        const auto entries = recorder().file().list(3);
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].kind, tovik::history::EntryKind::Redo);
        EXPECT_EQ(entries[1].kind, tovik::history::EntryKind::Undo);
        EXPECT_EQ(entries[2].kind, tovik::history::EntryKind::Change);
        // Undoing the redo takes the change back once more.
        ASSERT_TRUE(tovik::history::undoChanges(recorder(), 1).ok);
        EXPECT_EQ(dump(), before);
    }
}

// Run with the batches written whole and written in parts of a few changes each (as the delete of
// a large subtree is), so that the undo and the redo read the entry a part at a time.
TEST_P(HistoryContract, UndoingASubtreeDeleteGivesBackTheSubtreeInItsOrder) {
    for (const std::size_t partBytes : {std::size_t{4} << 20, std::size_t{300}}) {
        SCOPED_TRACE("parts of " + std::to_string(partBytes) + " bytes");
        ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Area"));
        recorder().setPartBytes(partBytes);
        {
            tovik::history::ChangeScope scope(u"make");
            tovik::RegistryBatch batch;
            for (int k = 0; k < 40; ++k) {
                const HKEY key = create(HKEY_CURRENT_USER, u"Area\\K" + digits(k % 7) + u"\\L" + digits(k));
                for (int v = 5; v > 0; --v)
                    setBinary(key, u"v" + digits(v * k % 11), {static_cast<BYTE>(k), static_cast<BYTE>(v)});
                RegCloseKey(key);
            }
        }
        const std::vector<std::u16string> before = dump(false);
        {
            tovik::history::ChangeScope scope(u"delete Area");
            ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Area"));
        }
        EXPECT_TRUE(dump(false).empty());
        ASSERT_EQ(recorder().file().list(1).at(0).command, u"delete Area") << "one command, one entry";
        restart();
        recorder().setPartBytes(partBytes);
        const auto undone = tovik::history::undoChanges(recorder(), 1);
        ASSERT_TRUE(undone.ok) << undone.error;
        EXPECT_EQ(dump(false), before);
        const auto redone = tovik::history::redoChanges(recorder(), 1);
        ASSERT_TRUE(redone.ok) << redone.error;
        EXPECT_TRUE(dump(false).empty());
        restart();
        ASSERT_TRUE(tovik::history::undoChanges(recorder(), 1).ok);
        EXPECT_EQ(dump(false), before);
    }
}

// One command that sets values and then deletes their keys, recorded in parts of a change or two:
// the undo checks the values against the deleted keys' record, which lies in a later part.
TEST_P(HistoryContract, AnEntryReadInPartsIsCheckedAcrossThem) {
    makeArea();
    const std::vector<std::u16string> before = dump();
    recorder().setPartBytes(1);
    {
        tovik::history::ChangeScope scope(u"set, then delete");
        tovik::RegistryBatch batch;
        const HKEY deep = create(HKEY_CURRENT_USER, u"Area\\Inner\\Deep");
        setDword(deep, u"deep", 40);
        setDword(deep, u"new", 41);
        RegCloseKey(deep);
        ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Area\\Inner"));
    }
    const std::vector<std::u16string> after = dump();
    ASSERT_NE(after, before);
    const auto undone = tovik::history::undoChanges(recorder(), 1);
    ASSERT_TRUE(undone.ok) << undone.error;
    EXPECT_EQ(dump(), before);
    ASSERT_TRUE(tovik::history::redoChanges(recorder(), 1).ok);
    EXPECT_EQ(dump(), after);
}

// A batch written to the history in several parts and kept by the registry, whose process was
// killed before it marked them kept: the next open keeps them all, though the first alone (a key
// whose subkey the second made) does not match the registry.
TEST_P(HistoryContract, PartsOfOneBatchLeftPendingAreSettledTogether) {
    if (!GetParam().persistent) GTEST_SKIP() << "nothing outlives this store's process";
    tovik::Backend& store = recorder().inner();
    tovik::KeyId id = 0;
    bool created = false;
    const std::u16string_view names[] = {u"Made", u"Below"};
    ASSERT_EQ(store.createKeys(store.rootKey(HKEY_CURRENT_USER), 0, names, id, created), ERROR_SUCCESS);
    tovik::history::EntryInfo entry;
    entry.command = u"make";
    const auto made = [](const char16_t* path) {
        return std::vector{tovik::history::makeOp(tovik::history::OpKind::CreateKey, path)};
    };
    recorder().file().writePart(entry, made(u"HKEY_CURRENT_USER\\Made"));
    recorder().file().writePart(entry, made(u"HKEY_CURRENT_USER\\Made\\Below"));
    restart();  // the parts' owner, this process, counts as gone for the new opening
    const auto entries = recorder().file().list(1);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].id, entry.id);
    EXPECT_EQ(recorder().file().opsOf(entry.id).value_or(std::vector<tovik::history::ChangeOp>{}).size(), 2u);
    ASSERT_TRUE(tovik::history::undoChanges(recorder(), 1).ok);
    EXPECT_EQ(keyIdOf(u"Made", recorder()), tovik::kNoKey);
}

TEST_P(HistoryContract, AnUndoIsRefusedWhenSomethingElseChangedWhatItWouldTakeBack) {
    for (const ChangeCase& c : changeCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(deleteKeyTree(HKEY_CURRENT_USER, u"Area"));
        makeArea();
        c.change();
        c.interfere(recorder().inner());  // unrecorded, as another program would
        restart();
        const std::vector<std::u16string> meddled = dump();
        const std::size_t entries = recorder().file().list(-1).size();
        const auto undone = tovik::history::undoChanges(recorder(), 1);
        EXPECT_FALSE(undone.ok);
        ASSERT_TRUE(undone.difference.has_value()) << undone.error;
        EXPECT_NE(undone.error.find("HKEY_CURRENT_USER\\Area"), std::string::npos) << undone.error;
        EXPECT_EQ(dump(), meddled) << "a refused undo changed the registry";
        EXPECT_EQ(recorder().file().list(-1).size(), entries) << "a refused undo was recorded";
    }
}

// Another program renames a key this process has seen, to a name of the same length: what this
// process changes in it afterwards is recorded under the new name, and undone there.
TEST_P(HistoryContract, AKeyRenamedByAnotherProgramIsRecordedUnderItsNewName) {
    makeArea();
    RegCloseKey(create(HKEY_CURRENT_USER, u"Area\\Inner"));
    tovik::Backend& store = recorder().inner();
    ASSERT_EQ(store.renameKey(keyIdOf(u"Area\\Inner", store), u"Outer"), ERROR_SUCCESS);
    const std::vector<std::u16string> before = dump();
    const HKEY renamed = create(HKEY_CURRENT_USER, u"Area\\Outer");
    setDword(renamed, u"after", 7);
    RegCloseKey(renamed);
    ASSERT_NE(dump(), before);
    const auto undone = tovik::history::undoChanges(recorder(), 1);
    ASSERT_TRUE(undone.ok) << undone.error;
    EXPECT_EQ(dump(), before);
}

TEST_P(HistoryContract, ATrimmedHistorySaysSoAndStillUndoesWhatItKept) {
    makeArea();
    tovik::history::HistoryLimits limits;
    limits.maxBytes = 1000;
    recorder().file().setLimits(limits);
    const HKEY area = create(HKEY_CURRENT_USER, u"Area");
    for (int i = 0; i < 30; ++i) setBinary(area, u"v" + digits(i), std::vector<BYTE>(40, static_cast<BYTE>(i)));
    RegCloseKey(area);
    const std::size_t kept = recorder().file().list(-1).size();
    EXPECT_LT(kept, 30u);
    EXPECT_GE(kept, 2u);
    EXPECT_EQ(recorder().file().dropped().count, static_cast<std::int64_t>(31 - kept));
    const std::vector<std::u16string> full = dump();
    const auto undone = tovik::history::undoChanges(recorder(), kept);
    ASSERT_TRUE(undone.ok) << undone.error;
    EXPECT_EQ(dump().size(), full.size() - kept);
    const auto more = tovik::history::undoChanges(recorder(), 1);
    EXPECT_FALSE(more.ok);
    EXPECT_NE(more.error.find("dropped"), std::string::npos) << more.error;
}

// A change and its undo killed at random moments: on the next open the history and the registry
// agree (both have the change or neither has): undoing all the history holds since the area was
// made gives back the area.
TEST_P(HistoryContract, AKillAtAnyMomentOfAChangeOrAnUndoLeavesHistoryAndRegistryAgreeing) {
    if (!GetParam().persistent) GTEST_SKIP() << "nothing outlives this store's process";
    std::mt19937 random(11);
    {
        tovik::history::ChangeScope scope(u"make");
        tovik::RegistryBatch batch;
        for (int k = 0; k < 600; ++k) {
            const HKEY key = create(HKEY_CURRENT_USER, u"Area\\G" + digits(k % 20) + u"\\K" + digits(k));
            setDword(key, u"v", static_cast<DWORD>(k));
            RegCloseKey(key);
        }
    }
    const std::vector<std::u16string> made = dump();
    // A child that deletes the area (or undoes that delete) and is killed after up to 200 ms.
    const auto killedChild = [&](bool undo) {
        tovik::closeRegistryStore();  // a store must not cross fork()
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (!GetParam().open(path_)) _exit(2);
            if (undo) _exit(tovik::history::undoChanges(recorder(), 1).ok ? 0 : 3);
            tovik::history::ChangeScope scope(u"delete Area");
            _exit(deleteKeyTree(HKEY_CURRENT_USER, u"Area") ? 0 : 4);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 200000));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "the child failed with " << WEXITSTATUS(status);
        ASSERT_TRUE(GetParam().open(path_));
    };
    // The entries since the area was made that are not undone yet.
    const auto newer = [] {
        std::size_t count = 0;
        for (const auto& e : tovik::history::undoCandidates(recorder().file(), 100)) {
            if (e.command == u"make") break;
            ++count;
        }
        return count;
    };
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        killedChild(false);
        if (newer() == 0) {
            EXPECT_EQ(dump(), made) << "the registry changed, and its history does not say so";
        }
        if (newer() > 0) killedChild(true);
        if (const std::size_t count = newer(); count > 0) {
            const auto undone = tovik::history::undoChanges(recorder(), count);
            ASSERT_TRUE(undone.ok) << undone.error;
        }
        ASSERT_EQ(dump(), made);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryStore, HistoryContract, ::testing::ValuesIn(storeKinds()),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(EveryStore, StoreContract, ::testing::ValuesIn(storeKinds()),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return info.param.name; });

}  // namespace
