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

ImportOutcome readBackupFileTree(const BackupText& lines, Backend& target) {
    if (lines.empty() || !isBackupHeaderLine(lines[0])) return ImportOutcome::FormatError;
    const HKEY rootHandle = lines.size() >= 2 ? rootFromBackupRootLine(lines[1]) : 0;
    const KeyId root = rootHandle == 0 ? kNoKey : target.rootKey(rootHandle);
    if (root == kNoKey) return ImportOutcome::NoRootKey;
    ImportOutcome outcome = ImportOutcome::Finished;
    KeyId current = kNoKey;
    std::vector<std::u16string_view> names;
    target.beginBatch();
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::u16string_view line = lines[i];
        const BackupLineKind kind = classifyBackupLine(line);
        if (kind == BackupLineKind::End) break;
        if (kind == BackupLineKind::Broken) {
            outcome = ImportOutcome::BrokenLine;
            break;
        }
        if (kind == BackupLineKind::Key) {
            const BackupKeyPaths paths = ParseKeyLine(line);
            current = paths.parentPath.empty() ? root : findBackendKey(target, rootHandle, paths.parentPath);
            if (current == kNoKey || paths.createPath.empty()) continue;
            const std::vector<std::u16string_view> parent = splitKeyPath(paths.parentPath);
            const std::vector<std::u16string_view> below = splitKeyPath(paths.createPath);
            names.assign(parent.begin(), parent.end());
            names.insert(names.end(), below.begin(), below.end());
            bool created = false;
            if (target.createKeys(root, 0, names, current, created) != ERROR_SUCCESS) current = kNoKey;
            continue;
        }
        const BackupValue value = ParseValueLine(line);
        if (value.ignored || !value.tagFound || current == kNoKey) continue;
        target.setValue(current, value.name, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    }
    target.commitBatch(false);
    return outcome;
}

}  // namespace tovik
