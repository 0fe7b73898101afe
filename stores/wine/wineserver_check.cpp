#include "stores/wine/wineserver_check.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovik::wine {
namespace {

// The name of Debian's per-prefix temporary folder, from the prefix's file `wineserver`.
std::string debianServerFolderName(const std::string& prefixDir)
{
    const int fd = ::open((prefixDir + "/wineserver").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0) return {};
    std::string name(buffer, static_cast<std::size_t>(n));
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' '))
        name.pop_back();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return {};
    return name;
}

}  // namespace

std::vector<std::string> wineserverLockPaths(const std::string& prefixDir)
{
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

WineserverState checkWineserver(const std::string& prefixDir)
{
    WineserverState state;
    for (const std::string& path : wineserverLockPaths(prefixDir)) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT || errno == ENOTDIR) continue;
            state.mayWrite = false;
            state.reason = "Tovik cannot tell whether Wine is running this prefix (" + path + ": " +
                           std::strerror(errno) + "), so it opens it read-only.";
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
            state.reason = "Tovik cannot tell whether Wine is running this prefix (" + path + ": " +
                           std::strerror(error) + "), so it opens it read-only.";
            return state;
        }
        if (lock.l_type != F_UNLCK) {
            state.mayWrite = false;
            state.reason = "Wine is running this prefix (wineserver, process " +
                           std::to_string(lock.l_pid) +
                           "): it keeps the registry in memory and would overwrite any change, so "
                           "the prefix is open read-only. Stop it with \"wineserver -k\" first.";
            return state;
        }
    }
    return state;
}

}  // namespace tovik::wine
