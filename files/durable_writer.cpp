#include "files/durable_writer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/safe_read.h"

namespace tovik::files {

namespace {

constexpr const char* kWriting = "Cannot write";
constexpr std::string_view kTemporaryPrefix = ".tovik-new-";
constexpr std::string_view kOldExportPrefix = ".tovik-export-";  // left by earlier versions
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr int kMaxLinkHops = 40;  // as the kernel's ELOOP limit

std::atomic<testing::StepHook> g_stepHook{nullptr};
std::atomic<bool> g_unnamedAllowed{true};

void step(const char* name) {
    if (const testing::StepHook hook = g_stepHook.load()) hook(name);
}

bool writeAll(int fd, const char* data, std::size_t size) {
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

// A new file in folder under a hidden name of this process, created exclusively, so that no
// other file is ever opened by mistake (a link planted at the name makes the open fail).
int createTemporaryIn(const std::string& folder, std::string& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + "/" + std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++) + std::string(kTemporarySuffix);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) temporary.clear();
            return fd;
        }
    }
    temporary.clear();
    errno = EEXIST;
    return -1;
}

bool allDigits(std::string_view text) {
    return !text.empty() && text.size() < 10 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process id in a temporary's name: ".tovik-new-PID-N.tmp", ".tovik-export-PID-N.tmp" or the
// older ".NAME.PID-N-TICK.tmp"; 0 for any other name.
pid_t temporaryOwnerPid(std::string_view name) {
    if (name.size() <= kTemporarySuffix.size() || !name.ends_with(kTemporarySuffix)) return 0;
    name.remove_suffix(kTemporarySuffix.size());
    for (const std::string_view prefix : {kTemporaryPrefix, kOldExportPrefix}) {
        if (!name.starts_with(prefix)) continue;
        name.remove_prefix(prefix.size());
        const std::size_t dash = name.find('-');
        if (dash == std::string_view::npos || !allDigits(name.substr(0, dash)) || !allDigits(name.substr(dash + 1)))
            return 0;
        return static_cast<pid_t>(std::stol(std::string(name.substr(0, dash))));
    }
    if (name.empty() || name[0] != '.') return 0;
    const std::size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos) return 0;
    const std::string_view parts = name.substr(dot + 1);  // PID-N-TICK
    const std::size_t first = parts.find('-');
    const std::size_t second = first == std::string_view::npos ? first : parts.find('-', first + 1);
    if (second == std::string_view::npos || !allDigits(parts.substr(0, first)) ||
        !allDigits(parts.substr(first + 1, second - first - 1)) || !allDigits(parts.substr(second + 1)))
        return 0;
    return static_cast<pid_t>(std::stol(std::string(parts.substr(0, first))));
}

bool processIsGone(pid_t pid) {
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// A link that another user placed in a shared folder with the sticky bit (such as /tmp): the
// kernel refuses to open through it for the same reason, but a rename onto the file it names
// would not be stopped.
bool isUnsafeLink(const std::string& path, const struct stat& link) {
    struct stat folder {};
    if (::stat(folderOf(path).c_str(), &folder) != 0) return false;
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return shared && link.st_uid != ::geteuid() && link.st_uid != folder.st_uid;
}

}  // namespace

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

DurableWriter::DurableWriter(std::string target, WriteOptions options)
    : requested_(std::move(target)), options_(std::move(options)), target_(requested_) {}

DurableWriter::~DurableWriter() {
    discard();
}

FileStatus DurableWriter::fail(FileStatus status) {
    discard();
    return status;
}

// Follows links at the target (each checked) to the file that is to be replaced; a link to a
// file that does not exist yet leads to where that file is to be made.
FileStatus DurableWriter::resolveTarget() {
    std::string path = requested_;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return systemFailure(kWriting, path, errno);
            target_ = path;
            targetExisted_ = false;
            return {};
        }
        if (!S_ISLNK(st.st_mode)) {
            target_ = path;
            if (!S_ISREG(st.st_mode)) return notRegularFile(kWriting, path, S_ISDIR(st.st_mode));
            if (options_.refuseReadOnlyTarget && ::access(path.c_str(), W_OK) != 0)
                return systemFailure(kWriting, path, errno);
            targetExisted_ = true;
            targetIdentity_ = identityOf(st);
            return {};
        }
        if (isUnsafeLink(path, st)) {
            FileStatus status;
            status.problem = Problem::unsafeLink;
            status.error = EACCES;
            status.message = "Cannot write " + path +
                             ": it is a link that another user placed in a shared folder, so it is not followed.";
            return status;
        }
        if (hops == kMaxLinkHops) return systemFailure(kWriting, requested_, ELOOP);
        char buffer[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
        if (length < 0) return systemFailure(kWriting, path, errno);
        if (static_cast<std::size_t>(length) == sizeof buffer) return systemFailure(kWriting, path, ENAMETOOLONG);
        const std::string next(buffer, static_cast<std::size_t>(length));
        path = next.starts_with('/') ? next : folderOf(path) + "/" + next;
    }
}

FileStatus DurableWriter::createNewFile(const std::string& folder) {
    if (g_unnamedAllowed.load()) {
        fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        unnamed_ = fd_ >= 0;
        if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return systemFailure(kWriting, target_, errno);
    }
    if (fd_ < 0) {
        fd_ = createTemporaryIn(folder, temporary_);
        if (fd_ < 0) return systemFailure(kWriting, target_, errno);
    }
    return {};
}

FileStatus DurableWriter::open() {
    if (fd_ >= 0) return systemFailure(kWriting, target_, EBUSY);
    if (FileStatus resolved = resolveTarget(); !resolved.ok()) return resolved;
    const std::string folder = folderOf(target_);
    removeStaleTemporaries(folder);
    if (FileStatus created = createNewFile(folder); !created.ok()) return fail(created);

    // The new file stays private while it is written; it takes its final mode and owner in
    // commit(), so that a library writing to fdPath() may open it for writing whatever that mode.
    struct stat like {};
    if (targetExisted_) {
        haveLike_ = ::stat(target_.c_str(), &like) == 0;
    } else if (!options_.modeOf.empty()) {
        haveLike_ = ::stat(options_.modeOf.c_str(), &like) == 0;
    }
    if (haveLike_) {
        finalMode_ = like.st_mode & 07777;
        owner_ = like.st_uid;
        group_ = like.st_gid;
    } else {
        finalMode_ = options_.newFileMode;
    }
    step("created");
    return {};
}

FileStatus DurableWriter::write(std::string_view bytes) {
    if (fd_ < 0) return systemFailure(kWriting, target_, EBADF);
    const bool written = stream_ ? std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size()
                                 : writeAll(fd_, bytes.data(), bytes.size());
    if (!written) return systemFailure(kWriting, target_, errno);
    step("wrote");
    return {};
}

std::FILE* DurableWriter::stream() {
    if (stream_ == nullptr && fd_ >= 0) stream_ = ::fdopen(fd_, "wb");
    return stream_;
}

std::string DurableWriter::fdPath() const {
    return "/proc/self/fd/" + std::to_string(fd_);
}

FileStatus DurableWriter::flushAndSync() {
    if (fd_ < 0) return systemFailure(kWriting, target_, EBADF);
    if (stream_ && std::fflush(stream_) != 0) return systemFailure(kWriting, target_, errno);
    // Keep the owner where that is allowed (root editing a user's files); a user's own file keeps
    // it anyway, so a refusal only costs the group where the user is not a member of it.
    if (haveLike_ && ::fchown(fd_, owner_, group_) != 0) (void)::fchown(fd_, static_cast<uid_t>(-1), group_);
    // After the owner: a change of owner clears the set-id bits.
    if (::fchmod(fd_, finalMode_) != 0) return systemFailure(kWriting, target_, errno);
    if (::fsync(fd_) != 0) return systemFailure(kWriting, target_, errno);
    step("synced");
    return {};
}

bool DurableWriter::linkUnnamedAs(const std::string& name) {
    return ::linkat(AT_FDCWD, fdPath().c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// The new file in the target's place, replacing what was there in one step.
bool DurableWriter::placeReplacing() {
    if (unnamed_) {
        if (!targetExisted_ && linkUnnamedAs(target_)) return true;
        // A link cannot replace a file: the file gets a temporary name first, then the rename.
        // linkat never follows a link planted at that name; it fails, and another name is tried.
        for (int attempt = 0;; ++attempt) {
            const int probe = createTemporaryIn(folderOf(target_), temporary_);  // reserves a free name
            if (probe < 0) return false;
            ::close(probe);
            ::unlink(temporary_.c_str());
            if (linkUnnamedAs(temporary_)) break;
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
    return true;
}

bool DurableWriter::placeWithoutReplacing() {
    if (unnamed_) return linkUnnamedAs(target_);  // an existing name is refused
    if (!renameIfAbsent(temporary_, target_)) return false;
    temporary_.clear();
    return true;
}

bool renameIfAbsent(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: a hard link refuses an existing name as well. There is
    // no fallback to a plain rename, which would replace a file that appeared meanwhile.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

FileStatus DurableWriter::syncFolder() {
    step("placed");
    const std::string folder = folderOf(target_);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    // Some file systems cannot sync a folder (EINVAL); the file itself is on disk already.
    if (fd >= 0 && ::fsync(fd) != 0 && errno != EINVAL) error = errno;
    if (fd >= 0) ::close(fd);
    if (error != 0) {
        FileStatus status =
            systemFailure("Wrote " + target_ + ", but could not make the change durable:", folder, error);
        status.placed = true;
        return status;
    }
    step("folder synced");
    return {};
}

FileStatus DurableWriter::commit() {
    if (FileStatus synced = flushAndSync(); !synced.ok()) return fail(synced);
    // A file without a name must still be open to be given one.
    if (!placeReplacing()) return fail(systemFailure(kWriting, target_, errno));
    closeFile();
    return syncFolder();
}

FileStatus DurableWriter::commitIfNew() {
    if (FileStatus synced = flushAndSync(); !synced.ok()) return fail(synced);
    if (targetExisted_) return fail(systemFailure(kWriting, target_, EEXIST));
    if (!placeWithoutReplacing()) return fail(systemFailure(kWriting, target_, errno));
    discard();  // the named temporary, when a hard link placed it
    return syncFolder();
}

void DurableWriter::discard() {
    closeFile();
    removeTemporary();
}

void DurableWriter::closeFile() {
    if (stream_) {
        std::fclose(stream_);
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
    stream_ = nullptr;
    fd_ = -1;
}

void DurableWriter::removeTemporary() {
    if (temporary_.empty()) return;
    ::unlink(temporary_.c_str());
    temporary_.clear();
}

FileStatus replaceFile(const std::string& path, std::string_view bytes, const WriteOptions& options) {
    DurableWriter writer(path, options);
    if (FileStatus opened = writer.open(); !opened.ok()) return opened;
    if (FileStatus written = writer.write(bytes); !written.ok()) return written;
    return writer.commit();
}

FileStatus copyFileOnce(const std::string& source, const std::string& copy, bool keepSourceMode) {
    struct stat st {};
    if (::lstat(copy.c_str(), &st) == 0) return {};
    ReadableFile in;
    if (FileStatus opened = in.open(source); !opened.ok()) return opened;
    WriteOptions options;
    if (keepSourceMode) options.modeOf = source;
    DurableWriter writer(copy, options);
    if (FileStatus opened = writer.open(); !opened.ok()) return opened;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in.fd(), buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return systemFailure("Cannot read", source, errno);
        }
        if (FileStatus written = writer.write({buffer, static_cast<std::size_t>(got)}); !written.ok()) return written;
    }
    FileStatus placed = writer.commitIfNew();
    if (!placed.ok() && placed.error == EEXIST) return {};  // another writer kept the copy meanwhile
    return placed;
}

std::size_t removeStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t pid = temporaryOwnerPid(entry->d_name);
        if (pid == 0 || !processIsGone(pid)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

namespace testing {

void setStepHook(StepHook hook) {
    g_stepHook.store(hook);
}
void setUnnamedFilesAllowed(bool allowed) {
    g_unnamedAllowed.store(allowed);
}

}  // namespace testing

}  // namespace tovik::files
