#include "files/file_status.h"

#include <cerrno>
#include <cstring>

namespace tovik::files {

FileStatus systemFailure(const std::string& doing, const std::string& path, int error) {
    FileStatus status;
    status.problem = Problem::system;
    status.error = error != 0 ? error : EIO;
    status.message = doing + " " + path + ": " + std::strerror(status.error) + ".";
    return status;
}

FileStatus notRegularFile(const std::string& doing, const std::string& path, bool folder) {
    FileStatus status;
    status.problem = Problem::notRegularFile;
    status.error = folder ? EISDIR : EINVAL;
    status.message =
        doing + " " + path + (folder ? ": it is a folder, not a regular file." : ": it is not a regular file.");
    return status;
}

}  // namespace tovik::files
