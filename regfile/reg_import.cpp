#include "regfile/reg_import.h"

#include <initializer_list>
#include <memory>
#include <string>

#include "regfile/reg_text.h"
#include "registry/key_handle.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik {

namespace {

constexpr std::size_t kProgressEntries = 4096;

bool holdsZeroUnit(std::u16string_view text) {
    return text.find(u'\0') != std::u16string_view::npos;
}

class RegFileApplier {
public:
    explicit RegFileApplier(RegFileImportReport& report) : report_(report) {}
    ~RegFileApplier() { closeOpenKeys(); }
    RegFileApplier(const RegFileApplier&) = delete;
    RegFileApplier& operator=(const RegFileApplier&) = delete;

    void apply(const RegFileEntry& entry) {
        switch (entry.kind) {
        case RegFileEntryKind::Key: openKey(entry); break;
        case RegFileEntryKind::DeleteKey: deleteKey(entry); break;
        case RegFileEntryKind::OtherRootKey:
            current_ = 0;
            ++report_.keysOtherRoot;
            break;
        case RegFileEntryKind::Value:
        case RegFileEntryKind::DeleteValue: applyValue(entry); break;
        case RegFileEntryKind::Malformed:
            ++report_.linesMalformed;
            note(entry.line, entry.problem);
            break;
        }
    }

private:
    // The keys of the last key line and of the ones above it that are its ancestors: a file lists
    // a key's subkeys right after it, so a key line is nearly always opened below one of them.
    struct OpenedKey {
        HKEY root;
        std::u16string path;
        KeyHandle handle;  // closed when the key leaves opened_
    };

    void note(std::size_t line, RegFileProblemKind kind) {
        if (report_.problems.size() < kRegFileReportedProblems) report_.problems.push_back({line, kind});
    }

    void closeOpenKeys() {
        opened_.clear();
        current_ = 0;
    }

    // The nearest open ancestor of root\path (closing the others), or null.
    const OpenedKey* openAncestor(HKEY root, std::u16string_view path) {
        while (!opened_.empty()) {
            const OpenedKey& top = opened_.back();
            if (top.root == root && path.size() > top.path.size() && path[top.path.size()] == u'\\' &&
                path.compare(0, top.path.size(), top.path) == 0)
                return &top;
            opened_.pop_back();
        }
        return nullptr;
    }

    void openKey(const RegFileEntry& entry) {
        current_ = 0;
        if (holdsZeroUnit(entry.path)) return keyFailed(entry.line);
        if (entry.path.empty()) {  // the root itself
            current_ = entry.root;
            keyWritten(entry);
            return;
        }
        HKEY created = 0;
        LONG rc = ERROR_FILE_NOT_FOUND;
        if (const OpenedKey* parent = openAncestor(entry.root, entry.path)) {
            pathBuffer_.assign(entry.path.substr(parent->path.size() + 1));
            rc = RegCreateKeyExW(parent->handle.get(), pathBuffer_.c_str(), 0, nullptr, 0, 0, nullptr, &created,
                                 nullptr);
            if (rc == ERROR_KEY_DELETED) closeOpenKeys();  // removed by another program meanwhile
        }
        if (opened_.empty()) {
            pathBuffer_.assign(entry.path);
            rc = RegCreateKeyExW(entry.root, pathBuffer_.c_str(), 0, nullptr, 0, 0, nullptr, &created, nullptr);
        }
        if (rc != ERROR_SUCCESS) return keyFailed(entry.line);
        opened_.push_back({entry.root, std::u16string(entry.path), KeyHandle(created)});
        current_ = created;
        keyWritten(entry);
    }

    void keyWritten(const RegFileEntry& entry) {
        if (report_.keysWritten++ != 0) return;
        report_.firstRoot = entry.root;
        report_.firstKeyPath.assign(entry.path);
    }

    void keyFailed(std::size_t line) {
        ++report_.keyWritesFailed;
        note(line, RegFileProblemKind::KeyNotCreated);
    }

    void deleteKey(const RegFileEntry& entry) {
        closeOpenKeys();  // they may lie in the subtree that goes
        pathBuffer_.assign(entry.path);
        if (holdsZeroUnit(entry.path) || !keyExists(entry.root, pathBuffer_)) {
            ++report_.keysAbsent;
        } else if (deleteKeyTree(entry.root, pathBuffer_)) {
            ++report_.keysDeleted;
        } else {
            ++report_.keyDeletesFailed;
            note(entry.line, RegFileProblemKind::KeyNotDeleted);
        }
    }

    void applyValue(const RegFileEntry& entry) {
        if (entry.target == RegFileValueTarget::OtherRoot) {
            ++report_.valuesOtherRoot;
            return;
        }
        if (entry.target == RegFileValueTarget::NoKey || current_ == 0) {
            ++report_.valuesWithoutKey;
            return;
        }
        const bool deletion = entry.kind == RegFileEntryKind::DeleteValue;
        nameBuffer_.assign(entry.name);
        LONG rc = ERROR_INVALID_PARAMETER;  // a name with a zero unit would reach another value
        if (!holdsZeroUnit(entry.name)) {
            rc = deletion ? RegDeleteValueW(current_, nameBuffer_.c_str())
                          : RegSetValueExW(current_, nameBuffer_.c_str(), 0, entry.type, entry.data,
                                           static_cast<DWORD>(entry.size));
        }
        if (rc == ERROR_SUCCESS) {
            ++(deletion ? report_.valuesDeleted : report_.valuesWritten);
        } else if (deletion && rc == ERROR_FILE_NOT_FOUND) {
            ++report_.valuesAbsent;
        } else {
            ++(deletion ? report_.valueDeletesFailed : report_.valueWritesFailed);
            note(entry.line, deletion ? RegFileProblemKind::ValueNotDeleted : RegFileProblemKind::ValueNotWritten);
        }
    }

    RegFileImportReport& report_;
    std::vector<OpenedKey> opened_;
    HKEY current_ = 0;  // the key that value lines go to; 0 when none
    std::u16string pathBuffer_;
    std::u16string nameBuffer_;
};

std::u16string number(std::size_t n) {
    const std::string text = std::to_string(n);
    return std::u16string(text.begin(), text.end());
}

// The template in the interface's language with %1, %2, ... replaced by the arguments in order.
std::u16string fill(const RegFileTextTranslator& translate, std::u16string_view sentence,
                    std::initializer_list<std::u16string> arguments) {
    std::u16string text = translate ? translate(sentence) : std::u16string(sentence);
    char16_t mark = u'1';
    for (const std::u16string& argument : arguments) {
        const std::u16string placeholder{u'%', mark++};
        if (const std::size_t at = text.find(placeholder); at != std::u16string::npos)
            text.replace(at, placeholder.size(), argument);
    }
    return text;
}
}  // namespace

std::u16string RegFileImportSummary(const RegFileImportReport& report, const RegFileTextTranslator& translate) {
    std::u16string text = fill(translate, kRegImportCountsTemplate,
                               {number(report.keysWritten), number(report.valuesWritten), number(report.keysDeleted),
                                number(report.valuesDeleted)});
    if (report.skipped() != 0) text += fill(translate, kRegImportSkippedTemplate, {number(report.skipped())});
    for (const RegFileProblem& problem : report.problems) {
        const std::u16string_view what = RegFileProblemText(problem.kind);
        text += u"\n" + fill(translate, kRegImportProblemTemplate,
                             {number(problem.line), translate ? translate(what) : std::u16string(what)});
    }
    const std::size_t problems = report.linesMalformed + report.keyWritesFailed + report.valueWritesFailed +
                                 report.keyDeletesFailed + report.valueDeletesFailed;
    if (problems > report.problems.size()) text += u"\n…";
    return text;
}

std::u16string RegFileNotWrittenMessage(const RegFileImportReport& report, const RegFileTextTranslator& translate) {
    if (report.failed() == 0) return {};
    std::u16string message = fill(translate, kRegImportNotWrittenTemplate,
                                  {number(report.valueWritesFailed), number(report.keyWritesFailed)});
    if (report.keyDeletesFailed + report.valueDeletesFailed != 0)
        message += fill(translate, kRegImportNotDeletedTemplate,
                        {number(report.keyDeletesFailed + report.valueDeletesFailed)});
    if (report.writesLost != 0) message += fill(translate, kRegImportLostTemplate, {number(report.writesLost)});
    return message;
}

std::u16string RegFileUnknownHeaderMessage(std::u16string_view text, const RegFileTextTranslator& translate) {
    const std::u16string_view header = text.substr(0, text.find_first_of(u"\r\n"));
    if (RegFileFormatFromHeader(header) != RegFileFormat::UnknownHeader) return {};
    // Quoted as it stands, cut short: it is the start of a file that may be anything.
    constexpr std::size_t kQuotedUnits = 60;
    std::u16string quoted(header.substr(0, kQuotedUnits));
    if (header.size() > kQuotedUnits) quoted += u"…";
    return fill(translate, kRegImportUnknownHeaderTemplate, {quoted});
}

RegFileImportReport importRegFileText(std::u16string_view text, const RegFileProgress& progress) {
    RegFileImportReport report;
    RegFileReader reader(text);
    report.format = reader.format();
    if (report.format != RegFileFormat::Regedit4 && report.format != RegFileFormat::Version5) return report;

    RegistryBatch batch;
    RegFileApplier applier(report);
    RegFileEntry entry;
    std::size_t sinceCommit = 0, sinceProgress = 0;
    // What the registry took so far; a failed commit loses everything since the last good one.
    const auto taken = [&report] {
        return report.keysWritten + report.valuesWritten + report.keysDeleted + report.valuesDeleted;
    };
    std::size_t takenAtCommit = 0;
    const auto commit = [&](bool last) {
        if (!(last ? batch.finish() : batch.commit())) {
            report.writesLost += taken() - takenAtCommit;
            if (report.commitError == 0) report.commitError = batch.error() != 0 ? batch.error() : ERROR_CANTWRITE;
        }
        takenAtCommit = taken();
    };
    while (reader.next(entry)) {
        applier.apply(entry);
        report.lastLine = entry.line;
        // A store that saves whole files saves the import once, at its end.
        if (++sinceCommit == kRegFileCommitEntries && RegistryBatch::commitsAlongTheWay()) {
            commit(false);
            sinceCommit = 0;
        }
        if (progress && ++sinceProgress == kProgressEntries) {
            sinceProgress = 0;
            if (!progress(reader.position(), text.size())) {
                report.cancelled = true;
                break;
            }
        }
    }
    commit(true);
    return report;
}

RegFileImportReport importRegFileBytes(const BYTE* data, std::size_t size, const RegFileProgress& progress) {
    const RegFileText file = decodeRegFileBytes(data, size);
    return importRegFileText(file.text, progress);
}

}  // namespace tovik
