#include "bench/layout1_store.h"

#include <sqlite3.h>

namespace tovik::bench {
namespace {

// The first layout's tables, exactly as that version made them; values keep their order in
// their key through fresh rowids given in that order.
constexpr const char* kLayout1 = R"sql(
PRAGMA journal_mode = WAL;
PRAGMA application_id = 1416590923;
BEGIN;
CREATE TABLE keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES keys(id),
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    depth INTEGER NOT NULL,
    UNIQUE(parent, fold));
CREATE TABLE vals(
    id INTEGER PRIMARY KEY,
    key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
CREATE INDEX vals_in_order ON vals(key, id);
INSERT INTO keys(id, parent, name, fold, depth)
    SELECT id, nullif(parent, 0), name, fold, depth FROM source.keys ORDER BY id;
INSERT INTO vals(key, name, fold, type, data)
    SELECT key, name, fold, type, data FROM source.vals ORDER BY id;
PRAGMA user_version = 1;
COMMIT;
)sql";

}  // namespace

bool WriteLayout1Copy(const std::string& source, const std::string& target, std::string& error)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(target.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char* message = nullptr;
    if (rc == SQLITE_OK) {
        sqlite3_stmt* attach = nullptr;
        rc = sqlite3_prepare_v2(db, "ATTACH ?1 AS source", -1, &attach, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_text(attach, 1, source.c_str(), -1, SQLITE_TRANSIENT);
            rc = sqlite3_step(attach) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
        }
        sqlite3_finalize(attach);
    }
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, kLayout1, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) error = message ? message : (db ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_free(message);
    sqlite3_close(db);
    return rc == SQLITE_OK;
}

}  // namespace tovik::bench
