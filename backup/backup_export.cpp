#include "backup/backup_export.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <vector>

#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik {

namespace {

namespace fs = std::filesystem;

// A buffer that keeps coming back too small means the value is being rewritten under us; the
// export gives up rather than chase it.
constexpr int kMaxGrowRetries = 16;

void Grow(std::u16string& buffer, std::size_t needed) { buffer.resize(std::max(needed, buffer.size() * 2)); }
void Grow(Bytes& buffer, std::size_t needed) { buffer.resize(std::max(needed, buffer.size() * 2)); }

// The next subkey's name, with a name buffer that grows as the registry asks.
LONG EnumSubkey(HKEY key, DWORD index, std::u16string& buffer, std::u16string& name) {
    for (int retries = 0;; ++retries) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG rc = RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA && retries < kMaxGrowRetries) {
            Grow(buffer, std::size_t{length} + 1);
            continue;
        }
        if (rc == ERROR_SUCCESS) name.assign(buffer.data(), length);
        return rc;
    }
}

class OwnedKey {
public:
    OwnedKey() = default;
    explicit OwnedKey(HKEY key) : key_(key) {}
    OwnedKey(OwnedKey&& other) noexcept : key_(other.key_) { other.key_ = 0; }
    OwnedKey& operator=(OwnedKey&& other) noexcept {
        std::swap(key_, other.key_);
        return *this;
    }
    ~OwnedKey() {
        if (key_ != 0) RegCloseKey(key_);
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = 0;
};

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

// The depth-first walk: one open handle per level, kept on an explicit stack.
class BackupExport::TreeWalk {
public:
    TreeWalk(BackupWriter& writer, ExportResult& result, const std::function<bool(std::size_t)>& progress)
        : writer_(writer), result_(result), progress_(progress) {}

    // Fills result_ and returns false at the first key or value that cannot be read.
    bool Run(HKEY root, std::u16string_view path) {
        HKEY top = 0;
        if (RegOpenKeyExW(root, std::u16string(path).c_str(), 0, 0, &top) != ERROR_SUCCESS) {
            result_.outcome = ExportOutcome::KeyNotOpened;
            result_.keyPath = path;
            return false;
        }
        struct Frame {
            OwnedKey key;
            std::u16string path;
            DWORD nextSubkey = 0;
        };
        std::vector<Frame> stack;
        stack.push_back({OwnedKey(top), std::u16string(path), 0});
        if (!WriteBlock(stack.back().key.get(), stack.back().path)) return false;

        std::u16string name;
        while (!stack.empty()) {
            if (!writer_.ok()) return false;  // no point reading on once the disk is full
            Frame& frame = stack.back();
            const LONG rc = EnumSubkey(frame.key.get(), frame.nextSubkey, nameBuffer_, name);
            if (rc == ERROR_NO_MORE_ITEMS) {
                stack.pop_back();
                continue;
            }
            if (rc != ERROR_SUCCESS) return ReadFailed(frame.path);
            ++frame.nextSubkey;
            std::u16string childPath = frame.path.empty() ? name : frame.path + u'\\' + name;
            HKEY child = 0;
            if (RegOpenKeyExW(frame.key.get(), name.c_str(), 0, 0, &child) != ERROR_SUCCESS)
                return ReadFailed(childPath);
            stack.push_back({OwnedKey(child), std::move(childPath), 0});
            if (!WriteBlock(stack.back().key.get(), stack.back().path)) return false;
            if (progress_ && !progress_(result_.keys)) {
                result_.outcome = ExportOutcome::Cancelled;
                return false;
            }
        }
        return true;
    }

private:
    // The key line and every value line of one key.
    bool WriteBlock(HKEY key, const std::u16string& path) {
        writer_.WriteKeyLine(path);
        ++result_.keys;
        if (!KeyLineReadsBack(path)) NotRestorable(BackupKeyLine(path));
        int retries = 0;
        for (DWORD index = 0;;) {
            DWORD nameLength = static_cast<DWORD>(nameBuffer_.size());
            DWORD dataSize = static_cast<DWORD>(data_.size());
            DWORD type = 0;
            const LONG rc =
                RegEnumValueW(key, index, nameBuffer_.data(), &nameLength, nullptr, &type, data_.data(), &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS) return true;
            if (rc == ERROR_MORE_DATA && ++retries <= kMaxGrowRetries) {
                const bool nameShort = std::size_t{nameLength} + 1 > nameBuffer_.size();
                const bool dataShort = dataSize > data_.size();
                if (nameShort) Grow(nameBuffer_, std::size_t{nameLength} + 1);
                if (dataShort || !nameShort) Grow(data_, dataSize);
                continue;
            }
            if (rc != ERROR_SUCCESS) return ReadFailed(path);
            const std::u16string_view name(nameBuffer_.data(), nameLength);
            if (!writer_.WriteValueLine(name, type, data_.data(), dataSize))
                NotRestorable(BackupKeyLine(path) + u" \"" + std::u16string(name) + u"\"");
            ++result_.values;
            retries = 0;
            ++index;
        }
    }

    void NotRestorable(std::u16string example) {
        if (result_.notRestorable++ < kNotRestorableExamples) result_.notRestorableExamples.push_back(std::move(example));
    }

    bool ReadFailed(const std::u16string& path) {
        result_.outcome = ExportOutcome::ReadFailed;
        result_.keyPath = path;
        return false;
    }

    BackupWriter& writer_;
    ExportResult& result_;
    const std::function<bool(std::size_t)>& progress_;
    std::u16string nameBuffer_ = std::u16string(256, u'\0');
    Bytes data_ = Bytes(4096);
};

BackupExport::BackupExport(std::string target) : target_(std::move(target)) {}

BackupExport::~BackupExport() {
    if (!finished_) {
        CloseFile();
        RemoveTemporary();
    }
}

bool BackupExport::Fail(ExportOutcome outcome, int error) {
    result_.outcome = outcome;
    result_.error = error;
    return false;
}

bool BackupExport::Begin(HKEY root) {
    if (failed() || file_ != nullptr || finished_) return false;

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
    writer_ = std::make_unique<BackupWriter>(file_);
    writer_->WriteMarkAndHeader();

    if (BackupRootLine(root).empty()) {
        // No key: a new file is left holding the mark and the header; a file that was there
        // already keeps its content rather than lose it for a backup that holds nothing.
        const bool written = writer_->Flush() && ::fsync(::fileno(file_)) == 0;
        if (!written || targetExisted_ || !PlaceWithoutReplacing()) RemoveTemporary();
        CloseFile();
        finished_ = true;
        return Fail(ExportOutcome::NoKeySelected);
    }
    writer_->WriteRootLine(root);
    return CheckWriter();
}

void BackupExport::WriteKeyTree(HKEY root, std::u16string_view path) {
    if (failed() || writer_ == nullptr || finished_) return;
    // One read transaction: the file shows the registry of one moment, and the walk does not
    // pay for a transaction per call.
    const RegistryReadSnapshot snapshot;
    TreeWalk walk(*writer_, result_, progress_);
    if (walk.Run(root, path)) {
        CheckWriter();
    } else if (!failed()) {
        Fail(ExportOutcome::WriteFailed, writer_->error());  // the walk stopped for a full disk
    }
}

bool BackupExport::CheckWriter() {
    if (writer_->ok()) return true;
    return Fail(ExportOutcome::WriteFailed, writer_->error());
}

ExportResult BackupExport::Finish() {
    if (finished_) return result_;
    finished_ = true;
    if (!failed() && file_ == nullptr) Fail(ExportOutcome::FileNotCreated, EBADF);  // Begin was not called
    if (!failed()) {
        if (!writer_->Flush()) {
            Fail(ExportOutcome::WriteFailed, writer_->error());
        } else if (::fsync(::fileno(file_)) != 0) {
            Fail(ExportOutcome::WriteFailed, errno);
        }
    }
    // A file without a name must still be open to be given one.
    if (!failed() && !Place()) Fail(ExportOutcome::WriteFailed, errno);
    if (!CloseFile() && !failed()) Fail(ExportOutcome::WriteFailed, errno);
    RemoveTemporary();
    return result_;
}

// Gives the open file without a name the name given; false (errno set) when it cannot.
bool BackupExport::LinkUnnamedAs(const std::string& name) {
    return ::linkat(AT_FDCWD, FdPath(::fileno(file_)).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// The complete file in the target's place, replacing what was there in one step.
bool BackupExport::Place() {
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

bool BackupExport::PlaceWithoutReplacing() {
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

bool BackupExport::CloseFile() {
    if (file_ == nullptr) return true;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
}

void BackupExport::RemoveTemporary() {
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

std::u16string NotRestorableNotice(const ExportResult& result) {
    if (result.notRestorable == 0) return {};
    const std::string count = std::to_string(result.notRestorable);
    std::u16string notice = FillTemplate(kNotRestorableTemplate, {std::u16string(count.begin(), count.end())});
    for (const std::u16string& example : result.notRestorableExamples) notice += u"\n" + example;
    if (result.notRestorable > result.notRestorableExamples.size()) notice += u"\n…";
    return notice;
}

ExportResult ExportKeyToFile(const std::string& target, HKEY root, std::u16string_view path) {
    BackupExport file(target);
    if (file.Begin(root)) file.WriteKeyTree(root, path);
    return file.Finish();
}

std::u16string StoredKeyPath(HKEY root, std::u16string_view path) {
    std::u16string stored, buffer(256, u'\0'), candidate;
    OwnedKey parent;
    HKEY current = root;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        const std::u16string_view wanted = path.substr(start, end - start);
        std::u16string found(wanted);
        for (DWORD index = 0; EnumSubkey(current, index, buffer, candidate) == ERROR_SUCCESS; ++index) {
            if (CompareNames(candidate, wanted) == 0) {
                found = candidate;
                break;
            }
        }
        if (!stored.empty()) stored += u'\\';
        stored += found;
        HKEY child = 0;
        if (RegOpenKeyExW(current, found.c_str(), 0, 0, &child) != ERROR_SUCCESS) {
            stored += path.substr(end);
            return stored;
        }
        parent = OwnedKey(child);
        current = child;
        start = end + 1;
    }
    return stored;
}

}  // namespace tovik
