#pragma once
// The file work around a hive that hivex leaves to its caller: finding names as a copied NTFS
// disk spells them, noticing what Windows left unfinished, and locking it against a second
// writer. Reading, copying and replacing the file itself are files/'s.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_identity.h"

namespace tovik::hive {

using files::FileIdentity;

std::string folderOf(const std::string& path);
std::string fileNameOf(const std::string& path);

// The entries of folder whose names equal name ignoring ASCII case (NTFS names copied to a
// case-sensitive disk may come in any case). Empty when there is none or the folder is unreadable.
std::vector<std::string> entriesNamedIgnoringCase(const std::string& folder, std::string_view name);

// A sentence saying that Windows did not shut down cleanly, when the hive's base block shows an
// unfinished write (its two sequence numbers differ) or a transaction log beside it (NAME.LOG1,
// NAME.LOG2) is newer than the hive and not empty; empty when the hive looks clean.
std::string unfinishedWindowsWriteReason(const std::string& hivePath);

// An exclusive advisory lock on the hive's folder (the hive itself is replaced on every save, so
// a lock on it would not outlive the first save), held while the object lives. Locks of one
// process on one folder share it: hives beside each other can be written in one batch.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool locked() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }

private:
    std::string folder_;
    int fd_ = -1;
    std::string error_;
};

}  // namespace tovik::hive
