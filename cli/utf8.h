#pragma once
// The command line's text conversions are the registry's (registry/utf8.h).
#include "registry/utf8.h"

namespace tovik::cli {

using tovik::AppendUtf8;
using tovik::Utf16ToUtf8;
using tovik::Utf8ToUtf16;

}  // namespace tovik::cli
