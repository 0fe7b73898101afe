#pragma once
// Opening the default store: a SQLite database file, or an in-memory one for tests and fuzzing.
#include <cstdint>
#include <memory>
#include <string>

#include "registry/backend.h"
#include "registry/registry_store.h"

namespace tovik {

namespace sqlite {
class Database;
}

// Opens (creating when missing, mode 0600) the store at path into backend. A corrupt, unreadable
// or foreign file is never overwritten: the result says why it failed.
StoreOpenResult openSqliteStore(const std::string& path, std::unique_ptr<Backend>& backend);
// A fresh in-memory store with its roots.
std::unique_ptr<Backend> openSqliteMemoryStore();

// The layout that new stores get and older ones are upgraded to (the file's user_version).
std::int64_t sqliteStoreLayout();

// The connection of the current registry when it is a SQLite store, else null; for tests that
// damage or inspect the store underneath the registry operations.
sqlite::Database* currentSqliteDatabase();

}  // namespace tovik
