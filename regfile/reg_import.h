#pragma once
// Applying a .reg file to the current registry store through the registry operations: keys are
// created (with any missing keys above them), values written and deleted, key deletions remove
// the whole subtree. Unlike the backup file, a line that cannot be read or applied is skipped and
// counted, and the import goes on with the next line.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "regfile/reg_format.h"
#include "regfile/reg_reader.h"
#include "registry/win_types.h"

namespace tovik {

struct RegFileProblem {
    std::size_t line = 0;  // 1-based; the header is line 1
    RegFileProblemKind kind = RegFileProblemKind::UnexpectedLine;
    bool operator==(const RegFileProblem&) const = default;
};

// How many problems a report keeps with their line numbers; all of them are counted.
inline constexpr std::size_t kRegFileReportedProblems = 10;

struct RegFileImportReport {
    RegFileFormat format = RegFileFormat::Unknown;  // Unknown, UnknownHeader: nothing written
    bool cancelled = false;                         // the progress callback stopped it; what was written stays
    std::size_t lastLine = 0;                       // the first line of the last entry applied
    HKEY firstRoot = 0;  // the first key the import wrote (0 when none), for the view to open
    std::u16string firstKeyPath;

    std::size_t keysWritten = 0;  // key lines whose key now exists
    std::size_t valuesWritten = 0;
    std::size_t keysDeleted = 0;  // key deletions that removed a key (with its subtree)
    std::size_t valuesDeleted = 0;
    std::size_t keysAbsent = 0;    // deletions of keys that were not there
    std::size_t valuesAbsent = 0;  // deletions of values that were not there

    // Skipped:
    std::size_t keysOtherRoot = 0;     // key lines under HKEY_USERS, HKEY_CURRENT_CONFIG, ...
    std::size_t valuesOtherRoot = 0;   // value lines in their blocks
    std::size_t valuesWithoutKey = 0;  // value lines before any key, after a deletion, after a
                                       // malformed or failed key line
    std::size_t linesMalformed = 0;    // lines that could not be read (Malformed entries)

    // Failed writes (the registry refused them):
    std::size_t keyWritesFailed = 0;
    std::size_t valueWritesFailed = 0;
    std::size_t keyDeletesFailed = 0;
    std::size_t valueDeletesFailed = 0;
    // Writes and deletions the registry took, then lost with a commit that failed (disk full,
    // busy); they are counted above as well, and none of them is in the store.
    std::size_t writesLost = 0;
    LONG commitError = 0;  // the first failed commit's result code

    std::vector<RegFileProblem> problems;  // the first kRegFileReportedProblems, in line order

    std::size_t skipped() const { return keysOtherRoot + valuesOtherRoot + valuesWithoutKey + linesMalformed; }
    std::size_t failed() const {
        return keyWritesFailed + valueWritesFailed + keyDeletesFailed + valueDeletesFailed + writesLost;
    }
};

// Called now and then with the units read so far and the text's size; returning false stops the
// import after the entries applied so far (they stay written).
using RegFileProgress = std::function<bool(std::size_t done, std::size_t total)>;

// Writes are grouped into batches committed every kRegFileCommitEntries entries, so that an
// import that is stopped or killed keeps what was committed. A store that saves whole files
// (a Wine prefix, hive files) commits once, at the end.
inline constexpr std::size_t kRegFileCommitEntries = 10000;

// The sentences of the messages below, as templates whose %1, %2... are filled with numbers or
// texts; the GUI shows them translated.
inline constexpr std::u16string_view kRegImportCountsTemplate =
    u"キーを%1個、値を%2個書き込み、キーを%3個、値を%4個削除しました。";
inline constexpr std::u16string_view kRegImportSkippedTemplate = u"%1行を読み飛ばしました。";
inline constexpr std::u16string_view kRegImportProblemTemplate = u"%1行目: %2";
inline constexpr std::u16string_view kRegImportNotWrittenTemplate = u"書き込めなかった値が%1個、キーが%2個あります。";
inline constexpr std::u16string_view kRegImportNotDeletedTemplate = u"削除できなかったものが%1個あります。";
inline constexpr std::u16string_view kRegImportLostTemplate = u"書き込んだ%1個がレジストリに残りませんでした。";
inline constexpr std::u16string_view kRegImportUnknownHeaderTemplate =
    u"登録ファイルのヘッダー「%1」が分かりません。インポートしませんでした。";

// A sentence or template in the interface's language; the texts as they stand when not given.
using RegFileTextTranslator = std::function<std::u16string(std::u16string_view)>;

// The counts for the user: keys and values written, deleted and skipped, then the first problems
// by line number ("6行目: 文字列が閉じていません").
std::u16string RegFileImportSummary(const RegFileImportReport& report, const RegFileTextTranslator& translate = {});
// Shown instead of the end message when the registry did not keep everything; empty when it did.
std::u16string RegFileNotWrittenMessage(const RegFileImportReport& report, const RegFileTextTranslator& translate = {});

// The refusal of a file whose first line is a header of a version that is not read
// (RegFileFormat::UnknownHeader), quoting that line; empty for any other text.
std::u16string RegFileUnknownHeaderMessage(std::u16string_view text, const RegFileTextTranslator& translate = {});

// Applies text (a whole file, as DecodeRegFileBytes gives it) to the current store.
RegFileImportReport importRegFileText(std::u16string_view text, const RegFileProgress& progress = {});
// Decodes and applies a whole file's bytes.
RegFileImportReport importRegFileBytes(const BYTE* data, std::size_t size, const RegFileProgress& progress = {});

}  // namespace tovik
