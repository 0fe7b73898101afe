#include "bench/layout1_store.h"

#include <sqlite3.h>

#include <vector>

#include "stores/sqlite/value_pack.h"

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
)sql";
constexpr const char* kFinish = "PRAGMA user_version = 1; COMMIT;";

// The current layout holds a key's values in its pack, or as rows when the pack is empty.
constexpr const char* kPacks = "SELECT key, data FROM source.packs ORDER BY key";
constexpr const char* kInsert = "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)";
constexpr const char* kCopyRows =
    "INSERT INTO vals(key, name, fold, type, data) SELECT key, name, fold, type, data FROM source.vals "
    "WHERE key = ?1 ORDER BY id";

int copyValues(sqlite3* db) {
    sqlite3_stmt* packs = nullptr;
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* rows = nullptr;
    int rc = sqlite3_prepare_v2(db, kPacks, -1, &packs, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_prepare_v2(db, kInsert, -1, &insert, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_prepare_v2(db, kCopyRows, -1, &rows, nullptr);
    std::vector<sqlite::StoredValue> values;
    while (rc == SQLITE_OK && sqlite3_step(packs) == SQLITE_ROW) {
        const sqlite3_int64 key = sqlite3_column_int64(packs, 0);
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(packs, 1));
        const std::string_view pack(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(packs, 1)));
        if (pack.empty()) {
            sqlite3_bind_int64(rows, 1, key);
            if (sqlite3_step(rows) != SQLITE_DONE) rc = sqlite3_errcode(db);
            sqlite3_reset(rows);
            continue;
        }
        values.clear();
        if (!sqlite::decodePack(pack, values)) return SQLITE_CORRUPT;
        for (const sqlite::StoredValue& value : values) {
            const std::string name = sqlite::encodeName(value.name);
            const std::string fold = sqlite::encodeFold(value.name);
            sqlite3_bind_int64(insert, 1, key);
            sqlite3_bind_blob(insert, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
            sqlite3_bind_blob(insert, 3, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
            sqlite3_bind_int64(insert, 4, value.type);
            sqlite3_bind_blob(insert, 5, value.data.data(), static_cast<int>(value.data.size()), SQLITE_STATIC);
            if (sqlite3_step(insert) != SQLITE_DONE) rc = sqlite3_errcode(db);
            sqlite3_reset(insert);
            if (rc != SQLITE_OK) break;
        }
    }
    sqlite3_finalize(packs);
    sqlite3_finalize(insert);
    sqlite3_finalize(rows);
    return rc;
}

}  // namespace

bool writeLayout1Copy(const std::string& source, const std::string& target, std::string& error) {
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
    if (rc == SQLITE_OK) rc = copyValues(db);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, kFinish, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) error = message ? message : (db ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_free(message);
    sqlite3_close(db);
    return rc == SQLITE_OK;
}

}  // namespace tovik::bench
