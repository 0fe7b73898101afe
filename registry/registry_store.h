#pragma once
// The process's current registry: the backend that the registry operations of registry_api.h
// read and write. One is current per process; stores/open_store.h opens one and makes it current.
#include <cstdint>
#include <memory>
#include <string>

#include "registry/backend.h"

namespace tovik {

struct StoreOpenResult {
    bool ok = false;
    bool created = false;   // the store did not exist and was made empty (roots only)
    std::string error;      // a sentence for the user when !ok
};

// Makes backend the current registry, closing the one before; every handle becomes invalid.
void SetCurrentBackend(std::unique_ptr<Backend> backend);
// Closes the current registry; every handle becomes invalid.
void CloseRegistryStore();
bool HasRegistryStore();

// Groups many writes into one transaction (bulk import, subtree delete): far faster, and still
// durable once the batch is committed. Commit() makes the writes so far durable and goes on in a
// new transaction. The destructor commits as well: the writes made stay, as after single calls.
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
    bool Commit();
private:
    bool active_ = false;
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

// For the registry operations (registry_api.cpp) and the stores: the current backend, or null
// while none is open, and a number that changes with every open and close, so that handles never
// outlive the registry they were opened on.
Backend* CurrentBackend();
std::uint64_t CurrentRegistryStoreSerial();

}  // namespace tovik
