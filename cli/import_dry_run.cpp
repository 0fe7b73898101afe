// tovik-reg import --dry-run: what importing a .reg file or a backup file would change, listed as
// diff lists a comparison, with nothing written.
#include <cstring>
#include <optional>
#include <ostream>
#include <string>

#include "backup/backup_import.h"
#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/diff_listing.h"
#include "cli/utf8.h"
#include "compare/import_preview.h"
#include "regfile/reg_import.h"
#include "regfile/reg_text.h"
#include "registry/registry_store.h"

namespace tovik::cli {

namespace {

class PreviewListing final : public PreviewSink {
public:
    explicit PreviewListing(std::ostream& out) : listing_(out) {}
    bool onPreview(const PreviewEntry& e) override {
        switch (e.kind) {
        case PreviewKind::KeyCreated: listing_.key('+', e.root, e.path); break;
        case PreviewKind::KeyDeleted: listing_.key('-', e.root, e.path); break;
        case PreviewKind::ValueAdded:
            listing_.keyHeader(e.root, e.path);
            listing_.value('+', e.name, e.after.type, e.after.data, e.after.size);
            break;
        case PreviewKind::ValueChanged:
            listing_.keyHeader(e.root, e.path);
            listing_.value('-', e.name, e.before.type, e.before.data, e.before.size);
            listing_.value('+', e.name, e.after.type, e.after.data, e.after.size);
            break;
        case PreviewKind::ValueDeleted:
            listing_.keyHeader(e.root, e.path);
            listing_.value('-', e.name, e.before.type, e.before.data, e.before.size);
            break;
        case PreviewKind::ValueUnchanged: break;
        }
        return true;
    }

private:
    DiffListing listing_;
};

}  // namespace

namespace {

// The preview of whichever kind of file this is; nullopt after saying why there is none.
std::optional<ImportPreviewResult> previewFile(const std::string& file, Backend& registry, PreviewSink& sink,
                                               std::ostream& err) {
    int error = 0;
    if (sniffRegFileAt(file) != RegFileFormat::Unknown) {
        const std::optional<RegFileText> text = readRegFileAt(file, &error);
        if (!text) {
            reportError(err, cannotReadFileText(file, error));
            return std::nullopt;
        }
        const ImportPreviewResult result = previewRegFileImport(text->text, registry, sink);
        if (!result.ok()) {
            reportError(err, utf16ToUtf8(RegFileUnknownHeaderMessage(text->text, coreTextTranslator())));
            return std::nullopt;
        }
        return result;
    }
    const std::optional<BackupFileLines> lines = readBackupFileAt(file, &error);
    if (!lines) {
        // A folder, FIFO or device is never read.
        reportError(err, error == kNotRegularFile ? say({"cannot read %1: not a regular file",
                                                         "%1 を読み込めません: 通常のファイルではありません"},
                                                        {file})
                                                  : cannotReadFileText(file, error));
        return std::nullopt;
    }
    if (lines->notUnicode) {
        reportError(err, coreText(kImportNotUnicodeMessage));
        return std::nullopt;
    }
    const ImportPreviewResult result = previewBackupImport(lines->lines, registry, sink);
    if (!result.ok()) {
        reportError(err, coreText(importOutcomeMessage(result.backupOutcome)));
        return std::nullopt;
    }
    return result;
}

}  // namespace

int runImportDryRun(const Command& command, std::ostream& out, std::ostream& err) {
    Backend* registry = currentBackend();
    if (!registry) return kExitFailure;
    PreviewListing listing(out);
    std::optional<ImportPreviewResult> result;
    try {
        result = previewFile(command.fileName, *registry, listing, err);
    } catch (const BackendFailure& failure) {
        reportError(err, say({"the registry could not be read: %1.", "レジストリを読み出せません: %1。"},
                             {registryErrorText(registryResultOf(failure.kind(), false))}));
        return kExitFailure;
    }
    if (!result) return kExitFailure;
    out << "Nothing was written. The import would create " << result->keysCreated << " keys and delete "
        << result->keysDeleted << "; add " << result->valuesAdded << " values, change " << result->valuesChanged
        << " and delete " << result->valuesDeleted << ". " << result->valuesUnchanged
        << " values are as the file has them already";
    if (result->linesSkipped != 0) out << "; " << result->linesSkipped << " lines would be skipped";
    out << ".\n";
    if (result->backupOutcome == ImportOutcome::BrokenLine) {
        out << say({"The file is broken at line %1: the import would stop there.",
                    "ファイルは%1行目で壊れています。インポートはそこで止まります。"},
                   {std::to_string(result->brokenLine)})
            << "\n";
    }
    out.flush();
    return out ? kExitSuccess : kExitFailure;
}

}  // namespace tovik::cli
