#include "files/safe_read.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace tovik::files {

namespace {

constexpr const char* kReading = "Cannot read";

// Reads until size bytes or the end; false with errno set on an error.
bool readFully(int fd, char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ReadableFile::~ReadableFile() {
    close();
}

ReadableFile::ReadableFile(ReadableFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), identity_(other.identity_) {}

ReadableFile& ReadableFile::operator=(ReadableFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        identity_ = other.identity_;
    }
    return *this;
}

FileStatus ReadableFile::open(const std::string& path) {
    close();
    // O_NONBLOCK: opening a FIFO without a writer, or a device, must return at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return systemFailure(kReading, path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return systemFailure(kReading, path, error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return notRegularFile(kReading, path, S_ISDIR(st.st_mode));
    }
    // Regular files ignore O_NONBLOCK, but a library reading through reopenPath() gets plain
    // blocking reads either way.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    identity_ = identityOf(st);
    return {};
}

void ReadableFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string ReadableFile::reopenPath() const {
    return "/proc/self/fd/" + std::to_string(fd_);
}

FileStatus readFile(const std::string& path, std::string& bytes, FileIdentity* identity) {
    ReadableFile file;
    if (FileStatus opened = file.open(path); !opened.ok()) return opened;
    bytes.clear();
    // The size is only a hint: the file may grow or shrink while it is read.
    bytes.resize(static_cast<std::size_t>(file.identity().size));
    std::size_t got = 0;
    if (!readFully(file.fd(), bytes.data(), bytes.size(), got)) return systemFailure(kReading, path, errno);
    bytes.resize(got);
    char buffer[1 << 16];
    for (;;) {
        std::size_t more = 0;
        if (!readFully(file.fd(), buffer, sizeof buffer, more)) return systemFailure(kReading, path, errno);
        if (more == 0) break;
        bytes.append(buffer, more);
    }
    if (identity) *identity = file.identity();
    return {};
}

FileStatus readHead(const std::string& path, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    ReadableFile file;
    if (FileStatus opened = file.open(path); !opened.ok()) return opened;
    if (!readFully(file.fd(), static_cast<char*>(buffer), size, got)) return systemFailure(kReading, path, errno);
    return {};
}

}  // namespace tovik::files
