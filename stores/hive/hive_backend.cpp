#include "stores/hive/hive_backend.h"

#include <algorithm>

#include "language/messages.h"
#include "registry/name_fold.h"
#include "registry/utf8.h"
#include "stores/hive/hive_key_rename.h"
#include "stores/hive/hive_sentences.h"

namespace tovik::hive {

namespace {

HiveRoot rootOf(HKEY root) {
    switch (root) {
    case HKEY_CLASSES_ROOT: return HiveRoot::ClassesRoot;
    case HKEY_CURRENT_USER: return HiveRoot::CurrentUser;
    default: return HiveRoot::LocalMachine;
    }
}

std::u16string below(const std::u16string& path, std::u16string_view name) {
    return path.empty() ? std::u16string(name) : path + u'\\' + std::u16string(name);
}

// How the user sees the key where a mount's hive begins: HKEY_LOCAL_MACHINE\SYSTEM, HKEY_CLASSES_ROOT.
std::string mountName(const HiveMount& mount) {
    static const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};
    std::string name = kRootNames[static_cast<int>(mount.root)];
    if (!mount.keyPath.empty()) name += "\\" + utf16ToUtf8(mount.keyPath);
    return name;
}

}  // namespace

HiveBackend::HiveBackend(HiveMountSet mounts) : set_(std::move(mounts)) {
    for (const HiveMount& mount : set_.mounts) {
        if (std::none_of(models_.begin(), models_.end(), [&mount](const auto& model) { return model == mount.hive; })) {
            models_.push_back(mount.hive);
        }
    }
    for (HiveRoot root : {HiveRoot::ClassesRoot, HiveRoot::CurrentUser, HiveRoot::LocalMachine}) {
        KeyId id = kNoKey;
        for (const HiveMount& mount : set_.mounts) {
            if (mount.root == root && mount.keyPath.empty()) id = mountTop(mount);
        }
        roots_[static_cast<int>(root)] = id != kNoKey ? id : aboveId(root, u"");
    }
    for (const auto& model : models_) seen_.push_back(model->identity());
}

HiveBackend::~HiveBackend() {
    if (batchOpen_) commitBatch(false);
}

KeyId HiveBackend::idOf(const HiveModel* model, NodeId node) const {
    for (std::size_t i = 0; i < models_.size(); ++i) {
        if (models_[i].get() == model) return (static_cast<KeyId>(i + 1) << 32) | node;
    }
    return kNoKey;
}

KeyId HiveBackend::aboveId(HiveRoot root, const std::u16string& path) {
    auto key = std::make_pair(static_cast<int>(root), foldName(path));
    const auto known = aboveIds_.find(key);
    if (known != aboveIds_.end()) return known->second;
    above_.push_back(Above{root, path});
    const KeyId id = static_cast<KeyId>(above_.size());
    aboveIds_.emplace(std::move(key), id);
    return id;
}

HiveBackend::InHive HiveBackend::inHive(KeyId key) const {
    const std::int64_t index = (key >> 32) - 1;
    if (index < 0 || index >= static_cast<std::int64_t>(models_.size())) return {};
    return {models_[static_cast<std::size_t>(index)].get(), static_cast<NodeId>(key & 0xFFFFFFFF)};
}

KeyId HiveBackend::mountTop(const HiveMount& mount) {
    HiveModel& model = *mount.hive;
    NodeId node = model.root();
    std::u16string_view path = mount.hivePath;
    while (!path.empty()) {
        const std::size_t slash = path.find(u'\\');
        NodeId child = 0;
        if (!model.findChild(node, path.substr(0, slash), child).ok()) return kNoKey;
        node = child;
        path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
    }
    return idOf(&model, node);
}

bool HiveBackend::isMountTop(KeyId key) {
    for (KeyId root : roots_) {
        if (root == key) return true;
    }
    return std::any_of(set_.mounts.begin(), set_.mounts.end(),
                       [this, key](const HiveMount& mount) { return mountTop(mount) == key; });
}

std::vector<SubkeyEntry> HiveBackend::aboveChildren(KeyId key) {
    const Above above = above_[static_cast<std::size_t>(key - 1)];
    std::vector<SubkeyEntry> children;
    for (const std::u16string& name : keysLeadingToMounts(set_, above.root, above.path)) {
        const std::u16string path = below(above.path, name);
        const auto mount = std::find_if(set_.mounts.begin(), set_.mounts.end(), [&](const HiveMount& m) {
            return m.root == above.root && compareNames(m.keyPath, path) == 0;
        });
        if (mount == set_.mounts.end()) {
            children.push_back({aboveId(above.root, path), name});
        } else if (const KeyId top = mountTop(*mount); top != kNoKey) {
            children.push_back({top, name});
        }
    }
    return children;
}

void HiveBackend::throwIfFailed(const HiveResult& result) {
    switch (result.status) {
    case HiveStatus::Ok:
    case HiveStatus::NotFound: return;
    case HiveStatus::Damaged: lastFailure_ = result.message; throw BackendFailure(BackendFailure::Kind::Damaged);
    default: lastFailure_ = result.message; throw BackendFailure(BackendFailure::Kind::Other);
    }
}

LONG HiveBackend::refuse(LONG code, std::string_view sentence) {
    lastFailure_ = sentence;
    return code;
}

LONG HiveBackend::outcome(const HiveResult& result, const InHive& key, bool keyMustExist) {
    ++local_;  // a failed hivex call reopens the hive: what was read before may have changed too
    if (result.ok()) {
        lastFailure_.clear();
        return ERROR_SUCCESS;
    }
    lastFailure_ = result.message;
    switch (result.status) {
    case HiveStatus::NotFound:
        return keyMustExist && !key.model->exists(key.node) ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    case HiveStatus::Exists: return ERROR_ALREADY_EXISTS;
    case HiveStatus::HasSubkeys:
    case HiveStatus::ReadOnly: return ERROR_ACCESS_DENIED;
    case HiveStatus::Refused: return ERROR_INVALID_PARAMETER;
    case HiveStatus::Damaged: return ERROR_BADDB;
    default: return ERROR_CANTWRITE;
    }
}

LONG HiveBackend::prepareWrite(const InHive& key) {
    if (key.model == nullptr) {
        return refuse(ERROR_ACCESS_DENIED,
                      text({"Keys above the hives only lead to them: nothing can be written there.",
                            "ハイブの上にあるキーはハイブへ通じるだけのもので、そこには何も書き込めません。"}));
    }
    if (key.model->readOnly()) return refuse(ERROR_ACCESS_DENIED, key.model->refusedWriteSentence());
    if (batchOpen_ && !key.model->inBatch()) {
        const HiveResult begun = key.model->beginBatch();
        if (!begun.ok()) return outcome(begun, key, false);
    }
    return ERROR_SUCCESS;
}

bool HiveBackend::readOnly() const {
    return std::all_of(models_.begin(), models_.end(), [](const auto& model) { return model->readOnly(); });
}

std::string HiveBackend::readOnlyReason() const {
    if (!readOnly()) return {};
    for (const auto& model : models_) {
        if (!model->readOnlyReason().empty()) return model->readOnlyReason();
    }
    return std::string(text({"The hives are open read-only: give --write to change them.",
                             "ハイブは読み取り専用で開いています。変更するには --write を付けて開いてください。"}));
}

KeyId HiveBackend::rootKey(HKEY root) const {
    if (root < HKEY_CLASSES_ROOT || root > HKEY_LOCAL_MACHINE) return kNoKey;
    return roots_[static_cast<int>(rootOf(root))];
}

void HiveBackend::reloadChangedHives() {
    for (std::size_t i = 0; i < models_.size(); ++i) {
        std::optional<FileIdentity> now = files::identityOf(models_[i]->path());
        if (now == seen_[i]) continue;
        models_[i]->reloadIfChanged();  // a hive that cannot be read again fails each read with a sentence
        // What was read, not what the path shows: a file saved in between is seen next time.
        seen_[i] = models_[i]->identity();
        ++external_;
    }
}

ChangeStamp HiveBackend::changeStamp() {
    if (!inTransaction()) reloadChangedHives();
    return {local_, external_};
}

bool HiveBackend::keyExists(KeyId key) {
    if (isAbove(key)) return true;
    const InHive in = inHive(key);
    return in.model != nullptr && in.model->exists(in.node);
}

KeyId HiveBackend::findChild(KeyId parent, std::u16string_view name) {
    std::u16string ignored;
    return findChildNamed(parent, name, ignored);
}

KeyId HiveBackend::findChildNamed(KeyId parent, std::u16string_view name, std::u16string& storedName) {
    if (isAbove(parent)) {
        for (SubkeyEntry& child : aboveChildren(parent)) {
            if (compareNames(child.name, name) != 0) continue;
            storedName = std::move(child.name);
            return child.id;
        }
        return kNoKey;
    }
    const InHive in = inHive(parent);
    if (in.model == nullptr) return kNoKey;
    NodeId child = 0;
    const HiveResult found = in.model->findChild(in.node, name, child);
    throwIfFailed(found);
    if (!found.ok()) return kNoKey;
    storedName = in.model->name(child);
    return idOf(in.model, child);
}

void HiveBackend::listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out) {
    if (isAbove(key)) {
        std::vector<SubkeyEntry> children = aboveChildren(key);
        for (std::size_t i = from; i < children.size() && (limit < 0 || out.size() < static_cast<std::size_t>(limit));
             ++i) {
            out.push_back(std::move(children[i]));
        }
        return;
    }
    const InHive in = inHive(key);
    if (in.model == nullptr) return;
    std::size_t count = 0;
    const HiveResult counted = in.model->subkeyCount(in.node, count);
    throwIfFailed(counted);
    if (!counted.ok()) return;
    const std::size_t end = limit < 0 ? count : std::min(count, from + static_cast<std::size_t>(limit));
    for (std::size_t i = from; i < end; ++i) {
        NodeId child = 0;
        const HiveResult got = in.model->subkeyAt(in.node, i, child);
        throwIfFailed(got);
        if (!got.ok()) return;
        out.push_back({idOf(in.model, child), in.model->name(child)});
    }
}

void HiveBackend::listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out) {
    const InHive in = inHive(key);
    if (in.model == nullptr) return;
    std::size_t count = 0;
    const HiveResult counted = in.model->valueCount(in.node, count);
    throwIfFailed(counted);
    if (!counted.ok()) return;
    const std::size_t end = limit < 0 ? count : std::min(count, from + static_cast<std::size_t>(limit));
    for (std::size_t i = from; i < end; ++i) {
        const HiveValue* value = nullptr;
        const HiveResult got = in.model->valueAt(in.node, i, value);
        throwIfFailed(got);
        if (!got.ok()) return;
        out.push_back({static_cast<ValueId>(i), value->name, value->type, static_cast<DWORD>(value->data.size()), true,
                       std::string(value->data.begin(), value->data.end())});
    }
}

std::int64_t HiveBackend::keyWriteTime(KeyId key) {
    const InHive in = inHive(key);
    if (in.model == nullptr) return 0;  // keys above the hives exist in no file
    std::int64_t time = 0;
    const HiveResult read = in.model->writeTime(in.node, time);
    throwIfFailed(read);
    return read.ok() ? time : 0;
}

bool HiveBackend::readValueData(ValueId, BYTE*, DWORD) {
    return false;  // every entry comes with its data
}

LONG HiveBackend::createKeys(KeyId parent, std::size_t, std::span<const std::u16string_view> names, KeyId& id,
                             bool& created) {
    created = false;
    KeyId at = parent;
    std::size_t next = 0;
    while (next < names.size() && isAbove(at)) {
        const KeyId child = findChild(at, names[next]);
        if (child == kNoKey) {
            return refuse(ERROR_ACCESS_DENIED,
                          text({"New keys can only be made inside a hive, not beside the hives.",
                                "新しいキーはハイブの中にだけ作成できます。ハイブと並べては作成できません。"}));
        }
        at = child;
        ++next;
    }
    const InHive in = inHive(at);
    if (in.model == nullptr) {
        if (next < names.size()) {
            return refuse(ERROR_ACCESS_DENIED, text({"No hive holds this key.", "このキーを含むハイブはありません。"}));
        }
        id = at;
        return ERROR_SUCCESS;
    }
    HiveModel& model = *in.model;
    NodeId node = in.node;
    for (; next < names.size(); ++next) {
        NodeId child = 0;
        const HiveResult found = model.findChild(node, names[next], child);
        if (!found.ok() && found.status != HiveStatus::NotFound) return outcome(found, {&model, node}, true);
        if (!found.ok()) break;
        node = child;
    }
    if (next == names.size()) {
        id = idOf(&model, node);
        return ERROR_SUCCESS;
    }
    if (!model.exists(node)) return refuse(ERROR_KEY_DELETED, keyDeletedSentence());
    // All or none: every name is checked before the first key is made.
    for (std::size_t i = next; i < names.size(); ++i) {
        const HiveResult refused = model.checkKeyName(names[i], model.depth(node) + (i - next));
        if (!refused.ok()) return outcome(refused, {&model, node}, false);
    }
    if (const LONG rc = prepareWrite({&model, node})) return rc;
    const bool ownBatch = !model.inBatch() && names.size() - next > 1;
    if (ownBatch) {
        const HiveResult begun = model.beginBatch();
        if (!begun.ok()) return outcome(begun, {&model, node}, true);
    }
    const NodeId above = node;
    HiveResult result;
    bool made = false;
    for (; next < names.size() && result.ok(); ++next) {
        NodeId child = 0;
        result = model.createKey(node, names[next], child);
        // Another writer made it since it was looked up: it is opened, as if it had been there.
        if (result.status == HiveStatus::Exists) {
            result = {};
        } else if (result.ok()) {
            made = true;
        }
        if (result.ok()) node = child;
    }
    if (!result.ok() && model.inBatch()) model.failBatch();
    if (ownBatch) {
        const HiveResult committed = model.commitBatch();
        if (result.ok()) result = committed;
    }
    const LONG rc = outcome(result, {&model, above}, true);
    if (rc == ERROR_SUCCESS) {
        id = idOf(&model, node);
        created = made;
    }
    return rc;
}

LONG HiveBackend::setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) {
    const InHive in = inHive(key);
    if (const LONG rc = prepareWrite(in)) return rc;
    return outcome(in.model->setValue(in.node, name, type, data, size), in, true);
}

LONG HiveBackend::deleteValue(KeyId key, std::u16string_view name) {
    const InHive in = inHive(key);
    if (const LONG rc = prepareWrite(in)) return rc;
    return outcome(in.model->deleteValue(in.node, name), in, true);
}

LONG HiveBackend::deleteKey(KeyId key) {
    if (isAbove(key) || isMountTop(key)) {
        return refuse(ERROR_ACCESS_DENIED, text({"A root, or the key where a hive begins, cannot be deleted.",
                                                 "ルートと、ハイブの始まるキーは削除できません。"}));
    }
    const InHive in = inHive(key);
    if (const LONG rc = prepareWrite(in)) return rc;
    return outcome(in.model->deleteKey(in.node), in, false);
}

std::string HiveBackend::treeDeleteRefusal(KeyId key, bool withKey) {
    // Keys above the hives exist only while a hive lies below them.
    if (isAbove(key))
        return std::string(text({"Only the keys above the hives lead here, and hives cannot be deleted; nothing was "
                                 "deleted.",
                                 "ここにはハイブの上にあるキーだけが通じていて、ハイブは削除できません。何も削除して"
                                 "いません。"}));
    const InHive in = inHive(key);
    if (in.model == nullptr) return {};
    for (const HiveMount& mount : set_.mounts) {
        const KeyId top = mountTop(mount);
        if (top == kNoKey) continue;
        const InHive begins = inHive(top);
        if (begins.model != in.model) continue;
        bool holds = withKey && begins.node == in.node;
        for (NodeId at = begins.node; !holds && at != in.model->root();) {
            at = in.model->parent(at);
            holds = at == in.node;
        }
        if (holds) {
            const std::string shown = mountName(mount);
            return begins.node == in.node
                       ? say({"The key is %1, where a hive begins: it cannot be deleted, so nothing was deleted.",
                              "このキーはハイブの始まる %1 で、削除できないため、何も削除していません。"},
                             {shown})
                       : say({"%1 lies below the key and cannot be deleted, so nothing was deleted.",
                              "このキーの下には削除できない %1 があるため、何も削除していません。"},
                             {shown});
        }
    }
    return {};
}

LONG HiveBackend::renameKey(KeyId key, std::u16string_view newName) {
    if (isAbove(key) || isMountTop(key)) {
        return refuse(ERROR_ACCESS_DENIED, text({"A root, or the key where a hive begins, cannot be renamed.",
                                                 "ルートと、ハイブの始まるキーは名前を変更できません。"}));
    }
    const InHive in = inHive(key);
    if (const LONG rc = prepareWrite(in)) return rc;
    const HiveResult renamed = hive::renameKey(*in.model, in.node, newName);
    if (renamed.status == HiveStatus::NotFound) {
        ++local_;
        return refuse(ERROR_KEY_DELETED, renamed.message);
    }
    return outcome(renamed, in, false);
}

LONG HiveBackend::renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) {
    const InHive in = inHive(key);
    if (const LONG rc = prepareWrite(in)) return rc;
    return outcome(in.model->renameValue(in.node, oldName, newName), in, true);
}

LONG HiveBackend::beginBatch() {
    if (readOnly()) return ERROR_ACCESS_DENIED;
    batchOpen_ = true;  // each hive joins at its first write: a batch copies and locks only what it changes
    return ERROR_SUCCESS;
}

LONG HiveBackend::commitBatch(bool beginAgain) {
    LONG rc = ERROR_SUCCESS;
    for (const auto& model : models_) {
        if (!model->inBatch()) continue;
        const HiveResult committed = model->commitBatch();
        ++local_;
        if (!committed.ok() && rc == ERROR_SUCCESS) {
            lastFailure_ = committed.message;
            rc = ERROR_CANTWRITE;
        }
    }
    batchOpen_ = beginAgain && batchOpen_;
    return rc;
}

bool HiveBackend::beginSnapshot() {
    reloadChangedHives();
    snapshotOpen_ = true;
    return true;
}

void HiveBackend::endSnapshot() {
    snapshotOpen_ = false;
}

std::vector<std::string> HiveBackend::files() const {
    std::vector<std::string> paths;
    for (const auto& model : models_) paths.push_back(model->path());
    return paths;
}

}  // namespace tovik::hive
