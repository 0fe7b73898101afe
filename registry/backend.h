#pragma once
// The one interface through which the registry operations (registry_api.h) reach a registry: a
// SQLite store, a Wine prefix's files, hive files. A backend knows keys by ids of its own and
// speaks in names and bytes; handles, buffers, ERROR_MORE_DATA, path splitting and the nesting of
// batches stay in registry/.
//
// Every backend keeps the store semantics: names compare case-insensitively (name_fold.h) and
// keep their case, subkeys list in name order and values in creation order, a key with subkeys
// cannot be deleted, and a write that returned ERROR_SUCCESS is durable once the batch around it
// (if any) commits. A backend that cannot write says so through readOnly() and fails every write
// with ERROR_ACCESS_DENIED.
//
// A failure of the store itself (busy, out of memory, damaged, an I/O error) is thrown as
// BackendFailure; outcomes that belong to the operation (not found, deleted meanwhile, has
// subkeys) are returned as result codes.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "registry/win_types.h"

namespace tovik {

using KeyId = std::int64_t;
using ValueId = std::int64_t;
constexpr KeyId kNoKey = 0;

class BackendFailure : public std::exception {
public:
    enum class Kind { Busy, NoMemory, TooBig, Damaged, Other };
    explicit BackendFailure(Kind kind) : kind_(kind) {}
    Kind kind() const { return kind_; }
    const char* what() const noexcept override { return "registry backend failure"; }

private:
    Kind kind_;
};

// The registry result code for a failure of the backend: ERROR_BUSY, ERROR_NOT_ENOUGH_MEMORY,
// ERROR_INVALID_PARAMETER (too large), ERROR_BADDB (damaged), else ERROR_CANTWRITE for a write
// and ERROR_BADDB for a read.
LONG registryResultOf(BackendFailure::Kind kind, bool writing);

// What a backend's content looked like at one moment: equal stamps mean nothing changed in
// between, neither through this process nor through another. Anything read after a stamp was
// taken holds as long as the stamp stays equal.
struct ChangeStamp {
    std::uint64_t local = ~std::uint64_t{0};
    std::int64_t external = -1;
    bool operator==(const ChangeStamp&) const = default;
};

struct SubkeyEntry {
    KeyId id;
    std::u16string name;
    // The backend found the key's own record inconsistent with its place in the tree (a damaged
    // store that made a key its own ancestor): listing it is harmless, opening it fails with
    // ERROR_BADDB so that no walk goes round for ever.
    bool damaged = false;
};

struct ValueEntry {
    ValueId id;
    std::u16string name;
    DWORD type;
    DWORD size;
    bool dataLoaded;  // data holds the bytes; otherwise readValueData fetches them
    std::string data;
};

class Backend {
public:
    virtual ~Backend() = default;

    // True when the registry can only be read: every write fails with ERROR_ACCESS_DENIED.
    virtual bool readOnly() const = 0;
    // Why, as a sentence for the user, when readOnly(); it may turn read-only while open.
    virtual std::string readOnlyReason() const { return {}; }
    // The key of a predefined root (HKEY_CLASSES_ROOT to HKEY_LOCAL_MACHINE).
    virtual KeyId rootKey(HKEY root) const = 0;
    virtual ChangeStamp changeStamp() = 0;
    // True while a batch or a read snapshot holds the registry steady for this process.
    virtual bool inTransaction() = 0;

    virtual bool keyExists(KeyId key) = 0;
    // The child of parent named name (any case), or kNoKey. A child whose record is inconsistent
    // with its place in the tree (see SubkeyEntry::damaged) throws BackendFailure Damaged.
    virtual KeyId findChild(KeyId parent, std::u16string_view name) = 0;
    // As findChild, and the name the child is kept (and listed) under into storedName: the case of
    // one key's name without listing its siblings, which for a key of a million siblings would
    // cost a record of each.
    virtual KeyId findChildNamed(KeyId parent, std::u16string_view name, std::u16string& storedName) = 0;
    // Up to limit (any number when negative) subkeys in name order, from position from on.
    virtual void listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out) = 0;
    // Up to limit values in creation order, from position from on. Data up to a size the backend
    // chooses comes with the entries; larger data is fetched by readValueData when asked for.
    virtual void listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out) = 0;
    // When key was last written, as a FILETIME (100 ns ticks since 1601 UTC); 0 when the registry
    // keeps no time for it. Writes set it as the platform does: setting a value (to data other
    // than it holds) or deleting one touches the key that holds it, creating a key touches the
    // new key and its parent, deleting a key touches its parent, renaming touches the key itself.
    virtual std::int64_t keyWriteTime(KeyId /*key*/) { return 0; }
    // Copies a value's data into buffer when it still has expectedSize bytes; false when the
    // value is gone or its data changed size meanwhile.
    virtual bool readValueData(ValueId value, BYTE* buffer, DWORD expectedSize) = 0;

    // Creates the missing keys of names below parent (at depth parentDepth) in one step: all or
    // none. id is the last key; created tells whether any key was made. ERROR_KEY_DELETED when
    // parent is gone.
    virtual LONG createKeys(KeyId parent, std::size_t parentDepth, std::span<const std::u16string_view> names,
                            KeyId& id, bool& created) = 0;
    // Creates or overwrites; an overwritten value keeps its position and the case of its name.
    virtual LONG setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) = 0;
    // ERROR_FILE_NOT_FOUND when there is no such value, ERROR_KEY_DELETED when the key is gone.
    virtual LONG deleteValue(KeyId key, std::u16string_view name) = 0;
    // Deletes a key and its values; ERROR_ACCESS_DENIED while it has subkeys or is a root,
    // ERROR_FILE_NOT_FOUND when it is gone.
    virtual LONG deleteKey(KeyId key) = 0;
    // Why a subtree delete of key would be refused part-way: a key it would remove (those below
    // key, and key itself when withKey) is one the registry keeps (a root, the key where a hive
    // begins, a key a root stands for). Asked before the walk deletes anything, so that nothing
    // goes when the last step would fail; empty when nothing stands in the way.
    virtual std::string treeDeleteRefusal(KeyId /*key*/, bool /*withKey*/) { return {}; }
    // Renames a key; its subtree goes with it in the same step. ERROR_ALREADY_EXISTS when a
    // sibling has the new name, ERROR_ACCESS_DENIED for a root, ERROR_KEY_DELETED when gone.
    virtual LONG renameKey(KeyId key, std::u16string_view newName) = 0;
    // Renames a value; it keeps its type, data and position. ERROR_ALREADY_EXISTS when another
    // value has the new name, ERROR_FILE_NOT_FOUND when there is no value of the old name.
    virtual LONG renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) = 0;

    // A batch groups many writes into one durable step. beginBatch returns why the batch cannot
    // begin (its writes then go one by one), ERROR_SUCCESS when it began; commitBatch returns why
    // what was written since the last commit was not kept (ERROR_SUCCESS when it was), and with
    // beginAgain starts the next step (inTransaction() tells whether it could).
    virtual LONG beginBatch() = 0;
    virtual LONG commitBatch(bool beginAgain) = 0;
    // Whether a long batch (a subtree delete, an import) should commit along the way, to let other
    // writers in and keep most of the work when stopped. A backend whose commit rewrites whole
    // files says no: the batch is then saved once, at its end, so that one command is one save
    // and a kill leaves all of it or none of it.
    virtual bool commitsAlongTheWay() const { return true; }
    // A consistent view for many reads that does not block other writers.
    virtual bool beginSnapshot() = 0;
    virtual void endSnapshot() = 0;

    // A sentence saying why the last write failed, for backends whose refusals need more than a
    // result code (hive files: a value too large for hivex, a key above the hives); else empty.
    virtual std::string lastFailure() const { return {}; }

    // True when strings are written as Windows' own tools write them (TerminatedStringData): the
    // registry is one that Windows or Wine reads. The Tovik store keeps strings without a
    // terminator.
    virtual bool terminatesStrings() const { return false; }

    // The files that hold the registry (none for one in memory), which an export must never
    // write over.
    virtual std::vector<std::string> files() const { return {}; }

    // The backend this one is a layer over (the change history's recording layer), else null.
    virtual Backend* layeredOver() { return nullptr; }
};

}  // namespace tovik
