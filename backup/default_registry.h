#pragma once
// The user's registry: the store at the default path (or one given), filled from the default
// device registry that ships with the program the first time it is created.
#include <cstddef>
#include <string>
#include <vector>

#include "backup/backup_import.h"
#include "registry/registry_store.h"

namespace tovik {

StoreOpenResult OpenUserRegistry(const std::string& path = DefaultRegistryPath());

// Imports backup files that follow one another in data (the default registry holds one per
// root): a new file begins at each byte order mark that starts a line. One result per file.
std::vector<ImportResult> ImportConcatenatedBackups(const BYTE* data, std::size_t size);

}  // namespace tovik
