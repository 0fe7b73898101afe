#include "find/key_path.h"

#include "find/key_lookup.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"

namespace tovik::find {

namespace {

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u3000';
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

HKEY ParseRootName(std::u16string_view name) {
    static constexpr struct {
        std::u16string_view longName;
        std::u16string_view shortName;
        HKEY root;
    } kRoots[] = {
        {u"HKEY_CLASSES_ROOT", u"HKCR", HKEY_CLASSES_ROOT},
        {u"HKEY_CURRENT_USER", u"HKCU", HKEY_CURRENT_USER},
        {u"HKEY_LOCAL_MACHINE", u"HKLM", HKEY_LOCAL_MACHINE},
    };
    for (const auto& r : kRoots) {
        if (CompareNames(name, r.longName) == 0 || CompareNames(name, r.shortName) == 0) return r.root;
    }
    return 0;
}

std::vector<std::u16string_view> SplitKeyPath(std::u16string_view path) {
    std::vector<std::u16string_view> names;
    if (path.empty()) return names;
    for (;;) {
        const std::size_t cut = path.find(u'\\');
        names.push_back(path.substr(0, cut));
        if (cut == std::u16string_view::npos) return names;
        path.remove_prefix(cut + 1);
    }
}

ParsedKeyPath ParseKeyPath(std::u16string_view text) {
    ParsedKeyPath parsed;
    text = trimmed(text);
    if (text.empty()) {
        parsed.error = KeyPathError::Empty;
        return parsed;
    }
    if (text.size() > 1 && text.back() == u'\\') text.remove_suffix(1);
    const std::size_t cut = text.find(u'\\');
    parsed.root = ParseRootName(text.substr(0, cut));
    if (parsed.root == 0) {
        parsed.error = text.front() == u'\\' ? KeyPathError::EmptyName : KeyPathError::UnknownRoot;
        return parsed;
    }
    if (cut == std::u16string_view::npos) return parsed;
    const std::u16string_view below = text.substr(cut + 1);
    const std::vector<std::u16string_view> names = SplitKeyPath(below);
    for (const std::u16string_view name : names) {
        if (name.empty()) {
            parsed.error = KeyPathError::EmptyName;
        } else if (name.size() > static_cast<std::size_t>(kMaxKeyNameLength)) {
            parsed.error = KeyPathError::NameTooLong;
        }
        if (!parsed.ok()) break;
    }
    if (parsed.ok() && names.size() > static_cast<std::size_t>(kMaxKeyDepth)) parsed.error = KeyPathError::TooDeep;
    if (names.empty()) parsed.error = KeyPathError::EmptyName;  // "HKLM\\" has an empty name
    if (parsed.ok()) parsed.path.assign(below);
    return parsed;
}

std::u16string FullKeyPath(HKEY root, std::u16string_view path) {
    std::u16string full(RootKeyName(root));
    if (!path.empty()) {
        full += u'\\';
        full += path;
    }
    return full;
}

ResolvedKeyPath ResolveKeyPath(HKEY root, std::u16string_view path) {
    ResolvedKeyPath resolved;
    if (RootKeyName(root)[0] == 0) return resolved;
    detail::OwnedKey current;
    HKEY parent = root;
    for (const std::u16string_view name : SplitKeyPath(path)) {
        detail::SubkeySlot slot = detail::LocateSubkey(parent, name);
        HKEY child = 0;
        if (!slot.exists || RegOpenKeyExW(parent, slot.storedName.c_str(), 0, 0, &child) != ERROR_SUCCESS) {
            resolved.missingName.assign(name);
            return resolved;
        }
        current = detail::OwnedKey(child);
        parent = child;
        if (resolved.existingNames > 0) resolved.existingPath += u'\\';
        resolved.existingPath += slot.storedName;
        ++resolved.existingNames;
    }
    resolved.exists = true;
    return resolved;
}

}  // namespace tovik::find
