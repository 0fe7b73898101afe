#pragma once
// The user's registry: the store at the default path (or one given), filled from the default
// device registry that ships with the program the first time it is created.
#include <string>
#include "registry/registry_store.h"

namespace tovik {

StoreOpenResult OpenUserRegistry(const std::string& path = DefaultRegistryPath());

}  // namespace tovik
