#include "backup/backup_import.h"

#include <cstdio>

#include "backup/backup_format.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik {

namespace {

// The key that value lines are written into; at most one is open at a time.
class CurrentKey {
public:
    CurrentKey() = default;
    CurrentKey(const CurrentKey&) = delete;
    CurrentKey& operator=(const CurrentKey&) = delete;
    ~CurrentKey() { Close(); }

    void Close() {
        if (open_) RegCloseKey(key_);
        open_ = false;
    }
    void Set(HKEY key) {
        Close();
        key_ = key;
        open_ = true;
    }
    bool open() const { return open_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = 0;
    bool open_ = false;
};

// A key line: the parent path must name an existing key; the path is created under it.
bool OpenKeyLine(HKEY root, std::u16string_view line, CurrentKey& current) {
    const BackupKeyPaths paths = ParseKeyLine(line);
    HKEY parent = 0;
    if (RegOpenKeyExW(root, paths.parentPath.c_str(), 0, 0, &parent) != ERROR_SUCCESS) {
        current.Close();
        return false;
    }
    current.Close();
    HKEY created = 0;
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExW(parent, paths.createPath.c_str(), 0, nullptr, 0, 0, nullptr, &created,
                                    &disposition);
    RegCloseKey(parent);
    if (rc != ERROR_SUCCESS) return false;
    current.Set(created);
    return true;
}

void WriteValueLine(std::u16string_view line, const CurrentKey& current, ImportResult& result) {
    const BackupValue value = ParseValueLine(line);
    if (value.ignored) {
        ++result.valueLinesIgnored;
    } else if (!value.tagFound) {
        // Without a tag of its own the line has no type; guessing one from an earlier line
        // would store the data under a type it was never written with.
        ++result.valueLinesUnknownTag;
    } else if (!current.open()) {
        ++result.valueLinesWithoutKey;
    } else if (RegSetValueExW(current.get(), value.name.c_str(), 0, value.type, value.data.data(),
                              static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS) {
        ++result.valuesWritten;
    } else {
        ++result.valueWritesFailed;
    }
}

}  // namespace

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
    if (data == nullptr || size < 2) return file;
    if (!HasBackupByteOrderMark(data, size)) {
        file.notUnicode = true;
        return file;
    }
    file.lines = SplitBackupText(data + 2, size - 2);
    return file;
}

std::optional<BackupFileLines> ReadBackupFileAt(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    BackupFileLines result;
    BYTE mark[2] = {0, 0};
    const std::size_t got = std::fread(mark, 1, 2, file);
    bool readError = std::ferror(file) != 0;
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
    std::fclose(file);
    if (readError) return std::nullopt;
    return result;
}

ImportResult ImportBackupLines(const std::vector<std::u16string>& lines) {
    ImportResult result;
    if (lines.empty() || !IsBackupHeaderLine(lines[0])) {
        result.outcome = ImportOutcome::FormatError;
        return result;
    }
    result.root = lines.size() >= 2 ? RootFromBackupRootLine(lines[1]) : 0;
    if (result.root == 0) {
        result.outcome = ImportOutcome::NoRootKey;
        return result;
    }

    RegistryBatch batch;
    CurrentKey current;
    std::size_t linesSinceCommit = 0;
    result.outcome = ImportOutcome::Finished;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::u16string& line = lines[i];
        const BackupLineKind kind = ClassifyBackupLine(line);
        if (kind == BackupLineKind::End) break;
        if (kind == BackupLineKind::Broken) {
            result.outcome = ImportOutcome::BrokenLine;
            result.brokenLineNumber = i + 1;
            result.brokenLine = line;
            break;
        }
        if (kind == BackupLineKind::Key) {
            if (OpenKeyLine(result.root, line, current)) {
                ++result.keysCreated;
            } else {
                ++result.keyLinesFailed;
            }
        } else {
            WriteValueLine(line, current, result);
        }
        if (++linesSinceCommit == kImportCommitLines) {
            batch.Commit();
            linesSinceCommit = 0;
        }
    }
    current.Close();
    batch.Commit();
    return result;
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
