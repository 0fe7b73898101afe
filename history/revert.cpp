#include "history/revert.h"

#include <unordered_map>
#include <unordered_set>

#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/utf8.h"

namespace tovik::history {

namespace {

std::u16string valueSlot(std::u16string_view foldedKey, std::u16string_view name) {
    std::u16string slot(foldedKey);
    slot += u'\0';
    slot += foldName(name);
    return slot;
}

bool sameValue(const std::optional<RecordedValue>& now, const ChangeOp& op) {
    return now && matchesAfter(op, now->type, now->data);
}

// Where a change is in a ChangeSource: its part and its index there.
struct OpRef {
    std::size_t part = 0;
    std::size_t index = 0;
};

// The walk over a source's changes from the last back, holding the part it is in and, for lookups
// of changes walked already, one other part: memory stays that of two parts whatever the source.
class BackwardWalk {
public:
    explicit BackwardWalk(ChangeSource& source) : source_(source), part_(source.partCount()) {}
    // Steps to the change before the current one; false when there is none.
    bool previous() {
        while (index_ == 0) {
            if (part_ == 0) return false;
            --part_;
            ops_ = source_.part(part_);
            index_ = ops_.size();
        }
        --index_;
        return true;
    }
    const ChangeOp& current() const { return ops_[index_]; }
    OpRef here() const { return {part_, index_}; }
    const ChangeOp& at(OpRef ref) {
        if (ref.part == part_) return ops_.at(ref.index);
        if (ref.part != otherPart_) {
            other_ = source_.part(ref.part);
            otherPart_ = ref.part;
        }
        return other_.at(ref.index);
    }

private:
    ChangeSource& source_;
    std::size_t part_;
    std::size_t index_ = 0;
    std::vector<ChangeOp> ops_;
    std::size_t otherPart_ = static_cast<std::size_t>(-1);
    std::vector<ChangeOp> other_;
};

// The registry as it will be once the changes walked so far are taken back: what they touched
// is held here, the rest is read from the store (each key looked up once). A key brought back is
// held by a reference to its change, not its values.
class StateView {
public:
    StateView(Backend& store, BackwardWalk& walk) : store_(store), walk_(walk) {}

    bool keyExists(std::u16string_view path) {
        bool known = false;
        const KeyState* key = overlaidKey(foldName(path), known);
        if (known) return key != nullptr;
        return realId(path) != kNoKey;
    }

    std::optional<RecordedValue> value(std::u16string_view keyPath, std::u16string_view name) {
        const std::u16string folded = foldName(keyPath);
        bool known = false;
        const KeyState* key = overlaidKey(folded, known);
        if (known && !key) return std::nullopt;  // taken away by a change walked already
        if (const auto it = values_.find(valueSlot(folded, name)); it != values_.end()) return it->second;
        if (key) {
            if (key->restored) {
                for (const RecordedValue& v : walk_.at(key->valuesFrom).values)
                    if (compareNames(v.name, name) == 0) return v;
                return std::nullopt;
            }
            if (!key->real) return std::nullopt;
        }
        for (const RecordedValue& v : realValues(keyPath))
            if (compareNames(v.name, name) == 0) return v;
        return std::nullopt;
    }

    void setKey(std::u16string_view path, bool present, bool real) {
        keys_[foldName(path)] = KeyOverlay{present, {false, {}, real}};
    }
    void restoreKey(std::u16string_view path, OpRef valuesFrom) {
        keys_[foldName(path)] = KeyOverlay{true, {true, valuesFrom, false}};
    }
    void setValue(std::u16string_view keyPath, std::u16string_view name, std::optional<RecordedValue> value) {
        std::u16string slot = valueSlot(foldName(keyPath), name);
        any_.erase(slot);
        noteTouched(slot, keyPath, name);
        values_[std::move(slot)] = std::move(value);
    }
    // A value of a key the changes made, as an earlier change of theirs left it: whatever it is,
    // it is theirs. It reads as missing.
    void setAnyValue(std::u16string_view keyPath, std::u16string_view name) {
        std::u16string slot = valueSlot(foldName(keyPath), name);
        noteTouched(slot, keyPath, name);
        values_[slot] = std::nullopt;
        any_.insert(std::move(slot));
    }
    // Every value of the key as it is at this point of the walk (the key is there).
    std::vector<RecordedValue> valuesOf(std::u16string_view keyPath) {
        const std::u16string folded = foldName(keyPath);
        bool known = false;
        const KeyState* key = overlaidKey(folded, known);
        std::vector<RecordedValue> values;
        if (key && key->restored)
            values = walk_.at(key->valuesFrom).values;
        else if (!key || key->real)
            values = realValues(keyPath);
        const auto touched = touchedNames_.find(folded);
        if (touched == touchedNames_.end()) return values;
        std::erase_if(values, [&](const RecordedValue& v) { return valueTouched(keyPath, v.name); });
        for (const std::u16string& name : touched->second)
            if (const std::optional<RecordedValue>& v = values_.at(valueSlot(folded, name))) values.push_back(*v);
        return values;
    }
    bool anyValue(std::u16string_view keyPath, std::u16string_view name) const {
        return !any_.empty() && any_.contains(valueSlot(foldName(keyPath), name));
    }
    bool valueTouched(std::u16string_view keyPath, std::u16string_view name) const {
        return values_.contains(valueSlot(foldName(keyPath), name));
    }
    bool keyTakenAway(std::u16string_view path) const {
        const auto it = keys_.find(foldName(path));
        return it != keys_.end() && !it->second.present;
    }

    KeyId realId(std::u16string_view path) {
        const std::u16string folded = foldName(path);
        if (const auto it = ids_.find(folded); it != ids_.end()) return it->second;
        KeyId id = kNoKey;
        const std::u16string_view parent = parentPath(path);
        if (parent.empty()) {
            for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
                if (compareNames(rootKeyName(root), path) == 0) id = store_.rootKey(root);
        } else if (const KeyId up = realId(parent); up != kNoKey) {
            id = store_.findChild(up, lastName(path));
        }
        ids_.emplace(folded, id);
        return id;
    }

    const std::vector<RecordedValue>& realValues(std::u16string_view keyPath) {
        const std::u16string folded = foldName(keyPath);
        if (folded != cachedKey_) {
            cachedKey_ = folded;
            cachedValues_.clear();
            if (const KeyId id = realId(keyPath); id != kNoKey) {
                std::vector<ValueEntry> entries;
                store_.listValues(id, 0, -1, entries);
                for (ValueEntry& e : entries) {
                    if (!e.dataLoaded) {
                        e.data.resize(e.size);
                        if (!store_.readValueData(e.id, reinterpret_cast<BYTE*>(e.data.data()), e.size))
                            throw BackendFailure(BackendFailure::Kind::Busy);
                    }
                    cachedValues_.push_back({std::move(e.name), e.type, std::move(e.data)});
                }
            }
        }
        return cachedValues_;
    }

private:
    struct KeyState {
        bool restored = false;  // a deleted key brought back: its values are valuesFrom's
        OpRef valuesFrom;
        bool real = true;  // otherwise its values are the store's
    };
    struct KeyOverlay {
        bool present;
        KeyState state;
    };
    // The overlay's word on the key at folded, from the nearest key at or above it that the walk
    // touched: known is set when that settles it; the key's state when it is there, null when not.
    const KeyState* overlaidKey(const std::u16string& folded, bool& known) {
        known = false;
        for (std::size_t end = folded.size(); end > 0;) {
            if (const auto it = keys_.find(folded.substr(0, end)); it != keys_.end()) {
                if (!it->second.present) {
                    known = true;
                    return nullptr;
                }
                if (end == folded.size()) {
                    known = true;
                    return &it->second.state;
                }
                // Below a key brought back is only what the walk brought back too; below one
                // that is the store's own, the store has the answer.
                known = it->second.state.restored || !it->second.state.real;
                return nullptr;
            }
            const std::size_t cut = folded.rfind(u'\\', end - 1);
            if (cut == std::u16string::npos) break;
            end = cut;
        }
        return nullptr;
    }

    void noteTouched(const std::u16string& slot, std::u16string_view keyPath, std::u16string_view name) {
        if (!values_.contains(slot)) touchedNames_[foldName(keyPath)].emplace_back(name);
    }

    Backend& store_;
    BackwardWalk& walk_;
    std::unordered_map<std::u16string, std::vector<std::u16string>> touchedNames_;  // by folded key
    std::unordered_map<std::u16string, KeyOverlay> keys_;
    std::unordered_map<std::u16string, std::optional<RecordedValue>> values_;
    std::unordered_set<std::u16string> any_;
    std::unordered_map<std::u16string, KeyId> ids_;
    std::u16string cachedKey_{u'\xFFFF'};
    std::vector<RecordedValue> cachedValues_;
};

Difference keyDifference(std::u16string_view key, Difference::Reason reason) {
    return Difference{std::u16string(key), {}, false, reason};
}

Difference valueDifference(std::u16string_view key, std::u16string_view value, Difference::Reason reason) {
    return Difference{std::u16string(key), std::u16string(value), true, reason};
}

}  // namespace

std::string describeDifference(const Difference& d) {
    const std::string key = utf16ToUtf8(d.key);
    if (d.isValue) {
        const std::string value = d.value.empty() ? "(Default)" : "\"" + utf16ToUtf8(d.value) + "\"";
        switch (d.reason) {
        case Difference::Reason::Missing: return "The value " + value + " of " + key + " is gone.";
        case Difference::Reason::Present: return "The value " + value + " of " + key + " is there again.";
        default: return "The value " + value + " of " + key + " was changed since.";
        }
    }
    switch (d.reason) {
    case Difference::Reason::Missing: return "The key " + key + " is gone.";
    case Difference::Reason::Present: return "The key " + key + " is there again.";
    case Difference::Reason::NotEmpty: return "The key " + key + " holds keys or values made since.";
    default: return "The key " + key + " was changed since.";
    }
}

KeyId resolvePath(Backend& store, std::u16string_view path) {
    std::size_t start = 0;
    KeyId id = kNoKey;
    bool first = true;
    while (start <= path.size()) {
        const std::size_t cut = std::min(path.find(u'\\', start), path.size());
        const std::u16string_view name = path.substr(start, cut - start);
        if (first) {
            for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
                if (compareNames(rootKeyName(root), name) == 0) id = store.rootKey(root);
            first = false;
        } else {
            id = store.findChild(id, name);
        }
        if (id == kNoKey || cut == path.size()) break;
        start = cut + 1;
    }
    return id;
}

namespace {

// The changes of one list, as a source of one part.
class ListSource : public ChangeSource {
public:
    explicit ListSource(const std::vector<ChangeOp>& ops) : ops_(ops) {}
    std::size_t partCount() override { return ops_.empty() ? 0 : 1; }
    std::vector<ChangeOp> part(std::size_t) override { return ops_; }

private:
    const std::vector<ChangeOp>& ops_;
};

}  // namespace

std::optional<Difference> firstDifference(Backend& store, const std::vector<ChangeOp>& ops) {
    ListSource source(ops);
    std::unordered_set<std::u16string> madeKeys;
    return firstDifference(store, source, madeKeys);
}

std::optional<Difference> firstDifference(Backend& store, ChangeSource& changes,
                                          std::unordered_set<std::u16string>& madeKeys) {
    using Reason = Difference::Reason;
    BackwardWalk walk(changes);
    StateView view(store, walk);
    while (walk.previous()) {
        const ChangeOp& op = walk.current();
        switch (op.kind) {
        case OpKind::CreateKey: {
            if (!view.keyExists(op.key)) return keyDifference(op.key, Reason::Missing);
            // Taking the key back must lose nothing that these changes did not make.
            if (const KeyId id = view.realId(op.key); id != kNoKey) {
                std::vector<SubkeyEntry> subkeys;
                store.listSubkeys(id, 0, -1, subkeys);
                for (const SubkeyEntry& s : subkeys)
                    if (!view.keyTakenAway(op.key + u"\\" + s.name)) return keyDifference(op.key, Reason::NotEmpty);
                if (!op.valuesSummarized)
                    for (const RecordedValue& v : view.realValues(op.key))
                        if (!view.valueTouched(op.key, v.name)) return keyDifference(op.key, Reason::NotEmpty);
            }
            // Values summarized by their hashes: the key must hold exactly those.
            if (op.valuesSummarized) {
                const std::vector<RecordedValue> now = view.valuesOf(op.key);
                std::uint64_t sum = 0;
                for (const RecordedValue& v : now) sum += valueHash(v.name, v.type, v.data);
                if (now.size() != op.summaryCount || sum != op.summaryHash)
                    return keyDifference(op.key, now.size() > op.summaryCount ? Reason::NotEmpty : Reason::Changed);
            }
            view.setKey(op.key, false, false);
            madeKeys.insert(foldName(op.key));
            break;
        }
        case OpKind::DeleteKey:
            if (view.keyExists(op.key)) return keyDifference(op.key, Reason::Present);
            view.restoreKey(op.key, walk.here());
            break;
        case OpKind::SetValue:
            if (!view.anyValue(op.key, op.after.name) && !sameValue(view.value(op.key, op.after.name), op))
                return valueDifference(op.key, op.after.name,
                                       view.keyExists(op.key) ? Reason::Changed : Reason::Missing);
            if (op.onMadeKey && !op.hadBefore)
                view.setAnyValue(op.key, op.after.name);
            else
                view.setValue(op.key, op.after.name,
                              op.hadBefore ? std::optional<RecordedValue>(op.before) : std::nullopt);
            break;
        case OpKind::DeleteValue:
            if (!view.keyExists(op.key)) return keyDifference(op.key, Reason::Missing);
            if (view.value(op.key, op.name)) return valueDifference(op.key, op.name, Reason::Present);
            view.setValue(op.key, op.name, op.before);
            break;
        case OpKind::RenameKey: {
            const std::u16string renamed = renamedKeyPath(op);
            if (!view.keyExists(renamed)) return keyDifference(renamed, Reason::Missing);
            const bool caseOnly = compareNames(renamed, op.key) == 0;
            if (!caseOnly && view.keyExists(op.key)) return keyDifference(op.key, Reason::Present);
            if (!caseOnly) view.setKey(renamed, false, false);
            view.setKey(op.key, true, true);
            break;
        }
        case OpKind::RenameValue: {
            std::optional<RecordedValue> now = view.value(op.key, op.newName);
            if (!now) return valueDifference(op.key, op.newName, Reason::Missing);
            const bool caseOnly = compareNames(op.name, op.newName) == 0;
            if (!caseOnly && view.value(op.key, op.name)) return valueDifference(op.key, op.name, Reason::Present);
            now->name = op.name;
            if (!caseOnly) view.setValue(op.key, op.newName, std::nullopt);
            view.setValue(op.key, op.name, std::move(now));
            break;
        }
        }
    }
    return std::nullopt;
}

namespace {

// Key ids by folded path while the changes are taken back: a key brought back is found again
// without a lookup. The batch holds off other writers, so an id stays good until the walk itself
// deletes or moves its key, which it says.
class KeyIds {
public:
    explicit KeyIds(Backend& store) : store_(store) {}
    KeyId get(std::u16string_view path) {
        const std::u16string folded = foldName(path);
        if (const auto it = ids_.find(folded); it != ids_.end()) return it->second;
        const KeyId id = resolvePath(store_, path);
        if (id != kNoKey) ids_.emplace(folded, id);
        return id;
    }
    void put(std::u16string_view path, KeyId id) { ids_[foldName(path)] = id; }
    void forget(std::u16string_view path) { ids_.erase(foldName(path)); }
    void forgetAll() { ids_.clear(); }

private:
    Backend& store_;
    std::unordered_map<std::u16string, KeyId> ids_;
};

std::size_t depthOf(std::u16string_view path) {
    std::size_t depth = 0;
    for (char16_t c : path) depth += c == u'\\';
    return depth;
}

}  // namespace

LONG applyReverse(Backend& store, const std::vector<ChangeOp>& ops) {
    std::unordered_set<std::u16string> madeKeys;
    for (const ChangeOp& op : ops)
        if (op.kind == OpKind::CreateKey) madeKeys.insert(foldName(op.key));
    ListSource source(ops);
    return applyReverse(store, source, madeKeys);
}

LONG applyReverse(Backend& store, ChangeSource& changes, const std::unordered_set<std::u16string>& madeKeys) {
    KeyIds ids(store);
    // Values set on a key these changes made go with the key: no need to delete them one by one.
    BackwardWalk walk(changes);
    while (walk.previous()) {
        const ChangeOp& op = walk.current();
        LONG rc = ERROR_SUCCESS;
        switch (op.kind) {
        case OpKind::CreateKey: {
            const KeyId id = ids.get(op.key);
            rc = id == kNoKey ? ERROR_FILE_NOT_FOUND : store.deleteKey(id);
            ids.forget(op.key);
            break;
        }
        case OpKind::DeleteKey: {
            const std::u16string_view parent = parentPath(op.key);
            const KeyId up = ids.get(parent);
            if (up == kNoKey) return ERROR_FILE_NOT_FOUND;
            const std::u16string_view name = lastName(op.key);
            KeyId id = kNoKey;
            bool created = false;
            rc = store.createKeys(up, depthOf(parent), std::span<const std::u16string_view>(&name, 1), id, created);
            if (rc != ERROR_SUCCESS) break;
            ids.put(op.key, id);
            for (const RecordedValue& v : op.values) {
                rc = store.setValue(id, v.name, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                                    static_cast<DWORD>(v.data.size()));
                if (rc != ERROR_SUCCESS) break;
            }
            break;
        }
        case OpKind::SetValue: {
            if (!op.hadBefore && madeKeys.contains(foldName(op.key))) break;
            const KeyId id = ids.get(op.key);
            if (id == kNoKey) return ERROR_FILE_NOT_FOUND;
            rc = op.hadBefore ? store.setValue(id, op.before.name, op.before.type,
                                               reinterpret_cast<const BYTE*>(op.before.data.data()),
                                               static_cast<DWORD>(op.before.data.size()))
                              : store.deleteValue(id, op.after.name);
            break;
        }
        case OpKind::DeleteValue: {
            const KeyId id = ids.get(op.key);
            if (id == kNoKey) return ERROR_FILE_NOT_FOUND;
            rc =
                store.setValue(id, op.before.name, op.before.type, reinterpret_cast<const BYTE*>(op.before.data.data()),
                               static_cast<DWORD>(op.before.data.size()));
            break;
        }
        case OpKind::RenameKey: {
            const KeyId id = ids.get(renamedKeyPath(op));
            rc = id == kNoKey ? ERROR_FILE_NOT_FOUND : store.renameKey(id, lastName(op.key));
            ids.forgetAll();  // every path below the key changed
            break;
        }
        case OpKind::RenameValue: {
            const KeyId id = ids.get(op.key);
            rc = id == kNoKey ? ERROR_FILE_NOT_FOUND : store.renameValue(id, op.newName, op.name);
            break;
        }
        }
        if (rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

}  // namespace tovik::history
