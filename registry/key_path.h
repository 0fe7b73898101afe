#pragma once
// Key paths as people type, paste and copy them, read by one parser wherever a user names a key
// (the command line, the address line, a hive's mount point), and written by one formatter:
// "HKEY_LOCAL_MACHINE\Software\Sample".
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "registry/win_types.h"

namespace tovik {

enum class KeyPathError {
    None,
    Empty,        // nothing but white space
    UnknownRoot,  // the first name is none of the held roots
    EmptyName,    // an empty name between separators: three backslashes in a row, or "//"
    NameTooLong,  // a name longer than a key name can be
    TooDeep,      // more names than a key can be deep
};

struct ParsedKeyPath {
    HKEY root = 0;
    std::u16string path;  // the names below the root joined by single backslashes
    KeyPathError error = KeyPathError::None;
    bool ok() const { return error == KeyPathError::None; }
};

// Reads a key path. Accepted spellings:
//   HKEY_LOCAL_MACHINE\Software, HKLM\Software  the long or short root name, in any case
//   HKLM/Software/Tovik        slashes, in a text without backslashes (a key name may hold '/')
//   HKLM\\Software\\Tovik      doubled backslashes, as escaped text has them
//   \HKLM\Software             a leading separator
//   HKLM:\Software             a drive-like root, as PowerShell names it
//   Computer\HKLM\Software     the address line of the platform's editor, copied
// White space around the whole text and one trailing separator are ignored; names keep their
// spaces and their case.
ParsedKeyPath parseKeyPath(std::u16string_view text);

// "HKEY_LOCAL_MACHINE\Software\Sample" from the root and the path below it; the root's name
// alone for the empty path.
std::u16string fullKeyPath(HKEY root, std::u16string_view path);

// The names of a path joined by single backslashes ("A\B" gives "A", "B"; the empty path none).
std::vector<std::u16string_view> splitKeyPath(std::u16string_view path);

}  // namespace tovik
