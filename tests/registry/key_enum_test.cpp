// The enumeration helpers: they read entries larger than their first buffers in full, and stop
// after a bounded number of reads when an entry keeps outgrowing them (another process
// rewriting it), where a grow-and-retry loop without a bound would never return.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "registry/backend.h"
#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/sqlite/sqlite_store.h"
#include "tests/registry/forwarding_backend.h"

namespace {

using tovik::KeyId;

// A real store whose entries grow every time they are listed, as if another process rewrote
// them between each read; its stamp changes with every look, so no read is ever served twice.
class GrowingStore final : public ForwardingBackend {
public:
    using ForwardingBackend::ForwardingBackend;
    int listings = 0;

    tovik::ChangeStamp changeStamp() override { return {++looks_, 0}; }
    void listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<tovik::SubkeyEntry>& out) override {
        ForwardingBackend::listSubkeys(key, from, limit, out);
        ++listings;
        for (tovik::SubkeyEntry& entry : out) entry.name += std::u16string(300 * listings, u'x');
    }
    void listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<tovik::ValueEntry>& out) override {
        ForwardingBackend::listValues(key, from, limit, out);
        ++listings;
        for (tovik::ValueEntry& entry : out) {
            entry.size += 5000 * listings;
            entry.data.resize(entry.size);
            entry.dataLoaded = true;
        }
    }

private:
    std::uint64_t looks_ = 0;
};

class EnumHelpers : public ::testing::Test {
protected:
    void TearDown() override { tovik::closeRegistryStore(); }

    static void fill() {
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Top\\Child", 0, nullptr, 0, 0, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const BYTE small = 7;
        ASSERT_EQ(RegSetValueExW(key, u"s", 0, REG_BINARY, &small, 1), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, longName().c_str(), 0, REG_BINARY, largeData().data(),
                                 static_cast<DWORD>(largeData().size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static std::u16string longName() { return std::u16string(3000, u'n'); }
    static const Bytes& largeData() {
        static const Bytes data = [] {
            Bytes bytes(200000);
            for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 7);
            return bytes;
        }();
        return data;
    }
};

TEST_F(EnumHelpers, ReadEntriesLargerThanTheFirstBuffersInFull) {
    tovik::setCurrentBackend(tovik::openSqliteMemoryStore());
    fill();
    tovik::KeyHandle key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Top\\Child", 0, 0, key.receive()), ERROR_SUCCESS);

    tovik::EnumBuffers buffers;
    tovik::EnumeratedValue value;
    ASSERT_EQ(tovik::enumValue(key.get(), 0, buffers, value), ERROR_SUCCESS);
    EXPECT_EQ(value.name, u"s");
    ASSERT_EQ(value.size, 1u);
    EXPECT_EQ(value.data[0], 7);
    ASSERT_EQ(tovik::enumValue(key.get(), 1, buffers, value), ERROR_SUCCESS);
    EXPECT_EQ(value.name, longName());
    EXPECT_EQ(value.type, REG_BINARY);
    ASSERT_EQ(value.size, largeData().size());
    EXPECT_EQ(Bytes(value.data, value.data + value.size), largeData());
    EXPECT_EQ(tovik::enumValue(key.get(), 2, buffers, value), ERROR_NO_MORE_ITEMS);

    // Without the data: the name, type and size, and no data copied.
    tovik::EnumBuffers namesOnly;
    ASSERT_EQ(tovik::enumValue(key.get(), 1, namesOnly, value, false), ERROR_SUCCESS);
    EXPECT_EQ(value.name, longName());
    EXPECT_EQ(value.size, largeData().size());
    EXPECT_EQ(value.data, nullptr);
    EXPECT_TRUE(namesOnly.data.empty());

    std::u16string_view name;
    ASSERT_EQ(tovik::enumSubkeyName(HKEY_CURRENT_USER, 0, buffers, name), ERROR_SUCCESS);
    EXPECT_EQ(name, u"Top");
    EXPECT_EQ(name.data()[name.size()], u'\0') << "the name can be passed on as a C string";
    EXPECT_EQ(tovik::enumSubkeyName(HKEY_CURRENT_USER, 1, buffers, name), ERROR_NO_MORE_ITEMS);
}

TEST_F(EnumHelpers, StopAfterABoundedNumberOfReadsWhenAnEntryKeepsGrowing) {
    auto owned = std::make_unique<GrowingStore>(tovik::openSqliteMemoryStore());
    GrowingStore* store = owned.get();
    tovik::setCurrentBackend(std::move(owned));
    fill();
    tovik::KeyHandle key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Top\\Child", 0, 0, key.receive()), ERROR_SUCCESS);

    tovik::EnumBuffers buffers;
    tovik::EnumeratedValue value;
    store->listings = 0;
    EXPECT_EQ(tovik::enumValue(key.get(), 0, buffers, value), ERROR_MORE_DATA);
    EXPECT_EQ(store->listings, tovik::kEnumReadTries);
    EXPECT_GT(buffers.data.size(), 1u + 5000) << "the buffer grew to what the registry asked for";

    std::u16string_view name;
    store->listings = 0;
    EXPECT_EQ(tovik::enumSubkeyName(HKEY_CURRENT_USER, 0, buffers, name), ERROR_MORE_DATA);
    EXPECT_EQ(store->listings, tovik::kEnumReadTries);

    // Deleting a subtree lists its subkeys through the helper: it ends, leaving the key it
    // could not read, instead of growing its buffer for ever.
    const DeleteSubkeysResult result = DeleteSubkeys(HKEY_CURRENT_USER, u"Top");
    EXPECT_EQ(result.deleted, 0u);
    tovik::KeyHandle child;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Top\\Child", 0, 0, child.receive()), ERROR_SUCCESS);
}

}  // namespace
