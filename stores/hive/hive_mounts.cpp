#include "stores/hive/hive_mounts.h"

#include <algorithm>

#include "language/messages.h"
#include "registry/key_path.h"
#include "registry/name_fold.h"

namespace tovik::hive {

namespace {

// The usual names of a Windows installation's machine hives, also their keys under HKLM.
constexpr const char* kMachineHives[] = {"SAM", "SECURITY", "SOFTWARE", "SYSTEM", "DEFAULT"};

std::u16string ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

std::string notWindowsFolder(const std::string& folder) {
    return say({"%1 is not a Windows folder: it holds no System32\\config.",
                "%1 はWindowsのフォルダではありません: System32\\config がありません。"},
               {folder});
}

// The one entry of folder named name in any case; an error when there are several.
HiveResult findOne(const std::string& folder, std::string_view name, std::string& found) {
    const std::vector<std::string> entries = entriesNamedIgnoringCase(folder, name);
    if (entries.empty()) {
        return {HiveStatus::NotFound, say({"%1 holds no %2.", "%1 には %2 がありません。"}, {folder, name})};
    }
    if (entries.size() > 1) {
        return {HiveStatus::Failed,
                say({"%1 holds %2 entries named %3 in different cases; it is not clear which to open.",
                     "%1 には大文字と小文字だけが違う %3 という名前のものが %2 個あり、どれを開くか決められません。"},
                    {folder, std::to_string(entries.size()), name})};
    }
    found = folder + "/" + entries.front();
    return {};
}

// keyPath is prefix itself or below it, at a '\' boundary; rest is what follows.
bool isAtOrBelow(std::u16string_view keyPath, std::u16string_view prefix, std::u16string_view& rest) {
    if (prefix.empty()) {
        rest = keyPath;
        return true;
    }
    if (keyPath.size() < prefix.size() || compareNames(keyPath.substr(0, prefix.size()), prefix) != 0) return false;
    if (keyPath.size() == prefix.size()) {
        rest = {};
        return true;
    }
    if (keyPath[prefix.size()] != u'\\') return false;
    rest = keyPath.substr(prefix.size() + 1);
    return true;
}

}  // namespace

bool parseMountPoint(std::u16string_view text, HiveRoot& root, std::u16string& keyPath) {
    ParsedKeyPath parsed = parseKeyPath(text);
    if (!parsed.ok()) return false;
    root = parsed.root == HKEY_CLASSES_ROOT   ? HiveRoot::ClassesRoot
           : parsed.root == HKEY_CURRENT_USER ? HiveRoot::CurrentUser
                                              : HiveRoot::LocalMachine;
    keyPath = std::move(parsed.path);
    return true;
}

HiveResult mountHiveFile(const std::string& path, std::u16string_view mountPoint, const HiveOpenOptions& options,
                         HiveMountSet& set) {
    HiveMount mount;
    if (!parseMountPoint(mountPoint, mount.root, mount.keyPath)) {
        return {HiveStatus::Failed,
                std::string(text({"The key to show the hive under must start with HKEY_CLASSES_ROOT, "
                                  "HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE (or HKCR, HKCU, HKLM).",
                                  "ハイブを表示するキーは HKEY_CLASSES_ROOT、HKEY_CURRENT_USER、HKEY_LOCAL_MACHINE"
                                  "（または HKCR、HKCU、HKLM）で始めてください。"}))};
    }
    HiveResult result;
    std::unique_ptr<HiveModel> model = HiveModel::open(path, options, result);
    if (!model) return result;
    if (!model->readOnlyReason().empty()) set.notices.push_back(model->readOnlyReason());
    mount.hive = std::move(model);
    set.mounts.push_back(std::move(mount));
    return {};
}

HiveResult mountWindowsInstallation(const std::string& windowsFolder, const std::string& userHive,
                                    const HiveOpenOptions& options, HiveMountSet& set) {
    std::string windows = windowsFolder;
    std::string system32;
    HiveResult found = findOne(windows, "System32", system32);
    if (found.status == HiveStatus::NotFound) {
        std::string inner;
        if (findOne(windowsFolder, "Windows", inner).ok()) {
            windows = inner;
            found = findOne(windows, "System32", system32);
        }
    }
    if (!found.ok()) {
        if (found.status == HiveStatus::NotFound) {
            found.message = notWindowsFolder(windowsFolder);
        }
        return found;
    }
    std::string config;
    found = findOne(system32, "config", config);
    if (!found.ok()) {
        if (found.status == HiveStatus::NotFound) {
            found.message = notWindowsFolder(windowsFolder);
        }
        return found;
    }

    HiveMountSet opened;
    std::shared_ptr<HiveModel> software;
    for (const char* hiveName : kMachineHives) {
        std::string file;
        const HiveResult one = findOne(config, hiveName, file);
        if (one.status == HiveStatus::NotFound) continue;
        if (!one.ok()) return one;
        HiveResult result;
        std::shared_ptr<HiveModel> model = HiveModel::open(file, options, result);
        if (!model) {
            opened.notices.push_back(result.message +
                                     std::string(text({" It is left out.", "このハイブは開かずに続けます。"})));
            continue;
        }
        if (!model->readOnlyReason().empty()) opened.notices.push_back(model->readOnlyReason());
        if (std::string_view(hiveName) == "SOFTWARE") software = model;
        opened.mounts.push_back(HiveMount{HiveRoot::LocalMachine, ascii(hiveName), std::move(model), {}});
    }
    if (opened.mounts.empty()) {
        std::string sentence =
            say({"No hive of %1 could be opened.", "%1 のハイブをどれも開けませんでした。"}, {config});
        for (const std::string& notice : opened.notices) sentence += " " + notice;
        return {HiveStatus::Failed, sentence};
    }
    if (software) opened.mounts.push_back(HiveMount{HiveRoot::ClassesRoot, {}, software, u"Classes"});
    if (!userHive.empty()) {
        const HiveResult user = mountHiveFile(userHive, u"HKEY_CURRENT_USER", options, opened);
        if (!user.ok()) return user;
    }
    std::sort(opened.mounts.begin(), opened.mounts.end(), [](const HiveMount& a, const HiveMount& b) {
        return a.root != b.root ? a.root < b.root : compareNames(a.keyPath, b.keyPath) < 0;
    });
    for (HiveMount& mount : opened.mounts) set.mounts.push_back(std::move(mount));
    for (std::string& notice : opened.notices) set.notices.push_back(std::move(notice));
    return {};
}

const HiveMount* findMount(const HiveMountSet& set, HiveRoot root, std::u16string_view keyPath,
                           std::u16string& pathInHive) {
    const HiveMount* best = nullptr;
    std::u16string_view bestRest;
    for (const HiveMount& mount : set.mounts) {
        std::u16string_view rest;
        if (mount.root != root || !isAtOrBelow(keyPath, mount.keyPath, rest)) continue;
        if (best == nullptr || mount.keyPath.size() > best->keyPath.size()) best = &mount, bestRest = rest;
    }
    if (best == nullptr) return nullptr;
    pathInHive = best->hivePath;
    if (!pathInHive.empty() && !bestRest.empty()) pathInHive += u'\\';
    pathInHive += bestRest;
    return best;
}

std::vector<std::u16string> keysLeadingToMounts(const HiveMountSet& set, HiveRoot root, std::u16string_view keyPath) {
    std::vector<std::u16string> names;
    for (const HiveMount& mount : set.mounts) {
        std::u16string_view rest;
        if (mount.root != root || mount.keyPath.size() <= keyPath.size() ||
            !isAtOrBelow(mount.keyPath, keyPath, rest) || rest.empty()) {
            continue;
        }
        const std::u16string next(rest.substr(0, rest.find(u'\\')));
        const bool known = std::any_of(names.begin(), names.end(),
                                       [&next](const std::u16string& name) { return compareNames(name, next) == 0; });
        if (!known) names.push_back(next);
    }
    std::sort(names.begin(), names.end(),
              [](const std::u16string& a, const std::u16string& b) { return compareNames(a, b) < 0; });
    return names;
}

}  // namespace tovik::hive
