#include "registry/roots.h"

#include "registry/name_fold.h"

namespace tovik {

namespace {

constexpr RootInfo kRoots[] = {
    {HKEY_CLASSES_ROOT, u"HKEY_CLASSES_ROOT", u"HKCR", true},
    {HKEY_CURRENT_USER, u"HKEY_CURRENT_USER", u"HKCU", true},
    {HKEY_LOCAL_MACHINE, u"HKEY_LOCAL_MACHINE", u"HKLM", true},
    {HKEY_USERS, u"HKEY_USERS", u"HKU", false},
    {HKEY_PERFORMANCE_DATA, u"HKEY_PERFORMANCE_DATA", u"", false},
    {HKEY_CURRENT_CONFIG, u"HKEY_CURRENT_CONFIG", u"HKCC", false},
    {HKEY_DYN_DATA, u"HKEY_DYN_DATA", u"", false},
};
constexpr std::size_t kHeldRoots = 3;

bool sameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && compareNames(a, b) == 0;
}

}  // namespace

std::span<const RootInfo> allRoots() {
    return kRoots;
}

std::span<const RootInfo> heldRoots() {
    return std::span<const RootInfo>(kRoots, kHeldRoots);
}

const RootInfo* findRootByName(std::u16string_view name) {
    if (name.empty()) return nullptr;
    for (const RootInfo& root : kRoots) {
        if (sameName(name, root.longName) || sameName(name, root.shortName)) return &root;
    }
    return nullptr;
}

const RootInfo* findRoot(HKEY handle) {
    for (const RootInfo& root : kRoots) {
        if (root.handle == handle) return &root;
    }
    return nullptr;
}

bool isHeldRoot(HKEY handle) {
    const RootInfo* root = findRoot(handle);
    return root != nullptr && root->held;
}

}  // namespace tovik
