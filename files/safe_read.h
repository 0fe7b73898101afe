#pragma once
// Reading files that another program or user may have put there: the file is opened without
// blocking (a FIFO or a device never hangs the reader), checked to be a regular file, and its
// identity is taken from the same open file, so that a caller can later check that the file it
// is about to replace is still the one it read.
#include <cstddef>
#include <string>

#include "files/file_identity.h"
#include "files/file_status.h"

namespace tovik::files {

// A regular file open for reading; closed when this is destroyed.
class ReadableFile {
public:
    ReadableFile() = default;
    ~ReadableFile();
    ReadableFile(ReadableFile&& other) noexcept;
    ReadableFile& operator=(ReadableFile&& other) noexcept;
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    // Opens path (a link is followed); anything but a regular file is refused.
    FileStatus open(const std::string& path);
    void close();

    int fd() const { return fd_; }
    const FileIdentity& identity() const { return identity_; }
    // A name that opens this same file again, for libraries that only take a file name.
    std::string reopenPath() const;

private:
    int fd_ = -1;
    FileIdentity identity_;
};

// The whole file; identity (when given) describes the file the bytes came from.
FileStatus readFile(const std::string& path, std::string& bytes, FileIdentity* identity = nullptr);
// Up to size bytes from the file's start; got says how many there were.
FileStatus readHead(const std::string& path, void* buffer, std::size_t size, std::size_t& got);

}  // namespace tovik::files
