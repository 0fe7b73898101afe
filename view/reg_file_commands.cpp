#include "view/reg_file_commands.h"

#include <cerrno>
#include <new>

#include "backup/backup_import.h"
#include "backup/gui/import_confirm_dlg.h"
#include "regfile/reg_import.h"
#include "regfile/reg_lines.h"
#include "regfile/reg_text.h"
#include "registry/registry_store.h"
#include "ui/long_work_progress.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/command_support.h"
#include "view/import_preview_lines.h"
#include "view/tovik_view.h"

namespace {

QString RegFilter() {
    return Tovik::tr("登録ファイル(*.reg)");
}
QString reg4Filter() {
    return Tovik::tr("登録ファイル REGEDIT4(*.reg)");
}

// The .reg summaries' sentences in the interface's language.
std::u16string translatedText(std::u16string_view text) {
    return toU16(translated(text));
}

}  // namespace

QString exportImportFileFilter() {
    return Tovik::tr("ﾚｼﾞｽﾄﾘ退避ﾌｧｲﾙ(*.txt)") + QStringLiteral(";;") + RegFilter() + QStringLiteral(";;") +
           reg4Filter() + QStringLiteral(";;") + Tovik::tr("全て(*.*)");
}

tovik::ExportFileFormat exportFormatOfFilter(const QString& filter) {
    if (filter == RegFilter()) return tovik::ExportFileFormat::Reg;
    if (filter == reg4Filter()) return tovik::ExportFileFormat::Reg4;
    return tovik::ExportFileFormat::Backup;
}

bool isRegFileAt(const std::string& fileName) {
    // A FIFO or device is never read: the backup import then says what it is.
    return tovik::sniffRegFileAt(fileName) != tovik::RegFileFormat::Unknown;
}

RegFileCommands::RegFileCommands(CTovikView& view) : QObject(&view), m_view(view) {}

void RegFileCommands::exportRegFile(HKEY root, const std::u16string& path, const std::string& fileName,
                                    tovik::ExportFileFormat format) {
    CTovikView& view = m_view;
    // Stopping leaves the chosen file as it was: the export is written beside it and placed at the end.
    LongWorkProgress progress(&view, Tovik::tr("エクスポートしています… %1 キー"), 0, true);
    const tovik::ExportResult result = tovik::exportKeyToFile(
        fileName, root, path, format, [&progress](std::size_t keys) { return progress.step(keys); });
    progress.close();
    const std::u16string_view message = tovik::exportOutcomeMessage(result.outcome);
    if (!message.empty()) showMessage(view, message);
}

void RegFileCommands::importRegFile(const std::string& fileName) {
    CTovikView& view = m_view;
    // Running out of memory anywhere in the import is a message, never an abort.
    try {
        int error = 0;
        std::optional<tovik::RegFileText> file = tovik::readRegFileAt(fileName, &error);
        if (!file) {
            if (error == ENOMEM) showMessage(view, tovik::kImportOutOfMemoryMessage);
            return;  // a file that cannot be opened: nothing happens, as for a backup file
        }
        if (const std::u16string refused = tovik::RegFileUnknownHeaderMessage(file->text, translatedText);
            !refused.empty()) {
            view.prompts().messageBox(&view, toQString(refused), MessageButtons::Ok);
            return;
        }
        const tovik::RegFileLineIndex lines(file->text);
        CImportConfirmDlg dialog(&view);
        dialog.m_pRegLines = &lines;
        if (tovik::Backend* registry = tovik::currentBackend())
            dialog.m_preview = [&file, registry] { return importPreviewLines(file->text, *registry); };
        if (view.prompts().DoModal(dialog) != IDOK) return;

        view.setModified();
        // Stopping keeps what was written: the import commits it, and the message says where it ended.
        LongWorkProgress progress(&view, Tovik::tr("インポートしています…"), file->text.size(), true);
        const tovik::RegFileImportReport report = tovik::importRegFileText(
            file->text, [&progress](std::size_t done, std::size_t) { return progress.step(done); });
        progress.close();
        // Lines that could not be read are the broken-file message, but unlike a backup file the
        // import went on after them: the view is reset all the same.
        const std::u16string notWritten = tovik::RegFileNotWrittenMessage(report, translatedText);
        if (!notWritten.empty()) {
            resetAfterImport(view, toQString(notWritten));
        } else if (report.cancelled) {
            resetAfterImport(view, translated(tovik::kImportCancelledTemplate).arg(report.lastLine));
        } else {
            resetAfterImport(view, report.linesMalformed != 0 ? tovik::kImportBrokenFileMessage
                                                              : tovik::kImportFinishedMessage);
        }
        // As after a backup file: the tree opens the way to the file's first key.
        if (report.firstRoot != 0 && !report.firstKeyPath.empty())
            view.expandKeyPath(report.firstRoot, report.firstKeyPath);
        view.prompts().messageBox(&view, toQString(tovik::RegFileImportSummary(report, translatedText)),
                                  MessageButtons::Ok);
    } catch (const std::bad_alloc&) {
        showMessage(view, tovik::kImportOutOfMemoryMessage);
    }
}
