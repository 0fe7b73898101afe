#pragma once
// The file work around a hive that hivex leaves to its caller: finding names as a copied NTFS
// disk spells them, noticing what Windows left unfinished, keeping a copy before the first
// change, replacing the hive atomically and durably, and locking it against a second writer.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovik::hive {

// Which file a path is and how it was when looked at; a change means someone else wrote it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);
// The same of a file open as fd: the one read through it, whatever the path names by now.
std::optional<FileIdentity> IdentityOfOpenFile(int fd);

std::string FolderOf(const std::string& path);
std::string FileNameOf(const std::string& path);

// The entries of folder whose names equal name ignoring ASCII case (NTFS names copied to a
// case-sensitive disk may come in any case). Empty when there is none or the folder is unreadable.
std::vector<std::string> EntriesNamedIgnoringCase(const std::string& folder, std::string_view name);

// A sentence saying that Windows did not shut down cleanly, when the hive's base block shows an
// unfinished write (its two sequence numbers differ) or a transaction log beside it (NAME.LOG1,
// NAME.LOG2) is newer than the hive and not empty; empty when the hive looks clean.
std::string UnfinishedWindowsWriteReason(const std::string& hivePath);

// Copies the hive to NAME.tovik-backup, durably, unless that file exists already.
bool KeepBackupOnce(const std::string& hivePath, std::string& error);

// Makes the file at newPath (written beside target) durable and renames it over target, giving
// it target's mode, then makes the rename durable. newPath is removed when this fails.
bool ReplaceDurably(const std::string& newPath, const std::string& target, std::string& error);

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
