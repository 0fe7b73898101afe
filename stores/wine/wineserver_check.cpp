#include "stores/wine/wineserver_check.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>

#include "language/messages.h"

namespace tovik::wine {
namespace {

// The name of Debian's per-prefix temporary folder, from the prefix's file `wineserver`.
std::string debianServerFolderName(const std::string& prefixDir) {
    const int fd = ::open((prefixDir + "/wineserver").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0) return {};
    std::string name(buffer, static_cast<std::size_t>(n));
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' ')) name.pop_back();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return {};
    return name;
}

// Makes the folder `dir` as wineserver does when it is missing. False when it is no folder of
// this user: a wineserver refuses such a folder, so none can run there.
bool ownFolder(const std::string& dir, bool make) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT || !make) return false;
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (::lstat(dir.c_str(), &st) != 0) return false;
    }
    if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid()) return true;
    errno = S_ISDIR(st.st_mode) ? EPERM : ENOTDIR;
    return false;
}

std::string cannotTell(const std::string& path, int error) {
    return say({"Tovik cannot tell whether Wine is running this prefix (%1: %2), so it opens it read-only.",
                "Wineがこのプレフィックスを使っているかどうか分からない（%1: %2）ため、読み取り専用で開きました。"},
               {path, std::strerror(error)});
}

std::string cannotLock(const std::string& path, int error) {
    return say({"Tovik cannot take Wine's lock of this prefix (%1: %2), so it opens it read-only.",
                "このプレフィックスのWineのロックを取れない（%1: %2）ため、読み取り専用で開きました。"},
               {path, std::strerror(error)});
}

}  // namespace

std::vector<std::string> wineserverLockPaths(const std::string& prefixDir) {
    std::vector<std::string> paths;
    struct stat st {};
    if (::stat(prefixDir.c_str(), &st) != 0) return paths;
    char server[64];
    std::snprintf(server, sizeof server, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    paths.push_back("/tmp/.wine-" + std::to_string(::getuid()) + "/" + server + "/lock");
    const std::string debian = debianServerFolderName(prefixDir);
    if (!debian.empty()) {
        const char* tmpdir = std::getenv("TMPDIR");
        if (tmpdir && *tmpdir && std::string(tmpdir) != "/tmp")
            paths.push_back(std::string(tmpdir) + "/" + debian + "/" + server + "/lock");
        paths.push_back("/tmp/" + debian + "/" + server + "/lock");
    }
    return paths;
}

WineserverState checkWineserver(const std::string& prefixDir) {
    WineserverState state;
    for (const std::string& path : wineserverLockPaths(prefixDir)) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT || errno == ENOTDIR) continue;
            state.mayWrite = false;
            state.reason = cannotTell(path, errno);
            return state;
        }
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const int rc = ::fcntl(fd, F_GETLK, &lock);
        const int error = errno;
        ::close(fd);
        if (rc != 0) {
            state.mayWrite = false;
            state.reason = cannotTell(path, error);
            return state;
        }
        if (lock.l_type != F_UNLCK) {
            state.mayWrite = false;
            state.reason = say({"Wine is running this prefix (wineserver, process %1): it keeps the registry in "
                                "memory and would overwrite any change, so the prefix is open read-only. Stop it "
                                "with \"wineserver -k\" first.",
                                "Wineがこのプレフィックスを使っています（wineserver、プロセス %1）。Wineはレジストリを"
                                "メモリに持っていて変更を上書きするため、読み取り専用で開きました。先に"
                                "「wineserver -k」で止めてください。"},
                               {std::to_string(lock.l_pid)});
            return state;
        }
    }
    return state;
}

bool WineserverLock::acquire(const std::string& prefixDir, std::string& reason) {
    release();
    const std::vector<std::string> paths = wineserverLockPaths(prefixDir);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        const std::string serverDir = path.substr(0, path.rfind('/'));
        const std::string baseDir = serverDir.substr(0, serverDir.rfind('/'));
        // Only the upstream folder has a fixed name; Debian's is chosen when its Wine starts.
        const bool make = i == 0;
        if (!ownFolder(baseDir, make) || !ownFolder(serverDir, make)) {
            if (make) {
                const int e = errno;
                release();
                reason = cannotLock(serverDir, e);
                return false;
            }
            continue;
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int e = fd < 0 ? errno : EINVAL;
            if (fd >= 0) ::close(fd);
            release();
            reason = cannotLock(path, e);
            return false;
        }
        fds_.push_back(fd);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0;
        lock.l_len = 1;
        if (::fcntl(fd, F_SETLK, &lock) != 0) {
            const int e = errno;
            release();
            if (e == EAGAIN || e == EACCES) {
                const WineserverState state = checkWineserver(prefixDir);
                reason = !state.mayWrite
                             ? state.reason
                             : say({"Wine is running this prefix: it keeps the registry in memory and would "
                                    "overwrite any change, so the prefix is open read-only. Stop it with "
                                    "\"wineserver -k\" first.",
                                    "Wineがこのプレフィックスを使っています。Wineはレジストリをメモリに持っていて"
                                    "変更を上書きするため、読み取り専用で開きました。先に「wineserver -k」で"
                                    "止めてください。"});
            } else {
                reason = cannotLock(path, e);
            }
            return false;
        }
    }
    held_ = true;
    return true;
}

void WineserverLock::release() {
    // Closing the descriptors drops the locks.
    for (const int fd : fds_) ::close(fd);
    fds_.clear();
    held_ = false;
}

}  // namespace tovik::wine
