#include "stores/sqlite/sqlite_values.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "stores/sqlite/sqlite_db.h"

namespace tovik::sqlite {
namespace {

// Data of rows up to this size is read with the value list, in the same query.
constexpr int kListedDataLimit = 4096;
// Below this many values a name is looked for by comparing; above it through a hash of folds.
constexpr std::size_t kLinearLookup = 32;

// The range of value ids that belongs to a key (see the schema in sqlite_store.cpp).
constexpr int kPositionBits = 27;
std::int64_t firstValueId(KeyId key) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(key) << kPositionBits);
}
std::int64_t lastValueId(KeyId key) {
    return firstValueId(key) + ((std::int64_t{1} << kPositionBits) - 1);
}

std::size_t packedBytes(const std::vector<StoredValue>& values) {
    std::size_t bytes = 0;
    for (const StoredValue& value : values) bytes += packedSize(value);
    return bytes;
}

std::size_t findByName(const std::vector<StoredValue>& values, std::u16string_view name) {
    for (std::size_t i = 0; i < values.size(); ++i)
        if (sameName(values[i].name, name)) return i;
    return SIZE_MAX;
}

void writePack(Database& db, KeyId key, std::string_view pack) {
    db.query("INSERT INTO packs(key, data) VALUES(?1, ?2) ON CONFLICT(key) DO UPDATE SET data = excluded.data")
        .bind(1, key)
        .bindBlob(2, pack)
        .step();
}

// Every value of a key as a row, in order, and the empty pack that says so. The key has no rows.
void writeRows(Database& db, KeyId key, const std::vector<StoredValue>& values) {
    writePack(db, key, {});
    std::int64_t id = firstValueId(key);
    for (const StoredValue& value : values) {
        const std::string name = encodeName(value.name);
        const std::string fold = encodeFold(value.name);
        db.query("INSERT INTO vals(id, key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5, ?6)")
            .bind(1, ++id)
            .bind(2, key)
            .bindBlob(3, fold)
            .bindBlob(4, name)
            .bind(5, value.type)
            .bindBlob(6, value.data)
            .step();
    }
}

// Replaces a key's values, held as a pack or none, by values.
void store(Database& db, KeyId key, const std::vector<StoredValue>& values, bool hadPack, std::size_t bytes) {
    if (values.empty()) {
        if (hadPack) db.query("DELETE FROM packs WHERE key = ?1").bind(1, key).step();
    } else if (values.size() <= kMaxPackedValues && bytes <= kMaxPackBytes) {
        writePack(db, key, encodePack(values));
    } else {
        writeRows(db, key, values);
    }
}

// Whether the values, with the value named name set to size bytes of data, still fit a pack.
// at is where that value is, SIZE_MAX for a new one; bytes is the size of the pack as it is.
bool fitsWith(const std::vector<StoredValue>& values, std::size_t bytes, std::size_t at, std::u16string_view name,
              DWORD type, DWORD size) {
    const std::size_t count = values.size() + (at == SIZE_MAX ? 1 : 0);
    const std::size_t after = bytes + packedSize(name, type, size) - (at == SIZE_MAX ? 0 : packedSize(values[at]));
    return count <= kMaxPackedValues && after <= kMaxPackBytes;
}

// Sets the value at (SIZE_MAX: a new one, named name) to type and data.
void setAt(std::vector<StoredValue>& values, std::size_t at, std::u16string_view name, DWORD type, const BYTE* data,
           DWORD size) {
    StoredValue& value = at == SIZE_MAX ? values.emplace_back() : values[at];
    if (at == SIZE_MAX) value.name = name;  // an overwrite keeps the case the name had
    value.type = type;
    value.data.assign(reinterpret_cast<const char*>(data), size);
}

// Writes values held back in a batch. Their set already returned success, so should the write
// fail, the whole batch is rolled back: its commit then reports every write since the last one
// as lost, never as kept.
template <class Write>
void writeOrRollBack(Database& db, Write write) {
    try {
        write();
    } catch (const Error&) {
        if (db.inTransaction()) db.execIgnoringErrors("ROLLBACK");
        db.noteLocalChange();
        throw;
    }
}

bool sameData(const StoredValue& value, DWORD type, const BYTE* data, DWORD size) {
    return value.type == type && value.data.size() == size &&
           (size == 0 || std::memcmp(value.data.data(), data, size) == 0);
}

LONG missingValue(Database& db, KeyId key) {
    return keyRowExists(db, key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
}

}  // namespace

bool keyRowExists(Database& db, KeyId key) {
    return db.query("SELECT 1 FROM keys WHERE id = ?1").bind(1, key).step();
}

void touchKey(Database& db, KeyId key, std::int64_t time) {
    db.query("UPDATE keys SET written = ?2 WHERE id = ?1").bind(1, key).bind(2, time).step();
}

void writeKeyValues(Database& db, KeyId key, const std::vector<StoredValue>& values) {
    store(db, key, values, false, packedBytes(values));
}

// ---- Pending ----

std::size_t ValueStore::Pending::find(std::u16string_view name) {
    if (!indexed && values.size() <= kLinearLookup) return findByName(values, name);
    if (!indexed) {
        byFold.reserve(values.size() * 2);
        for (std::size_t i = 0; i < values.size(); ++i) byFold.emplace(encodeFold(values[i].name), i);
        indexed = true;
    }
    const auto it = byFold.find(encodeFold(name));
    return it == byFold.end() ? SIZE_MAX : it->second;
}

void ValueStore::Pending::add(StoredValue value) {
    if (indexed) byFold.emplace(encodeFold(value.name), values.size());
    bytes += packedSize(value);
    values.push_back(std::move(value));
}

// ---- ValueStore ----

std::unordered_set<KeyId>& ValueStore::writtenNow() {
    // A new transaction, or a savepoint rolled back (which may have undone a touch), starts over;
    // so does a long one now and then, which then only writes some times twice.
    if (writtenIn_ != db_.transactionSerial() || !db_.inTransaction() || writtenNow_.size() >= 100000) {
        writtenNow_.clear();
        writtenIn_ = db_.transactionSerial();
    }
    return writtenNow_;
}

void ValueStore::touch(KeyId key) {
    if (!db_.inTransaction()) {
        touchKey(db_, key, db_.writeTime());
        return;
    }
    if (writtenNow().insert(key).second) touchKey(db_, key, db_.writeTime());
}

bool ValueStore::hasWrittenNow(KeyId key) {
    return db_.inTransaction() && writtenNow().contains(key);
}

void ValueStore::noteWritten(KeyId key) {
    if (db_.inTransaction()) writtenNow().insert(key);
}

void ValueStore::dropStale() {
    if (batch_ && db_.inTransaction()) return;
    pending_ = Pending{};
    newKey_ = kNoKey;
}

void ValueStore::flush() {
    dropStale();
    if (pending_.key == kNoKey) return;
    Pending pending = std::move(pending_);
    pending_ = Pending{};
    writeOrRollBack(db_, [&] {
        if (!pending.rows) store(db_, pending.key, pending.values, pending.hadPack, pending.bytes);
        if (pending.touched == db_.writeTime())
            touch(pending.key);
        else if (pending.touched != 0)
            touchKey(db_, pending.key, pending.touched);
    });
    // The next key's values go into the same room: an import fills key after key.
    pending.values.clear();
    pending_.values = std::move(pending.values);
}

ValueStore::Form ValueStore::load(KeyId key, std::vector<StoredValue>& values) {
    Query q = db_.query("SELECT data FROM packs WHERE key = ?1");
    q.bind(1, key);
    if (!q.step()) return Form::None;
    const std::string_view pack = q.columnBlob(0);
    if (pack.empty()) return Form::Rows;
    if (!decodePack(pack, values)) throw BackendFailure(BackendFailure::Kind::Damaged);
    return Form::Packed;
}

void ValueStore::list(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out) {
    flushKey(key);
    {
        Query q = db_.query("SELECT data FROM packs WHERE key = ?1");
        q.bind(1, key);
        if (!q.step()) return;
        const std::string_view pack = q.columnBlob(0);
        if (!pack.empty()) {
            // Straight from the pack's bytes into the entries, counted first so that the list
            // grows once.
            const std::size_t end = limit < 0 ? SIZE_MAX : from + static_cast<std::size_t>(limit);
            PackedValue value;
            std::size_t count = 0;
            for (std::size_t at = 0; at < pack.size() && count < end; ++count)
                if (!readPackedValue(pack, at, value)) throw BackendFailure(BackendFailure::Kind::Damaged);
            if (count > from) out.reserve(out.size() + count - from);
            std::size_t index = 0;
            for (std::size_t at = 0; at < pack.size() && index < end; ++index) {
                if (!readPackedValue(pack, at, value)) throw BackendFailure(BackendFailure::Kind::Damaged);
                if (index < from) continue;
                out.push_back({firstValueId(key) + static_cast<std::int64_t>(index) + 1, value.decodedName(),
                               value.type, static_cast<DWORD>(value.data.size()), true, std::string(value.data)});
            }
            return;
        }
    }
    // An empty pack: the values are rows. length() of a blob does not read the blob itself; large data stays on disk until asked for.
    Query q = db_.query("SELECT id, name, type, length(data), CASE WHEN length(data) <= ?3 THEN data END "
                        "FROM vals WHERE id BETWEEN ?1 AND ?5 ORDER BY id LIMIT ?2 OFFSET ?4");
    q.bind(1, firstValueId(key)).bind(2, limit).bind(3, kListedDataLimit).bind(4, static_cast<std::int64_t>(from));
    q.bind(5, lastValueId(key));
    while (q.step()) {
        const DWORD size = static_cast<DWORD>(q.columnInt64(3));
        const bool loaded = size <= kListedDataLimit;
        out.push_back({q.columnInt64(0), decodeName(q.columnBlob(1)), static_cast<DWORD>(q.columnInt64(2)), size,
                       loaded, loaded ? std::string(q.columnBlob(4)) : std::string()});
    }
}

bool ValueStore::readData(ValueId value, BYTE* buffer, DWORD expectedSize) {
    flushKey(value >> kPositionBits);
    Query q = db_.query("SELECT data FROM vals WHERE id = ?1");
    q.bind(1, value);
    if (!q.step()) return false;
    const std::string_view data = q.columnBlob(0);
    if (data.size() != expectedSize) return false;
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    return true;
}

LONG ValueStore::setRow(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size, bool& changed) {
    changed = false;
    const std::string storedName = encodeName(name);
    const std::string fold = encodeFold(name);
    // Overwriting keeps the row, so the value keeps its place and the case of its name; a new
    // value takes the position after the key's last. A key out of positions fails the check.
    Query upsert =
        db_.query("INSERT INTO vals(id, key, fold, name, type, data) VALUES("
                  "coalesce((SELECT id FROM vals WHERE id BETWEEN ?6 AND ?7 ORDER BY id DESC LIMIT 1), ?6) + 1, "
                  "?1, ?3, ?2, ?4, ?5) "
                  "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data "
                  "WHERE vals.type IS NOT excluded.type OR vals.data IS NOT excluded.data");
    upsert.bind(1, key).bindBlob(2, storedName).bindBlob(3, fold).bind(4, type).bindBlob(5, data, size);
    upsert.bind(6, firstValueId(key)).bind(7, lastValueId(key));
    try {
        upsert.step();
    } catch (const Error& e) {
        if (e.primaryCode() != SQLITE_CONSTRAINT) throw;
        return keyRowExists(db_, key) ? ERROR_CANTWRITE : ERROR_KEY_DELETED;
    }
    changed = db_.changes() > 0;  // the same type and data again update no row
    return ERROR_SUCCESS;
}

LONG ValueStore::setPending(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) {
    if (pending_.key != key) {
        flush();
        std::vector<StoredValue> values;
        const bool isNew = key == newKey_;
        newKey_ = kNoKey;
        const Form form = isNew ? Form::None : load(key, values);
        // The batch holds the write lock: a key that exists now still exists when its pack is written.
        if (form == Form::None && !isNew && !keyRowExists(db_, key)) return ERROR_KEY_DELETED;
        pending_.key = key;
        pending_.rows = form == Form::Rows;
        pending_.hadPack = form == Form::Packed;
        pending_.bytes = packedBytes(values);
        if (isNew)
            pending_.values.clear();  // keeps the room the last key's values had
        else
            pending_.values = std::move(values);
    }
    bool changed = false;
    if (pending_.rows) {
        const LONG rc = setRow(key, name, type, data, size, changed);
        if (changed) pending_.touched = db_.writeTime();
        return rc;
    }
    const std::size_t at = pending_.find(name);
    if (at != SIZE_MAX && sameData(pending_.values[at], type, data, size)) return ERROR_SUCCESS;
    if (!fitsWith(pending_.values, pending_.bytes, at, name, type, size)) {
        // Grown out of a pack: the values so far become rows, then this one is written as a row,
        // so that a value the store refuses fails alone. The key's later values are rows too.
        const std::vector<StoredValue> held = std::move(pending_.values);
        const std::int64_t touched = pending_.touched;
        pending_ = Pending{};
        writeOrRollBack(db_, [&] { writeRows(db_, key, held); });
        pending_.key = key;
        pending_.rows = true;
        pending_.touched = touched;
        const LONG rc = setRow(key, name, type, data, size, changed);
        if (changed) pending_.touched = db_.writeTime();
        return rc;
    }
    if (at == SIZE_MAX) {
        pending_.add({std::u16string(name), type, std::string(reinterpret_cast<const char*>(data), size)});
    } else {
        pending_.bytes -= packedSize(pending_.values[at]);
        setAt(pending_.values, at, name, type, data, size);
        pending_.bytes += packedSize(pending_.values[at]);
    }
    pending_.touched = db_.writeTime();
    db_.noteLocalChange();
    return ERROR_SUCCESS;
}

LONG ValueStore::set(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) {
    dropStale();
    if (batch_ && db_.inTransaction()) return setPending(key, name, type, data, size);
    WriteTransaction tx(db_);
    std::vector<StoredValue> values;
    const Form form = load(key, values);
    bool changed = false;
    if (form == Form::Rows) {
        const LONG rc = setRow(key, name, type, data, size, changed);
        if (changed) touch(key);
        if (rc == ERROR_SUCCESS) tx.commit();
        return rc;
    }
    if (form == Form::None && !keyRowExists(db_, key)) return ERROR_KEY_DELETED;
    const std::size_t at = findByName(values, name);
    // The same data again is no write, as in Windows and Wine: the key keeps its time.
    if (at != SIZE_MAX && sameData(values[at], type, data, size)) return ERROR_SUCCESS;
    if (!fitsWith(values, packedBytes(values), at, name, type, size)) {
        // The key's values become rows, the new data one of them.
        writeRows(db_, key, values);
        const LONG rc = setRow(key, name, type, data, size, changed);
        touch(key);
        if (rc == ERROR_SUCCESS) tx.commit();
        return rc;
    }
    setAt(values, at, name, type, data, size);
    store(db_, key, values, form == Form::Packed, packedBytes(values));
    touch(key);
    tx.commit();
    return ERROR_SUCCESS;
}

LONG ValueStore::remove(KeyId key, std::u16string_view name) {
    flushKey(key);
    WriteTransaction tx(db_);
    std::vector<StoredValue> values;
    const Form form = load(key, values);
    LONG rc = ERROR_SUCCESS;
    if (form == Form::Rows) {
        const std::string fold = encodeFold(name);
        db_.query("DELETE FROM vals WHERE key = ?1 AND fold = ?2").bind(1, key).bindBlob(2, fold).step();
        if (db_.changes() == 0) rc = missingValue(db_, key);
    } else if (const std::size_t at = findByName(values, name); at == SIZE_MAX) {
        rc = missingValue(db_, key);
    } else {
        values.erase(values.begin() + static_cast<std::ptrdiff_t>(at));
        store(db_, key, values, true, packedBytes(values));
    }
    if (rc == ERROR_SUCCESS) touch(key);
    tx.commit();
    return rc;
}

LONG ValueStore::rename(KeyId key, std::u16string_view oldName, std::u16string_view newName) {
    flushKey(key);
    WriteTransaction tx(db_);
    std::vector<StoredValue> values;
    const Form form = load(key, values);
    if (form == Form::Rows) {
        const std::string oldFold = encodeFold(oldName);
        const std::string newFold = encodeFold(newName);
        ValueId value = 0;
        {
            Query find = db_.query("SELECT id FROM vals WHERE key = ?1 AND fold = ?2");
            find.bind(1, key).bindBlob(2, oldFold);
            if (find.step()) value = find.columnInt64(0);
        }
        if (value == 0) return missingValue(db_, key);
        if (newFold != oldFold &&
            db_.query("SELECT 1 FROM vals WHERE key = ?1 AND fold = ?2").bind(1, key).bindBlob(2, newFold).step())
            return ERROR_ALREADY_EXISTS;
        // The row stays, and with it the value's place in the creation order.
        const std::string name = encodeName(newName);
        db_.query("UPDATE vals SET name = ?2, fold = ?3 WHERE id = ?1")
            .bind(1, value)
            .bindBlob(2, name)
            .bindBlob(3, newFold)
            .step();
    } else {
        const std::size_t at = findByName(values, oldName);
        if (at == SIZE_MAX) return missingValue(db_, key);
        const std::size_t taken = findByName(values, newName);
        if (taken != SIZE_MAX && taken != at) return ERROR_ALREADY_EXISTS;
        values[at].name = newName;
        store(db_, key, values, true, packedBytes(values));
    }
    touch(key);
    tx.commit();
    return ERROR_SUCCESS;
}

}  // namespace tovik::sqlite
