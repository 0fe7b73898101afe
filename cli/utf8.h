#pragma once
// The command line's text conversions are the registry's (registry/utf8.h).
#include "registry/utf8.h"

namespace tovik::cli {

using tovik::appendUtf8;
using tovik::utf16ToUtf8;
using tovik::utf8ToUtf16;

}  // namespace tovik::cli
