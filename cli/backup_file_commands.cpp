// export and import: the GUI's Export and Import without their dialogs, for backup files and
// .reg files; failures print the GUI's own sentence on stderr, with what the system said about a
// file.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <vector>

#include "backup/backup_export.h"
#include "backup/backup_import.h"
#include "regfile/reg_import.h"
#include "regfile/reg_text.h"
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

// The names that mean this process's own standard output or input rather than a file: "-" as
// every tool takes it, and the system's names for the descriptor, which the safe-file layer
// would refuse as devices.
bool NamesStandardOutput(const std::string& name) {
    return name == "-" || name == "/dev/stdout" || name == "/dev/fd/1" || name == "/proc/self/fd/1";
}
bool NamesStandardInput(const std::string& name) {
    return name == "-" || name == "/dev/stdin" || name == "/dev/fd/0" || name == "/proc/self/fd/0";
}

// The same bound as a file on disk: more than this is refused rather than held in memory.
constexpr std::uint64_t kLargestInput = std::uint64_t{1} << 33;

// All of standard input; the errno of a failed read, or EFBIG past the bound.
std::optional<std::string> ReadStandardInput(int& error) {
    std::string bytes;
    std::vector<char> block(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return std::nullopt;
        }
        if (n == 0) return bytes;
        if (bytes.size() + static_cast<std::size_t>(n) > kLargestInput) {
            error = EFBIG;
            return std::nullopt;
        }
        bytes.append(block.data(), static_cast<std::size_t>(n));
    }
}

// A private folder for an export bound for standard output, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tovik-reg-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder() {
        if (path_.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string FileDetail(const std::string& name, int error) {
    return " (" + PrintableFileName(name) + (error != 0 ? ": " + std::string(std::strerror(error)) : "") + ")";
}

int RunExportToFile(const Command& command, std::ostream& err);

}  // namespace

int RunExport(const Command& command, std::ostream& out, std::ostream& err) {
    if (!NamesStandardOutput(command.fileName)) return RunExportToFile(command, err);
    // The export is made as a file in a private folder, as complete and checked as any other,
    // and then copied out: a reader of the pipe never sees half of a failed export's file.
    ScratchFolder scratch;
    if (scratch.path().empty()) {
        ReportError(err, "cannot make a temporary folder for the export" + FileDetail("$TMPDIR", errno));
        return kExitFailure;
    }
    Command toFile = command;
    toFile.fileName = scratch.path() + "/export";
    const int code = RunExportToFile(toFile, err);
    if (code != kExitSuccess) return code;
    std::ifstream file(toFile.fileName, std::ios::binary);
    out << file.rdbuf();
    if (!file || !out.flush()) {
        ReportError(err, "cannot write the export to standard output.");
        return kExitFailure;
    }
    return kExitSuccess;
}

namespace {

int RunExportToFile(const Command& command, std::ostream& err) {
    // Key lines carry the names as the registry holds them, as an export from the tree would.
    const std::u16string path = StoredKeyPath(command.key.root, command.key.path);
    const ExportFileFormat format = command.format == ExportFormat::Reg    ? ExportFileFormat::Reg
                                    : command.format == ExportFormat::Reg4 ? ExportFileFormat::Reg4
                                                                           : ExportFileFormat::Backup;
    ExportResult result;
    if (format == ExportFileFormat::Backup) {
        ProgressLine progress(err, "export", "keys", ProgressWanted(err));
        BackupExport file(command.fileName);
        file.SetProgress([&progress](std::size_t keys) {
            progress.Update(keys);
            return true;
        });
        if (file.Begin(command.key.root)) file.WriteKeyTree(command.key.root, path);
        result = file.Finish();
    } else {
        result = ExportKeyToFile(command.fileName, command.key.root, path, format);
    }
    if (result.outcome == ExportOutcome::Written) {
        // The file is complete; the user must still learn that it cannot restore everything.
        if (result.notRestorable != 0 && format == ExportFileFormat::Reg4) {
            ReportError(err, std::to_string(result.notRestorable) +
                                 " key paths, value names or data could not be written exactly in REGEDIT4 (text "
                                 "that is not valid UTF-16, or string data of an odd size); --format reg keeps "
                                 "them.");
        } else if (result.notRestorable != 0) {
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
            if (KeyHandle key; OpenKeyHandle(command.key.root, result.keyPath, key) == ERROR_BADDB)
                message += " " + LoopedTreeText({command.key.root, result.keyPath});
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

namespace {

std::string Count(std::size_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

int ImportRegText(const RegFileText& file, std::ostream& out, std::ostream& err) {
    if (const std::u16string refused = RegFileUnknownHeaderMessage(file.text); !refused.empty()) {
        ReportError(err, Utf16ToUtf8(refused));
        return kExitFailure;
    }
    const RegFileImportReport r = ImportRegFileText(file.text);
    out << "Written: " << Count(r.keysWritten, "key", "keys") << ", " << Count(r.valuesWritten, "value", "values")
        << ". Deleted: " << Count(r.keysDeleted, "key", "keys") << ", " << Count(r.valuesDeleted, "value", "values");
    if (r.keysAbsent + r.valuesAbsent != 0)
        out << " (" << Count(r.keysAbsent, "key", "keys") << " and " << Count(r.valuesAbsent, "value", "values")
            << " to delete were not there)";
    out << ". Skipped: " << Count(r.skipped(), "line", "lines");
    if (r.skipped() != 0) {
        out << " (" << r.keysOtherRoot + r.valuesOtherRoot << " under roots Tovik does not hold, "
            << r.valuesWithoutKey << " values without a key, " << r.linesMalformed << " that could not be read)";
    }
    out << ".\n";
    for (const RegFileProblem& problem : r.problems)
        ReportError(err, "line " + std::to_string(problem.line) + ": " + Utf16ToUtf8(RegFileProblemText(problem.kind)));
    const std::size_t listed = r.problems.size();
    const std::size_t problems = r.linesMalformed + r.keyWritesFailed + r.valueWritesFailed + r.keyDeletesFailed +
                                 r.valueDeletesFailed;
    if (problems > listed) ReportError(err, std::to_string(problems - listed) + " more lines were skipped or failed.");
    if (r.failed() == 0) return kExitSuccess;
    std::string message = "the registry did not keep everything: ";
    message += Count(r.keyWritesFailed, "key", "keys") + " and " + Count(r.valueWritesFailed, "value", "values") +
               " not written, " + Count(r.keyDeletesFailed + r.valueDeletesFailed, "deletion", "deletions") +
               " failed";
    if (r.writesLost != 0)
        message += ", " + Count(r.writesLost, "write", "writes") + " lost with a commit that failed (" +
                   WriteErrorText(r.commitError) + ")";
    ReportError(err, message + ".");
    return kExitFailure;
}

}  // namespace

int ImportBackupText(const BackupFileLines& file, std::ostream& err);

int RunImportFromStandardInput(std::ostream& out, std::ostream& err) {
    int error = 0;
    const std::optional<std::string> bytes = ReadStandardInput(error);
    if (!bytes) {
        ReportError(err, Utf16ToUtf8(kFileNotReadMessage) + " (standard input: " + std::strerror(error) + ")");
        return kExitFailure;
    }
    const auto* data = reinterpret_cast<const BYTE*>(bytes->data());
    if (SniffRegFileFormat(data, bytes->size(), true) != RegFileFormat::Unknown)
        return ImportRegText(DecodeRegFileBytes(data, bytes->size()), out, err);
    return ImportBackupText(ReadBackupFile(data, bytes->size()), err);
}

}  // namespace

int RunImport(const Command& command, std::ostream& out, std::ostream& err) {
    if (command.dryRun) return RunImportDryRun(command, out, err);
    if (NamesStandardInput(command.fileName)) return RunImportFromStandardInput(out, err);
    // The first line tells a .reg file from a backup file; one that cannot be read goes to the
    // backup file's import, which says why.
    if (SniffRegFileAt(command.fileName) != RegFileFormat::Unknown) {
        int error = 0;
        const std::optional<RegFileText> file = ReadRegFileAt(command.fileName, &error);
        if (!file) {
            ReportError(err, Utf16ToUtf8(kFileNotReadMessage) + FileDetail(command.fileName, error));
            return kExitFailure;
        }
        return ImportRegText(*file, out, err);
    }
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
    return ImportBackupText(*file, err);
}

namespace {

int ImportBackupText(const BackupFileLines& file, std::ostream& err) {
    if (file.notUnicode) {
        ReportError(err, Utf16ToUtf8(kImportNotUnicodeMessage));
        return kExitFailure;
    }
    ProgressLine progress(err, "import", "lines", ProgressWanted(err));
    const ImportResult result = ImportBackupLines(
        file.lines, [&progress](std::size_t taken, std::size_t lines) { progress.Update(taken, lines); });
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

}  // namespace

}  // namespace tovik::cli
