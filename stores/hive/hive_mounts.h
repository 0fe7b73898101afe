#pragma once
// Where hives appear in the registry: one hive file under a key that the user names, or the hives
// of a Windows installation's System32/config under HKEY_LOCAL_MACHINE, with HKEY_CLASSES_ROOT
// showing HKEY_LOCAL_MACHINE\SOFTWARE\Classes (the same model: a change through either name is
// one change) and HKEY_CURRENT_USER showing an NTUSER.DAT only when one is named.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "stores/hive/hive_model.h"

namespace tovik::hive {

enum class HiveRoot { ClassesRoot, CurrentUser, LocalMachine };

struct HiveMount {
    HiveRoot root = HiveRoot::LocalMachine;
    std::u16string keyPath;  // below the root, parts joined by '\'; empty: the root itself
    std::shared_ptr<HiveModel> hive;
    std::u16string hivePath;  // the key of the hive shown there; empty: the hive's root
};

struct HiveMountSet {
    std::vector<HiveMount> mounts;
    std::vector<std::string> notices;  // sentences to show once (read-only hives, skipped hives)
};

// "HKLM\SOFTWARE", "HKEY_CURRENT_USER", ... in any spelling that registry/key_path.h reads.
bool parseMountPoint(std::u16string_view text, HiveRoot& root, std::u16string& keyPath);

// Opens one hive file and adds it under mountPoint.
HiveResult mountHiveFile(const std::string& path, std::u16string_view mountPoint, const HiveOpenOptions& options,
                         HiveMountSet& set);

// Opens the hives of a Windows folder (the one holding System32, or a disk's root holding
// Windows), names matched ignoring case; userHive, when not empty, becomes HKEY_CURRENT_USER.
// A hive that cannot be opened is left out with a notice; fails when none can be opened.
HiveResult mountWindowsInstallation(const std::string& windowsFolder, const std::string& userHive,
                                    const HiveOpenOptions& options, HiveMountSet& set);

// The mount that holds root\keyPath (the deepest one whose key is keyPath or above it), and the
// path below the hive's root that keyPath names there; nullptr when no hive holds it.
const HiveMount* findMount(const HiveMountSet& set, HiveRoot root, std::u16string_view keyPath,
                           std::u16string& pathInHive);

// The names of the keys that exist only because a mount lies below root\keyPath (HKLM itself
// above SOFTWARE and SYSTEM, or "A" above a hive mounted as HKLM\A\B), in name order.
std::vector<std::u16string> keysLeadingToMounts(const HiveMountSet& set, HiveRoot root, std::u16string_view keyPath);

}  // namespace tovik::hive
