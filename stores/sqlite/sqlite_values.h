#pragma once
// The values of the SQLite store's keys (see the schema in sqlite_store.cpp). A key's values are
// in one of two forms: a pack, one row of table packs holding every value in creation order, or,
// once they outgrow a pack (value_pack.h), rows of table vals, one per value, with an empty pack
// left as the mark. A key without values has no pack at all.
//
// Inside a batch, the values set in one key are held here and the key's pack is written once,
// when the batch moves on to another key, reads the key, or commits: an import of many keys of
// few values then writes each pack once instead of once per value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "registry/backend.h"
#include "stores/sqlite/value_pack.h"

namespace tovik::sqlite {

class Database;

class ValueStore {
public:
    explicit ValueStore(Database& db) : db_(db) {}

    // Whether a batch holds the store: only then are values held back.
    void setBatch(bool open) {
        batch_ = open;
        newKey_ = kNoKey;
    }
    // key was created in the batch's open transaction: it has no values yet.
    void noteNewKey(KeyId key) { newKey_ = batch_ ? key : kNoKey; }

    // Sets key's last write time to the transaction's write time, unless the key has it already.
    void touch(KeyId key);
    // key was given the transaction's write time by the statement that wrote it.
    void noteWritten(KeyId key);
    // Whether key has the transaction's write time already.
    bool hasWrittenNow(KeyId key);

    void list(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out);
    bool readData(ValueId value, BYTE* buffer, DWORD expectedSize);
    // Inside a batch, which holds the store's write lock, the key's pack may be written later.
    LONG set(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size);
    LONG remove(KeyId key, std::u16string_view name);
    LONG rename(KeyId key, std::u16string_view oldName, std::u16string_view newName);

    // Writes the values held for the batch. Should that fail, the whole transaction is rolled
    // back, so that its commit cannot report the lost values as kept, and the failure thrown.
    void flush();
    // Before anything reads or changes key's values through the tables.
    void flushKey(KeyId key) {
        if (newKey_ == key) newKey_ = kNoKey;
        if (pending_.key == key) flush();
    }

private:
    enum class Form { None, Packed, Rows };
    Form load(KeyId key, std::vector<StoredValue>& values);
    LONG setPending(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size);
    // changed tells whether the row differs from what it was (a new value, or other data).
    LONG setRow(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size, bool& changed);

    // Values held back are lost with a transaction that was rolled back.
    void dropStale();

    // The key written last in the batch: its values, when they are a pack still to be written.
    struct Pending {
        KeyId key = kNoKey;
        bool rows = false;      // the key's values are rows: nothing is held back
        bool hadPack = false;   // the key has a pack in the table already
        std::size_t bytes = 0;  // of the values in a pack
        std::vector<StoredValue> values;
        bool indexed = false;  // byFold holds every value (keys of many values)
        std::unordered_map<std::string, std::size_t> byFold;
        std::int64_t touched = 0;  // when the key was last written, to be stored with its pack
        std::size_t find(std::u16string_view name);
        void add(StoredValue value);
    };
    // The keys whose time is the current transaction's write time already: made or touched in
    // it. An import makes a key, sets its values and makes keys below it; each of those would
    // otherwise write the same time into the same row again.
    std::unordered_set<KeyId>& writtenNow();

    Database& db_;
    bool batch_ = false;
    KeyId newKey_ = kNoKey;
    Pending pending_;
    std::unordered_set<KeyId> writtenNow_;
    std::uint64_t writtenIn_ = ~std::uint64_t{0};  // the transaction writtenNow_ belongs to
};

bool keyRowExists(Database& db, KeyId key);
// Sets when key was last written (a FILETIME).
void touchKey(Database& db, KeyId key, std::int64_t time);

// Writes values as the values of key, which has none yet, in the form that fits them.
void writeKeyValues(Database& db, KeyId key, const std::vector<StoredValue>& values);

}  // namespace tovik::sqlite
