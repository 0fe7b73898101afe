#include "stores/sqlite/sqlite_backend.h"

#include <sqlite3.h>

#include <cstring>
#include <string>
#include <utility>

#include "registry/name_fold.h"
#include "stores/sqlite/sqlite_db.h"

namespace tovik {
namespace {

using sqlite::Database;
using sqlite::Query;
using sqlite::WriteTransaction;

// Data up to this size is read with the value list, in the same query.
constexpr int kListedDataLimit = 4096;

bool isRootId(KeyId id) { return id >= 1 && id <= 3; }

// The range of value ids that belongs to a key (see the schema in sqlite_store.cpp).
constexpr int kPositionBits = 27;
std::int64_t firstValueId(KeyId key) { return static_cast<std::int64_t>(static_cast<std::uint64_t>(key) << kPositionBits); }
std::int64_t lastValueId(KeyId key) { return firstValueId(key) + ((std::int64_t{1} << kPositionBits) - 1); }

// ---- Name encodings (see the schema in sqlite_store.cpp) ----

std::string encodeName(std::u16string_view name)
{
    std::string bytes(name.size() * 2, '\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        bytes[2 * i] = static_cast<char>(name[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(name[i] >> 8);
    }
    return bytes;
}

std::string encodeFold(std::u16string_view name)
{
    std::string bytes(name.size() * 2, '\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t folded = FoldNameUnit(name[i]);
        bytes[2 * i] = static_cast<char>(folded >> 8);
        bytes[2 * i + 1] = static_cast<char>(folded & 0xFF);
    }
    return bytes;
}

std::u16string decodeName(std::string_view bytes)
{
    std::u16string name(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        name[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return name;
}

BackendFailure::Kind kindOf(const sqlite::Error& e)
{
    switch (e.primaryCode()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return BackendFailure::Kind::Busy;
    case SQLITE_NOMEM: return BackendFailure::Kind::NoMemory;
    case SQLITE_TOOBIG: return BackendFailure::Kind::TooBig;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return BackendFailure::Kind::Damaged;
    default: return BackendFailure::Kind::Other;
    }
}

// Runs body, turning SQLite's failures into the backend's.
template <class Body>
decltype(auto) guarded(Body&& body)
{
    try {
        return body();
    } catch (const sqlite::Error& e) {
        throw BackendFailure(kindOf(e));
    }
}

bool keyRowExists(Database& db, KeyId id)
{
    return db.query("SELECT 1 FROM keys WHERE id = ?1").bind(1, id).step();
}

// A key's stored depth is one more than its parent's in a sound store. A damaged or hand-edited
// file can make a key its own ancestor; on such a cycle at least one key breaks that rule, so a
// walk that refuses such keys always ends.
constexpr const char* kChildQuery =
    "SELECT c.id, c.depth = p.depth + 1 FROM keys c JOIN keys p ON p.id = c.parent "
    "WHERE c.parent = ?1 AND c.fold = ?2";

KeyId childOf(Database& db, KeyId parent, std::u16string_view name)
{
    const std::string fold = encodeFold(name);
    Query q = db.query(kChildQuery);
    q.bind(1, parent).bindBlob(2, fold);
    if (!q.step()) return kNoKey;
    if (q.columnInt64(1) == 0) throw BackendFailure(BackendFailure::Kind::Damaged);
    return q.columnInt64(0);
}

// Commits the batch's transaction and, when asked, begins the next one. The result is
// ERROR_SUCCESS when the writes since the last commit are durable, else the reason they were lost.
LONG commitAndBegin(Database& db, bool beginAgain)
{
    LONG result = ERROR_SUCCESS;
    try {
        if (db.inTransaction()) db.exec("COMMIT");
        else result = ERROR_CANTWRITE;  // a failed write rolled the batch back earlier
    } catch (const sqlite::Error& e) {
        result = RegistryResultOf(kindOf(e), true);
        if (db.inTransaction()) db.execIgnoringErrors("ROLLBACK");
        db.noteLocalChange();
    }
    if (beginAgain) {
        try {
            db.exec("BEGIN IMMEDIATE");
        } catch (const sqlite::Error&) {
            // Later writes of the batch then commit one by one, each reporting its own result.
        }
    }
    return result;
}

}  // namespace

SqliteBackend::SqliteBackend(std::unique_ptr<sqlite::Database> db) : db_(std::move(db)) {}

SqliteBackend::~SqliteBackend()
{
    if (db_ && db_->inTransaction()) db_->execIgnoringErrors("COMMIT");
}

KeyId SqliteBackend::rootKey(HKEY root) const
{
    return static_cast<KeyId>(root - HKEY_CLASSES_ROOT) + 1;
}

ChangeStamp SqliteBackend::changeStamp()
{
    return guarded([&] { return ChangeStamp{db_->localChanges(), db_->dataVersion()}; });
}

bool SqliteBackend::inTransaction()
{
    return db_->inTransaction();
}

bool SqliteBackend::keyExists(KeyId key)
{
    return guarded([&] { return keyRowExists(*db_, key); });
}

KeyId SqliteBackend::findChild(KeyId parent, std::u16string_view name)
{
    return guarded([&] { return childOf(*db_, parent, name); });
}

void SqliteBackend::listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out)
{
    guarded([&] {
        Query q = db_->query(
            "SELECT c.id, c.name, c.depth <> p.depth + 1 FROM keys c JOIN keys p ON p.id = c.parent "
            "WHERE c.parent = ?1 ORDER BY c.fold LIMIT ?2 OFFSET ?3");
        q.bind(1, key).bind(2, limit).bind(3, static_cast<std::int64_t>(from));
        while (q.step()) out.push_back({q.columnInt64(0), decodeName(q.columnBlob(1)), q.columnInt64(2) != 0});
    });
}

void SqliteBackend::listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out)
{
    guarded([&] {
        // length() of a blob does not read the blob itself; large data stays on disk until asked for.
        Query q = db_->query(
            "SELECT id, name, type, length(data), CASE WHEN length(data) <= ?3 THEN data END "
            "FROM vals WHERE id BETWEEN ?1 AND ?5 ORDER BY id LIMIT ?2 OFFSET ?4");
        q.bind(1, firstValueId(key)).bind(2, limit).bind(3, kListedDataLimit).bind(4, static_cast<std::int64_t>(from));
        q.bind(5, lastValueId(key));
        while (q.step()) {
            const DWORD size = static_cast<DWORD>(q.columnInt64(3));
            const bool loaded = size <= kListedDataLimit;
            out.push_back({q.columnInt64(0), decodeName(q.columnBlob(1)), static_cast<DWORD>(q.columnInt64(2)), size,
                           loaded, loaded ? std::string(q.columnBlob(4)) : std::string()});
        }
    });
}

bool SqliteBackend::readValueData(ValueId value, BYTE* buffer, DWORD expectedSize)
{
    return guarded([&] {
        Query q = db_->query("SELECT data FROM vals WHERE id = ?1");
        q.bind(1, value);
        if (!q.step()) return false;
        const std::string_view data = q.columnBlob(0);
        if (data.size() != expectedSize) return false;
        if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
        return true;
    });
}

LONG SqliteBackend::createKeys(KeyId parent, std::size_t parentDepth, std::span<const std::u16string_view> names,
                               KeyId& id, bool& created)
{
    return guarded([&]() -> LONG {
        Database& db = *db_;
        created = false;
        // One name inserts at most one row: a failure leaves nothing half done.
        WriteTransaction tx(db, names.size() == 1);
        // Walk under the lock: another process may have changed the tree since the caller looked.
        id = parent;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const KeyId child = childOf(db, id, names[i]);
            if (child != kNoKey) {
                id = child;
                created = false;
                continue;
            }
            // A parent deleted meanwhile: its children were deleted before it, so only the first
            // key to create can be missing.
            if (id == parent && !isRootId(parent) && !keyRowExists(db, parent)) return ERROR_KEY_DELETED;
            const std::string name = encodeName(names[i]);
            const std::string fold = encodeFold(names[i]);
            // key_ids follows every insert (a trigger), so an id is never given out twice.
            Query insert = db.query(
                "INSERT INTO keys(parent, fold, id, name, depth) "
                "VALUES(?1, ?2, (SELECT last + 1 FROM key_ids), ?3, ?4) RETURNING id");
            insert.bind(1, id).bindBlob(2, fold).bindBlob(3, name).bind(4, static_cast<std::int64_t>(parentDepth + i + 1));
            if (!insert.step()) throw sqlite::Error(SQLITE_INTERNAL, "no id for a new key");
            id = insert.columnInt64(0);
            while (insert.step()) {}
            created = true;
        }
        tx.commit();
        return ERROR_SUCCESS;
    });
}

LONG SqliteBackend::setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size)
{
    return guarded([&]() -> LONG {
        Database& db = *db_;
        const std::string storedName = encodeName(name);
        const std::string fold = encodeFold(name);
        WriteTransaction tx(db, true);
        // Overwriting keeps the row, so the value keeps its place and the case of its name; a new
        // value takes the position after the key's last. A key deleted meanwhile fails the insert
        // on its foreign key, a key out of positions on the check: no lookup of the key first.
        Query upsert = db.query(
            "INSERT INTO vals(id, key, fold, name, type, data) VALUES("
            "coalesce((SELECT id FROM vals WHERE id BETWEEN ?6 AND ?7 ORDER BY id DESC LIMIT 1), ?6) + 1, "
            "?1, ?3, ?2, ?4, ?5) "
            "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
        upsert.bind(1, key).bindBlob(2, storedName).bindBlob(3, fold).bind(4, type).bindBlob(5, data, size);
        upsert.bind(6, firstValueId(key)).bind(7, lastValueId(key));
        try {
            upsert.step();
        } catch (const sqlite::Error& e) {
            if (e.primaryCode() != SQLITE_CONSTRAINT) throw;
            return keyRowExists(db, key) ? ERROR_CANTWRITE : ERROR_KEY_DELETED;
        }
        tx.commit();
        return ERROR_SUCCESS;
    });
}

LONG SqliteBackend::deleteValue(KeyId key, std::u16string_view name)
{
    return guarded([&]() -> LONG {
        Database& db = *db_;
        const std::string fold = encodeFold(name);
        WriteTransaction tx(db);
        db.query("DELETE FROM vals WHERE key = ?1 AND fold = ?2").bind(1, key).bindBlob(2, fold).step();
        LONG rc = ERROR_SUCCESS;
        if (db.changes() == 0) rc = keyRowExists(db, key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        tx.commit();
        return rc;
    });
}

LONG SqliteBackend::deleteKey(KeyId key)
{
    if (isRootId(key)) return ERROR_ACCESS_DENIED;
    return guarded([&]() -> LONG {
        Database& db = *db_;
        WriteTransaction tx(db);
        LONG rc = ERROR_SUCCESS;
        if (db.query("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1").bind(1, key).step()) {
            rc = ERROR_ACCESS_DENIED;
        } else {
            db.query("DELETE FROM keys WHERE id = ?1").bind(1, key).step();  // values cascade
            if (db.changes() == 0) rc = ERROR_FILE_NOT_FOUND;
        }
        tx.commit();
        return rc;
    });
}

LONG SqliteBackend::renameKey(KeyId key, std::u16string_view newName)
{
    if (isRootId(key)) return ERROR_ACCESS_DENIED;
    if (newName.empty() || newName.find(u'\\') != std::u16string_view::npos) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        Database& db = *db_;
        WriteTransaction tx(db);
        KeyId parent = kNoKey;
        {
            Query parentOf = db.query("SELECT parent FROM keys WHERE id = ?1");
            parentOf.bind(1, key);
            if (!parentOf.step()) return ERROR_KEY_DELETED;
            parent = parentOf.columnInt64(0);
        }
        const KeyId sibling = childOf(db, parent, newName);
        if (sibling != kNoKey && sibling != key) return ERROR_ALREADY_EXISTS;
        // Children point at the key's id, so the whole subtree moves with this one row.
        const std::string name = encodeName(newName);
        const std::string fold = encodeFold(newName);
        db.query("UPDATE keys SET name = ?2, fold = ?3 WHERE id = ?1").bind(1, key).bindBlob(2, name).bindBlob(3, fold).step();
        tx.commit();
        return ERROR_SUCCESS;
    });
}

LONG SqliteBackend::renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName)
{
    return guarded([&]() -> LONG {
        Database& db = *db_;
        const std::string oldFold = encodeFold(oldName);
        const std::string newFold = encodeFold(newName);
        WriteTransaction tx(db);
        ValueId value = 0;
        {
            Query find = db.query("SELECT id FROM vals WHERE key = ?1 AND fold = ?2");
            find.bind(1, key).bindBlob(2, oldFold);
            if (find.step()) value = find.columnInt64(0);
        }
        if (value == 0) return keyRowExists(db, key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        if (newFold != oldFold && db.query("SELECT 1 FROM vals WHERE key = ?1 AND fold = ?2").bind(1, key).bindBlob(2, newFold).step())
            return ERROR_ALREADY_EXISTS;
        // The row stays, and with it the value's place in the creation order.
        const std::string name = encodeName(newName);
        db.query("UPDATE vals SET name = ?2, fold = ?3 WHERE id = ?1").bind(1, value).bindBlob(2, name).bindBlob(3, newFold).step();
        tx.commit();
        return ERROR_SUCCESS;
    });
}

LONG SqliteBackend::beginBatch()
{
    try {
        db_->exec("BEGIN IMMEDIATE");
        return ERROR_SUCCESS;
    } catch (const sqlite::Error& e) {
        return RegistryResultOf(kindOf(e), true);
    }
}

LONG SqliteBackend::commitBatch(bool beginAgain)
{
    return commitAndBegin(*db_, beginAgain);
}

std::vector<std::string> SqliteBackend::files() const
{
    const std::string& path = db_->path();
    if (path.empty() || path == ":memory:") return {};
    return {path, path + "-wal", path + "-shm"};
}

bool SqliteBackend::beginSnapshot()
{
    try {
        db_->exec("BEGIN");
        return true;
    } catch (const sqlite::Error&) {
        return false;
    }
}

void SqliteBackend::endSnapshot()
{
    db_->execIgnoringErrors("COMMIT");
}

}  // namespace tovik
