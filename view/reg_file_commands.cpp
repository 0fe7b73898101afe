#include "view/reg_file_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "backup/backup_import.h"
#include "backup/gui/import_confirm_dlg.h"
#include "regfile/reg_import.h"
#include "regfile/reg_lines.h"
#include "regfile/reg_text.h"
#include "ui/qt_text.h"
#include "view/tovik_view.h"

namespace {

constexpr std::u16string_view kBackupFilter = u"ﾚｼﾞｽﾄﾘ退避ﾌｧｲﾙ(*.txt)";
constexpr std::u16string_view kRegFilter = u"登録ファイル(*.reg)";
constexpr std::u16string_view kReg4Filter = u"登録ファイル REGEDIT4(*.reg)";

void ShowMessage(CTovikView& view, std::u16string_view text) {
    view.Prompts().MessageBox(&view, ToQString(text), MessageButtons::Ok);
}

}  // namespace

QString ExportImportFileFilter() {
    return ToQString(kBackupFilter) + QStringLiteral(";;") + ToQString(kRegFilter) + QStringLiteral(";;") +
           ToQString(kReg4Filter) + QStringLiteral(";;") + QString::fromUtf16(u"全て(*.*)");
}

tovik::ExportFileFormat ExportFormatOfFilter(const QString& filter) {
    if (filter == ToQString(kRegFilter)) return tovik::ExportFileFormat::Reg;
    if (filter == ToQString(kReg4Filter)) return tovik::ExportFileFormat::Reg4;
    return tovik::ExportFileFormat::Backup;
}

bool IsRegFileAt(const std::string& fileName) {
    // A FIFO or device is never read: the backup import then says what it is.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    BYTE head[512];
    ssize_t got = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    return got > 0 && tovik::SniffRegFileFormat(head, static_cast<std::size_t>(got)) != tovik::RegFileFormat::Unknown;
}

void ExportRegFileFromView(CTovikView& view, HKEY root, const std::u16string& path, const std::string& fileName,
                           tovik::ExportFileFormat format) {
    const tovik::ExportResult result = tovik::ExportKeyToFile(fileName, root, path, format);
    const std::u16string_view message = tovik::ExportOutcomeMessage(result.outcome);
    if (!message.empty()) ShowMessage(view, message);
}

void ImportRegFileFromView(CTovikView& view, const std::string& fileName) {
    // Running out of memory anywhere in the import is a message, never an abort.
    try {
        int error = 0;
        std::optional<tovik::RegFileText> file = tovik::ReadRegFileAt(fileName, &error);
        if (!file) {
            if (error == ENOMEM) ShowMessage(view, tovik::kImportOutOfMemoryMessage);
            return;  // a file that cannot be opened: nothing happens, as for a backup file
        }
        const tovik::RegFileLineIndex lines(file->text);
        CImportConfirmDlg dialog;
        dialog.m_pRegLines = &lines;
        if (view.Prompts().DoModal(dialog) != IDOK) return;

        const tovik::RegFileImportReport report = tovik::ImportRegFileText(file->text);
        // Lines that could not be read are the broken-file message, but unlike a backup file the
        // import went on after them: the view is reset all the same.
        const std::u16string notWritten = tovik::RegFileNotWrittenMessage(report);
        view.ResetAfterImport(!notWritten.empty()           ? notWritten
                              : report.linesMalformed != 0 ? std::u16string(tovik::kImportBrokenFileMessage)
                                                           : std::u16string(tovik::kImportFinishedMessage));
        ShowMessage(view, tovik::RegFileImportSummary(report));
    } catch (const std::bad_alloc&) {
        ShowMessage(view, tovik::kImportOutOfMemoryMessage);
    }
}
