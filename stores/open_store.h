#pragma once
// Opens the registry the user named and makes it current. Today that is the default store: a
// SQLite file (the user's own, or one given), or an in-memory one for tests.
#include <string>

#include "registry/registry_store.h"

namespace tovik {

// Opens (creating when missing, mode 0600) the store file at path and makes it current. A
// corrupt, unreadable or foreign file is never overwritten: the result says why it failed.
StoreOpenResult OpenRegistryStore(const std::string& path);
// A fresh in-memory store, made current; for tests and fuzzing.
void OpenInMemoryRegistryStore();

// Default store path: $XDG_DATA_HOME/tovik/registry.db, else ~/.local/share/tovik/registry.db.
std::string DefaultRegistryPath();

// The user's registry: the store at the default path (or one given), filled from the default
// device registry that ships with the program the first time it is created.
StoreOpenResult OpenUserRegistry(const std::string& path = DefaultRegistryPath());

}  // namespace tovik
