#pragma once
// The durable change history of one registry: a small SQLite database in the user's state folder
// (never inside the registry it describes). An entry is one user command; its changes are written
// in parts, each written durably before the registry keeps the changes it holds (pending) and
// marked done after, so that after a kill the history and the registry can be brought to agree.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/change_op.h"

struct sqlite3;

namespace tovik::history {

enum class EntryKind { Change = 0, Undo = 1, Redo = 2 };

struct EntryInfo {
    std::int64_t id = 0;
    std::int64_t time = 0;   // seconds since 1970, when the entry began
    std::u16string command;  // what the user did, as the command named it
    std::u16string key;      // the key it concerns
    EntryKind kind = EntryKind::Change;
    // Undo: the entries it took back; Redo: the undo entries it took back.
    std::vector<std::int64_t> targets;
    bool undone = false;  // Change, Redo: an undo took it back
    bool redone = false;  // Undo: a redo took it back
};

struct HistoryLimits {
    std::uint64_t maxBytes = 512ull << 20;          // 512 MiB of recorded changes
    std::int64_t maxAgeSeconds = 90ll * 24 * 3600;  // 90 days
};

// Entries that trimming removed: how many, and the time of the newest of them.
struct DroppedEntries {
    std::int64_t count = 0;
    std::int64_t newestTime = 0;
};

struct PendingPart {
    std::int64_t entry = 0;
    std::int64_t seq = 0;
    std::vector<ChangeOp> ops;
};

class HistoryFile {
public:
    class StatementCache;  // the connection's prepared statements (history_file.cpp)

    // Opens (creating, mode 0600) the history at path, or one in memory for ":memory:". Empty
    // error and a history, or a sentence saying why not. A file that belongs to another registry
    // (the identity differs) is refused.
    static std::unique_ptr<HistoryFile> open(const std::string& path, const std::u16string& identity,
                                             std::string& error);
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    void setLimits(const HistoryLimits& limits) {
        limits_ = limits;
        finishedBytes_ = -1;  // counted again at the next finish
    }
    const HistoryLimits& limits() const { return limits_; }

    // When a part reaches the disk: before writePart returns, or at syncWritten(), which the
    // caller runs beside the registry's own write so that the two waits for the disk overlap.
    enum class Sync { now, later };
    // Writes a part as pending, creating the entry (id 0 in entry) with its first part. Once
    // written it survives the process being killed; with Sync::later it survives a power cut only
    // after syncWritten(). Throws std::runtime_error when the history cannot be written.
    std::int64_t writePart(EntryInfo& entry, const std::vector<ChangeOp>& ops, Sync sync = Sync::now);
    // Brings everything written so far to the disk. Touches no SQLite state, so it may run on
    // another thread while this history is otherwise idle. Throws std::runtime_error with the
    // reason when the disk refuses.
    void syncWritten();
    void markPartDone(std::int64_t entry, std::int64_t seq);
    // The parts of one batch, written as it went, all kept at its commit.
    void markPartsDone(std::int64_t entry, const std::vector<std::int64_t>& seqs);
    // The registry did not keep the part's changes.
    void dropPart(std::int64_t entry, std::int64_t seq);
    // The command ended: the entry (if any part of it was kept) joins the history for good; an
    // undo marks what it took back as undone, a redo its undo as redone. Then trims. donePart,
    // when not 0, is a part kept by the registry, marked so in the same transaction.
    void finishEntry(std::int64_t entry, std::int64_t donePart = 0);

    // Parts left pending, and entries left open, by processes that are gone.
    std::vector<PendingPart> orphanedParts();
    std::vector<std::int64_t> orphanedEntries();

    // Finished entries, newest first; at most limit (all when negative); with a key, only those
    // whose key is that key or below it (any case).
    std::vector<EntryInfo> list(std::int64_t limit, const std::u16string& key = {});
    // The newest limit entries that an undo can take back (changes and redos not undone yet),
    // newest first.
    std::vector<EntryInfo> undoable(std::int64_t limit);
    std::optional<EntryInfo> entry(std::int64_t id);
    // The kept changes of an entry in the order they were made; nullopt when a part is unreadable.
    std::optional<std::vector<ChangeOp>> opsOf(std::int64_t id);
    // The kept parts of an entry, oldest first, and the changes of one of them (nullopt when
    // unreadable): an entry of a million changes read a part at a time.
    std::vector<std::int64_t> partsOf(std::int64_t id);
    std::optional<std::vector<ChangeOp>> partOps(std::int64_t entry, std::int64_t seq);
    DroppedEntries dropped();
    // Drops the oldest finished entries beyond the size and the age limit.
    void trim();

private:
    HistoryFile(sqlite3* db, std::string path);
    void exec(const char* sql);
    sqlite3* db_;
    std::string path_;  // ":memory:" for a history in memory
    int walFd_ = -1;    // the write-ahead log, opened for syncWritten()
    std::unique_ptr<StatementCache> statements_;
    // The size of the finished entries as last counted plus those finished since (-1: not
    // counted yet), and how many finished since: the full count runs over every entry, so
    // finishing one trims only when a limit may have been passed, or every so often (other
    // processes add entries too).
    std::int64_t finishedBytes_ = -1;
    int finishedSinceCount_ = 0;
    void trimIfDue(std::int64_t addedBytes);
    HistoryLimits limits_;
};

}  // namespace tovik::history
