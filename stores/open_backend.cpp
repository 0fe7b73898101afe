#include "stores/open_backend.h"

#include <filesystem>

#include "language/messages.h"
#include "stores/open_hive_registry.h"
#include "stores/registry_source_args.h"
#include "stores/sqlite/sqlite_store.h"
#include "stores/wine/wine_backend.h"

namespace tovik {

StoreOpenResult openRegistryBackend(const RegistrySource& source, std::unique_ptr<Backend>& backend) {
    StoreOpenResult failed;
    switch (source.kind) {
    case RegistrySource::Kind::UserStore:
    case RegistrySource::Kind::StoreFile: {
        const std::string path = source.kind == RegistrySource::Kind::UserStore ? defaultRegistryPath() : source.path;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) {
            failed.error = say({"There is no registry store at %1.", "%1 にレジストリのストアはありません。"}, {path});
            return failed;
        }
        return openSqliteStore(path, backend);
    }
    case RegistrySource::Kind::Windows:
    case RegistrySource::Kind::Hive: return openHiveBackend(source, backend);
    case RegistrySource::Kind::WinePrefix: {
        RegistrySource resolved = source;
        if (std::string error = resolveRegistrySource(resolved); !error.empty()) {
            failed.error = std::move(error);
            return failed;
        }
        return openWinePrefixStore(resolved.path, backend);
    }
    }
    failed.error = say({"This kind of registry cannot be opened.", "この種類のレジストリは開けません。"});
    return failed;
}

}  // namespace tovik
