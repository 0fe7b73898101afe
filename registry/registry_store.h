#pragma once
// The process's registry store: a SQLite database file (or an in-memory one for tests) that the
// registry operations of registry_api.h read and write. One store is current per process.
#include <cstdint>
#include <memory>
#include <string>

#include "registry/win_types.h"

namespace tovik {

class RegistryStore;

struct StoreOpenResult {
    bool ok = false;
    bool created = false;   // the file did not exist and was made empty (roots only)
    std::string error;      // a sentence for the user when !ok
};

// Opens (creating when missing, mode 0600) the store at path and makes it the current store.
// A corrupt, unreadable or foreign file is never overwritten: the result says why it failed.
StoreOpenResult OpenRegistryStore(const std::string& path);
// A fresh in-memory store, made current; for tests and fuzzing.
void OpenInMemoryRegistryStore();
// Closes the current store; every handle becomes invalid.
void CloseRegistryStore();
bool HasRegistryStore();

// Groups many writes into one transaction (bulk import, subtree delete): far faster, and still
// durable once the batch is committed. Commit() makes the writes so far durable and goes on in a
// new transaction. The destructor commits as well: the writes made stay, as after single calls.
//
// Writes since the last commit are kept only once a commit succeeds: a failed commit, or a failed
// write that made SQLite roll the whole transaction back (a full disk), loses them. Callers that
// tell the user what was written check Commit() and Pending(), and end with Finish().
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
    // False when the writes since the last commit were not kept (error() says why); the batch
    // goes on in a new transaction either way.
    bool Commit();
    // Commits and ends the batch; false as Commit(). The destructor then does nothing more.
    bool Finish();
    // True while writes go into the batch's open transaction and are not yet durable; false when
    // the transaction could not begin (each write then commits on its own) or was rolled back.
    bool Pending() const;
    // Why the last begin or commit failed (ERROR_BUSY, ERROR_CANTWRITE, ...); 0 when none did.
    LONG error() const { return error_; }
private:
    bool active_ = false;
    LONG error_ = 0;
};

// Reads many keys in one read transaction (export, query -r): far faster than one transaction
// per call, gives a consistent view of the whole walk, and does not block other writers.
class RegistryReadSnapshot {
public:
    RegistryReadSnapshot();
    ~RegistryReadSnapshot();
    RegistryReadSnapshot(const RegistryReadSnapshot&) = delete;
    RegistryReadSnapshot& operator=(const RegistryReadSnapshot&) = delete;
private:
    bool active_ = false;
    std::uint64_t serial_ = 0;
};

// Default store path: $XDG_DATA_HOME/tovik/registry.db, else ~/.local/share/tovik/registry.db.
std::string DefaultRegistryPath();

// Creates the folder and any missing folders above it, each with mode 0700 from the start (the
// registry is the user's alone); folders that exist are left as they are. False with errno set
// when one cannot be made.
bool CreatePrivateFolders(const std::string& folder);

// For the registry operations (registry_api.cpp): the current store's connection, or null while
// none is open, and a number that changes with every open and close of a store, so that
// handles never outlive the store they were opened on.
namespace sqlite { class Database; class Error; }
sqlite::Database* CurrentRegistryDatabase();
// The file of the current store ("" for none or an in-memory one).
std::string CurrentRegistryStorePath();
// The registry result code for a failure of the store.
LONG RegistryResultOf(const sqlite::Error& error, bool writing);
std::uint64_t CurrentRegistryStoreSerial();

}  // namespace tovik
