// export and import: the GUI's Export and Import without their dialogs; failures print the
// GUI's own sentence on stderr, with what the system said about a file.
#include <cstring>
#include <ostream>

#include "backup/backup_export.h"
#include "backup/backup_import.h"
#include "cli/command_handlers.h"
#include "cli/commands.h"
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
    const ExportResult result = ExportKeyToFile(command.fileName, command.key.root, path);
    if (result.outcome == ExportOutcome::Written) return kExitSuccess;

    std::string message = Utf16ToUtf8(ExportOutcomeMessage(result.outcome));
    switch (result.outcome) {
        case ExportOutcome::FileNotCreated:
        case ExportOutcome::WriteFailed:
            message += FileDetail(command.fileName, result.error);
            break;
        case ExportOutcome::KeyNotOpened:
        case ExportOutcome::ReadFailed:
            message += " (" + KeyDisplayName({command.key.root, result.keyPath}) + ")";
            break;
        case ExportOutcome::Written:
        case ExportOutcome::NoKeySelected:
            break;
    }
    ReportError(err, message);
    return kExitFailure;
}

int RunImport(const Command& command, std::ostream&, std::ostream& err) {
    int error = 0;
    const std::optional<BackupFileLines> file = ReadBackupFileAt(command.fileName, &error);
    if (!file) {
        ReportError(err, Utf16ToUtf8(kFileNotReadMessage) + FileDetail(command.fileName, error));
        return kExitFailure;
    }
    if (file->notUnicode) {
        ReportError(err, Utf16ToUtf8(kImportNotUnicodeMessage));
        return kExitFailure;
    }
    const ImportResult result = ImportBackupLines(file->lines);
    int code = kExitSuccess;
    if (result.outcome != ImportOutcome::Finished) {
        std::string message = Utf16ToUtf8(ImportOutcomeMessage(result.outcome));
        if (result.outcome == ImportOutcome::BrokenLine)
            message += " (line " + std::to_string(result.brokenLineNumber) + ")";
        ReportError(err, message);
        code = kExitFailure;
    }
    if (result.valueLinesUnknownTag != 0) ReportError(err, Utf16ToUtf8(UnknownTagNotice(result.valueLinesUnknownTag)));
    return code;
}

}  // namespace tovik::cli
