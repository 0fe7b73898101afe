#pragma once
// The vocabulary shared by the .reg reader and writer: the two versions, their header lines and
// the root names of key lines.
#include <string_view>

#include "registry/win_types.h"

namespace tovik {

enum class RegFileFormat {
    Unknown,        // the first line is no header at all: not a .reg file
    Regedit4,       // "REGEDIT4": 8-bit text; string data of hex(1), hex(2), hex(7) is 8-bit text
    Version5,       // "Windows Registry Editor Version 5.00": string data is UTF-16LE
    UnknownHeader,  // a .reg header of another version ("REGEDIT3", "REGEDIT 4", "regedit4", the
                    // 16-bit "REGEDIT", ...): refused with a message, nothing is read
};

inline constexpr std::u16string_view kRegedit4Header = u"REGEDIT4";
inline constexpr std::u16string_view kVersion5Header = u"Windows Registry Editor Version 5.00";

// The version a first line names: leading and trailing blanks are allowed, the words are exact.
// A line that starts with "REGEDIT" or "Windows Registry Editor" in any case but is neither
// header is UnknownHeader.
RegFileFormat RegFileFormatFromHeader(std::u16string_view line);

// The handles of the roots that Tovik does not hold; their keys are skipped on import.
inline constexpr HKEY kRegOtherRoot = 0xFFFFFFFFu;

// The root that a key line's path starts with ("HKEY_LOCAL_MACHINE" or "HKLM", in any case),
// followed by the end or a backslash. The three roots give their handle; HKEY_USERS,
// HKEY_CURRENT_CONFIG, HKEY_DYN_DATA and HKEY_PERFORMANCE_DATA give kRegOtherRoot; anything else
// gives 0. rest receives what follows the backslash (empty for a root alone).
HKEY parseRegRootPath(std::u16string_view keyPath, std::u16string_view* rest);

}  // namespace tovik
