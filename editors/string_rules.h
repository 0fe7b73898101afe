#pragma once
// The string editor's rules.
#include <string_view>

// The value list's name for a key's unnamed value; the string editor keeps it from being renamed.
inline constexpr std::u16string_view kUnnamedValueName = u"@";

// Only the exact name "@" makes the name edit read-only.
bool isUnnamedValueName(std::u16string_view name);

// Every editor closes with OK only while its name is not empty.
bool nameAllowsOk(std::u16string_view name);
