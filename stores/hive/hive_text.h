#pragma once
// Names between hivex and the registry. Text converts strictly both ways (registry/utf8.h): a
// name that cannot be written exactly is refused rather than changed.
#include <string_view>

#include "registry/utf8.h"

namespace tovik::hive {

// Printable ASCII only: the names whose hash hivex computes as Windows does.
bool isPlainAsciiName(std::u16string_view name);

}  // namespace tovik::hive
