#include "registry/registry_store.h"

#include <utility>

namespace tovik {
namespace {

std::unique_ptr<Backend> g_backend;
std::uint64_t g_serial = 0;
int g_batchDepth = 0;
// The serial guards against a batch outliving its registry.
std::uint64_t g_batchSerial = 0;

}  // namespace

void SetCurrentBackend(std::unique_ptr<Backend> backend)
{
    CloseRegistryStore();
    g_backend = std::move(backend);
    ++g_serial;
}

void CloseRegistryStore()
{
    if (!g_backend) return;
    // An open batch keeps what it wrote, as its destructor would: the backend's own closing does it.
    g_backend.reset();
    g_batchDepth = 0;
    ++g_serial;
}

bool HasRegistryStore()
{
    return g_backend != nullptr;
}

Backend* CurrentBackend()
{
    return g_backend.get();
}

std::uint64_t CurrentRegistryStoreSerial()
{
    return g_serial;
}

// ---- RegistryBatch ----
// Batches nest: only the outermost begins and ends the transaction.

RegistryBatch::RegistryBatch()
{
    if (!g_backend) return;
    if (g_batchDepth == 0) {
        if (g_backend->inTransaction() || !g_backend->beginBatch()) return;
        g_batchSerial = g_serial;
    }
    ++g_batchDepth;
    active_ = true;
}

RegistryBatch::~RegistryBatch()
{
    if (!active_ || !g_backend || g_batchSerial != g_serial) return;
    if (--g_batchDepth == 0) g_backend->commitBatch(false);
}

bool RegistryBatch::Commit()
{
    if (!active_ || !g_backend || g_batchSerial != g_serial) return false;
    return g_backend->commitBatch(true);
}

// ---- RegistryReadSnapshot ----

RegistryReadSnapshot::RegistryReadSnapshot()
{
    // Inside a batch or another snapshot the reads already share one transaction.
    if (!g_backend || g_backend->inTransaction() || !g_backend->beginSnapshot()) return;
    active_ = true;
    serial_ = g_serial;
}

RegistryReadSnapshot::~RegistryReadSnapshot()
{
    if (!active_ || !g_backend || serial_ != g_serial || !g_backend->inTransaction()) return;
    g_backend->endSnapshot();
}

}  // namespace tovik
