#pragma once
// How a file operation ended: done, or why not, as errno and as a sentence for the user that
// names the file ("Cannot write /p/user.reg: No space left on device.").
#include <string>

namespace tovik::files {

enum class Problem {
    none,
    system,          // a call failed; error is its errno
    notRegularFile,  // a folder, FIFO, device or socket: never read or replaced
    unsafeLink,      // a link another user placed in a shared sticky folder
};

struct FileStatus {
    Problem problem = Problem::none;
    int error = 0;        // errno; EISDIR for a folder, EINVAL for other special files, EACCES for an unsafe link
    std::string message;  // empty when ok()
    bool placed = false;  // a write whose new content is in place although the call failed after it
    bool ok() const { return problem == Problem::none; }
};

// "<doing> <path>: <strerror(error)>."
FileStatus systemFailure(const std::string& doing, const std::string& path, int error);
FileStatus notRegularFile(const std::string& doing, const std::string& path, bool folder);

}  // namespace tovik::files
