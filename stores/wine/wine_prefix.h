#pragma once
// A Wine prefix opened for editing: system.reg is HKEY_LOCAL_MACHINE, user.reg is
// HKEY_CURRENT_USER, and HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes itself.
//
// Writes go through beginWrite() and commitWrite(): the prefix is locked (flock on its folder)
// from before the files are checked for changes by another program until they are saved, so two
// Tovik processes never lose each other's changes. For the same time Tovik holds the lock that a
// wineserver takes as it starts, so no wineserver can load the files in between and write the old
// content back later. A prefix whose wineserver runs is read-only. A file that another program
// replaced or rewrote after it was read is never saved over: the write fails and says so.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "files/file_identity.h"
#include "stores/wine/wine_registry_file.h"
#include "stores/wine/wineserver_check.h"

namespace tovik::wine {

using files::FileIdentity;

class WinePrefix {
public:
    // Opens the prefix at `dir`. On failure returns nullptr with `error` set to an English
    // sentence: not a folder, not a prefix (no system.reg and user.reg), an unreadable file, or
    // a file Wine would reject (another format version, an unknown or mismatched architecture).
    static std::unique_ptr<WinePrefix> open(const std::string& dir, std::string& error);
    ~WinePrefix();

    const std::string& directory() const { return dir_; }
    bool readOnly() const { return !readOnlyReason_.empty(); }
    const std::string& readOnlyReason() const { return readOnlyReason_; }

    WineRegistryFile& machine() { return *machine_; }
    WineRegistryFile& user() { return *user_; }
    WineKey& localMachine() { return machine_->root(); }
    WineKey& currentUser() { return user_->root(); }
    // HKEY_LOCAL_MACHINE\Software\Classes, or nullptr when the prefix has none.
    WineKey* classesRoot();
    // The file a key belongs to.
    WineRegistryFile& fileOf(const WineKey& key);

    // Counts reloads: every WineKey pointer obtained before a reload is invalid after it.
    std::uint64_t generation() const { return generation_; }
    // Reads the files again when another program replaced them since they were read. Returns
    // false with `error` set when they can no longer be read (the old content stays).
    bool refresh(std::string& error);

    // Starts a write: refuses a read-only prefix (and a newly started wineserver), locks the
    // prefix, and reloads files that changed under us (see generation()).
    bool beginWrite(std::string& error);
    // Saves every changed file and unlocks. Keeps a copy of a file as <name>.tovik-backup before
    // Tovik first changes it. Fails when a file to save is no longer the one that was read. On
    // failure nothing of the batch is kept: the files are read again, and `error` says why.
    bool commitWrite(std::string& error);
    // Drops the batch's changes (the files are read again) and unlocks.
    void abortWrite();
    bool writing() const { return lockFd_ >= 0; }

private:
    WinePrefix() = default;
    bool load(std::string& error);
    bool loadFile(const std::string& name, std::unique_ptr<WineRegistryFile>& file, FileIdentity& identity,
                  std::size_t& content, std::string& error);
    bool saveFile(const std::string& name, const WineRegistryFile& file, FileIdentity& identity, std::size_t& content,
                  std::string& error);
    // True when the file `name` is still the one read or saved last (identity and content).
    bool stillAsRead(const std::string& name, const FileIdentity& identity, std::size_t content,
                     std::string& error) const;
    bool changedOnDisk() const;
    void unlock();

    std::string dir_;
    std::unique_ptr<WineRegistryFile> machine_;
    std::unique_ptr<WineRegistryFile> user_;
    FileIdentity machineId_;
    FileIdentity userId_;
    std::size_t machineContent_ = 0;  // hashes of the bytes read or saved last
    std::size_t userContent_ = 0;
    WineserverLock wineserverLock_;  // held while writing
    std::string readOnlyReason_;
    std::uint64_t generation_ = 0;
    int lockFd_ = -1;
    std::uint64_t machineSaved_ = 0;  // editCount() of each file at its last save
    std::uint64_t userSaved_ = 0;
};

}  // namespace tovik::wine
