// A backend that says it is read-only: the registry operations read through it and refuse every
// write with ERROR_ACCESS_DENIED before the backend is asked to write.
#include <gtest/gtest.h>

#include <memory>

#include "registry/backend.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/sqlite/sqlite_store.h"
#include "tests/registry/forwarding_backend.h"

namespace {

using tovik::Backend;
using tovik::KeyId;

// Reads go to a real store; any write that reaches it counts as a fault of the registry layer.
class ReadOnlyStore final : public ForwardingBackend {
public:
    using ForwardingBackend::ForwardingBackend;
    int writesAsked = 0;

    bool readOnly() const override { return true; }
    LONG createKeys(KeyId, std::size_t, std::span<const std::u16string_view>, KeyId&, bool&) override {
        return refuse();
    }
    LONG setValue(KeyId, std::u16string_view, DWORD, const BYTE*, DWORD) override { return refuse(); }
    LONG deleteValue(KeyId, std::u16string_view) override { return refuse(); }
    LONG deleteKey(KeyId) override { return refuse(); }
    LONG renameKey(KeyId, std::u16string_view) override { return refuse(); }
    LONG renameValue(KeyId, std::u16string_view, std::u16string_view) override { return refuse(); }

private:
    LONG refuse() {
        ++writesAsked;
        return ERROR_SUCCESS;  // a write that got here would look like success: the test sees it
    }
};

TEST(ReadOnlyBackend, ReadsWorkAndEveryWriteIsRefusedAsAccessDenied) {
    // Fill a store while it can be written, then put it behind the read-only face.
    std::unique_ptr<Backend> filled = tovik::openSqliteMemoryStore();
    const DWORD one = 1;
    KeyId user = filled->rootKey(HKEY_CURRENT_USER), inner = 0;
    bool created = false;
    const std::u16string_view names[] = {u"Kept", u"Inner"};
    ASSERT_EQ(filled->createKeys(user, 0, names, inner, created), ERROR_SUCCESS);
    ASSERT_EQ(filled->setValue(inner, u"One", REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_SUCCESS);
    auto readOnly = std::make_unique<ReadOnlyStore>(std::move(filled));
    ReadOnlyStore* store = readOnly.get();
    tovik::setCurrentBackend(std::move(readOnly));

    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"kept\\inner", 0, 0, &key), ERROR_SUCCESS);
    WCHAR name[16];
    DWORD length = 16, type = 0, data = 0, size = sizeof data;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, length), u"One");
    EXPECT_EQ(data, 1u);
    HKEY existing = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Kept", 0, nullptr, 0, 0, nullptr, &existing, nullptr), ERROR_SUCCESS)
        << "opening a key that exists writes nothing";
    RegCloseKey(existing);

    HKEY made = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Kept\\New", 0, nullptr, 0, 0, nullptr, &made, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExW(key, u"Two", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(key, u"One"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Kept\\Inner"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegRenameKey(HKEY_CURRENT_USER, u"Kept", u"Other"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegRenameValueW(key, u"One", u"Two"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(store->writesAsked, 0);
    RegCloseKey(key);
    tovik::closeRegistryStore();
}

}  // namespace
