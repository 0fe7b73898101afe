#pragma once
// A .reg file or a backup file read as a key tree for a comparison, without importing it into any
// registry the user has: its keys and values are written into a Backend of the caller's (an empty
// in-memory store), line by line as an import applies them, deletions included.
#include <cstddef>
#include <string_view>

#include "backup/backup_format.h"
#include "backup/backup_import.h"
#include "regfile/reg_format.h"
#include "registry/backend.h"

namespace tovik {

struct RegFileTreeResult {
    RegFileFormat format = RegFileFormat::Unknown;  // Unknown, UnknownHeader: nothing was read
    std::size_t keys = 0;                           // key lines taken
    std::size_t values = 0;                         // value lines taken
    std::size_t skipped = 0;                        // malformed lines, values without a key, keys of other roots
    bool ok() const { return format == RegFileFormat::Version5 || format == RegFileFormat::Regedit4; }
};

// Reads text (a whole file, as DecodeRegFileBytes gives it) into target.
RegFileTreeResult readRegFileTree(std::u16string_view text, Backend& target);

// Reads a backup file's lines (as readBackupFile gives them) into target as their import into an
// empty registry would write them: a key line whose parent is missing writes nothing, nor do the
// value lines after it, and the data ends at an empty line or a broken one (BrokenLine, with what
// came before it read). FormatError or NoRootKey when the file is no backup file: nothing read.
ImportOutcome readBackupFileTree(const BackupText& lines, Backend& target);

// The key at root\path in backend, or kNoKey.
KeyId findBackendKey(Backend& backend, HKEY root, std::u16string_view path);

// Deletes key with every key below it, deepest first, through backend alone.
void deleteBackendSubtree(Backend& backend, KeyId key);

}  // namespace tovik
