#pragma once
// Which file a path names and how it was when looked at: equal identities mean that nobody
// replaced or rewrote the file in between.
#include <cstdint>
#include <optional>
#include <string>

#include <sys/stat.h>

namespace tovik::files {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const struct stat& st);
// The file that path names now (a link is followed); nullopt when it cannot be looked at.
std::optional<FileIdentity> identityOf(const std::string& path);

}  // namespace tovik::files
