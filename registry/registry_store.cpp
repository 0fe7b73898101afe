#include "registry/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "registry/sqlite_db.h"
#include "registry/win_types.h"

namespace tovik {
namespace {

// Marks a database as ours (PRAGMA application_id) and its layout (PRAGMA user_version).
constexpr std::int64_t kApplicationId = 0x546F764B;  // "TovK"
constexpr std::int64_t kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

// Names are UTF-16LE blobs; fold is the folded name as big-endian units, so that the blob order
// SQLite uses (memcmp) is the order of CompareNames. Roots have no parent; their ids are fixed.
constexpr const char* kSchema = R"sql(
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
)sql";

struct Root {
    HKEY handle;
    const char* name;
};
constexpr Root kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
};

std::unique_ptr<sqlite::Database> g_db;
std::uint64_t g_serial = 0;
int g_batchDepth = 0;

class OpenFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string cannotOpen(const std::string& path, const std::string& why)
{
    return "Cannot open the registry store \"" + path + "\": " + why;
}

std::string describeSqliteFailure(const std::string& path, const sqlite::Error& e)
{
    switch (e.primaryCode()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return cannotOpen(path, "another program keeps it locked; try again when it is done.");
    case SQLITE_NOTADB:
        return cannotOpen(path, "it is not a Tovik registry database; the file was left unchanged.");
    case SQLITE_CORRUPT:
        return cannotOpen(path, "the database is damaged; the file was left unchanged.");
    case SQLITE_READONLY:
        return cannotOpen(path, "it cannot be written (read-only file or folder).");
    case SQLITE_FULL:
        return cannotOpen(path, "the disk is full.");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return cannotOpen(path, "the file or its folder cannot be accessed.");
    default:
        return cannotOpen(path, std::string(e.what()) + ".");
    }
}

// A root's ASCII name as UTF-16 units, little- or big-endian.
std::string rootNameBytes(std::string_view ascii, bool bigEndian)
{
    std::string bytes;
    for (char c : ascii) {
        bytes.push_back(bigEndian ? '\0' : c);
        bytes.push_back(bigEndian ? c : '\0');
    }
    return bytes;
}

void addMissingRoots(sqlite::Database& db)
{
    for (const Root& root : kRoots) {
        const std::int64_t id = root.handle - HKEY_CLASSES_ROOT + 1;
        if (db.query("SELECT 1 FROM keys WHERE id = ?1").bind(1, id).step()) continue;
        sqlite::Query insert = db.query(
            "INSERT INTO keys(id, parent, name, fold, depth) VALUES(?1, NULL, ?2, ?3, 0)");
        insert.bind(1, id);
        // The bound bytes must live until the insert has run.
        const std::string name = rootNameBytes(root.name, false);
        const std::string fold = rootNameBytes(root.name, true);  // root names are upper-case already
        insert.bindBlob(2, name);
        insert.bindBlob(3, fold);
        insert.step();
    }
}

void createSchema(sqlite::Database& db)
{
    db.exec(kSchema);
    db.exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
    db.exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

std::int64_t pragmaNumber(sqlite::Database& db, const char* pragma)
{
    sqlite::Query q = db.query(pragma);
    return q.step() ? q.columnInt64(0) : 0;
}

enum class Layout { Empty, Ours, Foreign, Newer, Damaged };

// Reads the header and the schema only: constant time whatever the size of the store.
Layout inspectLayout(sqlite::Database& db)
{
    bool hasKeys = false, hasVals = false, hasOther = false;
    {
        sqlite::Query q = db.query("SELECT name FROM sqlite_schema WHERE type = 'table'");
        while (q.step()) {
            const std::string_view name = q.columnBlob(0);
            if (name == "keys") hasKeys = true;
            else if (name == "vals") hasVals = true;
            else if (name != "sqlite_sequence") hasOther = true;
        }
    }
    const std::int64_t applicationId = pragmaNumber(db, "PRAGMA application_id");
    if (applicationId == 0 && !hasKeys && !hasVals && !hasOther) return Layout::Empty;
    if (applicationId != kApplicationId) return Layout::Foreign;
    if (pragmaNumber(db, "PRAGMA user_version") > kSchemaVersion) return Layout::Newer;
    if (!hasKeys || !hasVals) return Layout::Damaged;
    return Layout::Ours;
}

void configureConnection(sqlite::Database& db, bool file)
{
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
void prepareFile(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) throw OpenFailure(cannotOpen(path, std::strerror(errno) + std::string(".")));
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        if (!folder.empty() && !CreatePrivateFolders(folder.string())) {
            throw OpenFailure("Cannot create the folder \"" + folder.string() +
                              "\" for the registry store: " + std::strerror(errno) + ".");
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            throw OpenFailure("Cannot create the registry store \"" + path + "\": " +
                              std::strerror(errno) + ".");
        }
        if (fd >= 0) {
            fchmod(fd, 0600);
            ::close(fd);
            return;
        }
        if (stat(path.c_str(), &st) != 0)  // made by another process meanwhile
            throw OpenFailure(cannotOpen(path, std::strerror(errno) + std::string(".")));
    }
    if (S_ISDIR(st.st_mode)) throw OpenFailure(cannotOpen(path, "it is a folder, not a file."));
    if (!S_ISREG(st.st_mode)) throw OpenFailure(cannotOpen(path, "it is not a regular file."));
    if (access(path.c_str(), R_OK) != 0)
        throw OpenFailure(cannotOpen(path, "permission to read it was denied."));
    if (access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0)
        throw OpenFailure(cannotOpen(path, "the file is read-only."));

    if (st.st_size == 0) return;  // nothing to lose: set up like a new file
    char header[16] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw OpenFailure(cannotOpen(path, std::strerror(errno) + std::string(".")));
    const ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof header) || std::memcmp(header, "SQLite format 3", 16) != 0)
        throw OpenFailure(cannotOpen(path, "it is not a Tovik registry database; the file was left unchanged."));
}

void install(std::unique_ptr<sqlite::Database> db)
{
    CloseRegistryStore();
    g_db = std::move(db);
    ++g_serial;
}

}  // namespace

StoreOpenResult OpenRegistryStore(const std::string& path)
{
    StoreOpenResult result;
    if (path.empty()) {
        result.error = "Cannot open the registry store: no file name was given.";
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
            throw OpenFailure(cannotOpen(path, "it was written by a newer version of Tovik; the file was left unchanged."));
        case Layout::Damaged:
            throw OpenFailure(cannotOpen(path, "the database is damaged; the file was left unchanged."));
        case Layout::Empty:
        case Layout::Ours:
            break;
        }
        configureConnection(*db, true);
        if (layout == Layout::Empty) {
            sqlite::WriteTransaction tx(*db);
            layout = inspectLayout(*db);  // another process may have set it up meanwhile
            if (layout == Layout::Empty) {
                createSchema(*db);
                result.created = true;
            } else if (layout != Layout::Ours) {
                throw OpenFailure(cannotOpen(path, "it is a database of another program; the file was left unchanged."));
            }
            addMissingRoots(*db);
            tx.commit();
        } else {
            sqlite::Query roots = db->query("SELECT count(*) FROM keys WHERE id IN (1, 2, 3) AND parent IS NULL");
            const bool complete = roots.step() && roots.columnInt64(0) == 3;
            if (!complete) {
                sqlite::WriteTransaction tx(*db);
                addMissingRoots(*db);
                tx.commit();
            }
        }
        db->setCheckpointOnClose(true);
        install(std::move(db));
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

void OpenInMemoryRegistryStore()
{
    std::unique_ptr<sqlite::Database> db =
        sqlite::Database::open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    configureConnection(*db, false);
    sqlite::WriteTransaction tx(*db);
    createSchema(*db);
    addMissingRoots(*db);
    tx.commit();
    install(std::move(db));
}

void CloseRegistryStore()
{
    if (!g_db) return;
    // An open batch keeps what it wrote, as its destructor would.
    if (g_db->inTransaction()) g_db->execIgnoringErrors("COMMIT");
    g_db.reset();
    g_batchDepth = 0;
    ++g_serial;
}

bool HasRegistryStore()
{
    return g_db != nullptr;
}

sqlite::Database* CurrentRegistryDatabase()
{
    return g_db.get();
}

std::uint64_t CurrentRegistryStoreSerial()
{
    return g_serial;
}

std::string CurrentRegistryStorePath()
{
    if (!g_db || g_db->path() == ":memory:") return {};
    return g_db->path();
}

LONG RegistryResultOf(const sqlite::Error& e, bool writing)
{
    switch (e.primaryCode()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_BUSY;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_TOOBIG: return ERROR_INVALID_PARAMETER;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return ERROR_BADDB;
    default: return writing ? ERROR_CANTWRITE : ERROR_BADDB;
    }
}

// ---- RegistryBatch ----
// Batches nest: only the outermost begins and ends the transaction. The store serial guards
// against a batch outliving its store.

namespace {
std::uint64_t g_batchSerial = 0;

// Commits the batch's transaction and, when asked, begins the next one. The result is 0 when
// the writes since the last commit are durable, else the reason they were lost; *began tells
// whether a new transaction is open.
LONG commitAndBegin(sqlite::Database& db, bool beginAgain, bool* began)
{
    LONG result = ERROR_SUCCESS;
    try {
        if (db.inTransaction()) db.exec("COMMIT");
        else result = ERROR_CANTWRITE;  // a failed write rolled the batch back earlier
    } catch (const sqlite::Error& e) {
        result = RegistryResultOf(e, true);
        if (db.inTransaction()) db.execIgnoringErrors("ROLLBACK");
        db.noteLocalChange();
    }
    *began = false;
    if (beginAgain) {
        try {
            db.exec("BEGIN IMMEDIATE");
            *began = true;
        } catch (const sqlite::Error&) {
            // Later writes of the batch then commit one by one, each reporting its own result.
        }
    }
    return result;
}
}  // namespace

RegistryBatch::RegistryBatch()
{
    if (!g_db) return;
    if (g_batchDepth == 0) {
        if (g_db->inTransaction()) return;
        try {
            g_db->exec("BEGIN IMMEDIATE");
        } catch (const sqlite::Error& e) {
            error_ = RegistryResultOf(e, true);
            return;
        }
        g_batchSerial = g_serial;
    }
    ++g_batchDepth;
    active_ = true;
}

RegistryBatch::~RegistryBatch()
{
    Finish();
}

bool RegistryBatch::Finish()
{
    if (!active_) return error_ == ERROR_SUCCESS;
    active_ = false;
    if (!g_db || g_batchSerial != g_serial) return false;
    if (--g_batchDepth != 0) return true;  // the outermost batch commits
    bool began = false;
    error_ = commitAndBegin(*g_db, false, &began);
    return error_ == ERROR_SUCCESS;
}

bool RegistryBatch::Commit()
{
    if (!active_ || !g_db || g_batchSerial != g_serial) return false;
    bool began = false;
    const LONG result = commitAndBegin(*g_db, true, &began);
    if (result != ERROR_SUCCESS) error_ = result;
    return result == ERROR_SUCCESS;
}

bool RegistryBatch::Pending() const
{
    return active_ && g_db && g_batchSerial == g_serial && g_db->inTransaction();
}

// ---- RegistryReadSnapshot ----

RegistryReadSnapshot::RegistryReadSnapshot()
{
    // Inside a batch or another snapshot the reads already share one transaction.
    if (!g_db || g_db->inTransaction()) return;
    try {
        g_db->exec("BEGIN");
    } catch (const sqlite::Error&) {
        return;
    }
    active_ = true;
    serial_ = g_serial;
}

RegistryReadSnapshot::~RegistryReadSnapshot()
{
    if (!active_ || !g_db || serial_ != g_serial || !g_db->inTransaction()) return;
    g_db->execIgnoringErrors("COMMIT");
}

bool CreatePrivateFolders(const std::string& folder)
{
    if (folder.empty()) return true;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        errno = ENOTDIR;
        return false;
    }
    if (errno != ENOENT) return false;
    const std::string parent = std::filesystem::path(folder).parent_path().string();
    if (parent != folder && !CreatePrivateFolders(parent)) return false;
    // mkdir's mode can only lose bits to the umask, so the folder is never open to others, not
    // even for a moment; the chmod gives the owner back what an odd umask took away.
    if (mkdir(folder.c_str(), 0700) != 0) return errno == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    chmod(folder.c_str(), 0700);
    return true;
}

std::string DefaultRegistryPath()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (dataHome && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !home[0]) {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.local/share";
    }
    return base + "/tovik/registry.db";
}

}  // namespace tovik
