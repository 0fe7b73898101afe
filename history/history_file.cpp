#include "history/history_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "registry/name_fold.h"

namespace tovik::history {

namespace {}  // namespace

// Prepared statements kept for the life of the connection, by their text: a recorded change
// runs a dozen statements, and preparing each anew cost more than the rest of its work.
class HistoryFile::StatementCache {
public:
    explicit StatementCache(sqlite3* db) : db_(db) {}
    ~StatementCache() {
        for (auto& [sql, kept] : kept_) sqlite3_finalize(kept.stmt);
    }
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    // The statement of sql, prepared when first asked for; null while the one kept is in use
    // (the caller then prepares one of its own), and on a failure to prepare.
    sqlite3_stmt* take(const char* sql) {
        Kept& kept = kept_[sql];
        if (kept.busy) return nullptr;
        if (kept.stmt == nullptr &&
            sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &kept.stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(kept.stmt);
            kept.stmt = nullptr;
            return nullptr;
        }
        kept.busy = true;
        return kept.stmt;
    }
    void give(const char* sql, sqlite3_stmt* stmt) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        kept_[sql].busy = false;
    }

private:
    struct Kept {
        sqlite3_stmt* stmt = nullptr;
        bool busy = false;
    };
    sqlite3* db_;
    std::unordered_map<const char*, Kept> kept_;
};

namespace {

// One prepared statement for the length of its scope: the cache's when given one, else its own.
class Statement {
public:
    Statement(sqlite3* db, const char* sql, HistoryFile::StatementCache* cache = nullptr)
        : db_(db), sql_(sql), cache_(cache) {
        if (cache_ != nullptr) stmt_ = cache_->take(sql);
        if (stmt_ != nullptr) return;
        cache_ = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) fail();
    }
    ~Statement() {
        if (cache_ != nullptr)
            cache_->give(sql_, stmt_);
        else
            sqlite3_finalize(stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t n) {
        check(sqlite3_bind_int64(stmt_, index, n));
        return *this;
    }
    Statement& bind(int index, const std::u16string& text) {
        check(sqlite3_bind_text16(stmt_, index, text.data(), static_cast<int>(text.size() * 2), SQLITE_STATIC));
        return *this;
    }
    Statement& bindBlob(int index, const std::string& bytes) {
        check(sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_STATIC));
        return *this;
    }
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        fail();
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::u16string text(int column) const {
        const auto* units = static_cast<const char16_t*>(sqlite3_column_text16(stmt_, column));
        const int bytes = sqlite3_column_bytes16(stmt_, column);
        return units ? std::u16string(units, static_cast<std::size_t>(bytes) / 2) : std::u16string();
    }
    std::string_view blob(int column) const {
        const void* data = sqlite3_column_blob(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return data ? std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(size))
                    : std::string_view();
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) fail();
    }
    [[noreturn]] void fail() { throw std::runtime_error(std::string("change history: ") + sqlite3_errmsg(db_)); }
    sqlite3* db_;
    const char* sql_;
    HistoryFile::StatementCache* cache_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Rolls back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) {
        if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("change history: ") + sqlite3_errmsg(db));
    }
    ~Transaction() {
        if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit() {
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("change history: ") + sqlite3_errmsg(db_));
        done_ = true;
    }

private:
    sqlite3* db_;
    bool done_ = false;
};

std::u16string joinIds(const std::vector<std::int64_t>& ids) {
    std::string text;
    for (std::int64_t id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
    return std::u16string(text.begin(), text.end());
}

std::vector<std::int64_t> splitIds(const std::u16string& text) {
    std::vector<std::int64_t> ids;
    std::int64_t n = 0;
    bool any = false;
    for (char16_t c : text) {
        if (c >= u'0' && c <= u'9') {
            n = n * 10 + (c - u'0');
            any = true;
        } else {
            if (any) ids.push_back(n);
            n = 0;
            any = false;
        }
    }
    if (any) ids.push_back(n);
    return ids;
}

bool processGone(std::int64_t pid) {
    if (pid == ::getpid()) return true;  // an earlier opening in this process ended without finishing
    return pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value);"
    "CREATE TABLE IF NOT EXISTS entries(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,"
    " command TEXT NOT NULL, key TEXT NOT NULL, kind INTEGER NOT NULL, targets TEXT NOT NULL,"
    " undone INTEGER NOT NULL DEFAULT 0, redone INTEGER NOT NULL DEFAULT 0,"
    " finished INTEGER NOT NULL DEFAULT 0, owner INTEGER NOT NULL, size INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS parts(entry INTEGER NOT NULL, seq INTEGER NOT NULL, done INTEGER NOT NULL,"
    " ops BLOB NOT NULL, PRIMARY KEY(entry, seq));"
    // A part's changes live apart from its row, so that marking it kept rewrites a few bytes, not
    // megabytes. (parts.ops holds them for parts written before, and is empty since.)
    "CREATE TABLE IF NOT EXISTS part_ops(entry INTEGER NOT NULL, seq INTEGER NOT NULL, ops BLOB NOT NULL,"
    " PRIMARY KEY(entry, seq));"
    "CREATE TRIGGER IF NOT EXISTS part_ops_follow AFTER DELETE ON parts BEGIN"
    " DELETE FROM part_ops WHERE entry = old.entry AND seq = old.seq; END;";

EntryInfo readEntry(const Statement& row) {
    EntryInfo info;
    info.id = row.integer(0);
    info.time = row.integer(1);
    info.command = row.text(2);
    info.key = row.text(3);
    info.kind = static_cast<EntryKind>(row.integer(4));
    info.targets = splitIds(row.text(5));
    info.undone = row.integer(6) != 0;
    info.redone = row.integer(7) != 0;
    return info;
}

}  // namespace

std::unique_ptr<HistoryFile> HistoryFile::open(const std::string& path, const std::u16string& identity,
                                               std::string& error) {
    if (path != ":memory:") {
        // Created private before SQLite opens it: what the user changed is the user's alone.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            error = "The change history " + path + " cannot be opened: " + std::strerror(errno) + ".";
            return nullptr;
        }
        ::close(fd);
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        error =
            "The change history " + path + " cannot be opened: " + (db ? sqlite3_errmsg(db) : "out of memory") + ".";
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<HistoryFile> file(new HistoryFile(db, path));
    try {
        sqlite3_busy_timeout(db, 5000);
        file->exec("PRAGMA journal_mode=WAL");
        // Commits are not synced one by one: what must reach the disk before the registry changes
        // is brought there by syncWritten(), beside the registry's own write. A checkpoint still
        // syncs the log before it copies it into the file, so a power cut may lose the newest
        // commits (the next open settles what they would have said) but never damages the history.
        file->exec("PRAGMA synchronous=NORMAL");
        file->exec(kSchema);
        Transaction tx(db);
        Statement read(db, "SELECT value FROM meta WHERE name = 'identity'");
        if (read.step()) {
            if (read.text(0) != identity) {
                error = "The change history " + path + " belongs to another registry.";
                return nullptr;
            }
        } else {
            Statement write(db, "INSERT INTO meta(name, value) VALUES('identity', ?)");
            write.bind(1, identity).step();
        }
        tx.commit();
    } catch (const std::exception& e) {
        error = "The change history " + path + " cannot be read: " + e.what() + ".";
        return nullptr;
    }
    return file;
}

HistoryFile::HistoryFile(sqlite3* db, std::string path)
    : db_(db), path_(std::move(path)), statements_(std::make_unique<StatementCache>(db)) {}

HistoryFile::~HistoryFile() {
    if (walFd_ >= 0) ::close(walFd_);
    statements_.reset();  // every statement finalized before the connection closes
    sqlite3_close(db_);
}

void HistoryFile::syncWritten() {
    if (path_ == ":memory:") return;
    // SQLite keeps the log while a connection is open; a log made anew (by a checkpoint that
    // truncated it away, or a journal mode changed under us) is another file, so it is looked up
    // by name whenever the one held is not the one there.
    const std::string wal = path_ + "-wal";
    struct stat named {
    }, held{};
    if (walFd_ >= 0 && (::stat(wal.c_str(), &named) != 0 || ::fstat(walFd_, &held) != 0 ||
                        named.st_ino != held.st_ino || named.st_dev != held.st_dev)) {
        ::close(walFd_);
        walFd_ = -1;
    }
    if (walFd_ < 0) walFd_ = ::open(wal.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (walFd_ < 0) {
        if (errno == ENOENT) return;  // nothing written since the last checkpoint synced it all
        throw std::runtime_error(std::string("change history: ") + std::strerror(errno));
    }
    if (::fdatasync(walFd_) != 0) throw std::runtime_error(std::string("change history: ") + std::strerror(errno));
}

void HistoryFile::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("change history: ") + sqlite3_errmsg(db_));
}

std::int64_t HistoryFile::writePart(EntryInfo& entry, const std::vector<ChangeOp>& ops, Sync sync) {
    const std::string bytes = encodeOps(ops);
    Transaction tx(db_);
    if (entry.id == 0) {
        entry.time = std::time(nullptr);
        Statement insert(db_, "INSERT INTO entries(time, command, key, kind, targets, owner) VALUES(?, ?, ?, ?, ?, ?)",
                         statements_.get());
        insert.bind(1, entry.time).bind(2, entry.command).bind(3, entry.key);
        insert.bind(4, static_cast<std::int64_t>(entry.kind)).bind(5, joinIds(entry.targets)).bind(6, ::getpid());
        insert.step();
        entry.id = sqlite3_last_insert_rowid(db_);
    }
    Statement next(db_, "SELECT COALESCE(MAX(seq), 0) + 1 FROM parts WHERE entry = ?", statements_.get());
    next.bind(1, entry.id).step();
    const std::int64_t seq = next.integer(0);
    Statement insert(db_, "INSERT INTO parts(entry, seq, done, ops) VALUES(?, ?, 0, x'')", statements_.get());
    insert.bind(1, entry.id).bind(2, seq).step();
    Statement insertOps(db_, "INSERT INTO part_ops(entry, seq, ops) VALUES(?, ?, ?)", statements_.get());
    insertOps.bind(1, entry.id).bind(2, seq).bindBlob(3, bytes).step();
    Statement grow(db_, "UPDATE entries SET size = size + ? WHERE id = ?", statements_.get());
    grow.bind(1, static_cast<std::int64_t>(bytes.size())).bind(2, entry.id).step();
    tx.commit();
    if (sync == Sync::now) syncWritten();
    return seq;
}

void HistoryFile::markPartDone(std::int64_t entry, std::int64_t seq) {
    Statement mark(db_, "UPDATE parts SET done = 1 WHERE entry = ? AND seq = ?", statements_.get());
    mark.bind(1, entry).bind(2, seq).step();
}

void HistoryFile::markPartsDone(std::int64_t entry, const std::vector<std::int64_t>& seqs) {
    Transaction tx(db_);
    for (std::int64_t seq : seqs) {
        Statement mark(db_, "UPDATE parts SET done = 1 WHERE entry = ? AND seq = ?", statements_.get());
        mark.bind(1, entry).bind(2, seq).step();
    }
    tx.commit();
}

void HistoryFile::dropPart(std::int64_t entry, std::int64_t seq) {
    Transaction tx(db_);
    Statement size(db_,
                   "SELECT length(COALESCE(part_ops.ops, parts.ops)) FROM parts LEFT JOIN part_ops"
                   " USING(entry, seq) WHERE entry = ? AND seq = ?",
                   statements_.get());
    const std::int64_t bytes = size.bind(1, entry).bind(2, seq).step() ? size.integer(0) : 0;
    Statement drop(db_, "DELETE FROM parts WHERE entry = ? AND seq = ?", statements_.get());
    drop.bind(1, entry).bind(2, seq).step();
    Statement shrink(db_, "UPDATE entries SET size = size - ? WHERE id = ?", statements_.get());
    shrink.bind(1, bytes).bind(2, entry).step();
    tx.commit();
}

void HistoryFile::finishEntry(std::int64_t id, std::int64_t donePart) {
    std::int64_t added = 0;
    {
        Transaction tx(db_);
        if (donePart != 0) {
            Statement mark(db_, "UPDATE parts SET done = 1 WHERE entry = ? AND seq = ?", statements_.get());
            mark.bind(1, id).bind(2, donePart).step();
        }
        Statement count(db_, "SELECT COUNT(*) FROM parts WHERE entry = ? AND done = 1", statements_.get());
        count.bind(1, id).step();
        if (count.integer(0) == 0) {
            Statement drop(db_, "DELETE FROM entries WHERE id = ?", statements_.get());
            drop.bind(1, id).step();
            Statement parts(db_, "DELETE FROM parts WHERE entry = ?", statements_.get());
            parts.bind(1, id).step();
        } else {
            Statement pending(db_, "DELETE FROM parts WHERE entry = ? AND done = 0", statements_.get());
            pending.bind(1, id).step();
            Statement finish(db_, "UPDATE entries SET finished = 1 WHERE id = ?", statements_.get());
            finish.bind(1, id).step();
            Statement size(db_, "SELECT size FROM entries WHERE id = ?", statements_.get());
            if (size.bind(1, id).step()) added = size.integer(0);
            if (std::optional<EntryInfo> info = entry(id); info && info->kind != EntryKind::Change) {
                const char* sql = info->kind == EntryKind::Undo ? "UPDATE entries SET undone = 1 WHERE id = ?"
                                                                : "UPDATE entries SET redone = 1 WHERE id = ?";
                for (std::int64_t target : info->targets) {
                    Statement mark(db_, sql, statements_.get());
                    mark.bind(1, target).step();
                }
            }
        }
        tx.commit();
    }
    trimIfDue(added);
}

std::vector<PendingPart> HistoryFile::orphanedParts() {
    std::vector<PendingPart> parts;
    Statement read(db_,
                   "SELECT parts.entry, parts.seq, COALESCE(part_ops.ops, parts.ops), entries.owner FROM parts"
                   " LEFT JOIN part_ops USING(entry, seq) JOIN entries ON entries.id = parts.entry"
                   " WHERE parts.done = 0 ORDER BY parts.entry, parts.seq",
                   statements_.get());
    while (read.step()) {
        if (!processGone(read.integer(3))) continue;
        PendingPart part{read.integer(0), read.integer(1), {}};
        if (!decodeOps(read.blob(2), part.ops)) part.ops.clear();
        parts.push_back(std::move(part));
    }
    return parts;
}

std::vector<std::int64_t> HistoryFile::orphanedEntries() {
    std::vector<std::int64_t> ids;
    Statement read(db_, "SELECT id, owner FROM entries WHERE finished = 0 ORDER BY id", statements_.get());
    while (read.step())
        if (processGone(read.integer(1))) ids.push_back(read.integer(0));
    return ids;
}

std::vector<EntryInfo> HistoryFile::list(std::int64_t limit, const std::u16string& key) {
    std::vector<EntryInfo> entries;
    const std::u16string folded = foldName(key);
    Statement read(db_,
                   "SELECT id, time, command, key, kind, targets, undone, redone FROM entries"
                   " WHERE finished = 1 ORDER BY id DESC",
                   statements_.get());
    while ((limit < 0 || static_cast<std::int64_t>(entries.size()) < limit) && read.step()) {
        EntryInfo info = readEntry(read);
        if (!key.empty()) {
            const std::u16string mine = foldName(info.key);
            if (mine.compare(0, folded.size(), folded) != 0 ||
                (mine.size() > folded.size() && mine[folded.size()] != u'\\'))
                continue;
        }
        entries.push_back(std::move(info));
    }
    return entries;
}

std::vector<EntryInfo> HistoryFile::undoable(std::int64_t limit) {
    std::vector<EntryInfo> entries;
    Statement read(db_,
                   "SELECT id, time, command, key, kind, targets, undone, redone FROM entries"
                   " WHERE finished = 1 AND kind != 1 AND undone = 0 ORDER BY id DESC LIMIT ?",
                   statements_.get());
    read.bind(1, limit);
    while (read.step()) entries.push_back(readEntry(read));
    return entries;
}

std::optional<EntryInfo> HistoryFile::entry(std::int64_t id) {
    Statement read(db_, "SELECT id, time, command, key, kind, targets, undone, redone FROM entries WHERE id = ?",
                   statements_.get());
    read.bind(1, id);
    if (!read.step()) return std::nullopt;
    return readEntry(read);
}

std::optional<std::vector<ChangeOp>> HistoryFile::opsOf(std::int64_t id) {
    std::vector<ChangeOp> ops;
    Statement read(db_,
                   "SELECT COALESCE(part_ops.ops, parts.ops) FROM parts LEFT JOIN part_ops USING(entry, seq)"
                   " WHERE entry = ? AND done = 1 ORDER BY seq",
                   statements_.get());
    read.bind(1, id);
    while (read.step())
        if (!decodeOps(read.blob(0), ops)) return std::nullopt;
    return ops;
}

std::vector<std::int64_t> HistoryFile::partsOf(std::int64_t id) {
    std::vector<std::int64_t> seqs;
    Statement read(db_, "SELECT seq FROM parts WHERE entry = ? AND done = 1 ORDER BY seq", statements_.get());
    read.bind(1, id);
    while (read.step()) seqs.push_back(read.integer(0));
    return seqs;
}

std::optional<std::vector<ChangeOp>> HistoryFile::partOps(std::int64_t entry, std::int64_t seq) {
    std::vector<ChangeOp> ops;
    Statement read(db_,
                   "SELECT COALESCE(part_ops.ops, parts.ops) FROM parts LEFT JOIN part_ops USING(entry, seq)"
                   " WHERE entry = ? AND seq = ? AND done = 1",
                   statements_.get());
    read.bind(1, entry).bind(2, seq);
    if (!read.step() || !decodeOps(read.blob(0), ops)) return std::nullopt;
    return ops;
}

DroppedEntries HistoryFile::dropped() {
    DroppedEntries result;
    Statement read(db_, "SELECT name, value FROM meta WHERE name IN ('dropped', 'dropped_time')", statements_.get());
    while (read.step()) {
        if (read.text(0) == u"dropped")
            result.count = read.integer(1);
        else
            result.newestTime = read.integer(1);
    }
    return result;
}

void HistoryFile::trimIfDue(std::int64_t addedBytes) {
    if (finishedBytes_ >= 0 && ++finishedSinceCount_ < 64) {
        finishedBytes_ += addedBytes;
        const std::int64_t oldestKept = static_cast<std::int64_t>(std::time(nullptr)) - limits_.maxAgeSeconds;
        Statement oldest(db_, "SELECT time FROM entries WHERE finished = 1 ORDER BY id LIMIT 1", statements_.get());
        const bool tooOld = oldest.step() && oldest.integer(0) < oldestKept;
        if (!tooOld && static_cast<std::uint64_t>(finishedBytes_) <= limits_.maxBytes) return;
    }
    trim();
}

void HistoryFile::trim() {
    Transaction tx(db_);
    Statement total(db_, "SELECT COALESCE(SUM(size), 0), COUNT(*) FROM entries WHERE finished = 1", statements_.get());
    total.step();
    std::int64_t bytes = total.integer(0);
    std::int64_t count = total.integer(1);
    const std::int64_t oldestKept = static_cast<std::int64_t>(std::time(nullptr)) - limits_.maxAgeSeconds;
    std::int64_t droppedNow = 0, droppedTime = 0;
    Statement oldest(db_, "SELECT id, time, size FROM entries WHERE finished = 1 ORDER BY id", statements_.get());
    std::vector<std::int64_t> doomed;
    while (oldest.step()) {
        const bool tooBig = static_cast<std::uint64_t>(bytes) > limits_.maxBytes && count > 1;  // the newest stays
        const bool tooOld = oldest.integer(1) < oldestKept;
        if (!tooBig && !tooOld) break;
        doomed.push_back(oldest.integer(0));
        droppedTime = std::max(droppedTime, oldest.integer(1));
        bytes -= oldest.integer(2);
        --count;
        ++droppedNow;
    }
    finishedBytes_ = bytes;
    finishedSinceCount_ = 0;
    if (doomed.empty()) return;
    for (std::int64_t id : doomed) {
        Statement drop(db_, "DELETE FROM entries WHERE id = ?", statements_.get());
        drop.bind(1, id).step();
        Statement parts(db_, "DELETE FROM parts WHERE entry = ?", statements_.get());
        parts.bind(1, id).step();
    }
    const DroppedEntries before = dropped();
    Statement note(db_, "INSERT OR REPLACE INTO meta(name, value) VALUES('dropped', ?), ('dropped_time', ?)",
                   statements_.get());
    note.bind(1, before.count + droppedNow).bind(2, std::max(before.newestTime, droppedTime)).step();
    tx.commit();
}

}  // namespace tovik::history
