#include "backup/backup_import.h"

#include <cerrno>
#include <cstdio>

#include "backup/backup_format.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik {

std::u16string_view ImportOutcomeMessage(ImportOutcome outcome) {
    switch (outcome) {
        case ImportOutcome::Finished:
            return kImportFinishedMessage;
        case ImportOutcome::NotUnicode:
            return kImportNotUnicodeMessage;
        case ImportOutcome::FormatError:
            return kImportFormatErrorMessage;
        case ImportOutcome::NoRootKey:
            return kImportNoRootKeyMessage;
        case ImportOutcome::BrokenLine:
            return kImportBrokenFileMessage;
    }
    return {};
}

BackupFileLines ReadBackupFile(const BYTE* data, std::size_t size) {
    BackupFileLines file;
    if (data == nullptr || size < 2) {
        file.underTwoBytes = true;
        return file;
    }
    if (!HasBackupByteOrderMark(data, size)) {
        file.notUnicode = true;
        return file;
    }
    file.lines = SplitBackupText(data + 2, size - 2);
    return file;
}

std::optional<BackupFileLines> ReadBackupFileAt(const std::string& path, int* error) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (error != nullptr) *error = errno;
        return std::nullopt;
    }
    BackupFileLines result;
    BYTE mark[2] = {0, 0};
    const std::size_t got = std::fread(mark, 1, 2, file);
    bool readError = std::ferror(file) != 0;
    result.underTwoBytes = got < 2;
    if (!readError && got == 2) {
        if (!HasBackupByteOrderMark(mark, 2)) {
            result.notUnicode = true;
        } else {
            BackupTextSplitter splitter;
            std::vector<BYTE> block(64 * 1024);
            std::size_t n = 0;
            while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) splitter.Feed(block.data(), n);
            readError = std::ferror(file) != 0;
            result.lines = splitter.TakeLines();
        }
    }
    const int readErrno = errno;
    std::fclose(file);
    if (readError) {
        if (error != nullptr) *error = readErrno != 0 ? readErrno : EIO;
        return std::nullopt;
    }
    return result;
}

BackupLineImporter::BackupLineImporter(HKEY root) : batch_(std::make_unique<RegistryBatch>()) {
    result_.root = root;
    result_.outcome = ImportOutcome::Finished;
    linesTaken_ = 2;  // the header and the root line
}

BackupLineImporter::~BackupLineImporter() { Finish(); }

bool BackupLineImporter::Take(std::u16string_view line) {
    if (done_ || ended_) return false;
    ++linesTaken_;
    switch (ClassifyBackupLine(line)) {
        case BackupLineKind::End:
            ended_ = true;
            return false;
        case BackupLineKind::Broken:
            ended_ = true;
            result_.outcome = ImportOutcome::BrokenLine;
            result_.brokenLineNumber = linesTaken_;
            result_.brokenLine = line;
            return false;
        case BackupLineKind::Key:
            if (OpenKeyLine(line)) {
                ++result_.keysCreated;
            } else {
                ++result_.keyLinesFailed;
            }
            break;
        case BackupLineKind::Value:
            WriteValueLine(line);
            break;
    }
    if (++linesSinceCommit_ == kImportCommitLines) {
        batch_->Commit();
        linesSinceCommit_ = 0;
    }
    return true;
}

const ImportResult& BackupLineImporter::Finish() {
    if (!done_) {
        done_ = true;
        CloseOpenKeys();
        batch_.reset();  // commits and ends the transaction: other processes may write again
    }
    return result_;
}

void BackupLineImporter::CloseOpenKeys() {
    for (const OpenedKey& key : opened_) RegCloseKey(key.handle);
    opened_.clear();
    currentOpen_ = false;
}

// The open key whose path is exactly path, closing the keys below the ones on its way; 0 when
// it is not open (the caller then opens the path from the root).
HKEY BackupLineImporter::OpenedAncestor(const std::u16string& path) {
    while (!opened_.empty() && opened_.back().path != path) {
        RegCloseKey(opened_.back().handle);
        opened_.pop_back();
    }
    return opened_.empty() ? 0 : opened_.back().handle;
}

// A key line: the parent path must name an existing key; the path is created under it.
bool BackupLineImporter::OpenKeyLine(std::u16string_view line) {
    const BackupKeyPaths paths = ParseKeyLine(line);
    currentOpen_ = false;
    HKEY created = 0;
    LONG rc = ERROR_FILE_NOT_FOUND;
    if (paths.parentPath.empty()) {
        CloseOpenKeys();
        rc = RegCreateKeyExW(result_.root, paths.createPath.c_str(), 0, nullptr, 0, 0, nullptr, &created, nullptr);
    } else if (const HKEY parent = OpenedAncestor(paths.parentPath)) {
        rc = RegCreateKeyExW(parent, paths.createPath.c_str(), 0, nullptr, 0, 0, nullptr, &created, nullptr);
        // The parent may have been deleted by another program since it was opened.
        if (rc == ERROR_KEY_DELETED) CloseOpenKeys();
    }
    if (opened_.empty() && !paths.parentPath.empty()) {
        HKEY parent = 0;
        if (RegOpenKeyExW(result_.root, paths.parentPath.c_str(), 0, 0, &parent) != ERROR_SUCCESS) return false;
        rc = RegCreateKeyExW(parent, paths.createPath.c_str(), 0, nullptr, 0, 0, nullptr, &created, nullptr);
        RegCloseKey(parent);
    }
    if (rc != ERROR_SUCCESS) return false;
    std::u16string path = paths.parentPath;
    if (!path.empty() && !paths.createPath.empty()) path += u'\\';
    path += paths.createPath;
    opened_.push_back({std::move(path), created});
    currentOpen_ = true;
    return true;
}

void BackupLineImporter::WriteValueLine(std::u16string_view line) {
    const BackupValue value = ParseValueLine(line);
    if (value.ignored) {
        ++result_.valueLinesIgnored;
    } else if (!value.tagFound) {
        // Without a tag of its own the line has no type; guessing one from an earlier line
        // would store the data under a type it was never written with.
        ++result_.valueLinesUnknownTag;
    } else if (!currentOpen_) {
        ++result_.valueLinesWithoutKey;
    } else if (RegSetValueExW(opened_.back().handle, value.name.c_str(), 0, value.type, value.data.data(),
                              static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS) {
        ++result_.valuesWritten;
    } else {
        ++result_.valueWritesFailed;
    }
}

std::u16string UnknownTagNotice(std::size_t skippedLines) {
    const std::string count = std::to_string(skippedLines);
    return u"型の分からない値の行を" + std::u16string(count.begin(), count.end()) + u"行読み飛ばしました";
}

ImportResult ImportBackupLines(const std::vector<std::u16string>& lines) {
    ImportResult result;
    if (lines.empty() || !IsBackupHeaderLine(lines[0])) {
        result.outcome = ImportOutcome::FormatError;
        return result;
    }
    const HKEY root = lines.size() >= 2 ? RootFromBackupRootLine(lines[1]) : 0;
    if (root == 0) {
        result.outcome = ImportOutcome::NoRootKey;
        return result;
    }
    BackupLineImporter importer(root);
    for (std::size_t i = 2; i < lines.size() && importer.Take(lines[i]); ++i) {
    }
    return importer.Finish();
}

ImportResult ImportBackup(const BYTE* data, std::size_t size) {
    const BackupFileLines file = ReadBackupFile(data, size);
    if (file.notUnicode) {
        ImportResult result;
        result.outcome = ImportOutcome::NotUnicode;
        return result;
    }
    return ImportBackupLines(file.lines);
}

}  // namespace tovik
