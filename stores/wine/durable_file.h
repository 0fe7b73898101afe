#pragma once
// Reading a whole file, and replacing one so that a crash at any moment leaves either the old or
// the new content: a new file beside it, synced, renamed over it, and the folder synced.
#include <string>
#include <sys/types.h>

namespace tovik::wine {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    long long modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Reads `path` into `bytes`; false with `error` set to a sentence naming the file.
bool readWholeFile(const std::string& path, std::string& bytes, FileIdentity& identity,
                   std::string& error);
bool fileIdentity(const std::string& path, FileIdentity& identity);
// Replaces (or creates) `path` with `bytes`, with the mode, owner and group of `like` when that
// file exists, else `mode`. Resolves a symbolic link at `path` and replaces its target.
bool replaceFileDurably(const std::string& path, const std::string& bytes, const std::string& like,
                        mode_t mode, std::string& error);
bool pathExists(const std::string& path);

}  // namespace tovik::wine
