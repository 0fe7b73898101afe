#pragma once
// A registry to open in a window of its own: what the chooser returns, what the recent list
// keeps, and the options of the tovik program that open it.
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "discover/found_registry.h"

struct RegistryRequest {
    enum class Kind { UserStore, StoreFile, WinePrefix, Windows, Hive };
    Kind kind = Kind::UserStore;
    QString path;           // store file, prefix folder, Windows folder or hive file
    QString userHive;       // Windows: the user's NTUSER.DAT, optional
    QString mountAs;        // Hive: the key the hive is shown under
    bool writable = false;  // Windows and Hive: changes allowed
    QString name;           // the game's or bottle's name where known; shown in the window's title
    QString kindLabel;      // what the lists show as its kind: Proton, Lutris, Wine, Windows, ...

    bool operator==(const RegistryRequest& other) const;  // the same registry, whatever its name
};

// The request that opens a registry discovery found.
RegistryRequest requestOfFound(const tovik::discover::FoundRegistry& found);
// How the lists show a discovered registry's kind.
QString kindLabelOf(tovik::discover::RegistryKind kind);

// The tovik options that open the request's registry in a new process, values joined with '='
// so that no path is taken for an option.
QStringList launchArguments(const RegistryRequest& request);

// One line of JSON for the settings file, and back; nothing for a line that is not one.
QString encodeRequest(const RegistryRequest& request);
std::optional<RegistryRequest> decodeRequest(const QString& text);

// Puts request first in recent, dropping an older entry of the same registry and any beyond most.
QList<RegistryRequest> withRecent(QList<RegistryRequest> recent, const RegistryRequest& request, int most = 10);
