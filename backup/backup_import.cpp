#include "backup/backup_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>

#include "backup/backup_format.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik {

std::u16string_view importOutcomeMessage(ImportOutcome outcome) {
    switch (outcome) {
    case ImportOutcome::Finished: return kImportFinishedMessage;
    case ImportOutcome::NotUnicode: return kImportNotUnicodeMessage;
    case ImportOutcome::FormatError: return kImportFormatErrorMessage;
    case ImportOutcome::NoRootKey: return kImportNoRootKeyMessage;
    case ImportOutcome::BrokenLine: return kImportBrokenFileMessage;
    case ImportOutcome::WriteFailed: return {};  // ImportNotWrittenMessage tells how much and why
    }
    return {};
}

BackupFileLines readBackupFile(const BYTE* data, std::size_t size) {
    BackupFileLines file;
    if (data == nullptr || size < 2) {
        file.underTwoBytes = true;
        return file;
    }
    if (!hasBackupByteOrderMark(data, size)) {
        file.notUnicode = true;
        return file;
    }
    BackupTextSplitter splitter;
    splitter.feed(data + 2, size - 2);
    file.lines = splitter.takeText();
    return file;
}

std::optional<BackupFileLines> readBackupFileAt(const std::string& path, int* error) {
    auto failed = [error](int code) -> std::optional<BackupFileLines> {
        if (error != nullptr) *error = code;
        return std::nullopt;
    };
    // Without O_NONBLOCK, opening a FIFO waits for a writer; it is refused below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    struct FileCloser {
        int fd;
        ~FileCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return failed(errno);
    if (!S_ISREG(st.st_mode)) return failed(kNotRegularFile);
    if (static_cast<std::uint64_t>(st.st_size) > (std::uint64_t{1} << 33)) return failed(EFBIG);

    try {
        BackupFileLines result;
        BYTE mark[2] = {0, 0};
        std::size_t got = 0;
        BackupTextSplitter splitter;
        std::vector<BYTE> block(64 * 1024);
        bool first = true;
        for (;;) {
            const ssize_t n = ::read(fd, block.data(), block.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                return failed(errno);
            }
            if (n == 0) break;
            std::size_t at = 0;
            while (got < 2 && at < static_cast<std::size_t>(n)) mark[got++] = block[at++];
            if (got < 2) continue;
            if (first) {
                first = false;
                if (!hasBackupByteOrderMark(mark, 2)) {
                    result.notUnicode = true;
                    return result;
                }
                splitter.reserve(static_cast<std::size_t>(st.st_size));
            }
            splitter.feed(block.data() + at, static_cast<std::size_t>(n) - at);
        }
        result.underTwoBytes = got < 2;
        result.lines = splitter.takeText();
        return result;
    } catch (const std::bad_alloc&) {
        return failed(ENOMEM);
    }
}

std::u16string_view writeErrorReason(LONG error) {
    switch (error) {
    case ERROR_BUSY: return u"他のプログラムがレジストリを使用中です";
    case ERROR_INVALID_PARAMETER: return u"値が大きすぎるか、名前が長すぎるか、キーが深すぎます";
    case ERROR_NOT_ENOUGH_MEMORY: return u"メモリが足りません";
    case ERROR_FILE_NOT_FOUND: return u"親のキーがありません";
    case ERROR_KEY_DELETED: return u"キーが他のプログラムに削除されました";
    case ERROR_WRITE_FAULT:
    case ERROR_CANTWRITE: return u"ディスクがいっぱいか、レジストリのファイルを大きくできません";
    default: return u"レジストリに書き込めません";
    }
}

namespace {
std::u16string number(std::size_t n) {
    const std::string text = std::to_string(n);
    return std::u16string(text.begin(), text.end());
}
}  // namespace

std::u16string importNotWrittenMessage(const ImportResult& result) {
    std::u16string message =
        fillTemplate(kImportNotWrittenTemplate, {number(result.valuesNotWritten()), number(result.keysNotWritten()),
                                                 std::u16string(writeErrorReason(result.writeError))});
    if (result.outcome == ImportOutcome::WriteFailed)
        message += fillTemplate(kImportStoppedAtTemplate, {number(result.stoppedAtLine)});
    return message;
}

BackupLineImporter::BackupLineImporter(HKEY root) : batch_(std::make_unique<RegistryBatch>()) {
    result_.root = root;
    result_.outcome = ImportOutcome::Finished;
    linesTaken_ = 2;  // the header and the root line
    // The store is busy (or cannot be written) before anything is written: nothing will be.
    if (batch_->error() != ERROR_SUCCESS) {
        stopped_ = true;
        result_.outcome = ImportOutcome::WriteFailed;
        result_.writeError = batch_->error();
        result_.writeErrorLine = result_.stoppedAtLine = linesTaken_ + 1;
    }
}

BackupLineImporter::~BackupLineImporter() {
    finish();
}

bool BackupLineImporter::take(std::u16string_view line) {
    if (done_ || ended_) return false;
    ++linesTaken_;
    switch (classifyBackupLine(line)) {
    case BackupLineKind::End: ended_ = true; return false;
    case BackupLineKind::Broken:
        ended_ = true;
        if (stopped_) return false;  // the write failure is what the user must hear of
        result_.outcome = ImportOutcome::BrokenLine;
        result_.brokenLineNumber = linesTaken_;
        result_.brokenLine = line;
        return false;
    case BackupLineKind::Key:
        if (stopped_) {
            ++result_.keyLinesNotTaken;
            return true;
        } else {
            const bool pendingBefore = batch_->pending();
            const LONG rc = openKeyLine(line);
            keyLineFailed_ = rc != ERROR_SUCCESS && rc != ERROR_INVALID_PARAMETER && rc != ERROR_FILE_NOT_FOUND;
            if (rc == ERROR_SUCCESS) {
                ++result_.keysCreated;
                if (batch_->pending()) ++pendingKeys_;
            } else {
                ++result_.keyLinesFailed;
                if (keyLineFailed_) {
                    ++result_.keyLinesNotKept;
                    writeFailed(rc, pendingBefore);
                }
            }
        }
        break;
    case BackupLineKind::Value:
        if (stopped_) {
            countNotTaken(line);
            return true;
        }
        writeValueLine(line);
        break;
    }
    // A store that saves whole files saves the import once, at its end.
    if (!stopped_ && ++linesSinceCommit_ == kImportCommitLines && RegistryBatch::commitsAlongTheWay()) {
        linesSinceCommit_ = 0;
        if (batch_->commit()) {
            pendingKeys_ = pendingValues_ = 0;
        } else {
            losePending(batch_->error());
            stop(batch_->error());
        }
    }
    return true;
}

void BackupLineImporter::countNotTaken(std::u16string_view line) {
    const BackupValue value = ParseValueLine(line);
    if (!value.ignored && value.tagFound) ++result_.valueLinesNotTaken;
}

void BackupLineImporter::losePending(LONG rc) {
    if (pendingKeys_ + pendingValues_ == 0) return;
    result_.keysLost += pendingKeys_;
    result_.valuesLost += pendingValues_;
    result_.keysCreated -= pendingKeys_;
    result_.valuesWritten -= pendingValues_;
    pendingKeys_ = pendingValues_ = 0;
    if (result_.writeError == ERROR_SUCCESS) {
        result_.writeError = rc;
        result_.writeErrorLine = linesTaken_;
    }
}

void BackupLineImporter::stop(LONG rc) {
    if (stopped_) return;
    stopped_ = true;
    result_.outcome = ImportOutcome::WriteFailed;
    result_.stoppedAtLine = linesTaken_ + 1;
    if (result_.writeError == ERROR_SUCCESS) {
        result_.writeError = rc;
        result_.writeErrorLine = linesTaken_;
    }
    closeOpenKeys();
}

void BackupLineImporter::writeFailed(LONG rc, bool pendingBefore) {
    if (result_.writeError == ERROR_SUCCESS) {
        result_.writeError = rc;
        result_.writeErrorLine = linesTaken_;
    }
    // A full disk can make SQLite roll back the whole transaction: what it held is gone.
    if (pendingBefore && !batch_->pending()) {
        losePending(rc);
        stop(rc);
        return;
    }
    // A value too large, a name too long, a path too deep or a parent missing refuses that line
    // alone; a busy or unwritable store would refuse every line after it as well.
    switch (rc) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED: return;
    default: stop(rc);
    }
}

const ImportResult& BackupLineImporter::finish() {
    if (!done_) {
        done_ = true;
        closeOpenKeys();
        // Commits and ends the transaction: other processes may write again.
        if (!batch_->finish()) {
            losePending(batch_->error());
            if (result_.valuesLost + result_.keysLost != 0 && result_.outcome != ImportOutcome::WriteFailed) {
                result_.outcome = ImportOutcome::WriteFailed;
                result_.stoppedAtLine = linesTaken_ + 1;
            }
        }
        batch_.reset();
    }
    return result_;
}

// Whether an open key's path is path's beginning up to a backslash; the deepest such key is left
// last in opened_ (the keys below it closed), and below receives where the rest of path starts.
// Closes every open key when none is.
bool BackupLineImporter::openedAbove(std::u16string_view path, std::size_t& below) {
    while (!opened_.empty()) {
        const std::u16string& open = opened_.back().path;
        if (!open.empty() && open.size() + 1 < path.size() && path[open.size()] == u'\\' &&
            path[open.size() + 1] != u'\\' && compareNames(path.substr(0, open.size()), open) == 0) {
            below = open.size() + 1;
            return true;
        }
        opened_.pop_back();
    }
    return false;
}

void BackupLineImporter::closeOpenKeys() {
    opened_.clear();
    currentOpen_ = false;
}

// The open key whose path is exactly path, closing the keys below the ones on its way; 0 when
// it is not open (the caller then opens the path from the root).
HKEY BackupLineImporter::openedAncestor(const std::u16string& path) {
    while (!opened_.empty() && opened_.back().path != path) opened_.pop_back();
    return opened_.empty() ? 0 : opened_.back().handle.get();
}

// A key line: the parent path must name an existing key; the path is created under it.
LONG BackupLineImporter::openKeyLine(std::u16string_view line) {
    const BackupKeyPaths paths = ParseKeyLine(line);
    currentOpen_ = false;
    HKEY created = 0;
    LONG rc = ERROR_FILE_NOT_FOUND;
    if (paths.parentPath.empty()) {
        // A whole path from the root. When an open key (the key line before, or one of its
        // ancestors) is its beginning, the rest is made under that key, with no walk from the
        // root: the same keys result. When that key was deleted meanwhile, the path is made from
        // the root.
        std::size_t below = 0;
        if (!paths.createPath.empty() && openedAbove(paths.createPath, below)) {
            rc = RegCreateKeyExW(opened_.back().handle.get(), paths.createPath.c_str() + below, 0, nullptr, 0, 0,
                                 nullptr, &created, nullptr);
            if (rc == ERROR_KEY_DELETED) closeOpenKeys();
        } else {
            closeOpenKeys();
        }
        if (opened_.empty())
            rc = RegCreateKeyExW(result_.root, paths.createPath.c_str(), 0, nullptr, 0, 0, nullptr, &created, nullptr);
    } else if (const HKEY parent = openedAncestor(paths.parentPath)) {
        rc = RegCreateKeyExW(parent, paths.createPath.c_str(), 0, nullptr, 0, 0, nullptr, &created, nullptr);
        // The parent may have been deleted by another program since it was opened.
        if (rc == ERROR_KEY_DELETED) closeOpenKeys();
    }
    if (opened_.empty() && !paths.parentPath.empty()) {
        KeyHandle parent;
        rc = RegOpenKeyExW(result_.root, paths.parentPath.c_str(), 0, 0, parent.receive());
        if (rc != ERROR_SUCCESS) return rc;
        rc = RegCreateKeyExW(parent.get(), paths.createPath.c_str(), 0, nullptr, 0, 0, nullptr, &created, nullptr);
    }
    if (rc != ERROR_SUCCESS) return rc;
    std::u16string path = paths.parentPath;
    if (!path.empty() && !paths.createPath.empty()) path += u'\\';
    path += paths.createPath;
    opened_.push_back({std::move(path), KeyHandle(created)});
    currentOpen_ = true;
    return ERROR_SUCCESS;
}

void BackupLineImporter::writeValueLine(std::u16string_view line) {
    const BackupValue value = ParseValueLine(line);
    if (value.ignored) {
        ++result_.valueLinesIgnored;
    } else if (!value.tagFound) {
        // Without a tag of its own the line has no type; guessing one from an earlier line
        // would store the data under a type it was never written with.
        ++result_.valueLinesUnknownTag;
    } else if (!currentOpen_) {
        ++result_.valueLinesWithoutKey;
        if (keyLineFailed_) ++result_.valueLinesAfterFailedKey;
    } else {
        const bool pendingBefore = batch_->pending();
        const LONG rc = RegSetValueExW(opened_.back().handle.get(), value.name.c_str(), 0, value.type,
                                       value.data.data(), static_cast<DWORD>(value.data.size()));
        if (rc == ERROR_SUCCESS) {
            ++result_.valuesWritten;
            if (batch_->pending()) ++pendingValues_;
        } else {
            ++result_.valueWritesFailed;
            if (rc == ERROR_INVALID_PARAMETER && value.name.size() > static_cast<std::size_t>(kMaxValueNameLength))
                ++result_.valueNamesTooLong;
            writeFailed(rc, pendingBefore);
        }
    }
}

std::u16string unknownTagNotice(std::size_t skippedLines) {
    const std::string count = std::to_string(skippedLines);
    return fillTemplate(kUnknownTagNoticeTemplate, {std::u16string(count.begin(), count.end())});
}

namespace {
template <class Lines>
ImportResult importLines(const Lines& lines, const ImportProgress& progress = {}) {
    ImportResult result;
    if (lines.empty() || !isBackupHeaderLine(lines[0])) {
        result.outcome = ImportOutcome::FormatError;
        return result;
    }
    const HKEY root = lines.size() >= 2 ? rootFromBackupRootLine(lines[1]) : 0;
    if (root == 0) {
        result.outcome = ImportOutcome::NoRootKey;
        return result;
    }
    BackupLineImporter importer(root);
    for (std::size_t i = 2; i < lines.size() && importer.take(lines[i]); ++i) {
        if (progress && i % kImportProgressLines == 0) progress(i + 1, lines.size());
    }
    return importer.finish();
}
}  // namespace

ImportResult importBackupLines(const std::vector<std::u16string>& lines) {
    return importLines(lines);
}
ImportResult importBackupLines(const BackupText& lines, const ImportProgress& progress) {
    return importLines(lines, progress);
}

ImportResult importBackup(const BYTE* data, std::size_t size) {
    const BackupFileLines file = readBackupFile(data, size);
    if (file.notUnicode) {
        ImportResult result;
        result.outcome = ImportOutcome::NotUnicode;
        return result;
    }
    return importBackupLines(file.lines);
}

}  // namespace tovik
