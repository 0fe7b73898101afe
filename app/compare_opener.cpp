#include "app/compare_opener.h"

#include "history/history_location.h"
#include "stores/open_backend.h"
#include "stores/sqlite/sqlite_store.h"
#include "view/command_support.h"

std::unique_ptr<tovik::Backend> openCompareTarget(const CompareTarget& target, QString& error) {
    if (target.kind == CompareTarget::Kind::RegFile) return tovik::openSqliteMemoryStore();
    tovik::RegistrySource source;
    source.kind = target.kind == CompareTarget::Kind::WinePrefix ? tovik::RegistrySource::Kind::WinePrefix
                                                                 : tovik::RegistrySource::Kind::StoreFile;
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
