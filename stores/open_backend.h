#pragma once
// Opening a second registry beside the current one, to read it (a comparison): the backend is
// handed to the caller and never made current, so that the registry operations keep working on
// the current registry meanwhile.
#include <memory>
#include <string>

#include "registry/backend.h"
#include "stores/open_store.h"

namespace tovik {

// Opens the registry source names (a WinePrefix without a folder resolved as OpenRegistry does).
// A store file that does not exist is an error here, never created: a mistyped name must not
// compare against an empty registry.
StoreOpenResult openRegistryBackend(const RegistrySource& source, std::unique_ptr<Backend>& backend);

}  // namespace tovik
