// The registry operations on an in-memory store: roots and handles, keys, values, the buffer
// contract of enumeration, paths and limits, and the name order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Data = std::vector<BYTE>;
using Names = std::vector<std::u16string>;

constexpr HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

struct Value {
    std::u16string name;
    DWORD type;
    Data data;
    bool operator==(const Value&) const = default;
    friend void PrintTo(const Value& v, std::ostream* os) { *os << v.name.size() << "-unit name, type " << v.type; }
};

Names subkeys(HKEY key) {
    Names names;
    WCHAR name[300];
    DWORD length = 300;
    for (DWORD i = 0; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        names.emplace_back(name, length);
        length = 300;
    }
    return names;
}

// Every value of a key, growing the buffers as the store asks.
std::vector<Value> values(HKEY key) {
    std::vector<Value> all;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 0, size = 0, type = 0;
        std::u16string name;
        Data data;
        LONG rc = ERROR_MORE_DATA;
        while (rc == ERROR_MORE_DATA) {
            name.resize(nameLength + 1);
            data.resize(size + 1);
            nameLength = static_cast<DWORD>(name.size());
            size = static_cast<DWORD>(data.size());
            rc = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        }
        if (rc != ERROR_SUCCESS) return all;
        all.push_back({name.substr(0, nameLength), type, Data(data.begin(), data.begin() + size)});
    }
}

Names valueNames(HKEY key) {
    Names names;
    for (const Value& v : values(key)) names.push_back(v.name);
    return names;
}

LONG create(HKEY parent, const std::u16string& path, HKEY* opened = nullptr, DWORD* disposition = nullptr) {
    HKEY key = 0;
    DWORD result = 0;
    const LONG rc = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &result);
    if (disposition) *disposition = result;
    if (opened)
        *opened = key;
    else if (rc == ERROR_SUCCESS)
        RegCloseKey(key);
    return rc;
}

LONG open(HKEY parent, const std::u16string& path, HKEY* opened = nullptr) {
    HKEY key = 0;
    const LONG rc = RegOpenKeyExW(parent, path.c_str(), 0, 0, &key);
    if (opened)
        *opened = key;
    else if (rc == ERROR_SUCCESS)
        RegCloseKey(key);
    return rc;
}

LONG set(HKEY key, const std::u16string& name, DWORD type, const Data& data) {
    return RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
}

std::u16string repeated(const std::u16string& part, int count, const std::u16string& separator = u"\\") {
    std::u16string text;
    for (int i = 0; i < count; ++i) text += (i ? separator : u"") + part;
    return text;
}

class StoreApiTest : public ::testing::Test {
protected:
    void SetUp() override { tovik::openInMemoryRegistryStore(); }
    void TearDown() override { tovik::closeRegistryStore(); }
};

TEST_F(StoreApiTest, RootsAndHandles) {
    std::vector<HKEY> handles;
    for (HKEY root : kRoots) {
        EXPECT_THAT(subkeys(root), IsEmpty());
        HKEY a = 0, b = 0;
        ASSERT_EQ(open(root, u"", &a), ERROR_SUCCESS);
        ASSERT_EQ(RegOpenKeyExW(root, nullptr, 0, 0, &b), ERROR_SUCCESS);
        handles.insert(handles.end(), {a, b});
        EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);  // a no-op
    }
    for (HKEY h : handles) {
        EXPECT_NE(h, 0u);
        EXPECT_LT(h, HKEY_CLASSES_ROOT);
        EXPECT_EQ(std::count(handles.begin(), handles.end(), h), 1);
    }
    ASSERT_EQ(create(handles[2], u"Child"), ERROR_SUCCESS);  // the handle is HKEY_CURRENT_USER
    EXPECT_THAT(subkeys(HKEY_CURRENT_USER), ElementsAre(u"Child"));
    EXPECT_THAT(subkeys(HKEY_CLASSES_ROOT), IsEmpty());
    EXPECT_EQ(RegCloseKey(handles[0]), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(handles[0]), ERROR_INVALID_HANDLE);
    EXPECT_EQ(open(handles[0], u""), ERROR_INVALID_HANDLE);
    EXPECT_EQ(open(0, u""), ERROR_INVALID_HANDLE);
    EXPECT_EQ(open(0x80000003u, u""), ERROR_INVALID_HANDLE);
    EXPECT_EQ(std::u16string(rootKeyName(HKEY_LOCAL_MACHINE)), u"HKEY_LOCAL_MACHINE");
    EXPECT_EQ(std::u16string(rootKeyName(handles[1])), u"");

    // Handles belong to their store; without a store everything fails.
    tovik::closeRegistryStore();
    WCHAR name[4];
    DWORD length = 4;
    EXPECT_EQ(open(HKEY_CURRENT_USER, u""), ERROR_BADDB);
    EXPECT_EQ(create(HKEY_CURRENT_USER, u"A"), ERROR_BADDB);
    EXPECT_EQ(RegEnumKeyExW(HKEY_CURRENT_USER, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_BADDB);
    EXPECT_EQ(RegEnumValueW(HKEY_CURRENT_USER, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_BADDB);
    EXPECT_EQ(set(HKEY_CURRENT_USER, u"", REG_SZ, {}), ERROR_BADDB);
    EXPECT_EQ(RegDeleteValueW(HKEY_CURRENT_USER, u""), ERROR_BADDB);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"A"), ERROR_BADDB);
    tovik::openInMemoryRegistryStore();
    EXPECT_EQ(RegCloseKey(handles[1]), ERROR_INVALID_HANDLE);
}

TEST_F(StoreApiTest, CreateMakesWholePathsAndReportsDisposition) {
    DWORD disposition = 0;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, u"A\\B\\C", nullptr, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, u"A\\B"), ERROR_SUCCESS);
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, u"A\\B\\D", nullptr, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, u"A\\B", nullptr, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    HKEY b = 0, same = 0;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, u"A\\B", &b), ERROR_SUCCESS);
    ASSERT_EQ(create(b, u"", &same, &disposition), ERROR_SUCCESS);  // the parent itself
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    ASSERT_EQ(create(same, u"E"), ERROR_SUCCESS);
    EXPECT_THAT(subkeys(b), ElementsAre(u"C", u"D", u"E"));
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, u"A\\Missing\\C"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(open(HKEY_CLASSES_ROOT, u"A"), ERROR_FILE_NOT_FOUND);
}

TEST_F(StoreApiTest, NamesMatchInAnyCaseAndKeepTheirOwn) {
    HKEY key = 0;
    DWORD disposition = 0;
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"Software\\Änderung", &key), ERROR_SUCCESS);
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"SOFTWARE\\äNDERUNG", nullptr, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_THAT(subkeys(HKEY_CURRENT_USER), ElementsAre(u"Software"));

    ASSERT_EQ(set(key, u"Name", REG_SZ, {1}), ERROR_SUCCESS);
    ASSERT_EQ(set(key, u"Other", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    ASSERT_EQ(set(key, u"NAME", REG_BINARY, {9, 9}), ERROR_SUCCESS);  // keeps place and case
    EXPECT_THAT(values(key), ElementsAre(Value{u"Name", REG_BINARY, {9, 9}}, Value{u"Other", REG_DWORD, {1, 0, 0, 0}}));
    EXPECT_EQ(RegDeleteValueW(key, u"nAmE"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"Name"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"software\\ÄNDERUNG"), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(StoreApiTest, SubkeysInNameOrderValuesInCreationOrder) {
    for (const char16_t* name : {u"beta", u"Alpha", u"_under", u"alpha2", u"Gamma", u"ALP"}) {
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, name), ERROR_SUCCESS);
        ASSERT_EQ(set(HKEY_LOCAL_MACHINE, name, REG_SZ, {}), ERROR_SUCCESS);
    }
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE), ElementsAre(u"ALP", u"Alpha", u"alpha2", u"beta", u"Gamma", u"_under"));
    EXPECT_THAT(valueNames(HKEY_LOCAL_MACHINE), ElementsAre(u"beta", u"Alpha", u"_under", u"alpha2", u"Gamma", u"ALP"));
    ASSERT_EQ(RegDeleteValueW(HKEY_LOCAL_MACHINE, u"Alpha"), ERROR_SUCCESS);
    ASSERT_EQ(set(HKEY_LOCAL_MACHINE, u"Alpha", REG_SZ, {}), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(HKEY_LOCAL_MACHINE, u"Alpha"), ERROR_SUCCESS);  // the newest goes ...
    ASSERT_EQ(set(HKEY_LOCAL_MACHINE, u"new", REG_SZ, {}), ERROR_SUCCESS);    // ... and a newer still comes last
    EXPECT_THAT(valueNames(HKEY_LOCAL_MACHINE), ElementsAre(u"beta", u"_under", u"alpha2", u"Gamma", u"ALP", u"new"));
}

TEST_F(StoreApiTest, SubkeysEnumerateInCompareNamesOrder) {
    Names names = {u"\x0201", u"\x0102", u"\x00FF", u"\x0100", u"b",        u"B1", u"a", u"_", u"\xFF41", u"\x4E00",
                   u"\xD800", u"\xE000", u"\xFFFF", u"ab",     u"Ab\x0100", u"é",  u"Ω", u"ж", u"\x0001", u"ẞ"};
    for (const std::u16string& name : names) ASSERT_EQ(create(HKEY_LOCAL_MACHINE, name), ERROR_SUCCESS);
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return compareNames(a, b) < 0; });
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE), names);
}

TEST_F(StoreApiTest, DefaultValueAndDataOfAnySize) {
    Data big(16u << 20);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7 + i / 251);
    ASSERT_EQ(set(HKEY_CURRENT_USER, u"big", REG_BINARY, big), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(HKEY_CURRENT_USER, nullptr, 0, REG_SZ, Data{1}.data(), 1), ERROR_SUCCESS);
    ASSERT_EQ(set(HKEY_CURRENT_USER, u"", 0xFFFFFFFFu, {2}), ERROR_SUCCESS);  // the same, unnamed value
    ASSERT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"empty", 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
    EXPECT_THAT(values(HKEY_CURRENT_USER), ElementsAre(Value{u"big", REG_BINARY, big}, Value{u"", 0xFFFFFFFFu, {2}},
                                                       Value{u"empty", REG_NONE, {}}));
    EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"bad", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteValueW(HKEY_CURRENT_USER, nullptr), ERROR_SUCCESS);
    EXPECT_THAT(valueNames(HKEY_CURRENT_USER), ElementsAre(u"big", u"empty"));
}

TEST_F(StoreApiTest, TooSmallBuffersReportTheSizesNeeded) {
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"Eight_ch"), ERROR_SUCCESS);
    ASSERT_EQ(set(HKEY_CURRENT_USER, u"Eight_ch", 77, Data(40, 0xAB)), ERROR_SUCCESS);
    WCHAR name[9] = {}, keyClass[2] = {u'x'};
    BYTE data[40] = {};
    DWORD length = 8, size = 40, type = 0, classLength = 2;
    EXPECT_EQ(RegEnumKeyExW(HKEY_CURRENT_USER, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 8u);
    length = 9;
    ASSERT_EQ(RegEnumKeyExW(HKEY_CURRENT_USER, 0, name, &length, nullptr, keyClass, &classLength, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(std::u16string(name), u"Eight_ch");
    EXPECT_EQ(classLength, 0u);
    EXPECT_EQ(keyClass[0], 0);
    EXPECT_EQ(RegEnumKeyExW(HKEY_CURRENT_USER, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    length = 8;
    EXPECT_EQ(RegEnumValueW(HKEY_CURRENT_USER, 0, name, &length, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(length, 8u);
    length = 1;
    size = 39;
    EXPECT_EQ(RegEnumValueW(HKEY_CURRENT_USER, 0, name, &length, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(size, 40u);
    length = 9;
    size = 0;
    ASSERT_EQ(RegEnumValueW(HKEY_CURRENT_USER, 0, name, &length, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 40u);  // no data buffer: the size alone
    length = 9;
    ASSERT_EQ(RegEnumValueW(HKEY_CURRENT_USER, 0, name, &length, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(type, 77u);
    EXPECT_EQ(Data(data, data + size), Data(40, 0xAB));
    EXPECT_EQ(RegEnumValueW(HKEY_CURRENT_USER, 1, name, &length, nullptr, &type, data, &size), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValueW(HKEY_CURRENT_USER, 0, name, &length, nullptr, &type, data, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(StoreApiTest, DeleteKeyRefusesSubkeysAndRootsAndTakesValues) {
    HKEY child = 0;
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"Parent\\Child", &child), ERROR_SUCCESS);
    ASSERT_EQ(set(child, u"v", REG_SZ, {1}), ERROR_SUCCESS);
    RegCloseKey(child);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Parent\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Parent\\Child"), ERROR_SUCCESS);
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"Parent\\Child", &child), ERROR_SUCCESS);
    EXPECT_THAT(values(child), IsEmpty());
    RegCloseKey(child);
    for (HKEY root : kRoots) {
        HKEY same = 0;
        ASSERT_EQ(open(root, u"", &same), ERROR_SUCCESS);
        EXPECT_NE(RegDeleteKeyW(root, u""), ERROR_SUCCESS);
        EXPECT_NE(RegDeleteKeyW(root, nullptr), ERROR_SUCCESS);
        EXPECT_NE(RegDeleteKeyW(same, u""), ERROR_SUCCESS);
        RegCloseKey(same);
    }
    EXPECT_THAT(subkeys(HKEY_CURRENT_USER), ElementsAre(u"Parent"));
}

TEST_F(StoreApiTest, DeletingAtIndexZeroEmptiesATree) {
    int created = 0;
    {
        tovik::RegistryBatch batch;
        for (int i = 0; i < 300; ++i) {
            const std::u16string name = u"Top\\" + std::u16string{char16_t(u'A' + i % 26), char16_t(u'0' + i / 26)};
            ASSERT_EQ(create(HKEY_LOCAL_MACHINE, i % 10 ? name : name + u"\\x\\y"), ERROR_SUCCESS);
            created += i % 10 ? 1 : 3;
        }
    }
    int deleted = 0;
    const auto deleteSubkeys = [&](const auto& self, const std::u16string& path) -> void {
        HKEY key = 0;
        ASSERT_EQ(open(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS);
        WCHAR name[256];
        for (DWORD length = 256; RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
             length = 256) {
            const std::u16string child = path + u"\\" + std::u16string(name, length);
            self(self, child);
            ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, child.c_str()), ERROR_SUCCESS);
            ++deleted;
        }
        RegCloseKey(key);
    };
    deleteSubkeys(deleteSubkeys, u"Top");
    EXPECT_EQ(deleted, created);
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE), ElementsAre(u"Top"));

    for (const char16_t* name : {u"a", u"b", u"c"}) ASSERT_EQ(set(HKEY_CURRENT_USER, name, REG_SZ, {}), ERROR_SUCCESS);
    WCHAR name[4];
    for (DWORD length = 4; RegEnumValueW(HKEY_CURRENT_USER, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
         length = 4)
        ASSERT_EQ(RegDeleteValueW(HKEY_CURRENT_USER, name), ERROR_SUCCESS);
    EXPECT_THAT(values(HKEY_CURRENT_USER), IsEmpty());
}

TEST_F(StoreApiTest, HandlesFollowWritesThroughOtherHandles) {
    for (const char16_t* name : {u"a", u"c", u"e"}) ASSERT_EQ(create(HKEY_CURRENT_USER, name), ERROR_SUCCESS);
    HKEY first = 0, second = 0;
    ASSERT_EQ(open(HKEY_CURRENT_USER, u"", &first), ERROR_SUCCESS);
    ASSERT_EQ(open(HKEY_CURRENT_USER, u"", &second), ERROR_SUCCESS);
    EXPECT_THAT(subkeys(first), ElementsAre(u"a", u"c", u"e"));
    ASSERT_EQ(create(second, u"d"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(second, u"a"), ERROR_SUCCESS);
    ASSERT_EQ(set(second, u"v", REG_SZ, {}), ERROR_SUCCESS);
    EXPECT_THAT(subkeys(first), ElementsAre(u"c", u"d", u"e"));
    EXPECT_THAT(valueNames(first), ElementsAre(u"v"));

    // A handle to a deleted key fails and writes nothing, even once the name is taken again.
    HKEY gone = 0;
    ASSERT_EQ(open(first, u"c", &gone), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(second, u"c"), ERROR_SUCCESS);
    ASSERT_EQ(create(second, u"c"), ERROR_SUCCESS);
    WCHAR name[4];
    DWORD length = 4;
    EXPECT_EQ(RegEnumKeyExW(gone, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumValueW(gone, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(set(gone, u"v", REG_SZ, {1}), ERROR_KEY_DELETED);
    EXPECT_EQ(create(gone, u"x"), ERROR_KEY_DELETED);
    EXPECT_EQ(open(gone, u""), ERROR_KEY_DELETED);
    EXPECT_THAT(subkeys(second), ElementsAre(u"c", u"d", u"e"));
    EXPECT_EQ(open(second, u"c\\x"), ERROR_FILE_NOT_FOUND);
    for (HKEY h : {first, second, gone}) EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
}

TEST_F(StoreApiTest, MalformedPathsAreRefused) {
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"A\\B"), ERROR_SUCCESS);
    for (const char16_t* bad : {u"\\A", u"A\\\\B", u"\\", u"A\\\\", u"\\\\"}) {
        SCOPED_TRACE(std::u16string(bad).size());
        EXPECT_EQ(open(HKEY_CURRENT_USER, bad), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(create(HKEY_CURRENT_USER, bad), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, bad), ERROR_INVALID_PARAMETER);
    }
    EXPECT_THAT(subkeys(HKEY_CURRENT_USER), ElementsAre(u"A"));
    EXPECT_EQ(open(HKEY_CURRENT_USER, u"A\\B\\"), ERROR_SUCCESS);  // one trailing backslash will do
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"X", 0, nullptr, 0, 0, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(StoreApiTest, DepthAndNameLengthsAreLimited) {
    EXPECT_EQ(create(HKEY_CURRENT_USER, repeated(u"k", kMaxKeyDepth + 1)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(open(HKEY_CURRENT_USER, u"k"), ERROR_FILE_NOT_FOUND);  // nothing half-made
    HKEY deepest = 0, middle = 0;
    ASSERT_EQ(create(HKEY_CURRENT_USER, repeated(u"k", kMaxKeyDepth), &deepest), ERROR_SUCCESS);
    EXPECT_EQ(create(deepest, u"x"), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(open(HKEY_CURRENT_USER, repeated(u"k", 500), &middle), ERROR_SUCCESS);
    EXPECT_EQ(create(middle, repeated(u"k", 12) + u"\\x"), ERROR_INVALID_PARAMETER);  // counted from the root
    EXPECT_EQ(create(middle, repeated(u"k", 11) + u"\\x"), ERROR_SUCCESS);
    RegCloseKey(middle);
    RegCloseKey(deepest);

    const std::u16string longKey(kMaxKeyNameLength, u'n'), longValue(kMaxValueNameLength, u'v');
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, longKey), ERROR_SUCCESS);
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, u"ok\\" + longKey + u"n"), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(set(HKEY_LOCAL_MACHINE, longValue, REG_SZ, {1}), ERROR_SUCCESS);
    EXPECT_EQ(set(HKEY_LOCAL_MACHINE, longValue + u"v", REG_SZ, {1}), ERROR_INVALID_PARAMETER);
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE), ElementsAre(longKey));
    EXPECT_THAT(valueNames(HKEY_LOCAL_MACHINE), ElementsAre(longValue));
}

TEST_F(StoreApiTest, UnpairedSurrogatesRoundTrip) {
    const Names names = {std::u16string(u"lone\xD800"), std::u16string(u"\xDC00tail"), std::u16string(u"\xDE00\xD83D")};
    for (const std::u16string& name : names) {
        ASSERT_EQ(create(HKEY_CLASSES_ROOT, name), ERROR_SUCCESS);
        ASSERT_EQ(set(HKEY_CLASSES_ROOT, name, REG_SZ, {}), ERROR_SUCCESS);
        EXPECT_EQ(open(HKEY_CLASSES_ROOT, name), ERROR_SUCCESS);
    }
    Names listed = subkeys(HKEY_CLASSES_ROOT), expected = names;
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(valueNames(HKEY_CLASSES_ROOT), names);
}

TEST_F(StoreApiTest, BatchedWritesAreVisibleAndKept) {
    {
        tovik::RegistryBatch batch;
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(
                set(HKEY_CURRENT_USER, std::u16string(1, char16_t(0x4E00 + i)), REG_DWORD, {BYTE(i), BYTE(i >> 8)}),
                ERROR_SUCCESS);
        EXPECT_EQ(values(HKEY_CURRENT_USER).size(), 1000u);
        EXPECT_TRUE(batch.commit());
        tovik::RegistryBatch nested;
        ASSERT_EQ(set(HKEY_CURRENT_USER, u"nested", REG_SZ, {}), ERROR_SUCCESS);
    }
    const std::vector<Value> all = values(HKEY_CURRENT_USER);
    ASSERT_EQ(all.size(), 1001u);
    EXPECT_EQ(all[999], (Value{std::u16string(1, char16_t(0x4E00 + 999)), REG_DWORD, {0xE7, 0x03}}));
}

TEST_F(StoreApiTest, RenameKeyMovesItsSubtreeAndRefusesWhatCannotBe) {
    HKEY deep = 0;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, u"Old\\Inner\\Deep", &deep), ERROR_SUCCESS);
    ASSERT_EQ(set(deep, u"Kept", REG_BINARY, {1, 2, 3}), ERROR_SUCCESS);
    RegCloseKey(deep);
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, u"Taken"), ERROR_SUCCESS);

    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"Old", u"TAKEN"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"Old", u""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"Old", nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"Old", u"A\\B"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"Old", repeated(u"n", kMaxKeyNameLength + 1, u"").c_str()),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, nullptr, u"Other"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"", u"Other"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"Missing", u"Other"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegRenameKey(0x1234, u"Old", u"Other"), ERROR_INVALID_HANDLE);
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE), ElementsAre(u"Old", u"Taken"));

    EXPECT_EQ(RegRenameKey(HKEY_LOCAL_MACHINE, u"Old", u"New"), ERROR_SUCCESS);
    EXPECT_THAT(subkeys(HKEY_LOCAL_MACHINE), ElementsAre(u"New", u"Taken"));
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, u"new\\inner\\deep", &deep), ERROR_SUCCESS);
    EXPECT_THAT(values(deep), ElementsAre(Value{u"Kept", REG_BINARY, {1, 2, 3}}));
    RegCloseKey(deep);
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, u"Old"), ERROR_FILE_NOT_FOUND);

    // A handle renames the key it holds; a change of case alone is a rename.
    HKEY inner = 0;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, u"New\\Inner", &inner), ERROR_SUCCESS);
    EXPECT_EQ(RegRenameKey(inner, nullptr, u"INNER"), ERROR_SUCCESS);
    RegCloseKey(inner);
    HKEY parent = 0;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, u"New", &parent), ERROR_SUCCESS);
    EXPECT_THAT(subkeys(parent), ElementsAre(u"INNER"));
    RegCloseKey(parent);
}

TEST_F(StoreApiTest, RenameValueKeepsTypeDataAndPlace) {
    HKEY key = 0;
    ASSERT_EQ(create(HKEY_CURRENT_USER, u"K", &key), ERROR_SUCCESS);
    ASSERT_EQ(set(key, u"First", REG_SZ, {u'a', 0, 0, 0}), ERROR_SUCCESS);
    ASSERT_EQ(set(key, u"Second", REG_DWORD, {7, 0, 0, 0}), ERROR_SUCCESS);
    ASSERT_EQ(set(key, u"", REG_BINARY, {9}), ERROR_SUCCESS);

    EXPECT_EQ(RegRenameValueW(key, u"first", u"SECOND"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(RegRenameValueW(key, u"First", u""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegRenameValueW(key, u"Missing", u"x"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegRenameValueW(key, u"First", repeated(u"n", kMaxValueNameLength + 1, u"").c_str()),
              ERROR_INVALID_PARAMETER);
    EXPECT_THAT(valueNames(key), ElementsAre(u"First", u"Second", u""));

    EXPECT_EQ(RegRenameValueW(key, u"second", u"Renamed"), ERROR_SUCCESS);
    EXPECT_EQ(RegRenameValueW(key, nullptr, u"WasDefault"), ERROR_SUCCESS);
    EXPECT_THAT(values(key),
                ElementsAre(Value{u"First", REG_SZ, {u'a', 0, 0, 0}}, Value{u"Renamed", REG_DWORD, {7, 0, 0, 0}},
                            Value{u"WasDefault", REG_BINARY, {9}}));
    RegCloseKey(key);
}

TEST(StoreNameFoldTest, FoldingTables) {
    const std::u16string small = u"azàéþÿāįĳĺňŋŷźžαωςσάώϊаяёџѣґӂӏӑａｚ";
    const std::u16string capital = u"AZÀÉÞŸĀĮĲĹŇŊŶŹŽΑΩΣΣΆΏΪАЯЁЏѢҐӁӀӐＡＺ";
    EXPECT_EQ(foldName(small), capital);
    EXPECT_EQ(foldName(capital), capital);
    const std::u16string unchanged = u"09_\\@[`{÷ßĸıİſあア漢ｱ\xD800\xDFFF\xFFFF";
    EXPECT_EQ(foldName(unchanged), unchanged);
    EXPECT_EQ(foldNameUnit(0), 0);

    EXPECT_EQ(compareNames(u"Привет", u"пРИВЕТ"), 0);
    EXPECT_LT(compareNames(u"abc", u"ABD"), 0);
    EXPECT_GT(compareNames(u"abd", u"ABC"), 0);
    EXPECT_LT(compareNames(u"AB", u"abc"), 0);  // a prefix first
    EXPECT_LT(compareNames(u"z", u"_"), 0);     // letters compare as capitals
    EXPECT_LT(compareNames(u"\x0102", u"\x0201"), 0);
}

}  // namespace
