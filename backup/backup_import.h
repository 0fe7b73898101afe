#pragma once
// Import of a backup file into the current registry store, without any dialog: the checks in
// their order (byte order mark, header, root line), then the key and value lines written under
// the file's root. The GUI shows ReadBackupFileAt's lines for confirmation and then feeds them to
// a BackupLineImporter; tovik-reg does the same without confirmation, the first start through
// ImportBackup.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_format.h"
#include "registry/key_handle.h"
#include "registry/registry_store.h"
#include "registry/win_types.h"

namespace tovik {

// The texts shown to the user for each outcome, exactly as the GUI and the command line show them.
inline constexpr std::u16string_view kImportNotUnicodeMessage = u"Unicodeではありません";
inline constexpr std::u16string_view kImportFormatErrorMessage = u"ファイル形式エラー インポート失敗";
inline constexpr std::u16string_view kImportNoRootKeyMessage = u"ルートキーなし インポート失敗";
inline constexpr std::u16string_view kImportBrokenFileMessage =
    u"インポートファイルが壊れています。ロード途中で終了しました。表示も不正になります。";
inline constexpr std::u16string_view kImportFinishedMessage = u"インポート終了、表示を初期化します";
inline constexpr std::u16string_view kImportNotRegularFileMessage =
    u"通常のファイルではありません。インポートしませんでした。";
inline constexpr std::u16string_view kImportOutOfMemoryMessage = u"メモリが足りません。インポートしませんでした。";

enum class ImportOutcome {
    Finished,     // the data ended (empty line or end of file); the view is reset
    NotUnicode,   // the first two bytes are not 0xFF 0xFE; nothing written
    FormatError,  // no header line starting with "Tovik" (also a file under 2 bytes); nothing written
    NoRootKey,    // the second line is not one of the three root lines; nothing written
    BrokenLine,   // a line starting with neither "[" nor a double quote; the lines before it are written
    WriteFailed,  // the store did not keep some of what was written (full, busy); see stoppedAtLine
};

// The message for an outcome (kImport...Message above).
std::u16string_view importOutcomeMessage(ImportOutcome outcome);

// A file's lines, as the confirmation shows them. notUnicode: the file has two or more bytes and
// does not start with the byte order mark; lines is then empty. A file under 2 bytes has no lines
// and is not examined at all (underTwoBytes).
struct BackupFileLines {
    bool underTwoBytes = false;
    bool notUnicode = false;
    BackupText lines;
};
BackupFileLines readBackupFile(const BYTE* data, std::size_t size);
// The same for a file on disk, read in pieces into one buffer of its text (about the file's size
// in memory, whatever its lines); nullopt when it cannot be opened or read: error, when given,
// receives the errno, or kNotRegularFile for a folder, FIFO, device or socket, which is never
// read (a FIFO without a writer would block for ever). Links are followed.
inline constexpr int kNotRegularFile = -1;
std::optional<BackupFileLines> readBackupFileAt(const std::string& path, int* error = nullptr);

struct ImportResult {
    ImportOutcome outcome = ImportOutcome::FormatError;
    HKEY root = 0;                     // the file's root, once the root line was read
    std::size_t brokenLineNumber = 0;  // BrokenLine: 1-based line number in the file (header = 1)
    std::u16string brokenLine;         // BrokenLine: that line's text

    std::size_t keysCreated = 0;    // key lines whose key now exists
    std::size_t valuesWritten = 0;  // values RegSetValueExW accepted
    // Lines that wrote nothing (none of them stops the import):
    std::size_t keyLinesFailed = 0;            // parent path missing, or the key could not be created
    std::size_t valueLinesIgnored = 0;         // no "=", or nothing after the last one
    std::size_t valueLinesUnknownTag = 0;      // tag not one of the nine (the writer's "??" included)
    std::size_t valueLinesWithoutKey = 0;      // before the first key line, or after a failed one
    std::size_t valueLinesAfterFailedKey = 0;  // of those, the ones after a key line the store refused
    // Key lines the store refused (busy, full, damaged); lines refused for what the file says
    // (a missing parent, a name too long, a path too deep) are only counted in keyLinesFailed.
    std::size_t keyLinesNotKept = 0;
    std::size_t valueWritesFailed = 0;  // RegSetValueExW refused the value
    std::size_t valueNamesTooLong = 0;  // of those, refused for the name the file gives

    // What the store did not keep although the file asked for it.
    LONG writeError = 0;               // the first failed write's or commit's result code
    std::size_t writeErrorLine = 0;    // its line number (1-based, header = 1)
    std::size_t stoppedAtLine = 0;     // WriteFailed: the first line not taken
    std::size_t keysLost = 0;          // key lines written, then lost with a failed commit
    std::size_t valuesLost = 0;        // values written, then lost with a failed commit
    std::size_t keyLinesNotTaken = 0;  // WriteFailed: key lines after the stop
    std::size_t valueLinesNotTaken = 0;

    std::size_t linesSkipped() const {
        return keyLinesFailed + valueLinesIgnored + valueLinesUnknownTag + valueLinesWithoutKey + valueWritesFailed;
    }
    std::size_t keysNotWritten() const { return keyLinesNotKept + keysLost + keyLinesNotTaken; }
    std::size_t valuesNotWritten() const {
        return valueWritesFailed - valueNamesTooLong + valuesLost + valueLinesNotTaken + valueLinesAfterFailedKey;
    }
    // True when every key and value line that had a key to go to is in the store.
    bool allWritten() const { return keysNotWritten() == 0 && valuesNotWritten() == 0; }
};

// Why a write was not kept, for the user: "ディスクがいっぱいか…" and the like.
std::u16string_view writeErrorReason(LONG error);
// The message shown instead of the end message when something was not written: how many values
// and keys, why, and where the import stopped.
// The templates it is made of, for a caller that translates them (%1, %2, %3 as QString::arg).
inline constexpr std::u16string_view kImportNotWrittenTemplate =
    u"書き込めなかった値が%1個、キーが%2個あります（%3）。";
inline constexpr std::u16string_view kImportStoppedAtTemplate = u"%1行目でインポートを中止しました。";
std::u16string importNotWrittenMessage(const ImportResult& result);
// The end message of an import the user stopped: the lines before %1 are written and stay.
inline constexpr std::u16string_view kImportCancelledTemplate =
    u"インポートを中止しました。%1行目までを書き込みました。表示を初期化します";

// A short notice of ours, shown after the import's own message when value lines were skipped
// because their tag is none of the nine (their type is unknown, so their data cannot be written).
inline constexpr std::u16string_view kUnknownTagNoticeTemplate = u"型の分からない値の行を%1行読み飛ばしました";
std::u16string unknownTagNotice(std::size_t skippedLines);

// Writes the lines after the root line into the current store, one line at a time, under the
// file's root. Writes go in batches committed every kImportCommitLines lines, so an import that
// stops or is killed keeps what was written before; a store that saves whole files commits once,
// at the end.
inline constexpr std::size_t kImportCommitLines = 10000;
class BackupLineImporter {
public:
    explicit BackupLineImporter(HKEY root);
    ~BackupLineImporter();
    BackupLineImporter(const BackupLineImporter&) = delete;
    BackupLineImporter& operator=(const BackupLineImporter&) = delete;

    // Takes the next line. False when the line ends the data: an empty line (outcome Finished)
    // or a line that starts with neither "[" nor a double quote (BrokenLine). After a write that
    // the store could not keep (full, busy) the import stops (WriteFailed): later lines are only
    // counted as not written.
    bool take(std::u16string_view line);
    // Closes the current key and commits; later lines are not taken.
    const ImportResult& finish();
    const ImportResult& result() const { return result_; }

private:
    LONG openKeyLine(std::u16string_view line);
    void writeValueLine(std::u16string_view line);
    // After a failed write: stops the import unless only that line was refused.
    void writeFailed(LONG rc, bool pendingBefore);
    void stop(LONG rc);
    void losePending(LONG rc);
    void countNotTaken(std::u16string_view line);
    HKEY openedAncestor(const std::u16string& path);
    bool openedAbove(std::u16string_view path, std::size_t& below);
    void closeOpenKeys();

    // A key that a key line opened, by the path the line gave it.
    struct OpenedKey {
        std::u16string path;
        KeyHandle handle;
    };

    ImportResult result_;
    std::unique_ptr<RegistryBatch> batch_;
    // The keys of the last key line and of the lines above it that are its ancestors: a file
    // lists a key's subkeys right after it, so the parent of a key line is nearly always one of
    // them and need not be looked up from the root.
    std::vector<OpenedKey> opened_;
    bool currentOpen_ = false;     // value lines go to opened_.back()
    bool keyLineFailed_ = false;   // the last key line failed
    bool stopped_ = false;         // a write was not kept: nothing more is written
    std::size_t pendingKeys_ = 0;  // written since the last commit, not yet durable
    std::size_t pendingValues_ = 0;
    std::size_t linesTaken_ = 0;
    std::size_t linesSinceCommit_ = 0;
    bool ended_ = false;  // an empty or broken line was taken
    bool done_ = false;   // Finish ran
};

// Checks the header and root lines of lines (the whole file's, header first) and writes the key
// and value lines that follow through a BackupLineImporter.
ImportResult importBackupLines(const std::vector<std::u16string>& lines);
// progress, when given, is told every kImportProgressLines lines how many of the lines are taken.
using ImportProgress = std::function<void(std::size_t linesTaken, std::size_t lines)>;
inline constexpr std::size_t kImportProgressLines = 256;
ImportResult importBackupLines(const BackupText& lines, const ImportProgress& progress = {});

// ReadBackupFile, then (when the mark is right) ImportBackupLines, without confirmation.
ImportResult importBackup(const BYTE* data, std::size_t size);

}  // namespace tovik
