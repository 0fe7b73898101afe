#include "registry/registry_api.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/backend.h"
#include "registry/registry_store.h"
#include "registry/roots.h"

namespace {

using tovik::Backend;
using tovik::BackendFailure;
using tovik::ChangeStamp;
using tovik::KeyId;
using tovik::kNoKey;
using tovik::SubkeyEntry;
using tovik::ValueEntry;

// Handles of opened keys stay below the predefined roots' handles.
constexpr HKEY kFirstRoot = HKEY_CLASSES_ROOT;

bool isRoot(HKEY h) {
    return tovik::isHeldRoot(h);
}

// ---- Handles and their enumeration snapshots ----

// The state of the registry when something was read from it: what was read holds as long as
// this process has written nothing and no other process has committed since. Taken before the read.
struct Seen {
    ChangeStamp stamp;

    static Seen now(Backend& store) { return {store.changeStamp()}; }
    bool stillHolds(Backend& store) const { return stamp == store.changeStamp(); }
};

// A handle's copy of a child list, so that enumerating by index costs O(1) per call.
template <class Entry>
struct Snapshot {
    bool valid = false;
    bool complete = false;  // false: only the first entry was fetched
    Seen seen;
    std::vector<Entry> entries;
};

struct OpenKey {
    KeyId id;
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
    void follow(std::uint64_t storeSerial, const Backend& store) {
        if (storeSerial == serial_) return;
        serial_ = storeSerial;
        keys_.clear();
        next_ = 1;
        for (const tovik::RootInfo& root : tovik::heldRoots())
            keys_.emplace(root.handle, OpenKey{store.rootKey(root.handle), 0, {}, {}, {}});
    }

    OpenKey* find(HKEY h) {
        auto it = keys_.find(h);
        return it == keys_.end() ? nullptr : &it->second;
    }

    HKEY add(KeyId id, std::size_t depth, Seen existed) {
        for (;;) {
            const HKEY h = next_;
            next_ = next_ + 1 >= kFirstRoot ? 1 : next_ + 1;
            if (keys_.try_emplace(h, OpenKey{id, depth, existed, {}, {}}).second) return h;
        }
    }

    bool close(HKEY h) {
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
LONG withStore(bool writing, Body body) {
    Backend* store = tovik::currentBackend();
    if (!store) return ERROR_BADDB;
    try {
        g_handles.follow(tovik::currentRegistryStoreSerial(), *store);
        return body(*store);
    } catch (const BackendFailure& e) {
        return tovik::registryResultOf(e.kind(), writing);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

// Splits "A\B\C" into its names. One trailing backslash is tolerated; a leading one, an empty
// name, a name that is too long or more names than any key can be deep are refused.
LONG splitPath(LPCWSTR path, std::vector<std::u16string_view>& parts) {
    parts.clear();
    if (!path || !*path) return ERROR_SUCCESS;
    std::u16string_view rest(path);
    if (rest.back() == u'\\') rest.remove_suffix(1);
    for (;;) {
        const std::size_t cut = rest.find(u'\\');
        const std::u16string_view name = rest.substr(0, cut);
        if (name.empty() || name.size() > static_cast<std::size_t>(kMaxKeyNameLength)) return ERROR_INVALID_PARAMETER;
        if (parts.size() == static_cast<std::size_t>(kMaxKeyDepth)) return ERROR_INVALID_PARAMETER;
        parts.push_back(name);
        if (cut == std::u16string_view::npos) return ERROR_SUCCESS;
        rest.remove_prefix(cut + 1);
    }
}

// Whether an open key still exists, without asking while nothing changed since it was last seen.
bool keyExists(Backend& store, OpenKey& key) {
    if (key.existed.stillHolds(store)) return true;
    const Seen before = Seen::now(store);
    if (!store.keyExists(key.id)) return false;
    key.existed = before;
    return true;
}

// The key at parts below base, or the reason there is none; with storedPath, also the names of
// parts as the registry keeps them, joined by backslashes.
LONG resolve(Backend& store, OpenKey& base, const std::vector<std::u16string_view>& parts, KeyId& id,
             std::u16string* storedPath = nullptr) {
    id = base.id;
    std::size_t depth = base.depth;
    std::u16string stored;
    for (const std::u16string_view name : parts) {
        const KeyId child = storedPath ? store.findChildNamed(id, name, stored) : store.findChild(id, name);
        if (child == kNoKey) {
            return id == base.id && !keyExists(store, base) ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
        }
        // No key of a sound store lies deeper than the limit, whatever its records say.
        if (++depth > static_cast<std::size_t>(kMaxKeyDepth)) return ERROR_BADDB;
        if (storedPath) {
            if (!storedPath->empty()) *storedPath += u'\\';
            *storedPath += stored;
        }
        id = child;
    }
    if (parts.empty() && !keyExists(store, base)) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

FILETIME toFileTime(std::int64_t ticks) {
    const auto bits = static_cast<std::uint64_t>(ticks < 0 ? 0 : ticks);
    return FILETIME{static_cast<DWORD>(bits & 0xFFFFFFFFu), static_cast<DWORD>(bits >> 32)};
}

bool isRootKey(const Backend& store, KeyId id) {
    for (const tovik::RootInfo& root : tovik::heldRoots())
        if (store.rootKey(root.handle) == id) return true;
    return false;
}

void loadSubkeys(Backend& store, KeyId key, std::int64_t limit, std::vector<SubkeyEntry>& out) {
    store.listSubkeys(key, 0, limit, out);
}

void loadValues(Backend& store, KeyId key, std::int64_t limit, std::vector<ValueEntry>& out) {
    // Room for a typical key's values at once: a walk lists the values of every key it opens.
    constexpr std::size_t kTypicalValues = 16;
    if (limit < 0 && out.capacity() < kTypicalValues) out.reserve(kTypicalValues);
    store.listValues(key, 0, limit, out);
}

// The id of the subkey named exactly name when the last enumeration of base returned it and
// nothing changed since; null otherwise (the caller then looks it up).
const SubkeyEntry* lastEnumeratedSubkey(Backend& store, const OpenKey& base,
                                        const std::vector<std::u16string_view>& parts) {
    const Snapshot<SubkeyEntry>& list = base.subkeys;
    if (parts.size() != 1 || !list.valid || base.lastSubkey >= list.entries.size()) return nullptr;
    const SubkeyEntry& entry = list.entries[base.lastSubkey];
    if (entry.name != parts[0] || !list.seen.stillHolds(store)) return nullptr;
    return &entry;
}

// The entry at index of a handle's snapshot, refreshing the snapshot when stale. The first
// read fetches the whole list in one query. A stale snapshot asked for index 0 fetches that one
// row only: deleting a subtree asks for index 0 again after every deletion, and must not re-read
// the whole list each time.
template <class Entry, class Loader>
LONG entryAt(Backend& store, OpenKey& key, Snapshot<Entry>& snapshot, DWORD index, Loader load, const Entry*& entry) {
    const Seen now = Seen::now(store);  // read before the rows, never after
    const bool fresh = snapshot.valid && snapshot.seen.stillHolds(store);
    if (!fresh || (!snapshot.complete && index >= snapshot.entries.size())) {
        const bool firstOnly = snapshot.valid && !fresh && index == 0;
        snapshot.valid = false;
        snapshot.entries.clear();
        load(store, key.id, firstOnly ? 1 : -1, snapshot.entries);
        snapshot.complete = !firstOnly || snapshot.entries.empty();
        if (!fresh) snapshot.seen = now;
        snapshot.valid = true;
        if (!snapshot.entries.empty()) key.existed = snapshot.seen;  // children need their key
    }
    if (index < snapshot.entries.size()) {
        entry = &snapshot.entries[index];
        return ERROR_SUCCESS;
    }
    return keyExists(store, key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
}

}  // namespace

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = 0;
    return withStore(false, [&](Backend& store) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKey, parts)) return rc;
        if (const SubkeyEntry* entry = lastEnumeratedSubkey(store, *base, parts)) {
            if (entry->damaged || base->depth + 1 > static_cast<std::size_t>(kMaxKeyDepth)) return ERROR_BADDB;
            *phkResult = g_handles.add(entry->id, base->depth + 1, base->subkeys.seen);
            return ERROR_SUCCESS;
        }
        const Seen before = Seen::now(store);
        KeyId id = kNoKey;
        if (const LONG rc = resolve(store, *base, parts, id)) return rc;
        *phkResult = g_handles.add(id, base->depth + parts.size(), before);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryStoredPath(HKEY hKey, LPCWSTR lpSubKey, std::u16string* lpStoredPath) {
    if (!lpStoredPath) return ERROR_INVALID_PARAMETER;
    lpStoredPath->clear();
    return withStore(false, [&](Backend& store) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKey, parts)) return rc;
        std::u16string stored;
        KeyId id = kNoKey;
        if (const LONG rc = resolve(store, *base, parts, id, &stored)) return rc;
        *lpStoredPath = std::move(stored);
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY hKey) {
    return withStore(false,
                     [&](Backend&) -> LONG { return g_handles.close(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE; });
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                   LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    return withStore(false, [&](Backend& store) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
        const SubkeyEntry* entry = nullptr;
        if (const LONG rc = entryAt(store, *key, key->subkeys, dwIndex, loadSubkeys, entry)) return rc;
        // Only a damaged store holds a key without a name. Its path would name its parent again, at
        // the same depth, so no depth bound would end a walk that opened it.
        if (entry->name.empty()) return ERROR_BADDB;
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
        if (lpftLastWriteTime) *lpftLastWriteTime = toFileTime(store.keyWriteTime(entry->id));
        return ERROR_SUCCESS;
    });
}

LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                      LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    return withStore(false, [&](Backend& store) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        if (lpClass && !lpcchClass) return ERROR_INVALID_PARAMETER;
        if (!keyExists(store, *key)) return ERROR_KEY_DELETED;
        if (lpcchClass) {  // keys have no class
            if (lpClass && *lpcchClass > 0) lpClass[0] = 0;
            *lpcchClass = 0;
        }
        if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
        if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
        // Counting lists every child; only callers that ask pay for it.
        if (lpcSubKeys || lpcbMaxSubKeyLen) {
            std::vector<SubkeyEntry> subkeys;
            store.listSubkeys(key->id, 0, -1, subkeys);
            std::size_t longest = 0;
            for (const SubkeyEntry& entry : subkeys) longest = std::max(longest, entry.name.size());
            if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(subkeys.size());
            if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = static_cast<DWORD>(longest);
        }
        if (lpcValues || lpcbMaxValueNameLen || lpcbMaxValueLen) {
            std::vector<ValueEntry> values;
            store.listValues(key->id, 0, -1, values);
            std::size_t longestName = 0;
            DWORD largest = 0;
            for (const ValueEntry& entry : values) {
                longestName = std::max(longestName, entry.name.size());
                largest = std::max(largest, entry.size);
            }
            if (lpcValues) *lpcValues = static_cast<DWORD>(values.size());
            if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = static_cast<DWORD>(longestName);
            if (lpcbMaxValueLen) *lpcbMaxValueLen = largest;
        }
        if (lpftLastWriteTime) *lpftLastWriteTime = toFileTime(store.keyWriteTime(key->id));
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                   LPBYTE lpData, LPDWORD lpcbData) {
    return withStore(false, [&](Backend& store) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
        // The data is read apart from the snapshot; should another process change the value in
        // between, the snapshot is refreshed and the call made again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const ValueEntry* value = nullptr;
            if (const LONG rc = entryAt(store, *key, key->values, dwIndex, loadValues, value)) return rc;
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
            } else if (lpData && value->size > 0 && !store.readValueData(value->id, lpData, value->size)) {
                key->values.valid = false;
                continue;
            }
            *lpcchValueName = length;
            if (lpcbData) *lpcbData = value->size;
            return ERROR_SUCCESS;
        }
        return ERROR_BUSY;
    });
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, void*, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = 0;
    return withStore(true, [&](Backend& store) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKey, parts)) return rc;
        const std::size_t depth = base->depth + parts.size();
        if (depth > static_cast<std::size_t>(kMaxKeyDepth)) return ERROR_INVALID_PARAMETER;

        // Opening keys that exist needs no write; inside a batch the registry is held already,
        // and the backend's walk looks each name up once.
        Seen existed = Seen::now(store);
        KeyId id = kNoKey;
        LONG rc = parts.empty() || !store.inTransaction() ? resolve(store, *base, parts, id) : ERROR_FILE_NOT_FOUND;
        DWORD disposition = REG_OPENED_EXISTING_KEY;
        if (rc == ERROR_FILE_NOT_FOUND) {
            if (store.readOnly()) return ERROR_ACCESS_DENIED;
            bool created = false;
            rc = store.createKeys(base->id, base->depth, parts, id, created);
            if (rc != ERROR_SUCCESS) return rc;
            if (created) disposition = REG_CREATED_NEW_KEY;
            // Outside a transaction another process may delete the key the moment this one ends.
            existed = store.inTransaction() ? Seen::now(store) : Seen{};
        }
        if (rc != ERROR_SUCCESS) return rc;
        *phkResult = g_handles.add(id, depth, existed);
        if (lpdwDisposition) *lpdwDisposition = disposition;
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    return withStore(true, [&](Backend& store) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        const std::u16string_view name = lpValueName ? std::u16string_view(lpValueName) : std::u16string_view();
        if (name.size() > static_cast<std::size_t>(kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
        if (!lpData && cbData > 0) return ERROR_INVALID_PARAMETER;
        if (store.readOnly()) return ERROR_ACCESS_DENIED;
        return store.setValue(key->id, name, dwType, lpData, cbData);
    });
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return withStore(true, [&](Backend& store) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        const std::u16string_view name = lpValueName ? std::u16string_view(lpValueName) : std::u16string_view();
        if (name.size() > static_cast<std::size_t>(kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
        if (store.readOnly()) return ERROR_ACCESS_DENIED;
        return store.deleteValue(key->id, name);
    });
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    return withStore(true, [&](Backend& store) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKey, parts)) return rc;
        if (parts.empty()) return isRootKey(store, base->id) ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER;
        if (store.readOnly()) return ERROR_ACCESS_DENIED;
        KeyId id = kNoKey;
        if (const LONG rc = resolve(store, *base, parts, id)) return rc;
        // The backend checks for subkeys again as it deletes: one may have been made meanwhile.
        return store.deleteKey(id);
    });
}

LONG RegRenameKey(HKEY hKey, LPCWSTR lpSubKeyName, LPCWSTR lpNewKeyName) {
    return withStore(true, [&](Backend& store) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        const std::u16string_view newName = lpNewKeyName ? std::u16string_view(lpNewKeyName) : std::u16string_view();
        if (newName.empty() || newName.size() > static_cast<std::size_t>(kMaxKeyNameLength) ||
            newName.find(u'\\') != std::u16string_view::npos)
            return ERROR_INVALID_PARAMETER;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKeyName, parts)) return rc;
        if (parts.empty() && isRootKey(store, base->id)) return ERROR_ACCESS_DENIED;
        if (store.readOnly()) return ERROR_ACCESS_DENIED;
        KeyId id = kNoKey;
        if (const LONG rc = resolve(store, *base, parts, id)) return rc;
        return store.renameKey(id, newName);
    });
}

LONG RegRenameValueW(HKEY hKey, LPCWSTR lpOldValueName, LPCWSTR lpNewValueName) {
    return withStore(true, [&](Backend& store) -> LONG {
        OpenKey* key = g_handles.find(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        const std::u16string_view oldName =
            lpOldValueName ? std::u16string_view(lpOldValueName) : std::u16string_view();
        const std::u16string_view newName =
            lpNewValueName ? std::u16string_view(lpNewValueName) : std::u16string_view();
        if (newName.empty() || newName.size() > static_cast<std::size_t>(kMaxValueNameLength) ||
            oldName.size() > static_cast<std::size_t>(kMaxValueNameLength))
            return ERROR_INVALID_PARAMETER;
        if (store.readOnly()) return ERROR_ACCESS_DENIED;
        return store.renameValue(key->id, oldName, newName);
    });
}

LONG RegCheckTreeDeletable(HKEY hKey, LPCWSTR lpSubKey, bool withKey, std::string* why) {
    return withStore(true, [&](Backend& store) -> LONG {
        OpenKey* base = g_handles.find(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (const LONG rc = splitPath(lpSubKey, parts)) return rc;
        KeyId id = kNoKey;
        if (const LONG rc = resolve(store, *base, parts, id)) return rc;
        std::string refusal = store.treeDeleteRefusal(id, withKey);
        if (refusal.empty() && withKey && isRootKey(store, id))
            refusal = "The key is a root of the registry: it cannot be deleted, so nothing was deleted.";
        if (refusal.empty()) return ERROR_SUCCESS;
        if (why) *why = std::move(refusal);
        return ERROR_ACCESS_DENIED;
    });
}

const char16_t* rootKeyName(HKEY root) {
    // The table's names are literals, so their data ends in a terminator.
    return tovik::isHeldRoot(root) ? tovik::findRoot(root)->longName.data() : u"";
}
