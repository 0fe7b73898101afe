#pragma once
// What the tests of files/ share: a fresh folder, whole-file helpers, and running a piece of
// code in a child process that is killed if it blocks.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "support/file_size_limit.h"

namespace files_test {

namespace fs = std::filesystem;

struct Folder {
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "tovik-files-test-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

inline std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void putFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Runs body in a child that is killed after seconds; the child's exit code, or -1 when it was
// killed (it blocked) or crashed.
inline int inChild(const std::function<int()>& body, unsigned seconds = 10) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(seconds);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using test_support::FileSizeLimit;

}  // namespace files_test
