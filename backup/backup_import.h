#pragma once
// Import of a backup file into the current registry store, without any dialog: the checks in
// their order (byte order mark, header, root line), then the key and value lines written under
// the file's root. The GUI shows ReadBackupFileAt's lines for confirmation and then feeds them to
// a BackupLineImporter; tovik-reg does the same without confirmation, the first start through
// ImportBackup.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

enum class ImportOutcome {
    Finished,     // the data ended (empty line or end of file); the view is reset
    NotUnicode,   // the first two bytes are not 0xFF 0xFE; nothing written
    FormatError,  // no header line starting with "Tovik" (also a file under 2 bytes); nothing written
    NoRootKey,    // the second line is not one of the three root lines; nothing written
    BrokenLine,   // a line starting with neither "[" nor a double quote; the lines before it are written
};

// The message for an outcome (kImport...Message above).
std::u16string_view ImportOutcomeMessage(ImportOutcome outcome);

// A file's lines, as the confirmation shows them. notUnicode: the file has two or more bytes and
// does not start with the byte order mark; lines is then empty. A file under 2 bytes has no lines
// and is not examined at all (underTwoBytes).
struct BackupFileLines {
    bool underTwoBytes = false;
    bool notUnicode = false;
    std::vector<std::u16string> lines;
};
BackupFileLines ReadBackupFile(const BYTE* data, std::size_t size);
// The same for a file on disk, read in pieces so that only its lines are held in memory;
// nullopt when it cannot be opened or read (error, when given, receives the errno).
std::optional<BackupFileLines> ReadBackupFileAt(const std::string& path, int* error = nullptr);

struct ImportResult {
    ImportOutcome outcome = ImportOutcome::FormatError;
    HKEY root = 0;                 // the file's root, once the root line was read
    std::size_t brokenLineNumber = 0;  // BrokenLine: 1-based line number in the file (header = 1)
    std::u16string brokenLine;         // BrokenLine: that line's text

    std::size_t keysCreated = 0;    // key lines whose key now exists
    std::size_t valuesWritten = 0;  // values RegSetValueExW accepted
    // Lines that wrote nothing (none of them stops the import):
    std::size_t keyLinesFailed = 0;       // parent path missing, or the key could not be created
    std::size_t valueLinesIgnored = 0;    // no "=", or nothing after the last one
    std::size_t valueLinesUnknownTag = 0; // tag not one of the nine (the writer's "??" included)
    std::size_t valueLinesWithoutKey = 0; // before the first key line, or after a failed one
    std::size_t valueWritesFailed = 0;    // RegSetValueExW refused the value

    std::size_t linesSkipped() const {
        return keyLinesFailed + valueLinesIgnored + valueLinesUnknownTag + valueLinesWithoutKey +
               valueWritesFailed;
    }
};

// A short notice of ours, shown after the import's own message when value lines were skipped
// because their tag is none of the nine (their type is unknown, so their data cannot be written).
std::u16string UnknownTagNotice(std::size_t skippedLines);

// Writes the lines after the root line into the current store, one line at a time, under the
// file's root. Writes go in batches committed every kImportCommitLines lines, so an import that
// stops or is killed keeps what was written before.
inline constexpr std::size_t kImportCommitLines = 10000;
class BackupLineImporter {
public:
    explicit BackupLineImporter(HKEY root);
    ~BackupLineImporter();
    BackupLineImporter(const BackupLineImporter&) = delete;
    BackupLineImporter& operator=(const BackupLineImporter&) = delete;

    // Takes the next line. False when the line ends the data: an empty line (outcome Finished)
    // or a line that starts with neither "[" nor a double quote (BrokenLine).
    bool Take(std::u16string_view line);
    // Closes the current key and commits; later lines are not taken.
    const ImportResult& Finish();
    const ImportResult& result() const { return result_; }

private:
    bool OpenKeyLine(std::u16string_view line);
    void WriteValueLine(std::u16string_view line);
    HKEY OpenedAncestor(const std::u16string& path);
    void CloseOpenKeys();

    // A key that a key line opened, by the path the line gave it.
    struct OpenedKey {
        std::u16string path;
        HKEY handle;
    };

    ImportResult result_;
    std::unique_ptr<RegistryBatch> batch_;
    // The keys of the last key line and of the lines above it that are its ancestors: a file
    // lists a key's subkeys right after it, so the parent of a key line is nearly always one of
    // them and need not be looked up from the root.
    std::vector<OpenedKey> opened_;
    bool currentOpen_ = false;  // value lines go to opened_.back()
    std::size_t linesTaken_ = 0;
    std::size_t linesSinceCommit_ = 0;
    bool ended_ = false;  // an empty or broken line was taken
    bool done_ = false;   // Finish ran
};

// Checks the header and root lines of lines (the whole file's, header first) and writes the key
// and value lines that follow through a BackupLineImporter.
ImportResult ImportBackupLines(const std::vector<std::u16string>& lines);

// ReadBackupFile, then (when the mark is right) ImportBackupLines, without confirmation.
ImportResult ImportBackup(const BYTE* data, std::size_t size);

}  // namespace tovik
