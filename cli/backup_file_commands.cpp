// export and import: the GUI's Export and Import without their dialogs; failures print the
// GUI's own sentence on stderr, with what the system said about a file.
#include <cstring>
#include <ostream>

#include "backup/backup_export.h"
#include "backup/backup_import.h"
#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/utf8.h"

namespace tovik::cli {

namespace {

constexpr std::u16string_view kFileNotReadMessage = u"ファイルを読み込めません。インポートしませんでした。";

// A file name quoted in a message, which must stay valid UTF-8 whatever the name's bytes are.
std::string PrintableFileName(const std::string& name) {
    return Utf8ToUtf16(name) ? name : std::string("(a file name that is not UTF-8)");
}

std::string FileDetail(const std::string& name, int error) {
    return " (" + PrintableFileName(name) + (error != 0 ? ": " + std::string(std::strerror(error)) : "") + ")";
}

}  // namespace

int RunExport(const Command& command, std::ostream&, std::ostream& err) {
    // Key lines carry the names as the registry holds them, as an export from the tree would.
    const std::u16string path = StoredKeyPath(command.key.root, command.key.path);
    ExportResult result;
    {
        ProgressLine progress(err, "export", "keys", ProgressWanted(err));
        BackupExport file(command.fileName);
        file.SetProgress([&progress](std::size_t keys) {
            progress.Update(keys);
            return true;
        });
        if (file.Begin(command.key.root)) file.WriteKeyTree(command.key.root, path);
        result = file.Finish();
    }
    if (result.outcome == ExportOutcome::Written) {
        // The file is complete; the user must still learn that it cannot restore everything.
        if (result.notRestorable != 0) {
            std::string message = std::to_string(result.notRestorable) +
                                  " of the values and keys written cannot come back as they are from an import "
                                  "(a value named \"@\", data with \"=\", CR or LF, multi-string parts with \"|\", "
                                  "a key name with a double quote); the first:";
            for (const std::u16string& example : result.notRestorableExamples) message += " " + Utf16ToUtf8(example) + ";";
            message.back() = '.';
            ReportError(err, message);
        }
        return kExitSuccess;
    }

    std::string message = Utf16ToUtf8(ExportOutcomeMessage(result.outcome));
    switch (result.outcome) {
        case ExportOutcome::FileNotCreated:
        case ExportOutcome::WriteFailed:
            message += FileDetail(command.fileName, result.error);
            break;
        case ExportOutcome::UnsafeLink:
            message += " (" + PrintableFileName(command.fileName) +
                       ": a link in a shared folder owned by neither you nor the folder's owner)";
            break;
        case ExportOutcome::OntoStore:
            message += " (" + PrintableFileName(command.fileName) + ": it is the registry store in use)";
            break;
        case ExportOutcome::KeyNotOpened:
        case ExportOutcome::ReadFailed:
            message += " (" + KeyDisplayName({command.key.root, result.keyPath}) + ")";
            break;
        case ExportOutcome::Written:
        case ExportOutcome::NoKeySelected:
        case ExportOutcome::Cancelled:
            break;
    }
    ReportError(err, message);
    return kExitFailure;
}

namespace {

// Why a write was not kept, for the command line's message.
std::string WriteErrorText(LONG error) {
    switch (error) {
        case ERROR_BUSY: return "the registry store is busy: another program held its lock for longer than the wait";
        case ERROR_INVALID_PARAMETER: return "too large: a value, a name or the depth of a key is over the store's limit";
        case ERROR_CANTWRITE:
        case ERROR_WRITE_FAULT: return "the registry store could not be written: the disk is full or the file may not grow";
        case ERROR_FILE_NOT_FOUND: return "the parent key named by a key line does not exist";
        default: return RegistryErrorText(error);
    }
}

std::string NotWrittenText(const ImportResult& result) {
    std::string message = std::to_string(result.valuesNotWritten()) + " values and " +
                          std::to_string(result.keysNotWritten()) + " keys were not written (" +
                          WriteErrorText(result.writeError) + ", first at line " +
                          std::to_string(result.writeErrorLine) + ")";
    if (result.outcome == ImportOutcome::WriteFailed)
        message += "; the import stopped at line " + std::to_string(result.stoppedAtLine);
    return message + ".";
}

}  // namespace

int RunImport(const Command& command, std::ostream&, std::ostream& err) {
    int error = 0;
    const std::optional<BackupFileLines> file = ReadBackupFileAt(command.fileName, &error);
    if (!file) {
        if (error == kNotRegularFile) {
            ReportError(err, Utf16ToUtf8(kFileNotReadMessage) + " (" + PrintableFileName(command.fileName) +
                                 ": not a regular file; a folder, FIFO or device is never read)");
        } else {
            ReportError(err, Utf16ToUtf8(kFileNotReadMessage) + FileDetail(command.fileName, error));
        }
        return kExitFailure;
    }
    if (file->notUnicode) {
        ReportError(err, Utf16ToUtf8(kImportNotUnicodeMessage));
        return kExitFailure;
    }
    ProgressLine progress(err, "import", "lines", ProgressWanted(err));
    const ImportResult result = ImportBackupLines(
        file->lines, [&progress](std::size_t taken, std::size_t lines) { progress.Update(taken, lines); });
    progress.Clear();
    int code = kExitSuccess;
    if (result.outcome != ImportOutcome::Finished && result.outcome != ImportOutcome::WriteFailed) {
        std::string message = Utf16ToUtf8(ImportOutcomeMessage(result.outcome));
        if (result.outcome == ImportOutcome::BrokenLine)
            message += " (line " + std::to_string(result.brokenLineNumber) + ")";
        ReportError(err, message);
        code = kExitFailure;
    }
    if (!result.AllWritten()) {
        ReportError(err, NotWrittenText(result));
        code = kExitFailure;
    }
    if (result.valueLinesUnknownTag != 0) ReportError(err, Utf16ToUtf8(UnknownTagNotice(result.valueLinesUnknownTag)));
    return code;
}

}  // namespace tovik::cli
