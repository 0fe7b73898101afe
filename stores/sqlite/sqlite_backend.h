#pragma once
// The default store: the registry in a SQLite database (tables keys, packs and vals, see
// sqlite_store.cpp), behind the Backend interface.
#include <cstdint>
#include <memory>
#include <vector>

#include "registry/backend.h"

namespace tovik {

namespace sqlite {
class Database;
class ValueStore;
}  // namespace sqlite

class SqliteBackend final : public Backend {
public:
    explicit SqliteBackend(std::unique_ptr<sqlite::Database> db);
    // A batch still open keeps what it wrote.
    ~SqliteBackend() override;

    sqlite::Database& database() { return *db_; }

    bool readOnly() const override { return false; }
    KeyId rootKey(HKEY root) const override;
    ChangeStamp changeStamp() override;
    bool inTransaction() override;

    bool keyExists(KeyId key) override;
    KeyId findChild(KeyId parent, std::u16string_view name) override;
    KeyId findChildNamed(KeyId parent, std::u16string_view name, std::u16string& storedName) override;
    void listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out) override;
    void listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out) override;
    bool readValueData(ValueId value, BYTE* buffer, DWORD expectedSize) override;
    std::int64_t keyWriteTime(KeyId key) override;

    LONG createKeys(KeyId parent, std::size_t parentDepth, std::span<const std::u16string_view> names, KeyId& id,
                    bool& created) override;
    LONG setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) override;
    LONG deleteValue(KeyId key, std::u16string_view name) override;
    LONG deleteKey(KeyId key) override;
    LONG renameKey(KeyId key, std::u16string_view newName) override;
    LONG renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) override;

    LONG beginBatch() override;
    LONG commitBatch(bool beginAgain) override;
    bool beginSnapshot() override;
    void endSnapshot() override;
    std::vector<std::string> files() const override;

private:
    // The id for the next new key: key_ids read once per transaction, then counted here.
    KeyId nextKeyId();
    // A key's stored depth is one more than its parent's in a sound store. A damaged or
    // hand-edited file can make a key its own ancestor; on such a cycle at least one key breaks
    // that rule, so a walk that refuses such keys always ends. lookUpChild finds the child named
    // name below parent, throwing Damaged for a child that breaks the rule; with parentExists it
    // also tells whether parent itself is there.
    KeyId lookUpChild(KeyId parent, std::u16string_view name, bool* parentExists);
    // The depths of keys this connection read or made in the open transaction: while it lasts no
    // other connection changes what this one sees, and this one forgets a key it deletes, so a
    // key found here exists.
    const std::int64_t* knownDepth(KeyId key);
    void noteDepth(KeyId key, std::int64_t depth);
    void forgetDepth(KeyId key);

    std::unique_ptr<sqlite::Database> db_;
    std::unique_ptr<sqlite::ValueStore> values_;
    KeyId lastKeyId_ = 0;
    std::uint64_t keyIdsRead_ = ~std::uint64_t{0};  // the transaction lastKeyId_ was read in
    // A cache of one slot per key id modulo its size: a walk or an import notes a key and asks
    // for it soon after, and a key pushed out costs only the query it saves. Each slot holds the
    // transaction it was noted in.
    struct DepthSlot {
        KeyId key = kNoKey;
        std::int64_t depth = 0;
        std::uint64_t serial = 0;
    };
    std::vector<DepthSlot> depths_;
};

}  // namespace tovik
