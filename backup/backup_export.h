#pragma once
// Export of a key with its whole subtree into a backup file, without any dialog; the GUI's
// Export command and tovik-reg share it.
//
// The file is written as a file without a name in the target's folder (O_TMPFILE) and given the
// target's name only once everything is written and on disk, so that a failed or killed export
// never leaves a damaged, partial or stray file: the target keeps what it held before. Where the
// file system has no such files, a short hidden temporary name is used instead, and temporaries
// left by exports that were killed are removed first. New files are private (0600); a replaced
// file keeps its mode and, where allowed, its owner.
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_format.h"
#include "registry/win_types.h"

namespace tovik {

inline constexpr std::u16string_view kExportNoKeyMessage = u"キーが選択されていません";
inline constexpr std::u16string_view kExportFileNotCreatedMessage =
    u"ファイルを作成できません。エクスポートしませんでした。";
inline constexpr std::u16string_view kExportKeyNotOpenedMessage =
    u"キーを開けません。エクスポートしませんでした。";
inline constexpr std::u16string_view kExportReadFailedMessage =
    u"レジストリを読み出せません。エクスポートを中止しました。選んだファイルは変更していません。";
inline constexpr std::u16string_view kExportWriteFailedMessage =
    u"ファイルに書き込めません。エクスポートを中止しました。選んだファイルは変更していません。";
inline constexpr std::u16string_view kExportUnsafeLinkMessage =
    u"他のユーザーが置いたリンクです。エクスポートしませんでした。";
inline constexpr std::u16string_view kExportOntoStoreMessage =
    u"レジストリのファイルそのものには書き出せません。エクスポートしませんでした。";

inline constexpr std::u16string_view kExportCancelledMessage =
    u"エクスポートを中止しました。選んだファイルは変更していません。";

enum class ExportOutcome {
    Written,         // the file holds the key and its whole subtree
    NoKeySelected,   // the root is none of the three; see BackupExport::Begin
    FileNotCreated,  // the target cannot be written (folder missing or read-only, a folder, ...)
    KeyNotOpened,    // the key to export cannot be opened (it does not exist)
    ReadFailed,      // a key or value below it could not be read; nothing was replaced
    WriteFailed,     // writing, flushing or renaming failed (disk full); nothing was replaced
    UnsafeLink,      // a link in a shared sticky folder owned by neither the user nor the folder's owner
    OntoStore,       // the target is the open registry store or its -wal or -shm file
    Cancelled,       // the progress callback asked to stop; nothing was replaced
};

// The sentence for the user; empty for Written.
std::u16string_view ExportOutcomeMessage(ExportOutcome outcome);

struct ExportResult {
    ExportOutcome outcome = ExportOutcome::Written;
    std::size_t keys = 0;     // key lines written
    std::size_t values = 0;   // value lines written
    int error = 0;            // errno of a failed file operation, else 0
    std::u16string keyPath;   // ReadFailed, KeyNotOpened: the key concerned
    // Values and keys written that an import cannot give back as they are (ValueLineReadsBack),
    // and the first few of them as "[path] \"name\"" or "[path]".
    std::size_t notRestorable = 0;
    std::vector<std::u16string> notRestorableExamples;
};

inline constexpr std::size_t kNotRestorableExamples = 3;
// The notice after a complete export that wrote such values; empty when there were none.
inline constexpr std::u16string_view kNotRestorableTemplate =
    u"インポートで元どおりに戻らない値を%1個書き出しました。このファイルからは復元できません。";
std::u16string NotRestorableNotice(const ExportResult& result);

// Removes the export temporaries in folder that belong to this user and to a process that is
// gone (left by a killed export). Returns how many were removed.
std::size_t RemoveStaleExportTemporaries(const std::string& folder);

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
    bool Begin(HKEY root);

    // The block of the key at path below root (its key line and value lines), then the blocks of
    // all keys below it, depth first, values before subkeys, in the registry's order. Every value
    // and subkey is written whatever its size; the walk stops at the first one that cannot be read.
    // Iterative: the depth of the tree costs no stack.
    void WriteKeyTree(HKEY root, std::u16string_view path);
    // Called after each key written with the number of keys so far; returning false stops the
    // export (Cancelled) and the target keeps what it held.
    void SetProgress(std::function<bool(std::size_t keys)> progress) { progress_ = std::move(progress); }

    // Flushes, syncs and renames the file into place; or removes it after a failure.
    ExportResult Finish();

    bool failed() const { return result_.outcome != ExportOutcome::Written; }

private:
    class TreeWalk;
    bool Fail(ExportOutcome outcome, int error = 0);
    bool CheckWriter();
    bool PlaceWithoutReplacing();
    bool Place();
    bool LinkUnnamedAs(const std::string& name);
    bool CloseFile();
    void RemoveTemporary();

    std::string target_;
    std::string temporary_;   // the temporary's name; empty for a file without a name
    bool unnamed_ = false;    // O_TMPFILE: linked into place at the end
    bool targetExisted_ = false;
    std::FILE* file_ = nullptr;
    std::unique_ptr<BackupWriter> writer_;
    ExportResult result_;
    std::function<bool(std::size_t)> progress_;
    bool finished_ = false;
};

// The whole export for callers without steps of their own (tovik-reg).
ExportResult ExportKeyToFile(const std::string& target, HKEY root, std::u16string_view path);

// The path with each name as the registry holds it ("software\tovik" may be "Software\Tovik"),
// so that key lines read as those of an export from the tree; the names as given where no key
// matches.
std::u16string StoredKeyPath(HKEY root, std::u16string_view path);

}  // namespace tovik
