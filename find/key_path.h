#pragma once
// Key paths as the user types and copies them: "HKEY_LOCAL_MACHINE\Software\Sample".
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "registry/win_types.h"

namespace tovik::find {

enum class KeyPathError {
    None,
    Empty,         // nothing but white space
    UnknownRoot,   // the first name is none of the roots
    EmptyName,     // two backslashes in a row, or a leading backslash
    NameTooLong,   // a name longer than a key name can be
    TooDeep,       // more names than a key can be deep
};

struct ParsedKeyPath {
    HKEY root = 0;
    std::u16string path;  // the names below the root joined by single backslashes, as typed
    KeyPathError error = KeyPathError::None;
    bool ok() const { return error == KeyPathError::None; }
};

// The root of "HKEY_CLASSES_ROOT", "HKCR", "HKEY_CURRENT_USER", "HKCU", "HKEY_LOCAL_MACHINE" or
// "HKLM", in any case; 0 for anything else.
HKEY ParseRootName(std::u16string_view name);

// Reads a typed or pasted path: a root (long or short name, any case), then optionally a
// backslash and names. White space around the whole text and one trailing backslash are
// ignored; spaces inside names are kept.
ParsedKeyPath ParseKeyPath(std::u16string_view text);

// "HKEY_LOCAL_MACHINE\Software\Sample" from the root and the path below it; the root's name
// alone for the empty path.
std::u16string FullKeyPath(HKEY root, std::u16string_view path);

// The names of a path ("A\B" gives "A", "B"; the empty path none).
std::vector<std::u16string_view> SplitKeyPath(std::u16string_view path);

struct ResolvedKeyPath {
    bool exists = false;
    // The longest part of the path that exists, with each name as the registry keeps it (its
    // case); the whole path when it exists, empty when not even the first name does.
    std::u16string existingPath;
    std::size_t existingNames = 0;  // how many names of the asked path that part holds
    std::u16string missingName;     // the first name that does not exist, as it was asked for
};

// Looks the path up in the current registry, name by name.
ResolvedKeyPath ResolveKeyPath(HKEY root, std::u16string_view path);

}  // namespace tovik::find
