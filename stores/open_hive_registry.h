#pragma once
// Opening Windows hive files as the registry: a Windows installation's folder (its machine hives
// under HKEY_LOCAL_MACHINE, an NTUSER.DAT as HKEY_CURRENT_USER when named) or one hive file
// under a key named. Read-only unless the source asks for writing.
#include <memory>

#include "stores/open_store.h"

namespace tovik {

StoreOpenResult openHiveRegistry(const RegistrySource& source);
// The same into backend, without making it current.
StoreOpenResult openHiveBackend(const RegistrySource& source, std::unique_ptr<Backend>& backend);

}  // namespace tovik
