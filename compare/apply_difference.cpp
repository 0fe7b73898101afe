#include "compare/apply_difference.h"

#include <algorithm>
#include <string>
#include <vector>

#include "compare/reg_file_tree.h"
#include "registry/key_path.h"
#include "registry/name_fold.h"

namespace tovik {

namespace {

std::u16string joinedPath(std::u16string_view base, std::u16string_view below) {
    std::u16string path(base);
    if (!path.empty() && !below.empty()) path += u'\\';
    path += below;
    return path;
}

void loadData(Backend& backend, ValueEntry& value) {
    if (value.dataLoaded) return;
    value.data.resize(value.size);
    if (!backend.readValueData(value.id, reinterpret_cast<BYTE*>(value.data.data()), value.size))
        throw BackendFailure(BackendFailure::Kind::Other);
    value.dataLoaded = true;
}

// The value's data as the source holds it; false when it has no such value.
bool readValue(Backend& backend, KeyId key, std::u16string_view name, ValueEntry& value) {
    std::vector<ValueEntry> values;
    backend.listValues(key, 0, -1, values);
    for (ValueEntry& entry : values) {
        if (compareNames(entry.name, name) != 0) continue;
        loadData(backend, entry);
        value = std::move(entry);
        return true;
    }
    return false;
}

LONG setValue(Backend& backend, KeyId key, const ValueEntry& value) {
    return backend.setValue(key, value.name, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                            static_cast<DWORD>(value.data.size()));
}

// Whether one path is the other or lies below it.
bool nested(std::u16string_view a, std::u16string_view b) {
    const std::vector<std::u16string_view> x = splitKeyPath(a), y = splitKeyPath(b);
    for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i)
        if (compareNames(x[i], y[i]) != 0) return false;
    return true;
}

class Applier {
public:
    Applier(Backend& from, Backend& to) : from_(from), to_(to) {}

    LONG value(KeyId fromKey, HKEY root, const std::u16string& toPath, std::u16string_view name) {
        ValueEntry value;
        if (fromKey != kNoKey && readValue(from_, fromKey, name, value)) {
            KeyId key = kNoKey;
            if (const LONG rc = makeKey(root, toPath, key); rc != ERROR_SUCCESS) return rc;
            return setValue(to_, key, value);
        }
        const KeyId key = findBackendKey(to_, root, toPath);
        if (key == kNoKey) return ERROR_SUCCESS;
        const LONG rc = to_.deleteValue(key, name);
        return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    }

    LONG key(KeyId fromKey, HKEY root, const std::u16string& toPath) {
        if (fromKey == kNoKey) {
            const KeyId key = findBackendKey(to_, root, toPath);
            if (key == kNoKey) return ERROR_SUCCESS;
            if (key == to_.rootKey(root) || !to_.treeDeleteRefusal(key, true).empty()) return ERROR_ACCESS_DENIED;
            deleteBackendSubtree(to_, key);
            return to_.keyExists(key) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
        }
        KeyId top = kNoKey;
        if (const LONG rc = makeKey(root, toPath, top); rc != ERROR_SUCCESS) return rc;
        return copyTree(fromKey, top, splitKeyPath(toPath).size());
    }

private:
    LONG makeKey(HKEY root, const std::u16string& path, KeyId& key) {
        key = to_.rootKey(root);
        const std::vector<std::u16string_view> names = splitKeyPath(path);
        if (names.empty()) return key == kNoKey ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
        bool created = false;
        return to_.createKeys(key, 0, names, key, created);
    }

    // Every value and key below from, copied under to; depth first on an explicit stack.
    LONG copyTree(KeyId from, KeyId to, std::size_t depth) {
        struct Item {
            KeyId from, to;
            std::size_t depth;
        };
        std::vector<Item> stack{{from, to, depth}};
        std::vector<ValueEntry> values;
        std::vector<SubkeyEntry> children;
        while (!stack.empty()) {
            const Item item = stack.back();
            stack.pop_back();
            values.clear();
            from_.listValues(item.from, 0, -1, values);
            for (ValueEntry& value : values) {
                loadData(from_, value);
                if (const LONG rc = setValue(to_, item.to, value); rc != ERROR_SUCCESS) return rc;
            }
            children.clear();
            from_.listSubkeys(item.from, 0, -1, children);
            for (const SubkeyEntry& child : children) {
                if (child.damaged) continue;
                const std::u16string_view names[] = {child.name};
                KeyId made = kNoKey;
                bool created = false;
                if (const LONG rc = to_.createKeys(item.to, item.depth, names, made, created); rc != ERROR_SUCCESS)
                    return rc;
                stack.push_back({child.id, made, item.depth + 1});
            }
        }
        return ERROR_SUCCESS;
    }

    Backend& from_;
    Backend& to_;
};

}  // namespace

LONG applyDifference(const CompareSide& source, const CompareSide& target, std::u16string_view path,
                     std::optional<std::u16string_view> valueName) {
    if (target.backend->readOnly()) return ERROR_ACCESS_DENIED;
    const bool sameRegistry = source.backend == target.backend;
    // A key copied into its own subtree would meet its copy on the way.
    if (sameRegistry && source.root == target.root && nested(source.path, target.path)) return ERROR_INVALID_PARAMETER;
    const std::u16string fromPath = joinedPath(source.path, path);
    const std::u16string toPath = joinedPath(target.path, path);
    const bool snapshot = !sameRegistry && !source.backend->inTransaction() && source.backend->beginSnapshot();
    const bool batch = !target.backend->inTransaction() && target.backend->beginBatch() == ERROR_SUCCESS;
    LONG rc = ERROR_SUCCESS;
    try {
        Applier applier(*source.backend, *target.backend);
        const KeyId fromKey = findBackendKey(*source.backend, source.root, fromPath);
        rc = valueName ? applier.value(fromKey, target.root, toPath, *valueName)
                       : applier.key(fromKey, target.root, toPath);
    } catch (const BackendFailure& failure) {
        rc = registryResultOf(failure.kind(), true);
    }
    if (batch) {
        const LONG committed = target.backend->commitBatch(false);
        if (rc == ERROR_SUCCESS) rc = committed;
    }
    if (snapshot && source.backend->inTransaction()) source.backend->endSnapshot();
    return rc;
}

}  // namespace tovik
