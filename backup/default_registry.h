#pragma once
// The default device registry that ships with the program, written into a new store.
#include <cstddef>
#include <vector>

#include "backup/backup_import.h"

namespace tovik {

// Writes the default device registry into the current registry.
void fillDefaultRegistry();

// Imports backup files that follow one another in data (the default registry holds one per
// root): a new file begins at each byte order mark that starts a line. One result per file.
std::vector<ImportResult> importConcatenatedBackups(const BYTE* data, std::size_t size);

}  // namespace tovik
