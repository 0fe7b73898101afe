#include "editors/string_rules.h"

bool isUnnamedValueName(std::u16string_view name) {
    return name == kUnnamedValueName;
}

bool nameAllowsOk(std::u16string_view name) {
    return !name.empty();
}
