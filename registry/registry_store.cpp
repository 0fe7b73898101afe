#include "registry/registry_store.h"

#include <thread>
#include <utility>

namespace tovik {
namespace {

std::unique_ptr<Backend> g_backend;
std::uint64_t g_serial = 0;
int g_batchDepth = 0;
// The serial guards against a batch outliving its registry.
std::uint64_t g_batchSerial = 0;

}  // namespace

void setCurrentBackend(std::unique_ptr<Backend> backend) {
    closeRegistryStore();
    g_backend = std::move(backend);
    ++g_serial;
}

void closeRegistryStore() {
    if (!g_backend) return;
    // An open batch keeps what it wrote, as its destructor would: the backend's own closing does it.
    g_backend.reset();
    g_batchDepth = 0;
    ++g_serial;
}

bool hasRegistryStore() {
    return g_backend != nullptr;
}

Backend* currentBackend() {
    return g_backend.get();
}

std::uint64_t currentRegistryStoreSerial() {
    return g_serial;
}

std::vector<std::string> currentRegistryFiles() {
    return g_backend ? g_backend->files() : std::vector<std::string>{};
}

LONG registryResultOf(BackendFailure::Kind kind, bool writing) {
    switch (kind) {
    case BackendFailure::Kind::Busy: return ERROR_BUSY;
    case BackendFailure::Kind::NoMemory: return ERROR_NOT_ENOUGH_MEMORY;
    case BackendFailure::Kind::TooBig: return ERROR_INVALID_PARAMETER;
    case BackendFailure::Kind::Damaged: return ERROR_BADDB;
    case BackendFailure::Kind::Other: break;
    }
    return writing ? ERROR_CANTWRITE : ERROR_BADDB;
}

// ---- RegistryBatch ----
// Batches nest: only the outermost begins and ends the transaction.

RegistryBatch::RegistryBatch() {
    if (!g_backend) return;
    if (g_batchDepth == 0) {
        if (g_backend->inTransaction()) return;
        error_ = g_backend->beginBatch();
        if (error_ != ERROR_SUCCESS) return;
        g_batchSerial = g_serial;
    }
    ++g_batchDepth;
    active_ = true;
}

RegistryBatch::~RegistryBatch() {
    finish();
}

bool RegistryBatch::finish() {
    if (!active_) return error_ == ERROR_SUCCESS;
    active_ = false;
    if (!g_backend || g_batchSerial != g_serial) return false;
    if (--g_batchDepth != 0) return true;  // the outermost batch commits
    error_ = g_backend->commitBatch(false);
    return error_ == ERROR_SUCCESS;
}

bool RegistryBatch::commit(std::chrono::milliseconds pause) {
    if (!active_ || !g_backend || g_batchSerial != g_serial) return false;
    if (!g_backend->commitsAlongTheWay()) return true;
    LONG result = ERROR_SUCCESS;
    if (pause.count() > 0) {
        result = g_backend->commitBatch(false);
        std::this_thread::sleep_for(pause);
        // Should the lock stay taken, later writes of the batch commit one by one.
        (void)g_backend->beginBatch();
    } else {
        result = g_backend->commitBatch(true);
    }
    if (result != ERROR_SUCCESS) error_ = result;
    return result == ERROR_SUCCESS;
}

bool RegistryBatch::commitsAlongTheWay() {
    return !g_backend || g_backend->commitsAlongTheWay();
}

bool RegistryBatch::pending() const {
    return active_ && g_backend && g_batchSerial == g_serial && g_backend->inTransaction();
}

Bytes valueDataToWrite(DWORD type, std::u16string_view text) {
    Bytes data = valueDataFromText(type, text);
    if (g_backend && g_backend->terminatesStrings()) data = terminatedStringData(type, std::move(data));
    return data;
}

// ---- RegistryReadSnapshot ----

RegistryReadSnapshot::RegistryReadSnapshot() {
    // Inside a batch or another snapshot the reads already share one transaction.
    if (!g_backend || g_backend->inTransaction() || !g_backend->beginSnapshot()) return;
    active_ = true;
    serial_ = g_serial;
}

RegistryReadSnapshot::~RegistryReadSnapshot() {
    if (!active_ || !g_backend || serial_ != g_serial || !g_backend->inTransaction()) return;
    g_backend->endSnapshot();
}

}  // namespace tovik
