#include "stores/registry_discovery.h"

#include "stores/wine/wineserver_check.h"

namespace tovik {

void discoverRegistries(const discover::UserFolders& folders, const discover::FoundCallback& onFound,
                        std::stop_token stop) {
    discover::discoverRegistries(
        folders,
        [&onFound](const discover::FoundRegistry& found) {
            if (found.kind == discover::RegistryKind::TovikStore) return onFound(found);
            discover::FoundRegistry withState = found;
            const wine::WineserverState state = wine::checkWineserver(found.folder);
            withState.readOnly = !state.mayWrite;
            withState.readOnlyReason = state.reason;
            onFound(withState);
        },
        std::move(stop));
}

std::vector<discover::FoundRegistry> discoverAllRegistries(const discover::UserFolders& folders) {
    std::vector<discover::FoundRegistry> all;
    tovik::discoverRegistries(folders, [&all](const discover::FoundRegistry& found) { all.push_back(found); });
    return all;
}

}  // namespace tovik
