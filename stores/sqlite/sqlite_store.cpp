#include "stores/sqlite/sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "files/safe_read.h"
#include "language/messages.h"
#include "registry/key_time.h"
#include "registry/registry_store.h"
#include "registry/roots.h"
#include "registry/win_types.h"
#include "stores/sqlite/private_folders.h"
#include "stores/sqlite/sqlite_backend.h"
#include "stores/sqlite/sqlite_db.h"
#include "stores/sqlite/sqlite_values.h"
#include "stores/sqlite/value_pack.h"

namespace tovik {
namespace {

// Marks a database as ours (PRAGMA application_id) and its layout (PRAGMA user_version).
constexpr std::int64_t kApplicationId = 0x546F764B;  // "TovK"
constexpr std::int64_t kSchemaVersion = 5;
constexpr int kBusyTimeoutMs = 5000;

// Names are UTF-16LE blobs; fold is the folded name as big-endian units, so that the blob order
// SQLite uses (memcmp) is the order of CompareNames. Keys are stored in the order of (parent,
// fold): a subkey list is one range of the tree and a lookup by name one descent, with no
// second lookup of a row. Roots have parent 0 and the fixed ids 1 to 3; key ids come from key_ids,
// which the store raises with every key it makes, and are never reused, so a handle to a deleted
// key cannot reach a new one. Each key's last write
// time, column written, is added to this table by addWrittenColumn.
constexpr const char* kKeysTable = R"sql(
CREATE TABLE keys(
    parent INTEGER NOT NULL,
    fold BLOB NOT NULL,
    id INTEGER NOT NULL UNIQUE,
    name BLOB NOT NULL,
    depth INTEGER NOT NULL,
    PRIMARY KEY(parent, fold)) WITHOUT ROWID;
)sql";
constexpr const char* kKeyIds = R"sql(
CREATE TABLE key_ids(last INTEGER NOT NULL);
)sql";
// A key's values are one row of packs while they are few and small (value_pack.h): every value
// of the key in creation order, so that listing them reads one row and setting one writes one.
// Beyond that, each value is a row of vals and the key's pack is left empty as the mark; a key
// without values has no pack.
constexpr const char* kPacks = R"sql(
CREATE TABLE packs(
    key INTEGER PRIMARY KEY REFERENCES keys(id) ON DELETE CASCADE,
    data BLOB NOT NULL);
)sql";
// A value row's id is its key's id times 2^27 plus its position among the key's values, so the
// table itself holds each key's values together and in creation order: a value list is one
// range of the table, with no index between. A new value takes the position after the key's
// last one; the check keeps every id inside its key's range (a key cannot outgrow 2^27 - 1
// positions, nor key ids 2^36). Names are found through vals_by_name.
constexpr const char* kValues = R"sql(
CREATE TABLE vals(
    id INTEGER PRIMARY KEY,
    key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
    fold BLOB NOT NULL,
    name BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    CHECK (id >> 27 = key));
CREATE UNIQUE INDEX vals_by_name ON vals(key, fold);
)sql";
constexpr const char* kFirstKeyIds = "INSERT INTO key_ids VALUES(3)";

// Older layouts are upgraded in one transaction: a kill leaves either the old layout untouched or
// the new one complete. Key ids stay as they were; each key's values keep their order.
//
// Layout 1 kept keys in a rowid table keyed by id and values by a rowid of their own.
constexpr const char* kSetAsideLayout1 = R"sql(
ALTER TABLE keys RENAME TO keys_v1;
ALTER TABLE vals RENAME TO vals_v1;
)sql";
constexpr const char* kCopyKeysOfLayout1 = R"sql(
INSERT INTO keys(parent, fold, id, name, depth)
    SELECT coalesce(parent, 0), fold, id, name, depth FROM keys_v1 ORDER BY coalesce(parent, 0), fold;
)sql";
constexpr const char* kValuesOfLayout1 = "SELECT key, name, type, data FROM vals_v1 ORDER BY key, id";
constexpr const char* kFinishLayout1 = R"sql(
INSERT INTO key_ids SELECT max(3, coalesce((SELECT max(id) FROM keys), 0),
                           coalesce((SELECT max(seq) FROM sqlite_sequence WHERE name IN ('keys', 'keys_v1')), 0));
DROP TABLE vals_v1;
DROP TABLE keys_v1;
DELETE FROM sqlite_sequence;
)sql";
// Layout 2 had the key tree of today and every value a row of vals.
constexpr const char* kSetAsideLayout2 = R"sql(
DROP INDEX vals_by_name;
ALTER TABLE vals RENAME TO vals_v2;
)sql";
constexpr const char* kValuesOfLayout2 = "SELECT key, name, type, data FROM vals_v2 ORDER BY id";
constexpr const char* kFinishLayout2 = "DROP TABLE vals_v2;";

// written is a FILETIME (100 ns ticks since 1601 UTC). Adding the column rewrites no row: keys
// that were there before it read the default, the time the column was added, and every key
// written later gets its own time.
void addWrittenColumn(sqlite::Database& db, std::int64_t now) {
    db.exec(("ALTER TABLE keys ADD COLUMN written INTEGER NOT NULL DEFAULT " + std::to_string(now)).c_str());
}

// Writes the values that query lists (key, name, type, data; each key's together and in order)
// into packs and vals.
void copyValues(sqlite::Database& db, const char* query) {
    std::vector<sqlite::StoredValue> values;
    KeyId key = kNoKey;
    sqlite::Query q = db.query(query);
    for (bool more = q.step();; more = q.step()) {
        const KeyId next = more ? q.columnInt64(0) : kNoKey;
        if (next != key || !more) {
            if (!values.empty()) sqlite::writeKeyValues(db, key, values);
            values.clear();
            key = next;
        }
        if (!more) break;
        values.push_back(
            {sqlite::decodeName(q.columnBlob(1)), static_cast<DWORD>(q.columnInt64(2)), std::string(q.columnBlob(3))});
    }
}

void upgrade(sqlite::Database& db, std::int64_t version) {
    if (version == 1) {
        for (const char* step : {kSetAsideLayout1, kKeysTable, kValues, kPacks, kCopyKeysOfLayout1, kKeyIds})
            db.exec(step);
        copyValues(db, kValuesOfLayout1);
        db.exec(kFinishLayout1);
    } else if (version == 2) {
        db.exec(kSetAsideLayout2);
        db.exec(kValues);
        db.exec(kPacks);
        copyValues(db, kValuesOfLayout2);
        db.exec(kFinishLayout2);
    }
    // Layouts up to 3 kept no times: their keys are dated at the upgrade.
    if (version <= 3) addWrittenColumn(db, fileTimeNow());
    // Layouts 2 to 4 raised key_ids by a trigger on every insert of a key, which made each insert
    // a statement with a journal of its own and doubled its cost; the store raises it itself now.
    db.exec("DROP TRIGGER IF EXISTS key_ids_follow");
    db.exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

class OpenFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string cannotOpen(const std::string& path, std::string_view why) {
    return say({"Cannot open the registry store \"%1\": %2", "レジストリのストア「%1」を開けません: %2"}, {path, why});
}

std::string cannotOpen(const std::string& path, const Message& why) {
    return cannotOpen(path, text(why));
}

// The system's reason as the end of a sentence.
std::string systemReason(int error) {
    return say({"%1.", "%1。"}, {std::strerror(error)});
}

const Message kNotAStore{"it is not a Tovik registry database; the file was left unchanged.",
                         "Tovik のレジストリのデータベースではありません。ファイルは変更していません。"};
const Message kNotRegularFile{"it is not a regular file.", "通常のファイルではありません。"};

std::string describeSqliteFailure(const std::string& path, const sqlite::Error& e) {
    switch (e.primaryCode()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return cannotOpen(
            path, Message{"another program keeps it locked; try again when it is done.",
                          "他のプログラムがロックしています。そのプログラムが終わってからやり直してください。"});
    case SQLITE_NOTADB: return cannotOpen(path, kNotAStore);
    case SQLITE_CORRUPT:
        return cannotOpen(path, Message{"the database is damaged; the file was left unchanged.",
                                        "データベースが壊れています。ファイルは変更していません。"});
    case SQLITE_READONLY:
        return cannotOpen(path, Message{"it cannot be written (read-only file or folder).",
                                        "書き込めません（読み取り専用のファイルかフォルダです）。"});
    case SQLITE_FULL: return cannotOpen(path, Message{"the disk is full.", "ディスクがいっぱいです。"});
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return cannotOpen(path, Message{"the file or its folder cannot be accessed.",
                                        "ファイルかそのフォルダにアクセスできません。"});
    default: return cannotOpen(path, say({"%1.", "%1。"}, {e.what()}));
    }
}

// A root's ASCII name as UTF-16 units, little- or big-endian.
std::string rootNameBytes(std::u16string_view ascii, bool bigEndian) {
    std::string bytes;
    for (char16_t unit : ascii) {
        const char c = static_cast<char>(unit);
        bytes.push_back(bigEndian ? '\0' : c);
        bytes.push_back(bigEndian ? c : '\0');
    }
    return bytes;
}

void addMissingRoots(sqlite::Database& db) {
    for (const RootInfo& root : heldRoots()) {
        const std::int64_t id = root.handle - HKEY_CLASSES_ROOT + 1;
        if (db.query("SELECT 1 FROM keys WHERE id = ?1").bind(1, id).step()) continue;
        sqlite::Query insert =
            db.query("INSERT INTO keys(id, parent, name, fold, depth, written) VALUES(?1, 0, ?2, ?3, 0, ?4)");
        insert.bind(1, id).bind(4, fileTimeNow());
        // The bound bytes must live until the insert has run.
        const std::string name = rootNameBytes(root.longName, false);
        const std::string fold = rootNameBytes(root.longName, true);  // root names are upper-case already
        insert.bindBlob(2, name);
        insert.bindBlob(3, fold);
        insert.step();
    }
}

void createSchema(sqlite::Database& db) {
    db.exec(kKeysTable);
    addWrittenColumn(db, fileTimeNow());
    db.exec(kKeyIds);
    db.exec(kFirstKeyIds);
    db.exec(kValues);
    db.exec(kPacks);
    db.exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
    db.exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

std::int64_t pragmaNumber(sqlite::Database& db, const char* pragma) {
    sqlite::Query q = db.query(pragma);
    return q.step() ? q.columnInt64(0) : 0;
}

enum class Layout { Empty, Ours, Older, Foreign, Newer, Damaged };

// Reads the header and the schema only: constant time whatever the size of the store.
Layout inspectLayout(sqlite::Database& db) {
    bool hasKeys = false, hasVals = false, hasPacks = false, hasOther = false;
    {
        sqlite::Query q = db.query("SELECT name FROM sqlite_schema WHERE type = 'table'");
        while (q.step()) {
            const std::string_view name = q.columnBlob(0);
            if (name == "keys")
                hasKeys = true;
            else if (name == "vals")
                hasVals = true;
            else if (name == "packs")
                hasPacks = true;
            else if (name != "sqlite_sequence" && name != "key_ids")
                hasOther = true;
        }
    }
    const std::int64_t applicationId = pragmaNumber(db, "PRAGMA application_id");
    if (applicationId == 0 && !hasKeys && !hasVals && !hasOther) return Layout::Empty;
    if (applicationId != kApplicationId) return Layout::Foreign;
    const std::int64_t version = pragmaNumber(db, "PRAGMA user_version");
    if (version > kSchemaVersion) return Layout::Newer;
    if (!hasKeys || !hasVals || version < 1 || (version == kSchemaVersion && !hasPacks)) return Layout::Damaged;
    return version < kSchemaVersion ? Layout::Older : Layout::Ours;
}

void configureConnection(sqlite::Database& db, bool file) {
    db.setBusyTimeout(kBusyTimeoutMs);
    if (file) {
        sqlite::Query mode = db.query("PRAGMA journal_mode = WAL");
        if (!mode.step() || mode.columnBlob(0) != "wal")
            throw OpenFailure(cannotOpen(db.path(), "its folder does not support shared access."));
    }
    db.exec("PRAGMA synchronous = FULL");
    db.exec("PRAGMA foreign_keys = ON");
    // Deleted names and data are still wiped from the pages a change writes anyway, but free
    // pages are not written only to wipe them: deleting a subtree then writes far less.
    db.exec("PRAGMA secure_delete = FAST");
}

// Makes sure the file exists (creating folders and an empty file with mode 0600), and refuses
// files that must not be touched.
void prepareFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) throw OpenFailure(cannotOpen(path, systemReason(errno)));
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        if (!folder.empty() && !createPrivateFolders(folder.string())) {
            throw OpenFailure(say({"Cannot create the folder \"%1\" for the registry store: %2.",
                                   "レジストリのストアのフォルダ「%1」を作成できません: %2。"},
                                  {folder.string(), std::strerror(errno)}));
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            throw OpenFailure(
                say({"Cannot create the registry store \"%1\": %2.", "レジストリのストア「%1」を作成できません: %2。"},
                    {path, std::strerror(errno)}));
        }
        if (fd >= 0) {
            fchmod(fd, 0600);
            ::close(fd);
            return;
        }
        if (stat(path.c_str(), &st) != 0)  // made by another process meanwhile
            throw OpenFailure(cannotOpen(path, systemReason(errno)));
    }
    if (S_ISDIR(st.st_mode))
        throw OpenFailure(cannotOpen(path, Message{"it is a folder, not a file.", "ファイルではなくフォルダです。"}));
    if (!S_ISREG(st.st_mode)) throw OpenFailure(cannotOpen(path, kNotRegularFile));
    if (access(path.c_str(), R_OK) != 0)
        throw OpenFailure(
            cannotOpen(path, Message{"permission to read it was denied.", "読み取りが許可されていません。"}));
    if (access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0)
        throw OpenFailure(cannotOpen(path, Message{"the file is read-only.", "ファイルが読み取り専用です。"}));

    if (st.st_size == 0) return;  // nothing to lose: set up like a new file
    char header[16] = {};
    std::size_t got = 0;
    const files::FileStatus read = files::readHead(path, header, sizeof header, got);
    if (read.problem == files::Problem::notRegularFile) throw OpenFailure(cannotOpen(path, kNotRegularFile));
    if (!read.ok()) throw OpenFailure(cannotOpen(path, systemReason(read.error)));
    if (got != sizeof header || std::memcmp(header, "SQLite format 3", 16) != 0)
        throw OpenFailure(cannotOpen(path, kNotAStore));
}

}  // namespace

StoreOpenResult openSqliteStore(const std::string& path, std::unique_ptr<Backend>& backend) {
    StoreOpenResult result;
    if (path.empty()) {
        result.error = say({"Cannot open the registry store: no file name was given.",
                            "レジストリのストアを開けません: ファイル名がありません。"});
        return result;
    }
    try {
        prepareFile(path);
        std::unique_ptr<sqlite::Database> db =
            sqlite::Database::open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
        db->setBusyTimeout(kBusyTimeoutMs);
        // Until the file is known to be ours, closing must not checkpoint (write) it.
        db->setCheckpointOnClose(false);
        Layout layout = inspectLayout(*db);
        switch (layout) {
        case Layout::Foreign:
            throw OpenFailure(cannotOpen(path, "it is a database of another program; the file was left unchanged."));
        case Layout::Newer:
            throw OpenFailure(
                cannotOpen(path, "it was written by a newer version of Tovik; the file was left unchanged."));
        case Layout::Damaged:
            throw OpenFailure(cannotOpen(path, "the database is damaged; the file was left unchanged."));
        case Layout::Empty:
        case Layout::Older:
        case Layout::Ours: break;
        }
        configureConnection(*db, true);
        if (layout == Layout::Older) {
            // The values' reference must keep naming "keys" through the rename, and dropping the
            // old table must not check references row by row. The pragmas take effect only
            // outside a transaction.
            db->exec("PRAGMA foreign_keys = OFF");
            db->exec("PRAGMA legacy_alter_table = ON");
            sqlite::WriteTransaction tx(*db);
            layout = inspectLayout(*db);  // another process may have upgraded it meanwhile
            if (layout == Layout::Older) {
                upgrade(*db, pragmaNumber(*db, "PRAGMA user_version"));
            } else if (layout != Layout::Ours)
                throw OpenFailure(cannotOpen(path, "it was changed by another program; the file was left unchanged."));
            tx.commit();
            db->exec("PRAGMA legacy_alter_table = OFF");
            db->exec("PRAGMA foreign_keys = ON");
        }
        if (layout == Layout::Empty) {
            sqlite::WriteTransaction tx(*db);
            layout = inspectLayout(*db);  // another process may have set it up meanwhile
            if (layout == Layout::Empty) {
                createSchema(*db);
                result.created = true;
            } else if (layout != Layout::Ours) {
                throw OpenFailure(
                    cannotOpen(path, "it is a database of another program; the file was left unchanged."));
            }
            addMissingRoots(*db);
            tx.commit();
        } else {
            sqlite::Query roots = db->query("SELECT count(*) FROM keys WHERE id IN (1, 2, 3) AND parent = 0");
            const bool complete = roots.step() && roots.columnInt64(0) == 3;
            if (!complete) {
                sqlite::WriteTransaction tx(*db);
                addMissingRoots(*db);
                tx.commit();
            }
        }
        db->setCheckpointOnClose(true);
        backend = std::make_unique<SqliteBackend>(std::move(db));
        result.ok = true;
    } catch (const OpenFailure& e) {
        result.error = e.what();
    } catch (const sqlite::Error& e) {
        result.error = describeSqliteFailure(path, e);
    } catch (const std::exception& e) {
        result.error = cannotOpen(path, e.what());
    }
    if (!result.ok) result.created = false;
    return result;
}

std::unique_ptr<Backend> openSqliteMemoryStore() {
    std::unique_ptr<sqlite::Database> db =
        sqlite::Database::open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    configureConnection(*db, false);
    sqlite::WriteTransaction tx(*db);
    createSchema(*db);
    addMissingRoots(*db);
    tx.commit();
    return std::make_unique<SqliteBackend>(std::move(db));
}

std::int64_t sqliteStoreLayout() {
    return kSchemaVersion;
}

sqlite::Database* currentSqliteDatabase() {
    // The store may sit below layers (the change history's recording layer).
    for (Backend* layer = currentBackend(); layer != nullptr; layer = layer->layeredOver()) {
        if (auto* store = dynamic_cast<SqliteBackend*>(layer)) return &store->database();
    }
    return nullptr;
}

}  // namespace tovik
