#pragma once
// .reg files beside the view: the Export and Import file dialogs offer them beside the backup
// file and hand them here. The file work is the plain C++ of regfile/ and
// backup/backup_export.h, which tovik-reg runs as well.
#include <QObject>
#include <QString>
#include <string>

#include "backup/backup_export.h"
#include "registry/win_types.h"

class CTovikView;

// The file dialogs' filters: the backup file first (the default), then the two .reg versions.
QString exportImportFileFilter();
// The export format of a filter the save dialog returned; the backup file for any other.
tovik::ExportFileFormat exportFormatOfFilter(const QString& filter);

// Whether the file's first line is a .reg header (of either version), whatever its name.
bool isRegFileAt(const std::string& fileName);

class RegFileCommands : public QObject {
public:
    explicit RegFileCommands(CTovikView& view);

    // Writes root\path and everything below it as a .reg file; failures say why in a message.
    void exportRegFile(HKEY root, const std::u16string& path, const std::string& fileName,
                       tovik::ExportFileFormat format);
    // Shows the file's lines for confirmation; on OK applies them (deletions included) and resets
    // the view as a backup import does, then tells the counts.
    void importRegFile(const std::string& fileName);

private:
    CTovikView& m_view;
};
