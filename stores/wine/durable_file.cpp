#include "stores/wine/durable_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovik::wine {
namespace {

std::string failure(const std::string& what, const std::string& path, int error)
{
    return what + " " + path + ": " + std::strerror(error) + ".";
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

FileIdentity identityOf(const struct stat& st)
{
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return id;
}

}  // namespace

bool pathExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool fileIdentity(const std::string& path, FileIdentity& identity)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    identity = identityOf(st);
    return true;
}

bool readWholeFile(const std::string& path, std::string& bytes, FileIdentity& identity,
                   std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = failure("Cannot read", path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = errno;
        ::close(fd);
        error = S_ISREG(st.st_mode) ? failure("Cannot read", path, e)
                                    : "Cannot read " + path + ": it is not a regular file.";
        return false;
    }
    identity = identityOf(st);
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = failure("Cannot read", path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

bool replaceFileDurably(const std::string& path, const std::string& bytes, const std::string& like,
                        mode_t mode, std::string& error)
{
    std::string target = path;
    struct stat linkStat {};
    if (::lstat(path.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved)) {
            error = failure("Cannot follow the link", path, errno);
            return false;
        }
        target = resolved;
    }
    struct stat likeStat {};
    const bool haveLike = ::stat(like.c_str(), &likeStat) == 0;
    if (haveLike) mode = likeStat.st_mode & 07777;

    const std::string temp = target + ".tovik-new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = failure("Cannot create", temp, errno);
        return false;
    }
    bool ok = true;
    int e = 0;
    // Keep the owner where that is allowed (root editing a user's prefix); a user's own file
    // keeps it anyway, so a refusal is harmless.
    if (haveLike && ::fchown(fd, likeStat.st_uid, likeStat.st_gid) != 0) errno = 0;
    if (ok && ::fchmod(fd, mode) != 0) ok = false, e = errno;
    if (ok && !writeAll(fd, bytes.data(), bytes.size())) ok = false, e = errno;
    if (ok && ::fsync(fd) != 0) ok = false, e = errno;
    if (::close(fd) != 0 && ok) ok = false, e = errno;
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false, e = errno;
    if (!ok) {
        ::unlink(temp.c_str());
        error = failure("Cannot write", target, e);
        return false;
    }
    const std::string folder = target.find('/') == std::string::npos
                                   ? std::string(".")
                                   : target.substr(0, target.rfind('/') == 0 ? 1 : target.rfind('/'));
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 || ::fsync(dirFd) != 0) {
        e = errno;
        if (dirFd >= 0) ::close(dirFd);
        error = failure("Cannot sync the folder of", target, e);
        return false;
    }
    ::close(dirFd);
    return true;
}

}  // namespace tovik::wine
