#include "compare/reg_file_tree.h"

#include <vector>

#include "regfile/reg_reader.h"
#include "registry/key_path.h"

namespace tovik {

KeyId findBackendKey(Backend& backend, HKEY root, std::u16string_view path) {
    KeyId key = backend.rootKey(root);
    for (std::u16string_view name : splitKeyPath(path)) {
        if (key == kNoKey) break;
        key = backend.findChild(key, name);
    }
    return key;
}

void deleteBackendSubtree(Backend& backend, KeyId top) {
    // Depth first on an explicit stack: a key goes once its subkeys have been tried. A key is
    // listed once, so that one that cannot go never makes the walk come back to it.
    struct Item {
        KeyId key;
        bool listed;
    };
    std::vector<Item> stack{{top, false}};
    std::vector<SubkeyEntry> children;
    while (!stack.empty()) {
        Item& item = stack.back();
        if (item.listed) {
            backend.deleteKey(item.key);
            stack.pop_back();
            continue;
        }
        item.listed = true;
        children.clear();
        backend.listSubkeys(item.key, 0, -1, children);
        for (const SubkeyEntry& child : children)
            if (!child.damaged) stack.push_back(Item{child.id, false});
    }
}

RegFileTreeResult readRegFileTree(std::u16string_view text, Backend& target) {
    RegFileReader reader(text);
    RegFileTreeResult result;
    result.format = reader.format();
    if (!result.ok()) return result;
    RegFileEntry entry;
    KeyId current = kNoKey;
    std::vector<std::u16string_view> names;
    target.beginBatch();
    while (reader.next(entry)) {
        switch (entry.kind) {
        case RegFileEntryKind::Key: {
            const std::vector<std::u16string_view> split = splitKeyPath(entry.path);
            names.assign(split.begin(), split.end());
            bool created = false;
            current = kNoKey;
            const KeyId root = target.rootKey(entry.root);
            if (names.empty()) {
                current = root;
                ++result.keys;
            } else if (root == kNoKey || target.createKeys(root, 0, names, current, created) != ERROR_SUCCESS) {
                current = kNoKey;
                ++result.skipped;
            } else {
                ++result.keys;
            }
            break;
        }
        case RegFileEntryKind::DeleteKey: {
            current = kNoKey;
            const KeyId key = entry.path.empty() ? kNoKey : findBackendKey(target, entry.root, entry.path);
            if (key != kNoKey) deleteBackendSubtree(target, key);
            ++result.keys;
            break;
        }
        case RegFileEntryKind::Value:
        case RegFileEntryKind::DeleteValue:
            if (entry.target != RegFileValueTarget::CurrentKey || current == kNoKey) {
                ++result.skipped;
                break;
            }
            if (entry.kind == RegFileEntryKind::Value) {
                target.setValue(current, entry.name, entry.type, entry.data, static_cast<DWORD>(entry.size));
            } else {
                target.deleteValue(current, entry.name);
            }
            ++result.values;
            break;
        case RegFileEntryKind::OtherRootKey:
            current = kNoKey;
            ++result.skipped;
            break;
        case RegFileEntryKind::Malformed: ++result.skipped; break;
        }
    }
    target.commitBatch(false);
    return result;
}

}  // namespace tovik
