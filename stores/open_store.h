#pragma once
// Opens the registry the user named and makes it current: the default store (a SQLite file, the
// user's own or one given, or an in-memory one for tests), a Wine prefix's files, or Windows hive
// files.
#include <memory>
#include <string>

#include "registry/registry_store.h"

namespace tovik {

// Opens (creating when missing, mode 0600) the store file at path and makes it current. A
// corrupt, unreadable or foreign file is never overwritten: the result says why it failed.
StoreOpenResult openRegistryStore(const std::string& path);
// A fresh in-memory store, made current; for tests and fuzzing.
void openInMemoryRegistryStore();

// Makes backend the current registry behind the recording layer of its change history, kept under
// identity (a kind and a canonical path; empty: a history in memory). When the history cannot be
// opened the registry is still opened, and result's notices say that changes cannot be undone.
void makeCurrentWithHistory(std::unique_ptr<Backend> backend, const std::string& identity, StoreOpenResult& result);
// Whether registries opened from now on come with their change history (the default). A process
// that only reads (tovik-reg query, export, find, ...) turns it off: reads then pay nothing for a
// history they never add to.
void setChangeHistoryWanted(bool wanted);
// The identity of a file or folder: kind, ':', its canonical path (the path as given when it
// cannot be resolved).
std::string registryIdentity(const std::string& kind, const std::string& path);

// The registry the user named on the command line.
struct RegistrySource {
    enum class Kind { UserStore, StoreFile, WinePrefix, Windows, Hive };
    Kind kind = Kind::UserStore;
    std::string path;       // store file, prefix folder, Windows folder or hive file
    std::string steamApp;   // --steam-app APPID: a WinePrefix whose folder is that game's Proton prefix
    std::string userHive;   // --user FILE (an NTUSER.DAT) with --windows
    std::string mountAs;    // --as KEY with --hive, e.g. HKLM\SOFTWARE
    bool writable = false;  // --write (hive files open read-only without it)
};

// Opens the registry that source names and makes it current. A WinePrefix without a folder is
// resolved first (ResolveRegistrySource in stores/registry_source_args.h).
StoreOpenResult openRegistry(const RegistrySource& source);

// Default store path: $XDG_DATA_HOME/tovik/registry.db, else ~/.local/share/tovik/registry.db.
std::string defaultRegistryPath();

// The user's registry: the store at the default path (or one given), filled from the default
// device registry that ships with the program the first time it is created.
StoreOpenResult openUserRegistry(const std::string& path = defaultRegistryPath());

}  // namespace tovik
