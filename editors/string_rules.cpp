#include "editors/string_rules.h"

bool IsUnnamedValueName(std::u16string_view name) { return name == kUnnamedValueName; }

bool NameAllowsOk(std::u16string_view name) { return !name.empty(); }
