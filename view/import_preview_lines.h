#pragma once
// The lines of the import confirmation's preview (a .reg file or a backup file): what the file would change in the registry
// as it is now, each line starting with its sign (+ added or created, − deleted, ≠ changed with
// old → new), values below the key they belong to, the unchanged ones only counted.
#include <QStringList>
#include <string_view>

#include "backup/backup_format.h"
#include "registry/backend.h"

QStringList importPreviewLines(std::u16string_view regText, tovik::Backend& registry);
QStringList importPreviewLines(const tovik::BackupText& lines, tovik::Backend& registry);
