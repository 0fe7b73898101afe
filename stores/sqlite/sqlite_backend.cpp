#include "stores/sqlite/sqlite_backend.h"

#include <sqlite3.h>

#include <cstring>
#include <string>
#include <utility>

#include "stores/sqlite/sqlite_db.h"
#include "stores/sqlite/sqlite_values.h"
#include "stores/sqlite/value_pack.h"

namespace tovik {
namespace {

using sqlite::Database;
using sqlite::Query;
using sqlite::WriteTransaction;

bool isRootId(KeyId id) {
    return id >= 1 && id <= 3;
}

BackendFailure::Kind kindOf(const sqlite::Error& e) {
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
decltype(auto) guarded(Body&& body) {
    try {
        return body();
    } catch (const sqlite::Error& e) {
        throw BackendFailure(kindOf(e));
    }
}

// Commits the batch's transaction and, when asked, begins the next one. The result is
// ERROR_SUCCESS when the writes since the last commit are durable, else the reason they were lost.
LONG commitAndBegin(Database& db, sqlite::ValueStore& values, bool beginAgain) {
    LONG result = ERROR_SUCCESS;
    try {
        values.flush();
        if (db.inTransaction())
            db.exec("COMMIT");
        else
            result = ERROR_CANTWRITE;  // a failed write rolled the batch back earlier
    } catch (const sqlite::Error& e) {
        result = registryResultOf(kindOf(e), true);
        if (db.inTransaction()) db.execIgnoringErrors("ROLLBACK");
        db.noteLocalChange();
    }
    values.setBatch(false);
    if (beginAgain) {
        try {
            db.exec("BEGIN IMMEDIATE");
            values.setBatch(true);
        } catch (const sqlite::Error&) {
            // Later writes of the batch then commit one by one, each reporting its own result.
        }
    }
    return result;
}

}  // namespace

SqliteBackend::SqliteBackend(std::unique_ptr<sqlite::Database> db)
    : db_(std::move(db)), values_(std::make_unique<sqlite::ValueStore>(*db_)) {}

SqliteBackend::~SqliteBackend() {
    if (!db_) return;
    try {
        values_->flush();
    } catch (const sqlite::Error&) {
        // The batch was rolled back: nothing of it is kept.
    }
    if (db_->inTransaction()) db_->execIgnoringErrors("COMMIT");
}

KeyId SqliteBackend::rootKey(HKEY root) const {
    return static_cast<KeyId>(root - HKEY_CLASSES_ROOT) + 1;
}

ChangeStamp SqliteBackend::changeStamp() {
    return guarded([&] { return ChangeStamp{db_->localChanges(), db_->dataVersion()}; });
}

bool SqliteBackend::inTransaction() {
    return db_->inTransaction();
}

bool SqliteBackend::keyExists(KeyId key) {
    return guarded([&] { return knownDepth(key) || sqlite::keyRowExists(*db_, key); });
}

KeyId SqliteBackend::findChild(KeyId parent, std::u16string_view name) {
    return guarded([&] { return lookUpChild(parent, name, nullptr); });
}

KeyId SqliteBackend::findChildNamed(KeyId parent, std::u16string_view name, std::u16string& storedName) {
    return guarded([&] {
        const KeyId child = lookUpChild(parent, name, nullptr);
        if (child == kNoKey) return kNoKey;
        Query q = db_->query("SELECT name FROM keys WHERE id = ?1");
        q.bind(1, child);
        if (!q.step()) return kNoKey;
        storedName = sqlite::decodeName(q.columnBlob(0));
        return child;
    });
}

void SqliteBackend::listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out) {
    guarded([&] {
        const std::size_t first = out.size();
        std::vector<std::int64_t> depths;
        {
            Query q = db_->query("SELECT id, name, depth FROM keys WHERE parent = ?1 ORDER BY fold LIMIT ?2 OFFSET ?3");
            q.bind(1, key).bind(2, limit).bind(3, static_cast<std::int64_t>(from));
            while (q.step()) {
                out.push_back({q.columnInt64(0), sqlite::decodeName(q.columnBlob(1)), false});
                depths.push_back(q.columnInt64(2));
            }
        }
        if (depths.empty()) return;
        // The same check of depths as lookUpChild's, with the parent's depth read once for the
        // list, and not at all for a key without subkeys.
        std::int64_t depth = 0;
        bool found = false;
        if (const std::int64_t* known = knownDepth(key)) {
            depth = *known;
            found = true;
        } else {
            Query parent = db_->query("SELECT depth FROM keys WHERE id = ?1");
            parent.bind(1, key);
            found = parent.step();
            if (found) depth = parent.columnInt64(0);
            if (found) noteDepth(key, depth);
        }
        for (std::size_t i = 0; i < depths.size(); ++i) {
            out[first + i].damaged = !found || depths[i] != depth + 1;
            noteDepth(out[first + i].id, depths[i]);
        }
    });
}

std::int64_t SqliteBackend::keyWriteTime(KeyId key) {
    return guarded([&]() -> std::int64_t {
        values_->flushKey(key);  // its time is written with the values held back
        Query q = db_->query("SELECT written FROM keys WHERE id = ?1");
        q.bind(1, key);
        return q.step() ? q.columnInt64(0) : 0;
    });
}

void SqliteBackend::listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out) {
    guarded([&] { values_->list(key, from, limit, out); });
}

bool SqliteBackend::readValueData(ValueId value, BYTE* buffer, DWORD expectedSize) {
    return guarded([&] { return values_->readData(value, buffer, expectedSize); });
}

LONG SqliteBackend::createKeys(KeyId parent, std::size_t parentDepth, std::span<const std::u16string_view> names,
                               KeyId& id, bool& created) {
    return guarded([&]() -> LONG {
        Database& db = *db_;
        created = false;
        // Inside a batch, a key made by one name below a key that has this transaction's time
        // already is one statement, which needs no savepoint of its own (a savepoint copies every
        // page it changes first).
        WriteTransaction tx(db, names.size() == 1 && values_->hasWrittenNow(parent));
        const std::int64_t now = db.writeTime();
        KeyId touchedParent = kNoKey;  // the key that was there, below which the first was made
        // Walk under the lock: another process may have changed the tree since the caller looked.
        id = parent;
        for (std::size_t i = 0; i < names.size(); ++i) {
            bool parentExists = true;
            // Below a key made just now there is nothing yet.
            const KeyId child = created ? kNoKey : lookUpChild(id, names[i], &parentExists);
            // A parent deleted meanwhile: its children were deleted before it, so only the first
            // key to create can be missing.
            if (!parentExists) return ERROR_KEY_DELETED;
            if (child != kNoKey) {
                id = child;
                continue;
            }
            const std::string name = sqlite::encodeName(names[i]);
            const std::string fold = sqlite::encodeFold(names[i]);
            const KeyId newId = nextKeyId();
            db.query("INSERT INTO keys(parent, fold, id, name, depth, written) VALUES(?1, ?2, ?5, ?3, ?4, ?6)")
                .bind(1, id)
                .bindBlob(2, fold)
                .bindBlob(3, name)
                .bind(4, static_cast<std::int64_t>(parentDepth + i + 1))
                .bind(5, newId)
                .bind(6, now)
                .step();
            if (!created) touchedParent = id;
            lastKeyId_ = id = newId;
            values_->noteWritten(id);
            noteDepth(id, static_cast<std::int64_t>(parentDepth + i + 1));
            created = true;
        }
        // A new key changes its parent's list of subkeys: the parent counts as written. The keys
        // made below the first new one have their time already.
        if (touchedParent != kNoKey) values_->touch(touchedParent);
        tx.commit();
        if (created) values_->noteNewKey(id);
        return ERROR_SUCCESS;
    });
}

KeyId SqliteBackend::nextKeyId() {
    // Inside one transaction no other connection gives out ids.
    if (!db_->inTransaction() || keyIdsRead_ != db_->transactionSerial()) {
        // Above every key there is and every key there was (key_ids keeps the highest id deleted).
        Query last = db_->query("SELECT max((SELECT last FROM key_ids), coalesce((SELECT max(id) FROM keys), 0))");
        if (!last.step()) throw BackendFailure(BackendFailure::Kind::Damaged);
        lastKeyId_ = last.columnInt64(0);
        keyIdsRead_ = db_->transactionSerial();
    }
    return lastKeyId_ + 1;
}

namespace {
constexpr std::size_t kDepthSlots = std::size_t{1} << 16;
}  // namespace

const std::int64_t* SqliteBackend::knownDepth(KeyId key) {
    if (depths_.empty() || !db_->inTransaction()) return nullptr;
    const DepthSlot& slot = depths_[static_cast<std::size_t>(key) % kDepthSlots];
    return slot.key == key && slot.serial == db_->transactionSerial() ? &slot.depth : nullptr;
}

void SqliteBackend::noteDepth(KeyId key, std::int64_t depth) {
    if (!db_->inTransaction()) return;
    if (depths_.empty()) depths_.resize(kDepthSlots);
    depths_[static_cast<std::size_t>(key) % kDepthSlots] = {key, depth, db_->transactionSerial()};
}

void SqliteBackend::forgetDepth(KeyId key) {
    if (depths_.empty()) return;
    DepthSlot& slot = depths_[static_cast<std::size_t>(key) % kDepthSlots];
    if (slot.key == key) slot = {};
}

KeyId SqliteBackend::lookUpChild(KeyId parent, std::u16string_view name, bool* parentExists) {
    Database& db = *db_;
    const std::string fold = sqlite::encodeFold(name);
    KeyId child = kNoKey;
    std::int64_t childDepth = 0, depth = 0;
    if (const std::int64_t* known = knownDepth(parent)) {
        depth = *known;
        Query q = db.query("SELECT id, depth FROM keys WHERE parent = ?1 AND fold = ?2");
        q.bind(1, parent).bindBlob(2, fold);
        if (!q.step()) return kNoKey;
        child = q.columnInt64(0);
        childDepth = q.columnInt64(1);
    } else if (parentExists) {
        // One query tells whether the parent is there and finds the child.
        Query q =
            db.query("SELECT p.depth, c.id, c.depth FROM keys p LEFT JOIN keys c ON c.parent = p.id AND c.fold = ?2 "
                     "WHERE p.id = ?1");
        q.bind(1, parent).bindBlob(2, fold);
        *parentExists = q.step();
        if (!*parentExists) return kNoKey;
        depth = q.columnInt64(0);
        noteDepth(parent, depth);
        child = q.columnInt64(1);  // 0, kNoKey, when there is no such child
        childDepth = q.columnInt64(2);
        if (child == kNoKey) return kNoKey;
    } else {
        Query q = db.query("SELECT c.id, c.depth, p.depth FROM keys c JOIN keys p ON p.id = c.parent "
                           "WHERE c.parent = ?1 AND c.fold = ?2");
        q.bind(1, parent).bindBlob(2, fold);
        if (!q.step()) return kNoKey;
        child = q.columnInt64(0);
        childDepth = q.columnInt64(1);
        depth = q.columnInt64(2);
        noteDepth(parent, depth);
    }
    if (childDepth != depth + 1) throw BackendFailure(BackendFailure::Kind::Damaged);
    noteDepth(child, childDepth);
    return child;
}

LONG SqliteBackend::setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) {
    return guarded([&] { return values_->set(key, name, type, data, size); });
}

LONG SqliteBackend::deleteValue(KeyId key, std::u16string_view name) {
    return guarded([&] { return values_->remove(key, name); });
}

LONG SqliteBackend::deleteKey(KeyId key) {
    if (isRootId(key)) return ERROR_ACCESS_DENIED;
    return guarded([&]() -> LONG {
        Database& db = *db_;
        values_->flushKey(key);
        forgetDepth(key);
        // A key with subkeys is not deleted, and only then is it asked why nothing was; the parent
        // of a deleted key counts as written.
        WriteTransaction tx(db);
        KeyId parent = kNoKey;
        {
            Query removed = db.query("DELETE FROM keys WHERE id = ?1 AND NOT EXISTS (SELECT 1 FROM keys WHERE parent = "
                                     "?1) RETURNING parent");
            removed.bind(1, key);
            if (removed.step()) parent = removed.columnInt64(0);  // values cascade
        }
        LONG rc = ERROR_SUCCESS;
        if (parent == kNoKey) {
            rc = sqlite::keyRowExists(db, key) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
        } else {
            values_->touch(parent);
            // Its id is never given out again.
            db.query("UPDATE key_ids SET last = ?1 WHERE last < ?1").bind(1, key).step();
        }
        tx.commit();
        return rc;
    });
}

LONG SqliteBackend::renameKey(KeyId key, std::u16string_view newName) {
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
        const KeyId sibling = lookUpChild(parent, newName, nullptr);
        if (sibling != kNoKey && sibling != key) return ERROR_ALREADY_EXISTS;
        // Children point at the key's id, so the whole subtree moves with this one row.
        const std::string name = sqlite::encodeName(newName);
        const std::string fold = sqlite::encodeFold(newName);
        db.query("UPDATE keys SET name = ?2, fold = ?3, written = ?4 WHERE id = ?1")
            .bind(1, key)
            .bindBlob(2, name)
            .bindBlob(3, fold)
            .bind(4, db.writeTime())
            .step();
        tx.commit();
        return ERROR_SUCCESS;
    });
}

LONG SqliteBackend::renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) {
    return guarded([&] { return values_->rename(key, oldName, newName); });
}

LONG SqliteBackend::beginBatch() {
    try {
        db_->exec("BEGIN IMMEDIATE");
        values_->setBatch(true);
        // A batch may write hundreds of megabytes in one transaction (an undo of a large delete
        // is all or nothing): with SQLite's 2 MB of pages it writes changed pages out and reads
        // them back again and again. The cache grows only as the batch uses it.
        db_->exec("PRAGMA cache_size = -65536");
        return ERROR_SUCCESS;
    } catch (const sqlite::Error& e) {
        return registryResultOf(kindOf(e), true);
    }
}

LONG SqliteBackend::commitBatch(bool beginAgain) {
    const LONG rc = commitAndBegin(*db_, *values_, beginAgain);
    if (!beginAgain) db_->execIgnoringErrors("PRAGMA cache_size = -2000");  // SQLite's default again
    return rc;
}

std::vector<std::string> SqliteBackend::files() const {
    const std::string& path = db_->path();
    if (path.empty() || path == ":memory:") return {};
    return {path, path + "-wal", path + "-shm"};
}

bool SqliteBackend::beginSnapshot() {
    try {
        db_->exec("BEGIN");
        return true;
    } catch (const sqlite::Error&) {
        return false;
    }
}

void SqliteBackend::endSnapshot() {
    db_->execIgnoringErrors("COMMIT");
}

}  // namespace tovik
