#include "stores/sqlite/private_folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

namespace tovik {

bool createPrivateFolders(const std::string& folder) {
    if (folder.empty()) return true;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        errno = ENOTDIR;
        return false;
    }
    if (errno != ENOENT) return false;
    const std::string parent = std::filesystem::path(folder).parent_path().string();
    if (parent != folder && !createPrivateFolders(parent)) return false;
    // mkdir's mode can only lose bits to the umask, so the folder is never open to others, not
    // even for a moment; the chmod gives the owner back what an odd umask took away.
    if (mkdir(folder.c_str(), 0700) != 0)
        return errno == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    chmod(folder.c_str(), 0700);
    return true;
}

}  // namespace tovik
