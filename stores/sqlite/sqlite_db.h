#pragma once
// A small RAII layer over the SQLite C API: a connection with a cache of prepared statements,
// a lease on one statement that resets it when done (so no read transaction stays open), and a
// write transaction guard. Failures throw sqlite::Error carrying the SQLite result code.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace tovik::sqlite {

class Error : public std::runtime_error {
public:
    Error(int code, const std::string& message);
    int code() const { return code_; }  // extended result code
    int primaryCode() const { return code_ & 0xFF; }

private:
    int code_;
};

class Database;

// One use of a prepared statement: bind, step, read columns. Resets and clears the statement
// when it goes out of scope.
class Query {
public:
    Query(Query&& other) noexcept;
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    Query& operator=(Query&&) = delete;
    ~Query();

    Query& bind(int index, std::int64_t value);
    // Binds a blob without copying it: the bytes must stay alive until the query ends. Size 0
    // binds the empty blob, never NULL.
    Query& bindBlob(int index, const void* data, std::size_t size);
    Query& bindBlob(int index, std::string_view bytes) { return bindBlob(index, bytes.data(), bytes.size()); }

    // True when a row is ready, false when done.
    bool step();
    std::int64_t columnInt64(int column) const;
    // Valid until the next step or the end of the query.
    std::string_view columnBlob(int column) const;

private:
    friend class Database;
    Query(Database& db, sqlite3_stmt* stmt, bool owned, bool* inUse);
    Database* db_;
    sqlite3_stmt* stmt_;
    bool owned_;   // an uncached statement, finalized at the end
    bool* inUse_;  // the cache's busy flag of a cached statement
};

class Database {
public:
    // Opens an existing file (or ":memory:" with SQLITE_OPEN_MEMORY semantics via the name).
    static std::unique_ptr<Database> open(const std::string& path, int flags);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const char* sql);
    // exec for a rollback or commit whose failure changes nothing for the caller.
    void execIgnoringErrors(const char* sql);
    // exec for short transaction statements run very often (BEGIN, SAVEPOINT, RELEASE, COMMIT):
    // prepared once and kept, where exec would compile them on every call.
    void run(const char* sql);
    // A lease on the cached statement for sql; a second lease on a statement in use gets a
    // statement of its own. Statements are cached by the address of their text, so pass
    // literals; any other text works too, only more slowly.
    Query query(const char* sql);

    std::int64_t lastInsertRowid() const;
    int changes() const;
    bool inTransaction() const;
    // Changes whenever another connection (another process) commits. Inside a transaction the
    // data seen cannot change, so the number is read once per transaction.
    std::int64_t dataVersion();
    // Changes whenever a transaction may have begun or ended (never for a savepoint inside one):
    // what was read inside a transaction holds while both the number and inTransaction() stay.
    std::uint64_t transactionSerial() const { return transactionSerial_; }
    // The time the writes of the current transaction give the keys they touch, as a FILETIME:
    // one instant per transaction (wineserver too gives one time to all the work of a request),
    // so that a key made and then filled in one transaction needs no second write of its time.
    // Outside a transaction, the time now.
    std::int64_t writeTime();
    // Counts the writes made through this connection (steps of writing statements and
    // rollbacks): with dataVersion() it tells whether anything read earlier may be stale.
    std::uint64_t localChanges() const { return localChanges_; }
    void noteLocalChange() { ++localChanges_; }

    // How long a statement waits for another connection's lock before it fails as busy. The
    // wait polls every millisecond: a writer that commits in a tight loop leaves the lock free
    // only for moments, and a waiter that backed off to long sleeps would rarely find them.
    void setBusyTimeout(int milliseconds);
    void setCheckpointOnClose(bool enabled);
    sqlite3* handle() const { return db_; }
    const std::string& path() const { return path_; }

private:
    explicit Database(sqlite3* db, std::string path);
    [[noreturn]] void fail(int code) const;
    friend class Query;
    struct CachedStatement {
        std::string sql;
        sqlite3_stmt* stmt = nullptr;
        bool inUse = false;
    };
    sqlite3* db_;
    std::string path_;
    std::unordered_map<const char*, CachedStatement> cache_;
    int busyTimeoutMs_ = 0;
    std::chrono::steady_clock::time_point busySince_;
    std::uint64_t localChanges_ = 0;
    bool versionCached_ = false;  // dataVersion_ holds the number of the current transaction
    std::uint64_t transactionSerial_ = 0;
    std::int64_t dataVersion_ = 0;
    std::uint64_t writeTimeSerial_ = 0;  // the transaction writeTime_ belongs to
    std::int64_t writeTime_ = 0;
};

// A write transaction: BEGIN IMMEDIATE outside a transaction, a savepoint inside one (a batch),
// so that each operation is all-or-nothing either way. Rolls back unless committed.
class WriteTransaction {
public:
    // A write of one statement needs no savepoint of its own inside a larger transaction: SQLite
    // undoes a failed statement by itself. Pass singleStatement for such writes.
    explicit WriteTransaction(Database& db, bool singleStatement = false);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    void commit();

private:
    Database& db_;
    bool nested_;
    bool active_;
    bool done_ = false;
};

}  // namespace tovik::sqlite
