#include "backup/export_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>

#include "registry/registry_store.h"

namespace tovik {

namespace {

namespace fs = std::filesystem;

std::string ParentDirectory(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

constexpr std::string_view kTemporaryPrefix = ".tovik-export-";
constexpr std::string_view kTemporarySuffix = ".tmp";

// A new file in folder under a short hidden name of this process, created exclusively, so that no
// other file is ever opened by mistake and a target name of any valid length leaves room for it.
int CreateTemporaryIn(const std::string& folder, std::string& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + "/" + std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++) + std::string(kTemporarySuffix);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// The process id in a temporary's name: ".tovik-export-PID-N.tmp", or the earlier
// ".NAME.PID-N-TICK.tmp"; 0 for any other name.
pid_t TemporaryOwnerPid(std::string_view name) {
    auto digits = [](std::string_view text) {
        return !text.empty() && text.size() < 10 &&
               std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (name.size() <= kTemporarySuffix.size() || name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix)
        return 0;
    name.remove_suffix(kTemporarySuffix.size());
    if (name.substr(0, kTemporaryPrefix.size()) == kTemporaryPrefix) {
        name.remove_prefix(kTemporaryPrefix.size());
        const std::size_t dash = name.find('-');
        if (dash == std::string_view::npos || !digits(name.substr(0, dash)) || !digits(name.substr(dash + 1))) return 0;
        return static_cast<pid_t>(std::stol(std::string(name.substr(0, dash))));
    }
    if (name.empty() || name[0] != '.') return 0;
    const std::size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos) return 0;
    const std::string_view parts = name.substr(dot + 1);  // PID-N-TICK
    const std::size_t first = parts.find('-');
    const std::size_t second = first == std::string_view::npos ? first : parts.find('-', first + 1);
    if (second == std::string_view::npos || !digits(parts.substr(0, first)) ||
        !digits(parts.substr(first + 1, second - first - 1)) || !digits(parts.substr(second + 1)))
        return 0;
    return static_cast<pid_t>(std::stol(std::string(parts.substr(0, first))));
}

bool ProcessIsGone(pid_t pid) { return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH; }

// A link that another user planted in a shared folder with the sticky bit (such as /tmp): the
// kernel refuses to open through it for the same reason, but a rename onto the file it names
// would not be stopped.
bool IsUnsafeLink(const std::string& path, const struct stat& link) {
    struct stat folder {};
    if (::stat(ParentDirectory(path).c_str(), &folder) != 0) return false;
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return shared && link.st_uid != ::geteuid() && link.st_uid != folder.st_uid;
}

// A file that holds the open registry (the store, its write-ahead log or its shared-memory file),
// by device and inode.
bool IsStoreFile(const struct stat& target) {
    for (const std::string& path : CurrentRegistryFiles()) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino) return true;
    }
    return false;
}

std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

void SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // not every file system can; the file itself is synced already
    ::close(fd);
}

}  // namespace

std::u16string_view ExportOutcomeMessage(ExportOutcome outcome) {
    switch (outcome) {
        case ExportOutcome::Written: return {};
        case ExportOutcome::NoKeySelected: return kExportNoKeyMessage;
        case ExportOutcome::FileNotCreated: return kExportFileNotCreatedMessage;
        case ExportOutcome::KeyNotOpened: return kExportKeyNotOpenedMessage;
        case ExportOutcome::ReadFailed: return kExportReadFailedMessage;
        case ExportOutcome::WriteFailed: return kExportWriteFailedMessage;
        case ExportOutcome::UnsafeLink: return kExportUnsafeLinkMessage;
        case ExportOutcome::OntoStore: return kExportOntoStoreMessage;
        case ExportOutcome::Cancelled: return kExportCancelledMessage;
    }
    return {};
}

ExportFile::ExportFile(std::string target) : target_(std::move(target)) {}

ExportFile::~ExportFile() { Discard(); }

bool ExportFile::Fail(ExportOutcome outcome, int error) {
    outcome_ = outcome;
    error_ = error;
    return false;
}

bool ExportFile::Open() {
    if (file_ != nullptr || outcome_ != ExportOutcome::Written) return false;
    // A link is followed, so that the file it names is replaced and the link stays; but not a
    // link that another user may have planted in a shared folder.
    struct stat link {};
    if (::lstat(target_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (IsUnsafeLink(target_, link)) return Fail(ExportOutcome::UnsafeLink, EACCES);
        std::error_code ec;
        const fs::path real = fs::canonical(target_, ec);
        if (!ec) target_ = real.string();
    }
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0) {
        // Replacing the store (or its log) with a backup of part of it would destroy it.
        if (IsStoreFile(existing)) return Fail(ExportOutcome::OntoStore, EINVAL);
        // The rename would replace what a plain open for writing would refuse.
        if (S_ISDIR(existing.st_mode)) return Fail(ExportOutcome::FileNotCreated, EISDIR);
        if (!S_ISREG(existing.st_mode)) return Fail(ExportOutcome::FileNotCreated, EINVAL);
        if (::access(target_.c_str(), W_OK) != 0) return Fail(ExportOutcome::FileNotCreated, errno);
        targetExisted_ = true;
    } else if (errno != ENOENT) {
        return Fail(ExportOutcome::FileNotCreated, errno);
    }

    const std::string folder = ParentDirectory(target_);
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    unnamed_ = fd >= 0;
    if (fd < 0) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Fail(ExportOutcome::FileNotCreated, errno);
        RemoveStaleExportTemporaries(folder);
        fd = CreateTemporaryIn(folder, temporary_);
        if (fd < 0) {
            temporary_.clear();
            return Fail(ExportOutcome::FileNotCreated, errno);
        }
    }
    if (targetExisted_) {
        // The replacement keeps the old mode and, where this user may give it, the old owner.
        ::fchmod(fd, existing.st_mode & 07777);
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
        ::fchmod(fd, existing.st_mode & 07777);  // a change of owner may have cleared set-id bits
    } else {
        ::fchmod(fd, 0600);  // private whatever the umask
    }
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        const int error = errno;
        ::close(fd);
        RemoveTemporary();
        return Fail(ExportOutcome::FileNotCreated, error);
    }
    return true;
}

bool ExportFile::Commit() {
    if (file_ == nullptr) return Fail(ExportOutcome::FileNotCreated, EBADF);
    if (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0) {
        Fail(ExportOutcome::WriteFailed, errno);
    } else if (!Place()) {  // a file without a name must still be open to be given one
        Fail(ExportOutcome::WriteFailed, errno);
    }
    if (!CloseFile() && outcome_ == ExportOutcome::Written) Fail(ExportOutcome::WriteFailed, errno);
    RemoveTemporary();
    return outcome_ == ExportOutcome::Written;
}

void ExportFile::CommitIfNew() {
    if (file_ == nullptr) return;
    const bool written = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
    if (!written || targetExisted_ || !PlaceWithoutReplacing()) RemoveTemporary();
    CloseFile();
    RemoveTemporary();
}

void ExportFile::Discard() {
    CloseFile();
    RemoveTemporary();
}

// Gives the open file without a name the name given; false (errno set) when it cannot.
bool ExportFile::LinkUnnamedAs(const std::string& name) {
    return ::linkat(AT_FDCWD, FdPath(::fileno(file_)).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// The complete file in the target's place, replacing what was there in one step.
bool ExportFile::Place() {
    const std::string folder = ParentDirectory(target_);
    if (unnamed_) {
        if (!targetExisted_ && LinkUnnamedAs(target_)) {
            SyncDirectory(folder);
            return true;
        }
        // A link cannot replace a file: it gets a short temporary name first, then the rename.
        for (int attempt = 0;; ++attempt) {
            const int probe = CreateTemporaryIn(folder, temporary_);  // reserves a free name
            if (probe < 0) {
                temporary_.clear();
                return false;
            }
            ::close(probe);
            ::unlink(temporary_.c_str());
            if (LinkUnnamedAs(temporary_)) break;
            const int error = errno;
            temporary_.clear();
            if (error != EEXIST || attempt == 10) {
                errno = error;
                return false;
            }
        }
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
    temporary_.clear();
    SyncDirectory(folder);
    return true;
}

bool ExportFile::PlaceWithoutReplacing() {
    if (unnamed_) {
        if (!LinkUnnamedAs(target_)) return false;   // an existing name is refused
        SyncDirectory(ParentDirectory(target_));
        return true;
    }
    if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0) {
        temporary_.clear();
        SyncDirectory(ParentDirectory(target_));
        return true;
    }
    if (errno == EEXIST) return false;
    // File systems without RENAME_NOREPLACE: a hard link refuses an existing name as well.
    if (::link(temporary_.c_str(), target_.c_str()) == 0) {
        RemoveTemporary();
        SyncDirectory(ParentDirectory(target_));
        return true;
    }
    return false;
}

bool ExportFile::CloseFile() {
    if (file_ == nullptr) return true;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
}

void ExportFile::RemoveTemporary() {
    if (temporary_.empty()) return;
    ::unlink(temporary_.c_str());
    temporary_.clear();
}

std::size_t RemoveStaleExportTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t pid = TemporaryOwnerPid(entry->d_name);
        if (pid == 0 || !ProcessIsGone(pid)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace tovik
