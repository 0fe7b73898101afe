// The view's Export and Import commands: the file dialogs, the confirmation and the messages.
// The export walk and the line-by-line import are the plain C++ of backup_export.h and
// backup_import.h, which tovik-reg runs as well.
#include <QFile>
#include <cerrno>
#include <new>

#include "backup/backup_export.h"
#include "backup/backup_format.h"
#include "backup/backup_import.h"
#include "backup/gui/import_confirm_dlg.h"
#include "ui/long_work_progress.h"
#include "ui/qt_text.h"
#include "view/reg_file_commands.h"
#include "view/tovik_view.h"
#include "ui/translated.h"

namespace {

std::string LocalFileName(const QString& path) { return QFile::encodeName(path).toStdString(); }

void ShowMessage(CTovikView& view, const QString& text) { view.Prompts().MessageBox(&view, text, MessageButtons::Ok); }
void ShowMessage(CTovikView& view, std::u16string_view text) { ShowMessage(view, Translated(text)); }

// After the import's own message: how many value lines had a tag the reader does not know.
void ShowUnknownTagNotice(CTovikView& view, const tovik::ImportResult& result) {
    if (result.valueLinesUnknownTag != 0)
        ShowMessage(view, Translated(tovik::kUnknownTagNoticeTemplate).arg(result.valueLinesUnknownTag));
}

// ImportNotWrittenMessage, translated.
QString ImportNotWrittenText(const tovik::ImportResult& result) {
    QString text = Translated(tovik::kImportNotWrittenTemplate)
                       .arg(result.valuesNotWritten())
                       .arg(result.keysNotWritten())
                       .arg(Translated(tovik::WriteErrorReason(result.writeError)));
    if (result.outcome == tovik::ImportOutcome::WriteFailed)
        text += Translated(tovik::kImportStoppedAtTemplate).arg(result.stoppedAtLine);
    return text;
}

// NotRestorableNotice, translated: the count, then the first examples as they are.
QString NotRestorableText(const tovik::ExportResult& result) {
    QString text = Translated(tovik::kNotRestorableTemplate).arg(result.notRestorable);
    for (const std::u16string& example : result.notRestorableExamples) text += QLatin1Char('\n') + ToQString(example);
    if (result.notRestorable > result.notRestorableExamples.size()) text += QStringLiteral("\n…");
    return text;
}

// The path of the first key line among lines ("[A\B]" gives A\B); empty when there is none.
std::u16string FirstKeyPath(const tovik::BackupText& lines) {
    if (lines.empty()) return {};
    const std::u16string_view line = lines.front();
    if (line.size() < 2 || line.front() != u'[' || line.back() != u']') return {};
    return std::u16string(line.substr(1, line.size() - 2));
}

}  // namespace

void CTovikView::OnExport() {
    QString filter;
    const QString fileName = Prompts().SaveFileName(this, ExportImportFileFilter(), &filter);
    if (fileName.isEmpty()) return;
    if (const tovik::ExportFileFormat format = ExportFormatOfFilter(filter); format != tovik::ExportFileFormat::Backup) {
        ExportRegFileFromView(*this, m_hRootKey, m_strKeyPath, LocalFileName(fileName), format);
        return;
    }

    tovik::BackupExport file(LocalFileName(fileName));
    // Stopping leaves the chosen file as it was: the export is written beside it and placed at the end.
    LongWorkProgress progress(this, Tovik::tr("エクスポートしています… %1 キー"), 0, true);
    file.SetProgress([&progress](std::size_t keys) { return progress.Step(keys); });
    m_pExport = &file;
    if (file.Begin(m_hRootKey)) ExportKey(m_hRootKey, m_strKeyPath);
    m_pExport = nullptr;
    const tovik::ExportResult result = file.Finish();
    progress.Close();
    // A finished export ends without a message; every other end says why.
    const std::u16string_view message = tovik::ExportOutcomeMessage(result.outcome);
    if (!message.empty()) ShowMessage(*this, message);
    // After a complete file: what it holds that an import would not give back.
    if (result.outcome == tovik::ExportOutcome::Written && result.notRestorable != 0)
        ShowMessage(*this, NotRestorableText(result));
}

void CTovikView::ExportKey(HKEY root, const std::u16string& path) {
    if (m_pExport != nullptr) m_pExport->WriteKeyTree(root, path);
}

void CTovikView::OnImport() {
    const QString fileName = Prompts().OpenFileName(this, ExportImportFileFilter());
    if (!fileName.isEmpty()) ImportFile(fileName);
}

void CTovikView::ImportFile(const QString& fileName) {
    // The first line tells a .reg file from a backup file, whatever the file's name.
    if (IsRegFileAt(LocalFileName(fileName))) return ImportRegFileFromView(*this, LocalFileName(fileName));
    // Running out of memory anywhere in the import is a message, never an abort.
    try {
        int error = 0;
        std::optional<tovik::BackupFileLines> file = tovik::ReadBackupFileAt(LocalFileName(fileName), &error);
        if (!file) {
            // A file that cannot be opened: nothing happens. A folder, FIFO or device is never read.
            if (error == tovik::kNotRegularFile) ShowMessage(*this, tovik::kImportNotRegularFileMessage);
            if (error == ENOMEM) ShowMessage(*this, tovik::kImportOutOfMemoryMessage);
            return;
        }

        m_importLines.clear();
        if (!file->underTwoBytes) {
            SetModified();
            if (file->notUnicode) {
                ShowMessage(*this, tovik::kImportNotUnicodeMessage);
                return;
            }
            m_importLines = std::move(file->lines);
            file.reset();
        }

        CImportConfirmDlg dialog(this);
        dialog.m_pLines = &m_importLines;
        if (Prompts().DoModal(dialog) != IDOK) {
            m_importLines.clear();
            return;
        }
        if (!tovik::IsBackupHeaderLine(TakeImportLine())) {
            ShowMessage(*this, tovik::kImportFormatErrorMessage);
            return;
        }
        const HKEY root = tovik::RootFromBackupRootLine(TakeImportLine());
        if (root == 0) {
            ShowMessage(*this, tovik::kImportNoRootKeyMessage);
            return;
        }
        ImportKeys(root);
        m_importLines.clear();
    } catch (const std::bad_alloc&) {
        m_importLines.clear();
        ShowMessage(*this, tovik::kImportOutOfMemoryMessage);
    }
}

std::u16string CTovikView::TakeImportLine() {
    if (m_importLines.empty()) return {};
    std::u16string line(m_importLines.front());
    m_importLines.pop_front();
    return line;
}

void CTovikView::ImportKeys(HKEY root) {
    const std::u16string firstKey = FirstKeyPath(m_importLines);
    const std::size_t lines = m_importLines.size();
    // Stopping keeps what was written: the importer commits it, and the message says where it ended.
    LongWorkProgress progress(this, Tovik::tr("インポートしています…"), lines, true);
    tovik::BackupLineImporter importer(root);
    std::size_t taken = 0;
    while (importer.Take(TakeImportLine())) {
        if (!progress.Step(++taken)) break;
    }
    progress.Close();
    // Closes the last key and commits before any message, so that other programs can write to
    // the registry while a message is open.
    const tovik::ImportResult result = importer.Finish();

    if (result.outcome == tovik::ImportOutcome::BrokenLine) {
        // What was written stays; the view keeps showing what it showed before.
        ShowMessage(*this, tovik::kImportBrokenFileMessage);
        ShowUnknownTagNotice(*this, result);
        return;
    }
    // Never the end message when the store did not keep everything: say how much and why.
    QString message;
    if (!result.AllWritten()) {
        message = ImportNotWrittenText(result);
    } else if (progress.Cancelled()) {
        // The header, the root line and the lines taken: the last line written.
        message = Translated(tovik::kImportCancelledTemplate).arg(taken + 2);
    } else {
        message = Translated(tovik::kImportFinishedMessage);
    }
    ResetAfterImport(message);
    if (!firstKey.empty()) ExpandKeyPath(root, firstKey);
    ShowUnknownTagNotice(*this, result);
}

void CTovikView::ResetAfterImport(std::u16string_view message) { ResetAfterImport(Translated(message)); }

void CTovikView::ResetAfterImport(const QString& message) {
    m_strKeyPath.clear();
    m_hRootKey = 0;
    ListModel().Clear();
    ShowMessage(*this, message);
    TreeModel().DeleteItem(KeyTreeModel::kRootItem);
    InsertRootKeys();
}
