#pragma once
// Reading other programs' files without trusting them: a size limit, no special files, no
// blocking on a FIFO; and what makes a folder a Wine prefix.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tovik::discover {

// The bytes of the regular file at path, or nothing when it is missing, unreadable, not a
// regular file or larger than maxBytes.
std::optional<std::string> readConfigFile(const std::filesystem::path& path, std::size_t maxBytes = 4u << 20);

// Whether folder holds a Wine registry (system.reg or user.reg); then when its newest registry
// file changed, in seconds since 1970.
std::optional<std::int64_t> winePrefixChangedAt(const std::filesystem::path& folder);
bool isWinePrefix(const std::filesystem::path& folder);

// A path from a configuration file: a leading ~/ is home; anything but an absolute path is refused
// (empty).
std::filesystem::path expandHome(const std::string& text, const std::string& home);

}  // namespace tovik::discover
