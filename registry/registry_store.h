#pragma once
// The process's current registry: the backend that the registry operations of registry_api.h
// read and write. One is current per process; stores/open_store.h opens one and makes it current.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry/backend.h"
#include "registry/value_types.h"

namespace tovik {

struct StoreOpenResult {
    bool ok = false;
    bool created = false;  // the store did not exist and was made empty (roots only)
    std::string error;     // a sentence for the user when !ok
    std::string location;  // the prefix's or hive's path; empty for the user's own store
    bool readOnly = false;
    std::string readOnlyReason;        // why every write is refused, when readOnly
    std::vector<std::string> notices;  // sentences to show once (a hive left out, ...)
};

// Makes backend the current registry, closing the one before; every handle becomes invalid.
void setCurrentBackend(std::unique_ptr<Backend> backend);
// Closes the current registry; every handle becomes invalid.
void closeRegistryStore();
bool hasRegistryStore();

// Groups many writes into one transaction (bulk import, subtree delete): far faster, and still
// durable once the batch is committed. Commit() makes the writes so far durable and goes on in a
// new transaction. The destructor commits as well: the writes made stay, as after single calls.
//
// Writes since the last commit are kept only once a commit succeeds: a failed commit, or a failed
// write that made the backend roll the whole transaction back (a full disk), loses them. Callers that
// tell the user what was written check Commit() and Pending(), and end with Finish().
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
    // False when the writes since the last commit were not kept (error() says why); the batch
    // goes on in a new transaction either way. With a pause, the lock is left free that long
    // before the new transaction begins, so that another process waiting for it gets its turn
    // (a waiter only polls; without the pause a long batch may take the lock back each time).
    // With a backend that does not commit along the way (Backend::commitsAlongTheWay) it does
    // nothing and returns true: the writes stay pending until Finish().
    bool commit(std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    // Whether Commit() commits; callers that count what was kept skip it when not.
    static bool commitsAlongTheWay();
    // Commits and ends the batch; false as Commit(). The destructor then does nothing more.
    bool finish();
    // True while writes go into the batch's open transaction and are not yet durable; false when
    // the transaction could not begin (each write then commits on its own) or was rolled back.
    bool pending() const;
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

// The data that a data text gives back for a type (ValueDataFromText), with strings written as
// the current registry wants them (Backend::terminatesStrings). The value editors and tovik-reg
// set write through this.
Bytes valueDataToWrite(DWORD type, std::u16string_view text);

// For the registry operations (registry_api.cpp) and the stores: the current backend, or null
// while none is open, and a number that changes with every open and close, so that handles never
// outlive the registry they were opened on.
Backend* currentBackend();
// The files that hold the current registry (none for one in memory): nothing may write over them.
std::vector<std::string> currentRegistryFiles();
std::uint64_t currentRegistryStoreSerial();

}  // namespace tovik
