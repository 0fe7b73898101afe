// tovik-reg import --dry-run: what importing a .reg file would change, listed as diff lists a
// comparison, with nothing written.
#include <cstring>
#include <ostream>
#include <string>

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

int runImportDryRun(const Command& command, std::ostream& out, std::ostream& err) {
    const std::string& file = command.fileName;
    const RegFileFormat format = sniffRegFileAt(file);
    if (format == RegFileFormat::Unknown) {
        reportError(err, say({"--dry-run previews .reg files (REGEDIT4 or version 5); %1 is not one.",
                              "--dry-run は .regファイル（REGEDIT4 またはバージョン5）の変更点を示します。%1 は"
                              ".regファイルではありません。"},
                             {file}));
        return kExitFailure;
    }
    int error = 0;
    const std::optional<RegFileText> text = readRegFileAt(file, &error);
    if (!text) {
        reportError(err, cannotReadFileText(file, error));
        return kExitFailure;
    }
    Backend* registry = currentBackend();
    if (!registry) return kExitFailure;
    PreviewListing listing(out);
    ImportPreviewResult result;
    try {
        result = previewRegFileImport(text->text, *registry, listing);
    } catch (const BackendFailure& failure) {
        reportError(err, say({"the registry could not be read: %1.", "レジストリを読み出せません: %1。"},
                             {registryErrorText(registryResultOf(failure.kind(), false))}));
        return kExitFailure;
    }
    if (!result.ok()) {
        reportError(err, utf16ToUtf8(RegFileUnknownHeaderMessage(text->text, coreTextTranslator())));
        return kExitFailure;
    }
    out << "Nothing was written. The import would create " << result.keysCreated << " keys and delete "
        << result.keysDeleted << "; add " << result.valuesAdded << " values, change " << result.valuesChanged
        << " and delete " << result.valuesDeleted << ". " << result.valuesUnchanged
        << " values are as the file has them already";
    if (result.linesSkipped != 0) out << "; " << result.linesSkipped << " lines would be skipped";
    out << ".\n";
    out.flush();
    return out ? kExitSuccess : kExitFailure;
}

}  // namespace tovik::cli
