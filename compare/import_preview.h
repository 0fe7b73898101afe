#pragma once
// What importing a .reg file or a backup file would change in a registry, found without writing anything: each
// value that would be added, changed (old and new) or deleted, each key that would be created or
// deleted, and the values it would write as they are already. The file's lines are taken in order
// as an import takes them, so that a later line sees what an earlier one would have done (a key
// deleted and made again, a value written twice).
#include <cstddef>
#include <string_view>

#include "backup/backup_format.h"
#include "backup/backup_import.h"
#include "compare/tree_compare.h"
#include "regfile/reg_format.h"
#include "registry/backend.h"
#include "registry/win_types.h"

namespace tovik {

enum class PreviewKind {
    KeyCreated,
    KeyDeleted,  // with everything below it
    ValueAdded,
    ValueChanged,  // another type or other data than now
    ValueDeleted,
    ValueUnchanged,  // written as it is already
};

// One change; views and pointers hold until the sink returns.
struct PreviewEntry {
    PreviewKind kind = PreviewKind::ValueUnchanged;
    std::size_t line = 0;  // the file's line that makes it
    HKEY root = 0;
    std::u16string_view path;  // the key below the root, as the file names it
    std::u16string_view name;  // values: "" for the unnamed value
    ValueData before;          // ValueChanged, ValueDeleted, ValueUnchanged
    ValueData after;           // ValueAdded, ValueChanged, ValueUnchanged
};

class PreviewSink {
public:
    virtual ~PreviewSink() = default;
    // False stops the preview.
    virtual bool onPreview(const PreviewEntry& entry) = 0;
};

struct ImportPreviewResult {
    RegFileFormat format = RegFileFormat::Unknown;  // .reg: Unknown, UnknownHeader: nothing was read
    bool backupFile = false;
    // A backup file: Finished, BrokenLine (the lines before brokenLine are taken), FormatError or
    // NoRootKey (nothing is read), as the import would end.
    ImportOutcome backupOutcome = ImportOutcome::Finished;
    std::size_t brokenLine = 0;  // 1-based, the header is line 1
    bool stopped = false;
    std::size_t keysCreated = 0, keysDeleted = 0;
    std::size_t valuesAdded = 0, valuesChanged = 0, valuesDeleted = 0, valuesUnchanged = 0;
    std::size_t linesSkipped = 0;  // lines an import would skip (malformed, other roots, no key)
    bool ok() const {
        if (backupFile) return backupOutcome == ImportOutcome::Finished || backupOutcome == ImportOutcome::BrokenLine;
        return format == RegFileFormat::Version5 || format == RegFileFormat::Regedit4;
    }
    std::size_t changes() const { return keysCreated + keysDeleted + valuesAdded + valuesChanged + valuesDeleted; }
};

// Previews importing text (a whole file, as DecodeRegFileBytes gives it) into registry, which is
// only read. Strings are compared as the comparison compares them (up to a terminating zero).
ImportPreviewResult previewRegFileImport(std::u16string_view text, Backend& registry, PreviewSink& sink);
// The same for a backup file's lines, header first (as readBackupFile gives them). Only keys
// created and values added, changed or unchanged come of it: a backup file deletes nothing.
ImportPreviewResult previewBackupImport(const BackupText& lines, Backend& registry, PreviewSink& sink);

}  // namespace tovik
