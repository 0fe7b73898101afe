#include "stores/sqlite/sqlite_db.h"

#include <sqlite3.h>

#include "registry/key_time.h"

#include <thread>
#include <utility>

namespace tovik::sqlite {

Error::Error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}

// ---- Query ----

Query::Query(Database& db, sqlite3_stmt* stmt, bool owned, bool* inUse)
    : db_(&db), stmt_(stmt), owned_(owned), inUse_(inUse) {}

Query::Query(Query&& other) noexcept
    : db_(other.db_),
      stmt_(std::exchange(other.stmt_, nullptr)),
      owned_(other.owned_),
      inUse_(std::exchange(other.inUse_, nullptr)) {}

Query::~Query() {
    if (!stmt_) return;
    if (owned_) {
        sqlite3_finalize(stmt_);
        return;
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    if (inUse_) *inUse_ = false;
}

Query& Query::bind(int index, std::int64_t value) {
    const int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK) db_->fail(rc);
    return *this;
}

Query& Query::bindBlob(int index, const void* data, std::size_t size) {
    static const char empty = 0;
    if (size == 0) data = &empty;  // a null pointer would bind NULL, not the empty blob
    const int rc = sqlite3_bind_blob64(stmt_, index, data, size, SQLITE_STATIC);
    if (rc != SQLITE_OK) db_->fail(rc);
    return *this;
}

bool Query::step() {
    const int rc = sqlite3_step(stmt_);
    if (!sqlite3_stmt_readonly(stmt_)) db_->noteLocalChange();
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    db_->fail(rc);
}

std::int64_t Query::columnInt64(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string_view Query::columnBlob(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    if (!data || size <= 0) return {};
    return {static_cast<const char*>(data), static_cast<std::size_t>(size)};
}

// ---- Database ----

Database::Database(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

std::unique_ptr<Database> Database::open(const std::string& path, int flags) {
    // Memory statistics take a global lock on every allocation; nothing here reads them. The
    // setting must come before SQLite initialises, so it is made once, before the first open.
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    (void)configured;
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
        const int code = raw ? sqlite3_extended_errcode(raw) : rc;
        sqlite3_close_v2(raw);
        throw Error(code, message);
    }
    sqlite3_extended_result_codes(raw, 1);
    return std::unique_ptr<Database>(new Database(raw, path));
}

Database::~Database() {
    for (auto& [sql, cached] : cache_) sqlite3_finalize(cached.stmt);
    sqlite3_close_v2(db_);
}

void Database::fail(int code) const {
    throw Error(code, sqlite3_errmsg(db_));
}

void Database::exec(const char* sql) {
    versionCached_ = false;  // transactions begin and end here
    ++transactionSerial_;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(sqlite3_extended_errcode(db_));
}

void Database::execIgnoringErrors(const char* sql) {
    versionCached_ = false;
    ++transactionSerial_;
    sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

void Database::run(const char* sql) {
    // A savepoint inside a transaction leaves its snapshot, and so the data version, as it was.
    const bool wasInTransaction = inTransaction();
    {
        Query q = query(sql);
        q.step();
    }
    if (!wasInTransaction || !inTransaction()) {
        versionCached_ = false;
        ++transactionSerial_;
    }
}

std::int64_t Database::writeTime() {
    if (!inTransaction()) return fileTimeNow();
    if (writeTimeSerial_ != transactionSerial_ || writeTime_ == 0) {
        writeTime_ = fileTimeNow();
        writeTimeSerial_ = transactionSerial_;
    }
    return writeTime_;
}

Query Database::query(const char* sql) {
    auto [it, inserted] = cache_.try_emplace(sql);
    CachedStatement& cached = it->second;
    if (inserted) cached.sql = sql;
    if (!cached.inUse && cached.sql == sql) {
        if (!cached.stmt) {
            const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &cached.stmt, nullptr);
            if (rc != SQLITE_OK) {
                cache_.erase(it);
                fail(rc);
            }
        }
        cached.inUse = true;
        return Query(*this, cached.stmt, false, &cached.inUse);
    }
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) fail(rc);
    return Query(*this, stmt, true, nullptr);
}

std::int64_t Database::lastInsertRowid() const {
    return sqlite3_last_insert_rowid(db_);
}

int Database::changes() const {
    return sqlite3_changes(db_);
}

bool Database::inTransaction() const {
    return sqlite3_get_autocommit(db_) == 0;
}

std::int64_t Database::dataVersion() {
    const bool inTransaction = sqlite3_get_autocommit(db_) == 0;
    if (inTransaction && versionCached_) return dataVersion_;
    Query q = query("PRAGMA data_version");
    dataVersion_ = q.step() ? q.columnInt64(0) : 0;
    versionCached_ = inTransaction;
    return dataVersion_;
}

void Database::setBusyTimeout(int milliseconds) {
    busyTimeoutMs_ = milliseconds;
    sqlite3_busy_handler(
        db_,
        [](void* self, int attempts) -> int {
            Database& db = *static_cast<Database*>(self);
            const auto now = std::chrono::steady_clock::now();
            if (attempts == 0) db.busySince_ = now;
            if (now - db.busySince_ >= std::chrono::milliseconds(db.busyTimeoutMs_)) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 1;
        },
        this);
}

void Database::setCheckpointOnClose(bool enabled) {
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, enabled ? 0 : 1, nullptr);
}

// ---- WriteTransaction ----

WriteTransaction::WriteTransaction(Database& db, bool singleStatement)
    : db_(db), nested_(db.inTransaction()), active_(!(nested_ && singleStatement)) {
    if (active_) db_.run(nested_ ? "SAVEPOINT op" : "BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
    if (done_ || !active_) return;
    // Errors such as a full disk may already have rolled the transaction back; the rollback
    // below then fails harmlessly.
    if (nested_) {
        db_.execIgnoringErrors("ROLLBACK TO op; RELEASE op");
    } else if (db_.inTransaction()) {
        db_.execIgnoringErrors("ROLLBACK");
    }
    db_.noteLocalChange();
}

void WriteTransaction::commit() {
    if (active_) db_.run(nested_ ? "RELEASE op" : "COMMIT");
    done_ = true;
}

}  // namespace tovik::sqlite
