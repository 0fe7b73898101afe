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

QString RegFilter() { return Tovik::tr("登録ファイル(*.reg)"); }
QString Reg4Filter() { return Tovik::tr("登録ファイル REGEDIT4(*.reg)"); }

// The .reg summaries' sentences in the interface's language.
std::u16string TranslatedText(std::u16string_view text) { return ToU16(Translated(text)); }

}  // namespace

QString ExportImportFileFilter() {
    return Tovik::tr("ﾚｼﾞｽﾄﾘ退避ﾌｧｲﾙ(*.txt)") + QStringLiteral(";;") + RegFilter() + QStringLiteral(";;") + Reg4Filter() +
           QStringLiteral(";;") + Tovik::tr("全て(*.*)");
}

tovik::ExportFileFormat ExportFormatOfFilter(const QString& filter) {
    if (filter == RegFilter()) return tovik::ExportFileFormat::Reg;
    if (filter == Reg4Filter()) return tovik::ExportFileFormat::Reg4;
    return tovik::ExportFileFormat::Backup;
}

bool IsRegFileAt(const std::string& fileName) {
    // A FIFO or device is never read: the backup import then says what it is.
    return tovik::SniffRegFileAt(fileName) != tovik::RegFileFormat::Unknown;
}

RegFileCommands::RegFileCommands(CTovikView& view) : QObject(&view), m_view(view) {}

void RegFileCommands::ExportRegFile(HKEY root, const std::u16string& path, const std::string& fileName,
                                    tovik::ExportFileFormat format) {
    CTovikView& view = m_view;
    // Stopping leaves the chosen file as it was: the export is written beside it and placed at the end.
    LongWorkProgress progress(&view, Tovik::tr("エクスポートしています… %1 キー"), 0, true);
    const tovik::ExportResult result =
        tovik::ExportKeyToFile(fileName, root, path, format, [&progress](std::size_t keys) { return progress.Step(keys); });
    progress.Close();
    const std::u16string_view message = tovik::ExportOutcomeMessage(result.outcome);
    if (!message.empty()) ShowMessage(view, message);
}

void RegFileCommands::ImportRegFile(const std::string& fileName) {
    CTovikView& view = m_view;
    // Running out of memory anywhere in the import is a message, never an abort.
    try {
        int error = 0;
        std::optional<tovik::RegFileText> file = tovik::ReadRegFileAt(fileName, &error);
        if (!file) {
            if (error == ENOMEM) ShowMessage(view, tovik::kImportOutOfMemoryMessage);
            return;  // a file that cannot be opened: nothing happens, as for a backup file
        }
        if (const std::u16string refused = tovik::RegFileUnknownHeaderMessage(file->text, TranslatedText);
            !refused.empty()) {
            view.Prompts().MessageBox(&view, ToQString(refused), MessageButtons::Ok);
            return;
        }
        const tovik::RegFileLineIndex lines(file->text);
        CImportConfirmDlg dialog;
        dialog.m_pRegLines = &lines;
        if (tovik::Backend* registry = tovik::CurrentBackend())
            dialog.m_preview = [&file, registry] { return ImportPreviewLines(file->text, *registry); };
        if (view.Prompts().DoModal(dialog) != IDOK) return;

        view.SetModified();
        // Stopping keeps what was written: the import commits it, and the message says where it ended.
        LongWorkProgress progress(&view, Tovik::tr("インポートしています…"), file->text.size(), true);
        const tovik::RegFileImportReport report = tovik::ImportRegFileText(
            file->text, [&progress](std::size_t done, std::size_t) { return progress.Step(done); });
        progress.Close();
        // Lines that could not be read are the broken-file message, but unlike a backup file the
        // import went on after them: the view is reset all the same.
        const std::u16string notWritten = tovik::RegFileNotWrittenMessage(report, TranslatedText);
        if (!notWritten.empty()) {
            ResetAfterImport(view, ToQString(notWritten));
        } else if (report.cancelled) {
            ResetAfterImport(view, Translated(tovik::kImportCancelledTemplate).arg(report.lastLine));
        } else {
            ResetAfterImport(view, report.linesMalformed != 0 ? tovik::kImportBrokenFileMessage
                                                             : tovik::kImportFinishedMessage);
        }
        // As after a backup file: the tree opens the way to the file's first key.
        if (report.firstRoot != 0 && !report.firstKeyPath.empty()) view.ExpandKeyPath(report.firstRoot, report.firstKeyPath);
        view.Prompts().MessageBox(&view, ToQString(tovik::RegFileImportSummary(report, TranslatedText)),
                                  MessageButtons::Ok);
    } catch (const std::bad_alloc&) {
        ShowMessage(view, tovik::kImportOutOfMemoryMessage);
    }
}
