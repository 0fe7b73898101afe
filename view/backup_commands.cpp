#include "view/backup_commands.h"

#include <cerrno>
#include <new>

#include "backup/backup_export.h"
#include "backup/backup_format.h"
#include "backup/backup_import.h"
#include "backup/gui/import_confirm_dlg.h"
#include "registry/registry_store.h"
#include "ui/long_work_progress.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/command_support.h"
#include "view/import_preview_lines.h"
#include "view/reg_file_commands.h"
#include "view/tovik_view.h"

namespace {

// After the import's own message: how many value lines had a tag the reader does not know.
void showUnknownTagNotice(CTovikView& view, const tovik::ImportResult& result) {
    if (result.valueLinesUnknownTag != 0)
        showMessage(view, translated(tovik::kUnknownTagNoticeTemplate).arg(result.valueLinesUnknownTag));
}

// ImportNotWrittenMessage, translated.
QString importNotWrittenText(const tovik::ImportResult& result) {
    QString text = translated(tovik::kImportNotWrittenTemplate)
                       .arg(result.valuesNotWritten())
                       .arg(result.keysNotWritten())
                       .arg(translated(tovik::writeErrorReason(result.writeError)));
    if (result.outcome == tovik::ImportOutcome::WriteFailed)
        text += translated(tovik::kImportStoppedAtTemplate).arg(result.stoppedAtLine);
    return text;
}

// NotRestorableNotice, translated: the count, then the first examples as they are.
QString notRestorableText(const tovik::ExportResult& result) {
    QString text = translated(tovik::kNotRestorableTemplate).arg(result.notRestorable);
    for (const std::u16string& example : result.notRestorableExamples) text += QLatin1Char('\n') + toQString(example);
    if (result.notRestorable > result.notRestorableExamples.size()) text += QStringLiteral("\n…");
    return text;
}

// The path of the first key line among lines ("[A\B]" gives A\B); empty when there is none.
std::u16string firstKeyPath(const tovik::BackupText& lines) {
    if (lines.empty()) return {};
    const std::u16string_view line = lines.front();
    if (line.size() < 2 || line.front() != u'[' || line.back() != u']') return {};
    return std::u16string(line.substr(1, line.size() - 2));
}

}  // namespace

BackupCommands::BackupCommands(CTovikView& view, RegFileCommands& regFiles)
    : QObject(&view), m_view(view), m_regFiles(regFiles) {}

void BackupCommands::OnExport() {
    QString filter;
    const QString fileName = m_view.prompts().saveFileName(&m_view, exportImportFileFilter(), &filter);
    if (fileName.isEmpty()) return;
    if (const tovik::ExportFileFormat format = exportFormatOfFilter(filter);
        format != tovik::ExportFileFormat::Backup) {
        m_regFiles.exportRegFile(m_view.currentRoot(), m_view.currentKeyPath(), localFileName(fileName), format);
        return;
    }

    tovik::BackupExport file(localFileName(fileName));
    // Stopping leaves the chosen file as it was: the export is written beside it and placed at the end.
    LongWorkProgress progress(&m_view, Tovik::tr("エクスポートしています… %1 キー"), 0, true);
    file.setProgress([&progress](std::size_t keys) { return progress.step(keys); });
    m_pExport = &file;
    if (file.begin(m_view.currentRoot())) ExportKey(m_view.currentRoot(), m_view.currentKeyPath());
    m_pExport = nullptr;
    const tovik::ExportResult result = file.finish();
    progress.close();
    // A finished export ends without a message; every other end says why.
    const std::u16string_view message = tovik::exportOutcomeMessage(result.outcome);
    if (!message.empty()) showMessage(m_view, message);
    // After a complete file: what it holds that an import would not give back.
    if (result.outcome == tovik::ExportOutcome::Written && result.notRestorable != 0)
        showMessage(m_view, notRestorableText(result));
}

void BackupCommands::ExportKey(HKEY root, const std::u16string& path) {
    if (m_pExport != nullptr) m_pExport->writeKeyTree(root, path);
}

void BackupCommands::OnImport() {
    const QString fileName = m_view.prompts().openFileName(&m_view, exportImportFileFilter());
    if (!fileName.isEmpty()) importFile(fileName);
}

void BackupCommands::importFile(const QString& fileName) {
    // The first line tells a .reg file from a backup file, whatever the file's name.
    if (isRegFileAt(localFileName(fileName))) return m_regFiles.importRegFile(localFileName(fileName));
    // Running out of memory anywhere in the import is a message, never an abort.
    try {
        int error = 0;
        std::optional<tovik::BackupFileLines> file = tovik::readBackupFileAt(localFileName(fileName), &error);
        if (!file) {
            // A file that cannot be opened: nothing happens. A folder, FIFO or device is never read.
            if (error == tovik::kNotRegularFile) showMessage(m_view, tovik::kImportNotRegularFileMessage);
            if (error == ENOMEM) showMessage(m_view, tovik::kImportOutOfMemoryMessage);
            return;
        }

        m_importLines.clear();
        if (!file->underTwoBytes) {
            m_view.setModified();
            if (file->notUnicode) {
                showMessage(m_view, tovik::kImportNotUnicodeMessage);
                return;
            }
            m_importLines = std::move(file->lines);
            file.reset();
        }

        CImportConfirmDlg dialog(&m_view);
        dialog.m_pLines = &m_importLines;
        if (tovik::Backend* registry = tovik::currentBackend())
            dialog.m_preview = [this, registry] { return importPreviewLines(m_importLines, *registry); };
        if (m_view.prompts().DoModal(dialog) != IDOK) {
            m_importLines.clear();
            return;
        }
        if (!tovik::isBackupHeaderLine(TakeImportLine())) {
            showMessage(m_view, tovik::kImportFormatErrorMessage);
            return;
        }
        const HKEY root = tovik::rootFromBackupRootLine(TakeImportLine());
        if (root == 0) {
            showMessage(m_view, tovik::kImportNoRootKeyMessage);
            return;
        }
        ImportKeys(root);
        m_importLines.clear();
    } catch (const std::bad_alloc&) {
        m_importLines.clear();
        showMessage(m_view, tovik::kImportOutOfMemoryMessage);
    }
}

std::u16string BackupCommands::TakeImportLine() {
    if (m_importLines.empty()) return {};
    std::u16string line(m_importLines.front());
    m_importLines.pop_front();
    return line;
}

void BackupCommands::ImportKeys(HKEY root) {
    const std::u16string firstKey = firstKeyPath(m_importLines);
    const std::size_t lines = m_importLines.size();
    // Stopping keeps what was written: the importer commits it, and the message says where it ended.
    LongWorkProgress progress(&m_view, Tovik::tr("インポートしています…"), lines, true);
    tovik::BackupLineImporter importer(root);
    std::size_t taken = 0;
    while (importer.take(TakeImportLine())) {
        if (!progress.step(++taken)) break;
    }
    progress.close();
    // Closes the last key and commits before any message, so that other programs can write to
    // the registry while a message is open.
    const tovik::ImportResult result = importer.finish();

    if (result.outcome == tovik::ImportOutcome::BrokenLine) {
        // What was written stays; the view keeps showing what it showed before.
        showMessage(m_view, tovik::kImportBrokenFileMessage);
        showUnknownTagNotice(m_view, result);
        return;
    }
    // Never the end message when the store did not keep everything: say how much and why.
    QString message;
    if (!result.allWritten()) {
        message = importNotWrittenText(result);
    } else if (progress.cancelled()) {
        // The header, the root line and the lines taken: the last line written.
        message = translated(tovik::kImportCancelledTemplate).arg(taken + 2);
    } else {
        message = translated(tovik::kImportFinishedMessage);
    }
    resetAfterImport(m_view, message);
    if (!firstKey.empty()) m_view.expandKeyPath(root, firstKey);
    showUnknownTagNotice(m_view, result);
}
