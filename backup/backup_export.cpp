#include "backup/backup_export.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A new file beside target, created exclusively, so that no other file is ever opened by
// mistake. Its mode is what a plain create would give (0666 less the umask).
int CreateTemporaryBeside(const std::string& target, std::string& temporary) {
    static std::atomic<unsigned> counter{0};
    const fs::path path(target);
    const std::string base = (path.parent_path().empty() ? fs::path(".") : path.parent_path()) /
                             ("." + path.filename().string());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
        temporary = base + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                    std::to_string(static_cast<unsigned long long>(tick) % 1000000) + ".tmp";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

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
    }
    return {};
}

// The depth-first walk: one open handle per level, kept on an explicit stack.
class BackupExport::TreeWalk {
public:
    TreeWalk(BackupWriter& writer, ExportResult& result) : writer_(writer), result_(result) {}

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
        }
        return true;
    }

private:
    // The key line and every value line of one key.
    bool WriteBlock(HKEY key, const std::u16string& path) {
        writer_.WriteKeyLine(path);
        ++result_.keys;
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
            writer_.WriteValueLine(std::u16string_view(nameBuffer_.data(), nameLength), type, data_.data(), dataSize);
            ++result_.values;
            retries = 0;
            ++index;
        }
    }

    bool ReadFailed(const std::u16string& path) {
        result_.outcome = ExportOutcome::ReadFailed;
        result_.keyPath = path;
        return false;
    }

    BackupWriter& writer_;
    ExportResult& result_;
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

    // A link is followed, so that the file it names is replaced and the link stays.
    std::error_code ec;
    if (fs::is_symlink(target_, ec)) {
        const fs::path real = fs::canonical(target_, ec);
        if (!ec) target_ = real.string();
    }
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0) {
        // The rename would replace what a plain open for writing would refuse.
        if (S_ISDIR(existing.st_mode)) return Fail(ExportOutcome::FileNotCreated, EISDIR);
        if (!S_ISREG(existing.st_mode)) return Fail(ExportOutcome::FileNotCreated, EINVAL);
        if (::access(target_.c_str(), W_OK) != 0) return Fail(ExportOutcome::FileNotCreated, errno);
        targetExisted_ = true;
    } else if (errno != ENOENT) {
        return Fail(ExportOutcome::FileNotCreated, errno);
    }

    const int fd = CreateTemporaryBeside(target_, temporary_);
    if (fd < 0) {
        temporary_.clear();
        return Fail(ExportOutcome::FileNotCreated, errno);
    }
    if (targetExisted_) ::fchmod(fd, existing.st_mode & 07777);  // the replacement keeps the old mode
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
        const bool closed = CloseFile();
        if (!written || !closed || targetExisted_ || !PlaceWithoutReplacing()) RemoveTemporary();
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
    TreeWalk walk(*writer_, result_);
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
    if (!CloseFile() && !failed()) Fail(ExportOutcome::WriteFailed, errno);
    if (!failed()) {
        if (::rename(temporary_.c_str(), target_.c_str()) == 0) {
            temporary_.clear();
            SyncDirectory(ParentDirectory(target_));
        } else {
            Fail(ExportOutcome::WriteFailed, errno);
        }
    }
    RemoveTemporary();
    return result_;
}

bool BackupExport::PlaceWithoutReplacing() {
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
