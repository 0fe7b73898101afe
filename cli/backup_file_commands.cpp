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
#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/progress_line.h"
#include "cli/utf8.h"
#include "regfile/reg_import.h"
#include "regfile/reg_text.h"
#include "registry/registry_store.h"

namespace tovik::cli {

namespace {

constexpr Message kFileNotRead{"The file cannot be read. Nothing was imported.",
                               "ファイルを読み込めません。インポートしませんでした。"};

// A file name quoted in a message, which must stay valid UTF-8 whatever the name's bytes are.
std::string printableFileName(const std::string& name) {
    return utf8ToUtf16(name) ? name : say({"(a file name that is not UTF-8)", "（UTF-8ではないファイル名）"});
}

// The names that mean this process's own standard output or input rather than a file: "-" as
// every tool takes it, and the system's names for the descriptor, which the safe-file layer
// would refuse as devices.
bool namesStandardOutput(const std::string& name) {
    return name == "-" || name == "/dev/stdout" || name == "/dev/fd/1" || name == "/proc/self/fd/1";
}
bool namesStandardInput(const std::string& name) {
    return name == "-" || name == "/dev/stdin" || name == "/dev/fd/0" || name == "/proc/self/fd/0";
}

// The same bound as a file on disk: more than this is refused rather than held in memory.
constexpr std::uint64_t kLargestInput = std::uint64_t{1} << 33;

// All of standard input; the errno of a failed read, or EFBIG past the bound.
std::optional<std::string> readStandardInput(int& error) {
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

std::string fileDetail(const std::string& name, int error) {
    const std::string what = printableFileName(name) + (error != 0 ? ": " + std::string(std::strerror(error)) : "");
    return say({" (%1)", "（%1）"}, {what});
}

int runExportToFile(const Command& command, std::ostream& err);

}  // namespace

int runExport(const Command& command, std::ostream& out, std::ostream& err) {
    if (!namesStandardOutput(command.fileName)) return runExportToFile(command, err);
    // The export is made as a file in a private folder, as complete and checked as any other,
    // and then copied out: a reader of the pipe never sees half of a failed export's file.
    ScratchFolder scratch;
    if (scratch.path().empty()) {
        reportError(err, say({"cannot make a temporary folder for the export%1",
                              "エクスポートのための一時フォルダを作成できません%1"},
                             {fileDetail("$TMPDIR", errno)}));
        return kExitFailure;
    }
    Command toFile = command;
    toFile.fileName = scratch.path() + "/export";
    const int code = runExportToFile(toFile, err);
    if (code != kExitSuccess) return code;
    std::ifstream file(toFile.fileName, std::ios::binary);
    out << file.rdbuf();
    if (!file || !out.flush()) {
        reportError(err,
                    say({"cannot write the export to standard output.", "エクスポートを標準出力に書き込めません。"}));
        return kExitFailure;
    }
    return kExitSuccess;
}

namespace {

int runExportToFile(const Command& command, std::ostream& err) {
    // Key lines carry the names as the registry holds them, as an export from the tree would.
    const std::u16string path = storedKeyPath(command.key.root, command.key.path);
    const ExportFileFormat format = command.format == ExportFormat::Reg    ? ExportFileFormat::Reg
                                    : command.format == ExportFormat::Reg4 ? ExportFileFormat::Reg4
                                                                           : ExportFileFormat::Backup;
    ExportResult result;
    if (format == ExportFileFormat::Backup) {
        ProgressLine progress(err, say({"export", "エクスポート"}), say({"keys", "キー"}), progressWanted(err));
        BackupExport file(command.fileName);
        file.setProgress([&progress](std::size_t keys) {
            progress.update(keys);
            return true;
        });
        if (file.begin(command.key.root)) file.writeKeyTree(command.key.root, path);
        result = file.finish();
    } else {
        result = exportKeyToFile(command.fileName, command.key.root, path, format);
    }
    if (result.outcome == ExportOutcome::Written) {
        // The file is complete; the user must still learn that it cannot restore everything.
        if (result.notRestorable != 0 && format == ExportFileFormat::Reg4) {
            reportError(err, say({"%1 key paths, value names or data could not be written exactly in REGEDIT4 (text "
                                  "that is not valid UTF-16, or string data of an odd size); --format reg keeps them.",
                                  "%1個のキーのパス、値の名前またはデータはREGEDIT4では正確に書き出せませんでした"
                                  "（正しいUTF-16ではない文字列か、奇数バイトの文字列データ）。--format reg なら"
                                  "そのまま書き出せます。"},
                                 {std::to_string(result.notRestorable)}));
        } else if (result.notRestorable != 0) {
            std::string message = say({"%1 of the values and keys written cannot come back as they are from an "
                                       "import (a value named \"@\", a value of a type without a tag (\"??\"), data "
                                       "with \"=\", CR or LF, multi-string parts with \"|\", a key name with a "
                                       "double quote); the first:",
                                       "書き出した値とキーのうち%1個は、インポートで元どおりには戻りません"
                                       "（\"@\" という名前の値、タグのない型（\"??\"）の値、\"=\"・CR・LFを含むデータ、"
                                       "\"|\"を含む複数文字列の"
                                       "部分、二重引用符を含むキー名）。最初のもの:"},
                                      {std::to_string(result.notRestorable)});
            for (const std::u16string& example : result.notRestorableExamples)
                message += " " + utf16ToUtf8(example) + ";";
            message.back() = '.';
            reportError(err, message);
        }
        return kExitSuccess;
    }

    std::string message = coreText(exportOutcomeMessage(result.outcome));
    switch (result.outcome) {
    case ExportOutcome::FileNotCreated:
    case ExportOutcome::WriteFailed: message += fileDetail(command.fileName, result.error); break;
    case ExportOutcome::UnsafeLink:
        message += say({" (%1: a link in a shared folder owned by neither you nor the folder's owner)",
                        "（%1: 共有フォルダにある、あなたのものでもフォルダの持ち主のものでもないリンク）"},
                       {printableFileName(command.fileName)});
        break;
    case ExportOutcome::OntoStore:
        message += say({" (%1: it is the registry store in use)", "（%1: 使用中のレジストリのストア）"},
                       {printableFileName(command.fileName)});
        break;
    case ExportOutcome::KeyNotOpened:
    case ExportOutcome::ReadFailed:
        message += " (" + keyDisplayName({command.key.root, result.keyPath}) + ")";
        if (KeyHandle key; openKeyHandle(command.key.root, result.keyPath, key) == ERROR_BADDB)
            message += " " + loopedTreeText({command.key.root, result.keyPath});
        break;
    case ExportOutcome::Written:
    case ExportOutcome::NoKeySelected:
    case ExportOutcome::Cancelled: break;
    }
    reportError(err, message);
    return kExitFailure;
}

namespace {

// Why a write was not kept, for the command line's message.
std::string writeErrorText(LONG error) {
    switch (error) {
    case ERROR_BUSY:
        return say({"the registry store is busy: another program held its lock for longer than the wait",
                    "他のプログラムがレジストリのロックを待ち時間より長く持っていました"});
    case ERROR_INVALID_PARAMETER:
        return say({"too large: a value, a name or the depth of a key is over the store's limit",
                    "大きすぎます: 値、名前、キーの深さのどれかがストアの上限を超えています"});
    case ERROR_CANTWRITE:
    case ERROR_WRITE_FAULT:
        // A registry that knows why (a hive's or a prefix's failed save) says so after this
        // message; the store's file fails to grow for want of room.
        if (const Backend* store = currentBackend(); store && !store->lastFailure().empty())
            return say({"the registry could not be written", "レジストリに書き込めません"});
        return say({"the registry store could not be written: the disk is full or the file may not grow",
                    "レジストリのストアに書き込めません: ディスクがいっぱいか、ファイルを大きくできません"});
    case ERROR_FILE_NOT_FOUND:
        return say({"the parent key named by a key line does not exist", "キーの行が指す親のキーがありません"});
    default: return registryErrorText(error);
    }
}

std::string notWrittenText(const ImportResult& result) {
    const std::string values = std::to_string(result.valuesNotWritten());
    const std::string keys = std::to_string(result.keysNotWritten());
    const std::string why = writeErrorText(result.writeError);
    const std::string line = std::to_string(result.writeErrorLine);
    if (result.outcome != ImportOutcome::WriteFailed) {
        return say({"%1 values and %2 keys were not written (%3, first at line %4).",
                    "値%1個とキー%2個を書き込めませんでした（%3。最初は%4行目）。"},
                   {values, keys, why, line});
    }
    return say({"%1 values and %2 keys were not written (%3, first at line %4); the import stopped at line %5.",
                "値%1個とキー%2個を書き込めませんでした（%3。最初は%4行目）。%5行目でインポートを中止しました。"},
               {values, keys, why, line, std::to_string(result.stoppedAtLine)});
}

}  // namespace

namespace {

constexpr Message kKey{"%1 key", "キー%1個"};
constexpr Message kKeys{"%1 keys", "キー%1個"};
constexpr Message kValue{"%1 value", "値%1個"};
constexpr Message kValues{"%1 values", "値%1個"};
constexpr Message kLine{"%1 line", "%1行"};
constexpr Message kLines{"%1 lines", "%1行"};

int importRegText(const RegFileText& file, std::ostream& out, std::ostream& err) {
    if (const std::u16string refused = RegFileUnknownHeaderMessage(file.text, coreTextTranslator()); !refused.empty()) {
        reportError(err, utf16ToUtf8(refused));
        return kExitFailure;
    }
    const RegFileImportReport r = importRegFileText(file.text);
    out << say({"Written: %1, %2. Deleted: %3, %4", "書き込み: %1、%2。削除: %3、%4"},
               {count(r.keysWritten, kKey, kKeys), count(r.valuesWritten, kValue, kValues),
                count(r.keysDeleted, kKey, kKeys), count(r.valuesDeleted, kValue, kValues)});
    if (r.keysAbsent + r.valuesAbsent != 0) {
        out << say({" (%1 and %2 to delete were not there)", "（削除する%1と%2はありませんでした）"},
                   {count(r.keysAbsent, kKey, kKeys), count(r.valuesAbsent, kValue, kValues)});
    }
    out << say({". Skipped: %1", "。読み飛ばし: %1"}, {count(r.skipped(), kLine, kLines)});
    if (r.skipped() != 0) {
        out << say({" (%1 under roots Tovik does not hold, %2 values without a key, %3 that could not be read)",
                    "（Tovikにないルートの下が%1行、キーのない値が%2行、読めない行が%3行）"},
                   {std::to_string(r.keysOtherRoot + r.valuesOtherRoot), std::to_string(r.valuesWithoutKey),
                    std::to_string(r.linesMalformed)});
    }
    out << text({".", "。"}) << '\n';
    for (const RegFileProblem& problem : r.problems) {
        reportError(err, say({"line %1: %2", "%1行目: %2"},
                             {std::to_string(problem.line), coreText(RegFileProblemText(problem.kind))}));
    }
    const std::size_t listed = r.problems.size();
    const std::size_t problems =
        r.linesMalformed + r.keyWritesFailed + r.valueWritesFailed + r.keyDeletesFailed + r.valueDeletesFailed;
    if (problems > listed) {
        reportError(err, say({"%1 more lines were skipped or failed.", "ほかに%1行を読み飛ばしたか、失敗しました。"},
                             {std::to_string(problems - listed)}));
    }
    if (r.failed() == 0) return kExitSuccess;
    std::string message = say(
        {"the registry did not keep everything: %1 and %2 not written, %3 failed",
         "レジストリはすべてを保持できませんでした: %1と%2を書き込めず、%3が失敗しました"},
        {count(r.keyWritesFailed, kKey, kKeys), count(r.valueWritesFailed, kValue, kValues),
         count(r.keyDeletesFailed + r.valueDeletesFailed, {"%1 deletion", "削除%1件"}, {"%1 deletions", "削除%1件"})});
    if (r.writesLost != 0) {
        message += say({", %1 lost with a commit that failed (%2)", "。確定に失敗して%1が失われました（%2）"},
                       {count(r.writesLost, {"%1 write", "書き込み%1件"}, {"%1 writes", "書き込み%1件"}),
                        writeErrorText(r.commitError)});
    }
    reportError(err, message + std::string(text({".", "。"})));
    return kExitFailure;
}

}  // namespace

int importBackupText(const BackupFileLines& file, std::ostream& err);

int runImportFromStandardInput(std::ostream& out, std::ostream& err) {
    int error = 0;
    const std::optional<std::string> bytes = readStandardInput(error);
    if (!bytes) {
        reportError(err,
                    say(kFileNotRead) + say({" (standard input: %1)", "（標準入力: %1）"}, {std::strerror(error)}));
        return kExitFailure;
    }
    const auto* data = reinterpret_cast<const BYTE*>(bytes->data());
    if (sniffRegFileFormat(data, bytes->size(), true) != RegFileFormat::Unknown)
        return importRegText(decodeRegFileBytes(data, bytes->size()), out, err);
    return importBackupText(readBackupFile(data, bytes->size()), err);
}

}  // namespace

int runImport(const Command& command, std::ostream& out, std::ostream& err) {
    if (command.dryRun) return runImportDryRun(command, out, err);
    if (namesStandardInput(command.fileName)) return runImportFromStandardInput(out, err);
    // The first line tells a .reg file from a backup file; one that cannot be read goes to the
    // backup file's import, which says why.
    if (sniffRegFileAt(command.fileName) != RegFileFormat::Unknown) {
        int error = 0;
        const std::optional<RegFileText> file = readRegFileAt(command.fileName, &error);
        if (!file) {
            reportError(err, say(kFileNotRead) + fileDetail(command.fileName, error));
            return kExitFailure;
        }
        return importRegText(*file, out, err);
    }
    int error = 0;
    const std::optional<BackupFileLines> file = readBackupFileAt(command.fileName, &error);
    if (!file) {
        if (error == kNotRegularFile) {
            reportError(err, say(kFileNotRead) +
                                 say({" (%1: not a regular file; a folder, FIFO or device is never read)",
                                      "（%1: 通常のファイルではありません。フォルダ、FIFO、デバイスは読みません）"},
                                     {printableFileName(command.fileName)}));
        } else {
            reportError(err, say(kFileNotRead) + fileDetail(command.fileName, error));
        }
        return kExitFailure;
    }
    return importBackupText(*file, err);
}

namespace {

int importBackupText(const BackupFileLines& file, std::ostream& err) {
    if (file.notUnicode) {
        reportError(err, coreText(kImportNotUnicodeMessage));
        return kExitFailure;
    }
    ProgressLine progress(err, say({"import", "インポート"}), say({"lines", "行"}), progressWanted(err));
    const ImportResult result = importBackupLines(
        file.lines, [&progress](std::size_t taken, std::size_t lines) { progress.update(taken, lines); });
    progress.clear();
    int code = kExitSuccess;
    if (result.outcome != ImportOutcome::Finished && result.outcome != ImportOutcome::WriteFailed) {
        std::string message = coreText(importOutcomeMessage(result.outcome));
        if (result.outcome == ImportOutcome::BrokenLine)
            message += say({" (line %1)", "（%1行目）"}, {std::to_string(result.brokenLineNumber)});
        reportError(err, message);
        code = kExitFailure;
    }
    if (!result.allWritten()) {
        reportError(err, notWrittenText(result));
        code = kExitFailure;
    }
    if (result.valueLinesUnknownTag != 0)
        reportError(err, coreText(kUnknownTagNoticeTemplate, {std::to_string(result.valueLinesUnknownTag)}));
    return code;
}

}  // namespace

}  // namespace tovik::cli
