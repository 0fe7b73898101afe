#include "registry/registry_api.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/name_fold.h"
#include "registry/registry_store.h"
#include "registry/sqlite_db.h"

namespace {

using tovik::sqlite::Database;
using tovik::sqlite::Query;
using tovik::sqlite::WriteTransaction;

constexpr std::int64_t kNoKey = 0;
constexpr HKEY kFirstRoot = HKEY_CLASSES_ROOT;
constexpr HKEY kLastRoot = HKEY_LOCAL_MACHINE;

bool isRoot(HKEY h) { return h >= kFirstRoot && h <= kLastRoot; }
std::int64_t rootId(HKEY h) { return static_cast<std::int64_t>(h - kFirstRoot) + 1; }
bool isRootId(std::int64_t id) { return id >= rootId(kFirstRoot) && id <= rootId(kLastRoot); }

// ---- Name encodings (see the schema in registry_store.cpp) ----

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

// ---- Handles and their enumeration snapshots ----

struct ValueEntry {
    std::int64_t id;
    std::u16string name;
    DWORD type;
    DWORD size;
    bool dataLoaded;   // small data comes with the snapshot; larger data is read when asked for
    std::string data;
};

// Data up to this size is read with the value list, in the same query.
constexpr int kSnapshotDataLimit = 4096;

// The state of the store when something was read from it: what was read holds as long as this
// process has written nothing and no other process has committed since. Taken before the read.
struct Seen {
    std::uint64_t localChanges = ~std::uint64_t{0};
    std::int64_t dataVersion = -1;

    static Seen now(Database& db) { return {db.localChanges(), db.dataVersion()}; }
    bool stillHolds(Database& db) const { return localChanges == db.localChanges() && dataVersion == db.dataVersion(); }
};

// A handle's copy of a child list, so that enumerating by index costs O(1) per call.
template <class Entry>
struct Snapshot {
    bool valid = false;
    bool complete = false;  // false: only the first entry was fetched
    Seen seen;
    std::vector<Entry> entries;
};

struct SubkeyEntry {
    std::int64_t id;
    std::u16string name;
    std::int64_t depth;  // as stored: one more than its parent's in a sound store
};

struct OpenKey {
    std::int64_t id;
    std::size_t depth;
    Seen existed;  // when the key was last known to exist; walks then skip asking again
    Snapshot<SubkeyEntry> subkeys;
    Snapshot<ValueEntry> values;
    // The subkey enumeration returned last: a walk opens it next, and finds it here.
    std::size_t lastSubkey = SIZE_MAX;
};

class HandleTable {
public:
    // A store that was closed or replaced takes its handles with it.
    void follow(std::uint64_t storeSerial)
    {
        if (storeSerial == serial_) return;
        serial_ = storeSerial;
        keys_.clear();
        next_ = 1;
        for (HKEY root = kFirstRoot; root <= kLastRoot; ++root) keys_.emplace(root, OpenKey{rootId(root), 0, {}, {}, {}});
    }

    OpenKey* find(HKEY h)
    {
        auto it = keys_.find(h);
        return it == keys_.end() ? nullptr : &it->second;
    }

    HKEY add(std::int64_t id, std::size_t depth, Seen existed)
    {
        for (;;) {
            const HKEY h = next_;
            next_ = next_ + 1 >= kFirstRoot ? 1 : next_ + 1;
            if (keys_.try_emplace(h, OpenKey{id, depth, existed, {}, {}}).second) return h;
        }
    }

    bool close(HKEY h)
    {
        if (isRoot(h)) return true;
        return keys_.erase(h) == 1;
    }

private:
    std::uint64_t serial_ = 0;
    std::unordered_map<HKEY, OpenKey> keys_;  // node-based: OpenKey pointers survive inserts
    HKEY next_ = 1;
};

HandleTable g_handles;

// Runs one operation on the current store, turning failures of the store into result codes.
template <class Body>
LONG withStore(bool writing, Body body)
{
    Database* db = tovik::CurrentRegistryDatabase();
    if (!db) return ERROR_BADDB;
    try {
        g_handles.follow(tovik::CurrentRegistryStoreSerial());
        return body(*db);
    } catch (const tovik::sqlite::Error& e) {
        return tovik::RegistryResultOf(e, writing);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

// Splits "A\B\C" into its names. One trailing backslash is tolerated; a leading one, an empty
// name, a name that is too long or more names than any key can be deep are refused.
LONG splitPath(LPCWSTR path, std::vector<std::u16string_view>& parts)
{
    parts.clear();
    if (!path || !*path) return ERROR_SUCCESS;
    std::u16string_view rest(path);
    if (rest.back() == u'\\') rest.remove_suffix(1);
    for (;;) {
        const std::size_t cut = rest.find(u'\\');
        const std::u16string_view name = rest.substr(0, cut);
        if (name.empty() || name.size() > static_cast<std::size_t>(kMaxKeyNameLength))
            return ERROR_INVALID_PARAMETER;
        if (parts.size() == static_cast<std::size_t>(kMaxKeyDepth)) return ERROR_INVALID_PARAMETER;
        parts.push_back(name);
        if (cut == std::u16string_view::npos) return ERROR_SUCCESS;
        rest.remove_prefix(cut + 1);
    }
}

bool keyExists(Database& db, std::int64_t id)
{
    return db.query("SELECT 1 FROM keys WHERE id = ?1").bind(1, id).step();
}

// keyExists for an open key, without a query while nothing changed since it was last seen.
bool keyExists(Database& db, OpenKey& key)
{
    if (key.existed.stillHolds(db)) return true;
    const Seen before = Seen::now(db);
    if (!keyExists(db, key.id)) return false;
    key.existed = before;
    return true;
}

// A child whose stored depth is not its parent's plus one lies on a cycle (a damaged or
// hand-edited file made a key its own ancestor): walks into it would never end. Depth beyond the
// store's limit is proof as well, whatever the stored depths say.
bool soundDepth(std::int64_t stored, std::size_t expected)
{
    return expected <= static_cast<std::size_t>(kMaxKeyDepth) && stored == static_cast<std::int64_t>(expected);
}

// The child's id, kNoKey when there is none; *depth receives its stored depth.
std::int64_t findChild(Database& db, std::int64_t parent, std::u16string_view name, std::int64_t* depth)
{
    const std::string fold = encodeFold(name);
    Query q = db.query("SELECT id, depth FROM keys WHERE parent = ?1 AND fold = ?2");
    q.bind(1, parent).bindBlob(2, fold);
    if (!q.step()) return kNoKey;
    *depth = q.columnInt64(1);
    return q.columnInt64(0);
}

// The key at parts below base, or the reason there is none.
LONG resolve(Database& db, OpenKey& base, const std::vector<std::u16string_view>& parts, std::int64_t& id)
{
    id = base.id;
    std::size_t depth = base.depth;
    for (const std::u16string_view name : parts) {
        std::int64_t storedDepth = 0;
        const std::int64_t child = findChild(db, id, name, &storedDepth);
        if (child == kNoKey) {
            return id == base.id && !keyExists(db, base) ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
        }
        if (!soundDepth(storedDepth, ++depth)) return ERROR_BADDB;
        id = child;
    }
    if (parts.empty() && !keyExists(db, base)) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

void loadSubkeys(Database& db, std::int64_t key, std::int64_t limit, std::vector<SubkeyEntry>& out)
{
    Query q = db.query("SELECT id, name, depth FROM keys WHERE parent = ?1 ORDER BY fold LIMIT ?2");
    q.bind(1, key).bind(2, limit);
    while (q.step()) out.push_back({q.columnInt64(0), decodeName(q.columnBlob(1)), q.columnInt64(2)});
}

// The id of the subkey named exactly name when the last enumeration of base returned it and
// nothing changed since; kNoKey otherwise (the caller then looks it up).
const SubkeyEntry* lastEnumeratedSubkey(Database& db, const OpenKey& base, const std::vector<std::u16string_view>& parts)
{
    const Snapshot<SubkeyEntry>& list = base.subkeys;
    if (parts.size() != 1 || !list.valid || base.lastSubkey >= list.entries.size()) return nullptr;
    const SubkeyEntry& entry = list.entries[base.lastSubkey];
    if (entry.name != parts[0] || !list.seen.stillHolds(db)) return nullptr;
    return &entry;
}

void loadValues(Database& db, std::int64_t key, std::int64_t limit, std::vector<ValueEntry>& out)
{
    // length() of a blob does not read the blob itself; large data stays on disk until asked for.
    Query q = db.query(
        "SELECT id, name, type, length(data), CASE WHEN length(data) <= ?3 THEN data END "
        "FROM vals WHERE key = ?1 ORDER BY id LIMIT ?2");
    q.bind(1, key).bind(2, limit).bind(3, kSnapshotDataLimit);
    while (q.step()) {
        const DWORD size = static_cast<DWORD>(q.columnInt64(3));
        const bool loaded = size <= kSnapshotDataLimit;
        out.push_back({q.columnInt64(0), decodeName(q.columnBlob(1)), static_cast<DWORD>(q.columnInt64(2)), size,
                       loaded, loaded ? std::string(q.columnBlob(4)) : std::string()});
    }
}

// The entry at index of a handle's snapshot, refreshing the snapshot when stale. A stale
// snapshot asked for index 0 fetches that one row only: deleting a subtree asks for index 0
// again after every deletion, and must not re-read the whole list each time.
template <class Entry, class Loader>
LONG entryAt(Database& db, OpenKey& key, Snapshot<Entry>& snapshot, DWORD index, Loader load,
             const Entry*& entry)
{
    const Seen now = Seen::now(db);  // read before the rows, never after
    const bool fresh = snapshot.valid && snapshot.seen.stillHolds(db);
    if (!fresh || (!snapshot.complete && index >= snapshot.entries.size())) {
        snapshot.valid = false;
        snapshot.entries.clear();
        const bool firstOnly = !fresh && index == 0;
        load(db, key.id, firstOnly ? 1 : -1, snapshot.entries);
        snapshot.complete = !firstOnly || snapshot.entries.empty();
        if (!fresh) snapshot.seen = now;
        snapshot.valid = true;
        if (!snapshot.entries.empty()) key.existed = snapshot.seen;  // children need their key
    }
    if (index < snapshot.entries.size()) {
        entry = &snapshot.entries[index];
        return ERROR_SUCCESS;
    }
    return keyExists(db, key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
}

}  // namespace

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = 0;
    return withStore(false, [&](Database& db) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKey, parts)) return rc;
        if (const SubkeyEntry* entry = lastEnumeratedSubkey(db, *base, parts)) {
            if (!soundDepth(entry->depth, base->depth + 1)) return ERROR_BADDB;
            *phkResult = g_handles.add(entry->id, base->depth + 1, base->subkeys.seen);
            return ERROR_SUCCESS;
        }
        const Seen before = Seen::now(db);
        std::int64_t id = kNoKey;
        if (const LONG rc = resolve(db, *base, parts, id)) return rc;
        *phkResult = g_handles.add(id, base->depth + parts.size(), before);
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY hKey)
{
    return withStore(false, [&](Database&) -> LONG {
        return g_handles.close(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    });
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                   LPDWORD lpcchClass, void*)
{
    return withStore(false, [&](Database& db) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
        const SubkeyEntry* entry = nullptr;
        if (const LONG rc = entryAt(db, *key, key->subkeys, dwIndex, loadSubkeys, entry)) return rc;
        key->lastSubkey = dwIndex;
        const std::u16string* name = &entry->name;
        const DWORD length = static_cast<DWORD>(name->size());
        if (*lpcchName <= length) {
            *lpcchName = length;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpName, name->data(), length * sizeof(WCHAR));
        lpName[length] = 0;
        *lpcchName = length;
        if (lpcchClass) {  // keys have no class
            if (lpClass && *lpcchClass > 0) lpClass[0] = 0;
            *lpcchClass = 0;
        }
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return withStore(false, [&](Database& db) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
        // The data is read apart from the snapshot; should another process change the value in
        // between, the snapshot is refreshed and the call made again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const ValueEntry* value = nullptr;
            if (const LONG rc = entryAt(db, *key, key->values, dwIndex, loadValues, value)) return rc;
            const DWORD length = static_cast<DWORD>(value->name.size());
            const bool nameFits = *lpcchValueName > length;
            const bool dataFits = !lpData || *lpcbData >= value->size;
            if (lpType) *lpType = value->type;
            if (nameFits) {
                std::memcpy(lpValueName, value->name.data(), length * sizeof(WCHAR));
                lpValueName[length] = 0;
            }
            if (!nameFits || !dataFits) {
                *lpcchValueName = length;
                if (lpcbData) *lpcbData = value->size;
                return ERROR_MORE_DATA;
            }
            if (lpData && value->size > 0 && value->dataLoaded) {
                std::memcpy(lpData, value->data.data(), value->size);
            } else if (lpData && value->size > 0) {
                Query q = db.query("SELECT data FROM vals WHERE id = ?1");
                q.bind(1, value->id);
                const bool found = q.step();
                const std::string_view data = found ? q.columnBlob(0) : std::string_view();
                if (!found || data.size() != value->size) {
                    key->values.valid = false;
                    continue;
                }
                std::memcpy(lpData, data.data(), data.size());
            }
            *lpcchValueName = length;
            if (lpcbData) *lpcbData = value->size;
            return ERROR_SUCCESS;
        }
        return ERROR_BUSY;
    });
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, void*, PHKEY phkResult,
                     LPDWORD lpdwDisposition)
{
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = 0;
    return withStore(true, [&](Database& db) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKey, parts)) return rc;
        const std::size_t depth = base->depth + parts.size();
        if (depth > static_cast<std::size_t>(kMaxKeyDepth)) return ERROR_INVALID_PARAMETER;

        // Opening keys that exist needs no write lock; inside a batch the lock is held already,
        // and the walk below looks each name up once.
        Seen existed = Seen::now(db);
        std::int64_t id = kNoKey;
        LONG rc = parts.empty() || !db.inTransaction() ? resolve(db, *base, parts, id) : ERROR_FILE_NOT_FOUND;
        DWORD disposition = REG_OPENED_EXISTING_KEY;
        if (rc == ERROR_FILE_NOT_FOUND) {
            // One name inserts at most one row: a failure leaves nothing half done.
            WriteTransaction tx(db, parts.size() == 1);
            // Walk again under the lock: another process may have changed the tree meanwhile. A
            // base deleted meanwhile has no children and fails the first insert on its foreign key.
            id = base->id;
            for (std::size_t i = 0; i < parts.size(); ++i) {
                std::int64_t storedDepth = 0;
                const std::int64_t child = findChild(db, id, parts[i], &storedDepth);
                if (child != kNoKey) {
                    if (!soundDepth(storedDepth, base->depth + i + 1)) return ERROR_BADDB;
                    id = child;
                    disposition = REG_OPENED_EXISTING_KEY;
                    continue;
                }
                const std::string name = encodeName(parts[i]);
                const std::string fold = encodeFold(parts[i]);
                Query insert = db.query("INSERT INTO keys(parent, name, fold, depth) VALUES(?1, ?2, ?3, ?4)");
                insert.bind(1, id).bindBlob(2, name).bindBlob(3, fold).bind(4, static_cast<std::int64_t>(base->depth + i + 1));
                try {
                    insert.step();
                } catch (const tovik::sqlite::Error& e) {
                    if (e.primaryCode() != SQLITE_CONSTRAINT || id != base->id || keyExists(db, base->id)) throw;
                    return ERROR_KEY_DELETED;
                }
                id = db.lastInsertRowid();
                disposition = REG_CREATED_NEW_KEY;
            }
            tx.commit();
            rc = ERROR_SUCCESS;
            // Outside a transaction another process may delete the key the moment this one ends.
            existed = db.inTransaction() ? Seen::now(db) : Seen{};
        }
        if (rc != ERROR_SUCCESS) return rc;
        *phkResult = g_handles.add(id, depth, existed);
        if (lpdwDisposition) *lpdwDisposition = disposition;
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    return withStore(true, [&](Database& db) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        const std::u16string_view name = lpValueName ? std::u16string_view(lpValueName) : std::u16string_view();
        if (name.size() > static_cast<std::size_t>(kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
        if (!lpData && cbData > 0) return ERROR_INVALID_PARAMETER;
        const std::string storedName = encodeName(name);
        const std::string fold = encodeFold(name);

        WriteTransaction tx(db, true);
        // Overwriting keeps the row, so the value keeps its place and the case of its name. A
        // key deleted meanwhile fails the insert on its foreign key: no lookup of the key first.
        Query upsert = db.query(
            "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
            "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
        upsert.bind(1, key->id).bindBlob(2, storedName).bindBlob(3, fold).bind(4, dwType).bindBlob(5, lpData, cbData);
        try {
            upsert.step();
        } catch (const tovik::sqlite::Error& e) {
            if (e.primaryCode() != SQLITE_CONSTRAINT) throw;
            return keyExists(db, *key) ? ERROR_CANTWRITE : ERROR_KEY_DELETED;
        }
        tx.commit();
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    return withStore(true, [&](Database& db) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        const std::u16string_view name = lpValueName ? std::u16string_view(lpValueName) : std::u16string_view();
        if (name.size() > static_cast<std::size_t>(kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
        const std::string fold = encodeFold(name);

        WriteTransaction tx(db);
        db.query("DELETE FROM vals WHERE key = ?1 AND fold = ?2").bind(1, key->id).bindBlob(2, fold).step();
        LONG rc = ERROR_SUCCESS;
        if (db.changes() == 0) rc = keyExists(db, *key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        tx.commit();
        return rc;
    });
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    return withStore(true, [&](Database& db) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKey, parts)) return rc;
        if (parts.empty()) return isRootId(base->id) ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER;

        WriteTransaction tx(db);
        std::int64_t id = kNoKey;
        LONG rc = resolve(db, *base, parts, id);
        if (rc == ERROR_SUCCESS && db.query("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1").bind(1, id).step())
            rc = ERROR_ACCESS_DENIED;
        if (rc == ERROR_SUCCESS) db.query("DELETE FROM keys WHERE id = ?1").bind(1, id).step();  // values cascade
        tx.commit();
        return rc;
    });
}

const char16_t* RootKeyName(HKEY root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT: return u"HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return u"HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return u"HKEY_LOCAL_MACHINE";
    default: return u"";
    }
}
