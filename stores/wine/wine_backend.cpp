#include "stores/wine/wine_backend.h"

#include <cstring>
#include <filesystem>
#include <utility>

#include "language/messages.h"
#include "stores/wine/wine_name_order.h"
#include "stores/wine/wine_prefix.h"
#include "stores/wine/wine_registry_file.h"

namespace tovik {

namespace {

using wine::EditResult;
using wine::WineKey;
using wine::WinePrefix;

// Ids of the roots and of the keys between HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT.
constexpr KeyId kClassesId = 1;  // HKLM\Software\Classes
constexpr KeyId kUserId = 2;
constexpr KeyId kMachineId = 3;
constexpr KeyId kSoftwareId = 4;  // HKLM\Software

// Data up to this size comes with the value list; larger data is read when asked for.
constexpr std::size_t kListedDataLimit = 4096;
// A value's id is its key's id and its position.
constexpr int kValueIndexBits = 24;

LONG resultOf(EditResult result) {
    switch (result) {
    case EditResult::ok: return ERROR_SUCCESS;
    case EditResult::notFound: return ERROR_FILE_NOT_FOUND;
    case EditResult::alreadyExists: return ERROR_ALREADY_EXISTS;
    case EditResult::hasSubkeys:
    case EditResult::notAllowed: return ERROR_ACCESS_DENIED;
    case EditResult::invalidName:
    case EditResult::tooDeep: return ERROR_INVALID_PARAMETER;
    }
    return ERROR_INVALID_PARAMETER;
}

}  // namespace

WineBackend::WineBackend(std::unique_ptr<WinePrefix> prefix) : prefix_(std::move(prefix)) {
    keys_.resize(5);
    keys_[kClassesId] = {kSoftwareId, u"Classes"};
    keys_[kUserId] = {kNoKey, {}, true};
    keys_[kMachineId] = {kNoKey, {}, false};
    keys_[kSoftwareId] = {kMachineId, u"Software"};
    byName_.emplace(indexName(kMachineId, u"Software"), kSoftwareId);
    byName_.emplace(indexName(kSoftwareId, u"Classes"), kClassesId);
}

WineBackend::~WineBackend() {
    if (prefix_->writing()) {
        std::string ignored;
        prefix_->commitWrite(ignored);
    }
}

bool WineBackend::readOnly() const {
    return prefix_->readOnly();
}

std::string WineBackend::readOnlyReason() const {
    return prefix_->readOnlyReason();
}

KeyId WineBackend::rootKey(HKEY root) const {
    switch (root) {
    case HKEY_CLASSES_ROOT: return kClassesId;
    case HKEY_CURRENT_USER: return kUserId;
    default: return kMachineId;
    }
}

ChangeStamp WineBackend::changeStamp() {
    // Outside a batch or snapshot, files another program replaced are read again here, so that
    // every handle sees the change (the generation moves on).
    if (!inTransaction()) {
        std::string ignored;  // an unreadable file keeps the content read before
        prefix_->refresh(ignored);
    }
    return {local_, static_cast<std::int64_t>(prefix_->generation())};
}

bool WineBackend::inTransaction() {
    return snapshot_ || prefix_->writing();
}

bool WineBackend::isFixedKey(KeyId id) const {
    return id >= kClassesId && id <= kSoftwareId;
}

std::u16string WineBackend::indexName(KeyId parent, std::u16string_view name) const {
    std::u16string key(4 + name.size(), u'\0');
    for (int i = 0; i < 4; ++i) key[i] = static_cast<char16_t>(static_cast<std::uint64_t>(parent) >> (16 * i));
    for (std::size_t i = 0; i < name.size(); ++i) key[4 + i] = wine::lowerUnit(name[i]);
    return key;
}

WineKey* WineBackend::resolve(KeyId id) {
    if (id <= kNoKey || static_cast<std::size_t>(id) >= keys_.size()) return nullptr;
    KeyRecord& record = keys_[id];
    if (record.dead) return nullptr;
    const std::uint64_t generation = prefix_->generation();
    if (record.generation == generation) return record.cached;
    WineKey* key = nullptr;
    if (record.parent == kNoKey) {
        key = record.userFile ? &prefix_->currentUser() : &prefix_->localMachine();
    } else if (WineKey* parent = resolve(record.parent)) {
        key = parent->findSubkey(record.name);
    }
    record.cached = key;  // resolving the parent adds no record: the reference holds
    record.generation = generation;
    return key;
}

WineKey* WineBackend::resolveForWrite(KeyId id) {
    WineKey* key = resolve(id);
    if (key || id != kClassesId) return key;
    wine::WineRegistryFile& machine = prefix_->machine();
    WineKey* software = nullptr;
    WineKey* classes = nullptr;
    if (machine.createKey(prefix_->localMachine(), u"Software", &software) != EditResult::ok) return nullptr;
    idFor(kMachineId, software->name(), software);
    if (machine.createKey(*software, u"Classes", &classes) != EditResult::ok) return nullptr;
    idFor(kSoftwareId, classes->name(), classes);
    return classes;
}

KeyId WineBackend::addRecord(KeyId parent, std::u16string_view name, WineKey* key) {
    KeyRecord record;
    record.parent = parent;
    record.name.assign(name);
    record.cached = key;
    record.generation = prefix_->generation();
    keys_.push_back(std::move(record));
    return static_cast<KeyId>(keys_.size() - 1);
}

KeyId WineBackend::idFor(KeyId parent, std::u16string_view name, WineKey* key) {
    const auto [it, inserted] = byName_.try_emplace(indexName(parent, name), kNoKey);
    if (inserted) {
        it->second = addRecord(parent, name, key);
        return it->second;
    }
    KeyRecord& record = keys_[it->second];
    record.name.assign(name);  // another program may have changed its case
    record.cached = key;
    record.generation = prefix_->generation();
    return it->second;
}

bool WineBackend::keyExists(KeyId key) {
    return key == kClassesId || resolve(key) != nullptr;
}

KeyId WineBackend::findChild(KeyId parent, std::u16string_view name) {
    std::u16string ignored;
    return findChildNamed(parent, name, ignored);
}

KeyId WineBackend::findChildNamed(KeyId parent, std::u16string_view name, std::u16string& storedName) {
    WineKey* key = resolve(parent);
    WineKey* child = key ? key->findSubkey(name) : nullptr;
    if (!child) return kNoKey;
    storedName.assign(child->name());
    return idFor(parent, child->name(), child);
}

void WineBackend::listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out) {
    WineKey* parent = resolve(key);
    if (!parent) return;
    const std::size_t count = parent->subkeyCount();
    for (std::size_t i = from; i < count && (limit < 0 || static_cast<std::int64_t>(i - from) < limit); ++i) {
        WineKey* child = parent->subkey(i);
        out.push_back({idFor(key, child->name(), child), child->name(), false});
    }
}

void WineBackend::listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out) {
    WineKey* owner = resolve(key);
    if (!owner) return;
    const std::size_t count = owner->valueCount();
    for (std::size_t i = from; i < count && (limit < 0 || static_cast<std::int64_t>(i - from) < limit); ++i) {
        const wine::WineValue& value = owner->value(i);
        const bool loaded = value.data().size() <= kListedDataLimit || i >> kValueIndexBits != 0;
        out.push_back({(key << kValueIndexBits) | static_cast<ValueId>(i), value.name(), value.type(),
                       static_cast<DWORD>(value.data().size()), loaded,
                       loaded ? std::string(value.data()) : std::string()});
    }
}

std::int64_t WineBackend::keyWriteTime(KeyId key) {
    const WineKey* found = resolve(key);
    return found ? static_cast<std::int64_t>(found->lastWriteTime()) : 0;
}

bool WineBackend::readValueData(ValueId value, BYTE* buffer, DWORD expectedSize) {
    WineKey* owner = resolve(value >> kValueIndexBits);
    const std::size_t index = static_cast<std::size_t>(value & ((ValueId{1} << kValueIndexBits) - 1));
    if (!owner || index >= owner->valueCount()) return false;
    const std::string_view data = owner->value(index).data();
    if (data.size() != expectedSize) return false;
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    return true;
}

std::uint64_t WineBackend::edits() const {
    return prefix_->machine().editCount() + prefix_->user().editCount();
}

// One write: outside a batch it locks the prefix, re-reads what changed, edits and saves, and
// fails when the save fails; inside a batch it edits in memory only.
template <class Edit>
LONG WineBackend::write(Edit edit) {
    if (prefix_->readOnly()) return ERROR_ACCESS_DENIED;
    const bool own = !prefix_->writing();
    if (own) lastError_.clear();
    std::string error;
    if (own && !prefix_->beginWrite(error)) {
        lastError_ = error;
        ++local_;  // a wineserver found meanwhile changes what the registry allows
        return prefix_->readOnly() ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
    }
    const std::uint64_t before = edits();
    const std::uint64_t generation = prefix_->generation();
    LONG result = ERROR_SUCCESS;
    try {
        result = edit();
    } catch (...) {
        if (own) prefix_->abortWrite();
        throw;
    }
    if (edits() != before) ++local_;
    if (own) {
        if (result != ERROR_SUCCESS) {
            prefix_->abortWrite();
        } else if (!prefix_->commitWrite(error)) {
            lastError_ = error;
            result = prefix_->readOnly() ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
        }
    }
    if (prefix_->generation() != generation) ++local_;
    return result;
}

LONG WineBackend::createKeys(KeyId parent, std::size_t, std::span<const std::u16string_view> names, KeyId& id,
                             bool& created) {
    created = false;
    return write([&]() -> LONG {
        WineKey* key = resolveForWrite(parent);
        if (!key) return ERROR_KEY_DELETED;
        // Every name is checked before the first key is made: all or none.
        if (key->depth() + names.size() > wine::kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
        for (const std::u16string_view name : names) {
            if (name.empty() || name.size() > wine::kMaxKeyNameLength || name.find(u'\\') != name.npos)
                return ERROR_INVALID_PARAMETER;
        }
        wine::WineRegistryFile& file = prefix_->fileOf(*key);
        KeyId current = parent;
        for (const std::u16string_view name : names) {
            WineKey* child = nullptr;
            bool made = false;
            if (const LONG rc = resultOf(file.createKey(*key, name, &child, &made))) return rc;
            created = created || made;
            current = idFor(current, child->name(), child);
            key = child;
        }
        id = current;
        return ERROR_SUCCESS;
    });
}

LONG WineBackend::setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) {
    return write([&]() -> LONG {
        WineKey* owner = resolveForWrite(key);
        if (!owner) return ERROR_KEY_DELETED;
        const std::string_view bytes(reinterpret_cast<const char*>(data), data ? size : 0);
        return resultOf(prefix_->fileOf(*owner).setValue(*owner, name, type, bytes));
    });
}

LONG WineBackend::deleteValue(KeyId key, std::u16string_view name) {
    return write([&]() -> LONG {
        WineKey* owner = resolve(key);
        if (!owner) return keyExists(key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        return resultOf(prefix_->fileOf(*owner).deleteValue(*owner, name));
    });
}

LONG WineBackend::deleteKey(KeyId key) {
    // HKEY_CLASSES_ROOT and the key above it stay: deleting them would take a root away.
    if (isFixedKey(key)) return ERROR_ACCESS_DENIED;
    return write([&]() -> LONG {
        WineKey* target = resolve(key);
        if (!target) return ERROR_FILE_NOT_FOUND;
        KeyRecord& record = keys_[key];
        if (const LONG rc = resultOf(prefix_->fileOf(*target).deleteKey(*target))) return rc;
        byName_.erase(indexName(record.parent, record.name));
        record.dead = true;
        record.cached = nullptr;
        return ERROR_SUCCESS;
    });
}

std::string WineBackend::treeDeleteRefusal(KeyId key, bool withKey) {
    // HKEY_CLASSES_ROOT is HKLM\Software\Classes: it and the keys above it stay.
    if ((withKey && isFixedKey(key)) || key == kSoftwareId || key == kMachineId)
        return say({"HKEY_LOCAL_MACHINE\\Software\\Classes is HKEY_CLASSES_ROOT in a Wine prefix and cannot be "
                    "deleted, nor can the keys above it; nothing was deleted.",
                    "Wineのプレフィックスでは HKEY_LOCAL_MACHINE\\Software\\Classes が HKEY_CLASSES_ROOT なので、"
                    "このキーとその上のキーは削除できません。何も削除していません。"});
    return {};
}

LONG WineBackend::renameKey(KeyId key, std::u16string_view newName) {
    if (isFixedKey(key)) return ERROR_ACCESS_DENIED;
    return write([&]() -> LONG {
        WineKey* target = resolve(key);
        if (!target) return ERROR_KEY_DELETED;
        if (const LONG rc = resultOf(prefix_->fileOf(*target).renameKey(*target, newName))) return rc;
        KeyRecord& record = keys_[key];
        byName_.erase(indexName(record.parent, record.name));
        // An id handed out for the new name named a key that did not exist; it never will now.
        const auto [it, inserted] = byName_.try_emplace(indexName(record.parent, newName), key);
        if (!inserted) {
            keys_[it->second].dead = true;
            it->second = key;
        }
        keys_[key].name.assign(newName);
        return ERROR_SUCCESS;
    });
}

LONG WineBackend::renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) {
    return write([&]() -> LONG {
        WineKey* owner = resolve(key);
        if (!owner) return keyExists(key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        return resultOf(prefix_->fileOf(*owner).renameValue(*owner, oldName, newName));
    });
}

LONG WineBackend::beginBatch() {
    if (prefix_->readOnly()) return ERROR_ACCESS_DENIED;
    lastError_.clear();
    std::string error;
    const std::uint64_t generation = prefix_->generation();
    const bool began = prefix_->beginWrite(error);
    if (prefix_->generation() != generation) ++local_;
    if (!began) {
        lastError_ = error;
        return prefix_->readOnly() ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

LONG WineBackend::commitBatch(bool beginAgain) {
    LONG result = ERROR_SUCCESS;
    std::string error;
    const std::uint64_t generation = prefix_->generation();
    if (!prefix_->writing()) {
        result = ERROR_CANTWRITE;  // the batch could not begin; its writes went one by one
    } else if (!prefix_->commitWrite(error)) {
        lastError_ = error;
        result = prefix_->readOnly() ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
    }
    if (beginAgain && !prefix_->readOnly()) prefix_->beginWrite(error);
    if (prefix_->generation() != generation) ++local_;
    return result;
}

bool WineBackend::beginSnapshot() {
    std::string ignored;
    const std::uint64_t generation = prefix_->generation();
    prefix_->refresh(ignored);
    if (prefix_->generation() != generation) ++local_;
    snapshot_ = true;
    return true;
}

void WineBackend::endSnapshot() {
    snapshot_ = false;
}

std::vector<std::string> WineBackend::files() const {
    const std::string& dir = prefix_->directory();
    return {dir + "/system.reg", dir + "/user.reg", dir + "/userdef.reg"};
}

StoreOpenResult openWinePrefixStore(const std::string& dir, std::unique_ptr<Backend>& backend) {
    StoreOpenResult result;
    std::unique_ptr<WinePrefix> prefix = WinePrefix::open(dir, result.error);
    if (!prefix) return result;
    result.ok = true;
    std::error_code ec;  // the status line names the folder wherever the program was started
    const std::filesystem::path absolute = std::filesystem::absolute(prefix->directory(), ec);
    result.location = ec ? prefix->directory() : absolute.lexically_normal().string();
    while (result.location.size() > 1 && result.location.back() == '/') result.location.pop_back();
    result.readOnly = prefix->readOnly();
    result.readOnlyReason = prefix->readOnlyReason();
    backend = std::make_unique<WineBackend>(std::move(prefix));
    return result;
}

}  // namespace tovik
