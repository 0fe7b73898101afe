#include "app/compare_opener.h"

#include "history/history_location.h"
#include "stores/open_backend.h"
#include "stores/sqlite/sqlite_store.h"
#include "view/command_support.h"

std::unique_ptr<tovik::Backend> openCompareTarget(const CompareTarget& target, QString& error) {
    if (target.kind == CompareTarget::Kind::RegFile || target.kind == CompareTarget::Kind::BackupFile)
        return tovik::openSqliteMemoryStore();
    tovik::RegistrySource source;
    switch (target.kind) {
    case CompareTarget::Kind::WinePrefix: source.kind = tovik::RegistrySource::Kind::WinePrefix; break;
    // Hive files are read only: a comparison reads them, and writing to a Windows installation
    // is asked for where it is opened (レジストリを開く... with its write box).
    case CompareTarget::Kind::Windows: source.kind = tovik::RegistrySource::Kind::Windows; break;
    case CompareTarget::Kind::Hive:
        source.kind = tovik::RegistrySource::Kind::Hive;
        source.mountAs = target.mountAs.toStdString();
        break;
    default: source.kind = tovik::RegistrySource::Kind::StoreFile; break;
    }
    source.path = localFileName(target.location);
    std::unique_ptr<tovik::Backend> backend;
    const tovik::StoreOpenResult opened = tovik::openRegistryBackend(source, backend);
    if (!opened.ok) {
        error = QString::fromStdString(opened.error);
        return nullptr;
    }
    // Changes applied from the 比較結果 window go into that registry's own history, as when it is
    // opened in the main window; a registry that may only be read needs none.
    if (backend->readOnly()) return backend;
    const std::string identity = target.kind == CompareTarget::Kind::WinePrefix
                                     ? tovik::registryIdentity("wine", source.path)
                                     : tovik::registryIdentity("store", source.path);
    return tovik::history::recordChanges(std::move(backend), identity).backend;
}
