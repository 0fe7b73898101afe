#include "backup/default_registry.h"

#include "registry/registry_api.h"
#include "registry/value_types.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "resources/default_registry_data.h"

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
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
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

void RemoveStoreFiles(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(path + suffix, ec);
}

// Moves the finished store into place, unless something else created the target meanwhile.
bool MoveIntoPlace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    // File systems without RENAME_NOREPLACE: a hard link also refuses an existing target.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// Values of types the backup file cannot carry (it writes them with the tag "??", which no reader
// takes back), so that a new registry shows such values too.
void AddValuesOfOtherTypes() {
    struct OtherValue {
        const char16_t* name;
        DWORD type;
        Bytes data;
    };
    const OtherValue values[] = {
        {u"BootConfiguration", 9, {0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}},
        {u"ResourceRequirements", 10, {0x20, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00}},
        {u"UptimeTicks", 11, {0x00, 0x5C, 0x26, 0x05, 0x00, 0x00, 0x00, 0x00}},
        {u"VendorBlob", 0x12345, {0xDE, 0xAD, 0xBE, 0xEF}},
    };
    HKEY key = 0;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"System\\Diagnostics", 0, nullptr, 0, 0, nullptr, &key, &disposition) !=
        ERROR_SUCCESS)
        return;
    for (const OtherValue& value : values)
        RegSetValueExW(key, value.name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    RegCloseKey(key);
}

// Builds the store at a temporary path beside path and renames it into place, so that an
// interrupted first start leaves either no store or a complete one.
StoreOpenResult BuildDefaultStore(const std::string& path, int dirFd) {
    const std::string building = path + ".new";
    RemoveStoreFiles(building);  // left by a first start that was killed

    StoreOpenResult opened = OpenRegistryStore(building);
    if (!opened.ok) return opened;
    // An empty or partial default registry still gives a usable store: the roots and whatever
    // the data holds.
    ImportConcatenatedBackups(kDefaultRegistryData, kDefaultRegistrySize);
    AddValuesOfOtherTypes();
    CloseRegistryStore();

    if (!MoveIntoPlace(building, path)) {
        const int err = errno;
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            StoreOpenResult failed;
            failed.error = "The registry could not be created at " + path + ": " + std::strerror(err) + ".";
            return failed;
        }
        RemoveStoreFiles(building);  // someone else's store is there now; use it
        return OpenRegistryStore(path);
    }
    if (dirFd >= 0) ::fsync(dirFd);  // the rename itself must survive a crash

    StoreOpenResult result = OpenRegistryStore(path);
    if (result.ok) result.created = true;
    return result;
}

}  // namespace

std::vector<ImportResult> ImportConcatenatedBackups(const BYTE* data, std::size_t size) {
    std::vector<ImportResult> results;
    if (data == nullptr) return results;
    const auto unitAt = [data](std::size_t at) { return static_cast<char16_t>(data[at] | (data[at + 1] << 8)); };
    std::size_t begin = 0;
    for (std::size_t at = 2; at + 1 < size; at += 2) {
        const char16_t before = unitAt(at - 2);
        if (unitAt(at) == 0xFEFF && (before == u'\n' || before == u'\r')) {
            results.push_back(ImportBackup(data + begin, at - begin));
            begin = at;
        }
    }
    if (begin < size) results.push_back(ImportBackup(data + begin, size - begin));
    return results;
}

StoreOpenResult OpenUserRegistry(const std::string& path) {
    std::error_code ec;
    if (fs::exists(path, ec)) return OpenRegistryStore(path);

    fs::path dir = fs::path(path).parent_path();
    if (dir.empty()) dir = ".";
    if (!CreatePrivateFolders(dir.string())) {  // the registry is the user's alone
        StoreOpenResult failed;
        failed.error = "The folder " + dir.string() + " could not be created: " + std::strerror(errno) + ".";
        return failed;
    }

    DirectoryLock lock(dir);
    if (fs::exists(path, ec)) return OpenRegistryStore(path);  // another process built it meanwhile
    return BuildDefaultStore(path, lock.fd());
}

}  // namespace tovik
