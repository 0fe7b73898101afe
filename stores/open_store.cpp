#include "stores/open_store.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "backup/default_registry.h"
#include "discover/user_folders.h"
#include "files/durable_writer.h"
#include "history/history_location.h"
#include "language/messages.h"
#include "stores/open_hive_registry.h"
#include "stores/registry_source_args.h"
#include "stores/sqlite/private_folders.h"
#include "stores/sqlite/sqlite_store.h"
#include "stores/wine/wine_backend.h"

namespace tovik {

namespace {

namespace fs = std::filesystem;

// Holds an advisory lock on a directory, so that two first starts (GUI and command line) do not
// build the same store at once. The kernel drops it if the process dies.
class DirectoryLock {
public:
    explicit DirectoryLock(const fs::path& dir) {
        fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
        }
    }
    ~DirectoryLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

void removeStoreFiles(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(path + suffix, ec);
}

// Moves the finished store into place, unless something else created the target meanwhile.
// Builds the store at a temporary path beside path and renames it into place, so that an
// interrupted first start leaves either no store or a complete one.
StoreOpenResult buildDefaultStore(const std::string& path, int dirFd) {
    const std::string building = path + ".new";
    removeStoreFiles(building);  // left by a first start that was killed

    // Filling the new store is no change of the user's: it goes unrecorded.
    std::unique_ptr<Backend> backend;
    StoreOpenResult opened = openSqliteStore(building, backend);
    if (!opened.ok) return opened;
    setCurrentBackend(std::move(backend));
    fillDefaultRegistry();
    closeRegistryStore();

    if (!files::renameIfAbsent(building, path)) {
        const int err = errno;
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            StoreOpenResult failed;
            failed.error =
                say({"The registry could not be created at %1: %2.", "%1 にレジストリを作成できません: %2。"},
                    {path, std::strerror(err)});
            return failed;
        }
        removeStoreFiles(building);  // someone else's store is there now; use it
        return openRegistryStore(path);
    }
    if (dirFd >= 0) ::fsync(dirFd);  // the rename itself must survive a crash

    StoreOpenResult result = openRegistryStore(path);
    if (result.ok) result.created = true;
    return result;
}

}  // namespace

std::string registryIdentity(const std::string& kind, const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    return kind + ":" + (ec ? fs::absolute(path, ec).lexically_normal().string() : canonical.string());
}

namespace {
bool historyWanted = true;
}  // namespace

void setChangeHistoryWanted(bool wanted) {
    historyWanted = wanted;
}

void makeCurrentWithHistory(std::unique_ptr<Backend> backend, const std::string& identity, StoreOpenResult& result) {
    if (!historyWanted) {
        setCurrentBackend(std::move(backend));
        return;
    }
    history::WrapResult wrapped = history::recordChanges(std::move(backend), identity);
    if (!wrapped.notice.empty()) result.notices.push_back(wrapped.notice);
    setCurrentBackend(std::move(wrapped.backend));
}

StoreOpenResult openRegistryStore(const std::string& path) {
    std::unique_ptr<Backend> backend;
    StoreOpenResult result = openSqliteStore(path, backend);
    if (result.ok) makeCurrentWithHistory(std::move(backend), registryIdentity("store", path), result);
    return result;
}

void openInMemoryRegistryStore() {
    StoreOpenResult ignored;
    makeCurrentWithHistory(openSqliteMemoryStore(), {}, ignored);
}

std::string defaultRegistryPath() {
    return discover::UserFolders::fromEnvironment().tovikStorePath();
}

StoreOpenResult openUserRegistry(const std::string& path) {
    std::error_code ec;
    if (fs::exists(path, ec)) return openRegistryStore(path);

    fs::path dir = fs::path(path).parent_path();
    if (dir.empty()) dir = ".";
    if (!createPrivateFolders(dir.string())) {  // the registry is the user's alone
        StoreOpenResult failed;
        failed.error = say({"The folder %1 could not be created: %2.", "フォルダ %1 を作成できません: %2。"},
                           {dir.string(), std::strerror(errno)});
        return failed;
    }

    DirectoryLock lock(dir);
    if (fs::exists(path, ec)) return openRegistryStore(path);  // another process built it meanwhile
    return buildDefaultStore(path, lock.fd());
}

StoreOpenResult openRegistry(const RegistrySource& source) {
    switch (source.kind) {
    case RegistrySource::Kind::UserStore: return openUserRegistry();
    case RegistrySource::Kind::StoreFile: return openUserRegistry(source.path);
    case RegistrySource::Kind::Windows:
    case RegistrySource::Kind::Hive: return openHiveRegistry(source);
    case RegistrySource::Kind::WinePrefix: {
        RegistrySource resolved = source;
        if (std::string error = resolveRegistrySource(resolved); !error.empty()) {
            StoreOpenResult failed;
            failed.error = std::move(error);
            return failed;
        }
        std::unique_ptr<Backend> backend;
        StoreOpenResult result = openWinePrefixStore(resolved.path, backend);
        if (result.ok) makeCurrentWithHistory(std::move(backend), registryIdentity("wine", resolved.path), result);
        return result;
    }
    }
    StoreOpenResult failed;
    failed.error = say({"This kind of registry cannot be opened.", "この種類のレジストリは開けません。"});
    return failed;
}

}  // namespace tovik
