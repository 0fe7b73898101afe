#pragma once
// Export of a key with its whole subtree into a file, without any dialog; the GUI's Export
// command and tovik-reg share it. The file is written and placed as export_file.h says: a failed
// or killed export leaves the target as it was.
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_format.h"
#include "backup/export_file.h"
#include "registry/win_types.h"

namespace tovik {

struct ExportResult {
    ExportOutcome outcome = ExportOutcome::Written;
    std::size_t keys = 0;    // key lines written
    std::size_t values = 0;  // value lines written
    int error = 0;           // errno of a failed file operation, else 0
    std::u16string keyPath;  // ReadFailed, KeyNotOpened: the key concerned
    // Values and keys written that an import cannot give back as they are (ValueLineReadsBack),
    // and the first few of them as "[path] \"name\"" or "[path]".
    std::size_t notRestorable = 0;
    std::vector<std::u16string> notRestorableExamples;
};

inline constexpr std::size_t kNotRestorableExamples = 3;
// The notice after a complete export that wrote such values; empty when there were none.
inline constexpr std::u16string_view kNotRestorableTemplate =
    u"インポートで元どおりに戻らない値を%1個書き出しました。このファイルからは復元できません。";
std::u16string notRestorableNotice(const ExportResult& result);

// One export, in the order of the command's steps:
//   BackupExport file(target);
//   if (file.Begin(root)) file.WriteKeyTree(root, path);
//   ExportResult result = file.Finish();
// A step after a failure does nothing. Destroying an unfinished export removes its temporary file.
class BackupExport {
public:
    explicit BackupExport(std::string target);
    ~BackupExport();
    BackupExport(const BackupExport&) = delete;
    BackupExport& operator=(const BackupExport&) = delete;

    // Creates the temporary file and writes the byte order mark and the header line, then the
    // root line of root. For a root that is none of the three the export ends as NoKeySelected:
    // a new target is then created holding the mark and the header only, and an existing target
    // is left as it is. False when the export has ended (failure or no key).
    bool begin(HKEY root);

    // The block of the key at path below root (its key line and value lines), then the blocks of
    // all keys below it, depth first, values before subkeys, in the registry's order. Every value
    // and subkey is written whatever its size; the walk stops at the first one that cannot be read.
    // Iterative: the depth of the tree costs no stack.
    void writeKeyTree(HKEY root, std::u16string_view path);
    // Called after each key written with the number of keys so far; returning false stops the
    // export (Cancelled) and the target keeps what it held.
    void setProgress(std::function<bool(std::size_t keys)> progress) { progress_ = std::move(progress); }

    // Flushes, syncs and renames the file into place; or removes it after a failure.
    ExportResult finish();

    bool failed() const { return result_.outcome != ExportOutcome::Written; }

private:
    bool fail(ExportOutcome outcome, int error = 0);
    bool checkWriter();

    ExportFile file_;
    bool started_ = false;
    std::unique_ptr<BackupWriter> writer_;
    ExportResult result_;
    std::function<bool(std::size_t)> progress_;
    bool finished_ = false;
};

enum class ExportFileFormat {
    Backup,  // Tovik's backup file
    Reg,     // a .reg file, version 5 (UTF-16LE)
    Reg4,    // a .reg file, REGEDIT4 (8-bit text)
};

// The whole export for callers without steps of their own (tovik-reg, and the GUI's .reg
// exports). For the .reg formats, notRestorable counts the names and data REGEDIT4 could not carry
// exactly (version 5 carries everything), without examples. progress as BackupExport::SetProgress.
ExportResult exportKeyToFile(const std::string& target, HKEY root, std::u16string_view path,
                             ExportFileFormat format = ExportFileFormat::Backup,
                             const std::function<bool(std::size_t keys)>& progress = {});

// The path with each name as the registry holds it ("software\tovik" may be "Software\Tovik"),
// so that key lines read as those of an export from the tree; the names as given where no key
// matches.
std::u16string storedKeyPath(HKEY root, std::u16string_view path);

}  // namespace tovik
