#pragma once
// The lines of the .reg import confirmation's preview: what the file would change in the registry
// as it is now, each line starting with its sign (+ added or created, − deleted, ≠ changed with
// old → new), values below the key they belong to, the unchanged ones only counted.
#include <QStringList>
#include <string_view>

#include "registry/backend.h"

QStringList importPreviewLines(std::u16string_view regText, tovik::Backend& registry);
