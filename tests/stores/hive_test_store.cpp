#include "hive_test_store.h"

#include <filesystem>
#include <memory>

#include "hive/hive_builder.h"
#include "registry/registry_store.h"
#include "stores/hive/hive_backend.h"
#include "stores/open_store.h"

namespace tovik::testing {

bool openTestHives(const std::string& path, bool writable) {
    hive::HiveMountSet set;
    for (const char* root : {"HKCR", "HKCU", "HKLM"}) {
        const std::string file = path + "." + root;
        if (!std::filesystem::exists(file)) hive::testing::writeFile(file, hive::testing::emptyHiveBytes());
        const std::u16string mountPoint(root, root + 4);
        if (!hive::mountHiveFile(file, mountPoint, hive::HiveOpenOptions{writable}, set).ok()) return false;
    }
    // As the program opens hives: behind the recording layer of their change history.
    StoreOpenResult opened;
    makeCurrentWithHistory(std::make_unique<hive::HiveBackend>(std::move(set)), registryIdentity("hive", path), opened);
    return true;
}

}  // namespace tovik::testing
