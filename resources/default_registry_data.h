#pragma once
// The default device registry as a backup file (mark, header, root and key lines), built into the program.
#include <cstddef>

namespace tovik {
extern const unsigned char kDefaultRegistryData[];
extern const std::size_t kDefaultRegistrySize;
}  // namespace tovik
