#pragma once
// Export and Import beside the view: the file dialogs, the confirmation and the messages. The
// export walk and the line-by-line import of backup files are the plain C++ of backup/, which
// tovik-reg runs as well; .reg files chosen in the same dialogs go to RegFileCommands.
#include <QObject>
#include <QString>
#include <string>

#include "backup/backup_format.h"
#include "registry/win_types.h"

class CTovikView;
class RegFileCommands;
namespace tovik {
class BackupExport;
}

class BackupCommands : public QObject {
public:
    BackupCommands(CTovikView& view, RegFileCommands& regFiles);

    void OnExport();
    void ExportKey(HKEY root, const std::u16string& path);
    void OnImport();
    // The import of a file already chosen (the file dialog's, or one named on the command line).
    void importFile(const QString& fileName);

    // Lines of a backup file read but not yet imported; empty between imports.
    const tovik::BackupText& pendingImportLines() const { return m_importLines; }
    // Whether an export is writing its file.
    bool isExporting() const { return m_pExport != nullptr; }

private:
    std::u16string TakeImportLine();
    void ImportKeys(HKEY root);

    CTovikView& m_view;
    RegFileCommands& m_regFiles;
    tovik::BackupText m_importLines;           // the lines of the file being imported, in one buffer
    tovik::BackupExport* m_pExport = nullptr;  // the file ExportKey writes to, during OnExport
};
