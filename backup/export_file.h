#pragma once
// The file an export writes, of any format: written as a file without a name in the target's
// folder (O_TMPFILE) and given the target's name only once everything is written and on disk, so
// that a failed or killed export never leaves a damaged, partial or stray file: the target keeps
// what it held before. Where the file system has no such files, a short hidden temporary name is
// used instead, and temporaries left by exports that were killed are removed first. New files are
// private (0600); a replaced file keeps its mode and, where allowed, its owner. The registry's
// own files and links planted by other users in shared sticky folders are refused.
#include <cstdio>
#include <string>
#include <string_view>

#include "files/durable_writer.h"

namespace tovik {

inline constexpr std::u16string_view kExportNoKeyMessage = u"キーが選択されていません";
inline constexpr std::u16string_view kExportFileNotCreatedMessage =
    u"ファイルを作成できません。エクスポートしませんでした。";
inline constexpr std::u16string_view kExportKeyNotOpenedMessage = u"キーを開けません。エクスポートしませんでした。";
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
    Cancelled,       // the progress callback asked to stop; nothing was replaced
    OntoStore,       // the target is the open registry store or its -wal or -shm file
};

// The sentence for the user; empty for Written.
std::u16string_view exportOutcomeMessage(ExportOutcome outcome);

// One file: Open, write to stream(), then Commit (or CommitIfNew); destroying it before either
// removes what was written. The file work itself is files::DurableWriter's.
class ExportFile {
public:
    explicit ExportFile(std::string target);
    ~ExportFile();
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    // Checks the target and creates the new file; false (see outcome()) when it cannot.
    bool open();
    std::FILE* stream() const { return file_; }

    // Syncs the file and puts it in the target's place, replacing what was there in one step.
    // False when it could not (outcome() is then WriteFailed); the target is then unchanged.
    bool commit();
    // The same, but only where there was no target: an existing file is left as it was.
    void commitIfNew();
    // Closes and removes the new file.
    void discard();

    ExportOutcome outcome() const { return outcome_; }
    int error() const { return error_; }  // errno of the failed operation

private:
    bool fail(ExportOutcome outcome, int error);

    files::DurableWriter writer_;
    std::FILE* file_ = nullptr;
    ExportOutcome outcome_ = ExportOutcome::Written;
    int error_ = 0;
};

}  // namespace tovik
