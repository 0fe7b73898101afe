#include "stores/open_hive_registry.h"

#include <memory>

#include "language/messages.h"
#include "registry/name_fold.h"
#include "registry/utf8.h"
#include "stores/hive/hive_backend.h"
#include "stores/open_store.h"

namespace tovik {

StoreOpenResult openHiveRegistry(const RegistrySource& source) {
    std::unique_ptr<Backend> backend;
    StoreOpenResult result = openHiveBackend(source, backend);
    if (!result.ok) return result;
    std::string identity =
        registryIdentity(source.kind == RegistrySource::Kind::Windows ? "windows" : "hive", source.path);
    if (!source.userHive.empty()) identity += "|" + registryIdentity("user", source.userHive);
    if (!source.mountAs.empty()) identity += "|as:" + source.mountAs;
    makeCurrentWithHistory(std::move(backend), identity, result);
    return result;
}

StoreOpenResult openHiveBackend(const RegistrySource& source, std::unique_ptr<Backend>& opened) {
    StoreOpenResult result;
    hive::HiveMountSet set;
    const hive::HiveOpenOptions options{source.writable};
    hive::HiveResult mounted;
    if (source.kind == RegistrySource::Kind::Windows) {
        mounted = hive::mountWindowsInstallation(source.path, source.userHive, options, set);
    } else {
        const std::optional<std::u16string> mountAs = utf8ToUtf16(source.mountAs);
        if (!mountAs) {
            result.error = say({"The key to show the hive under is not valid UTF-8 text.",
                                "ハイブを表示するキーが正しいUTF-8の文字列ではありません。"});
            return result;
        }
        mounted = hive::mountHiveFile(source.path, *mountAs, options, set);
    }
    if (!mounted.ok()) {
        result.error = mounted.message;
        return result;
    }
    result.notices = set.notices;
    auto backend = std::make_unique<hive::HiveBackend>(std::move(set));
    result.ok = true;
    result.location = source.path;
    result.readOnly = backend->readOnly();
    result.readOnlyReason = backend->readOnlyReason();
    opened = std::move(backend);
    return result;
}

}  // namespace tovik
