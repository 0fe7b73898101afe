#include "history/recording_backend.h"

#include <algorithm>
#include <exception>
#include <future>
#include <optional>
#include <stdexcept>

#include "history/revert.h"
#include "language/messages.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik::history {

namespace {

// Why the history could not take a change, and what became of the change: refused before it was
// made, or made already (the batch it belongs to was written) and so beyond undo.
std::string historyFailure(const std::exception& error, bool made) {
    std::string why = error.what();
    constexpr std::string_view kPrefix = "change history: ";
    if (why.starts_with(kPrefix)) why.erase(0, kPrefix.size());
    if (made) {
        return say({"The change history could not be written (%1): the change was made, but it cannot be undone.",
                    "変更履歴を書き込めません（%1）。変更は行いましたが、元に戻すことはできません。"},
                   {why});
    }
    return say({"The change history could not be written (%1), so the change was not made (it could not have been "
                "undone).",
                "変更履歴を書き込めません（%1）。元に戻せなくなるため、変更は行いませんでした。"},
               {why});
}

// Data written that is larger than this is recorded by its digest (ChangeOp::afterIsDigest).
constexpr DWORD kLargestKeptData = 4096;

std::u16string joinPath(std::u16string_view parent, std::u16string_view name) {
    std::u16string path(parent);
    path += u'\\';
    path += name;
    return path;
}

}  // namespace

RecordingBackend::RecordingBackend(std::unique_ptr<Backend> inner, std::unique_ptr<HistoryFile> file)
    : inner_(std::move(inner)), file_(std::move(file)) {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const KeyId id = inner_->rootKey(root);
        if (id != kNoKey) nodes_[id] = Node{kNoKey, rootKeyName(root)};
    }
    try {
        recover();
    } catch (const std::exception&) {
        // What cannot be settled now stays pending for the next open.
    }
}

RecordingBackend::~RecordingBackend() {
    try {
        if (entry_.id != 0) file_->finishEntry(entry_.id);
    } catch (const std::exception&) {
        // Left open: the next open finishes it.
    }
}

void RecordingBackend::recover() {
    if (inner_->readOnly()) return;  // nothing to settle from here; a writer will
    // The pending parts of one entry are one batch written as it went: the registry kept all of
    // them or none, and they are checked together (one alone may leave keys the next one made).
    std::vector<PendingPart> parts = file_->orphanedParts();
    for (std::size_t first = 0; first < parts.size();) {
        std::size_t end = first;
        std::vector<ChangeOp> ops;
        bool readable = true;
        for (; end < parts.size() && parts[end].entry == parts[first].entry; ++end) {
            readable = readable && !parts[end].ops.empty();
            ops.insert(ops.end(), std::make_move_iterator(parts[end].ops.begin()),
                       std::make_move_iterator(parts[end].ops.end()));
        }
        const bool kept = readable && !firstDifference(*inner_, ops);
        for (; first < end; ++first) {
            if (kept)
                file_->markPartDone(parts[first].entry, parts[first].seq);
            else
                file_->dropPart(parts[first].entry, parts[first].seq);
        }
    }
    for (std::int64_t id : file_->orphanedEntries()) file_->finishEntry(id);
}

void RecordingBackend::learn(KeyId id, KeyId parent, std::u16string_view name) {
    if (id == kNoKey) return;
    // A walk meets each key twice (listed, then opened): the second time costs a lookup only.
    const auto it = nodes_.find(id);
    if (it == nodes_.end()) {
        nodes_.emplace(id, Node{parent, std::u16string(name)});
    } else if (it->second.parent != parent || it->second.name != name) {
        // Moved or renamed since (by another process, too): paths are built from what is seen last.
        lastPathKey_ = kNoKey;
        it->second.parent = parent;
        it->second.name.assign(name);
    }
}

std::optional<std::u16string> RecordingBackend::pathOf(KeyId key) const {
    // Writes come key by key: the last key's path is asked for once per value.
    if (key == lastPathKey_ && key != kNoKey) return lastPath_;
    std::vector<const std::u16string*> names;
    for (KeyId at = key; at != kNoKey;) {
        const auto it = nodes_.find(at);
        if (it == nodes_.end() || names.size() > static_cast<std::size_t>(kMaxKeyDepth) + 1) return std::nullopt;
        names.push_back(&it->second.name);
        at = it->second.parent;
    }
    if (names.empty()) return std::nullopt;
    std::u16string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty()) path += u'\\';
        path += **it;
    }
    lastPathKey_ = key;
    lastPath_ = path;
    return path;
}

KeyId RecordingBackend::findChild(KeyId parent, std::u16string_view name) {
    const KeyId id = inner_->findChild(parent, name);
    learn(id, parent, name);
    return id;
}

KeyId RecordingBackend::findChildNamed(KeyId parent, std::u16string_view name, std::u16string& storedName) {
    const KeyId id = inner_->findChildNamed(parent, name, storedName);
    learn(id, parent, storedName);
    return id;
}

void RecordingBackend::listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out) {
    const std::size_t first = out.size();
    inner_->listSubkeys(key, from, limit, out);
    for (std::size_t i = first; i < out.size(); ++i) learn(out[i].id, key, out[i].name);
}

std::vector<RecordedValue> RecordingBackend::currentValues(KeyId key) {
    std::vector<ValueEntry> entries;
    inner_->listValues(key, 0, -1, entries);
    std::vector<RecordedValue> values;
    values.reserve(entries.size());
    for (ValueEntry& entry : entries) {
        if (!entry.dataLoaded) {
            entry.data.resize(entry.size);
            if (!inner_->readValueData(entry.id, reinterpret_cast<BYTE*>(entry.data.data()), entry.size))
                throw BackendFailure(BackendFailure::Kind::Busy);  // changed under us: try again
        }
        values.push_back({std::move(entry.name), entry.type, std::move(entry.data)});
    }
    return values;
}

std::optional<RecordedValue> RecordingBackend::currentValue(KeyId key, std::u16string_view name) {
    std::vector<ValueEntry> entries;
    inner_->listValues(key, 0, -1, entries);
    for (ValueEntry& entry : entries) {
        if (compareNames(entry.name, name) != 0) continue;
        if (!entry.dataLoaded) {
            entry.data.resize(entry.size);
            if (!inner_->readValueData(entry.id, reinterpret_cast<BYTE*>(entry.data.data()), entry.size))
                throw BackendFailure(BackendFailure::Kind::Busy);
        }
        return RecordedValue{std::move(entry.name), entry.type, std::move(entry.data)};
    }
    return std::nullopt;
}

bool RecordingBackend::writing() {
    failure_.clear();
    // A batch the backend rolled back by itself (a full disk): what it gathered was not kept, and
    // the writes that follow commit one by one.
    if (batchOpen_ && !inner_->inTransaction()) {
        batchOpen_ = false;
        dropBatchParts();
    }
    return true;
}

namespace {

// About what an op takes in the history file.
std::size_t recordedSize(const ChangeOp& op) {
    std::size_t bytes =
        48 + 2 * (op.key.size() + op.name.size() + op.newName.size() + op.before.name.size() + op.after.name.size());
    bytes += op.before.data.size() + op.after.data.size();
    for (const RecordedValue& v : op.values) bytes += 12 + 2 * v.name.size() + v.data.size();
    return bytes;
}

}  // namespace

void RecordingBackend::gather(ChangeOp op) {
    // A value set on the key made just before is kept with that key's record: an import or an
    // undo of a large delete sets millions, each otherwise recorded with its key's whole path.
    if (op.kind == OpKind::SetValue && op.onMadeKey && !op.hadBefore && !op.afterIsDigest && !pending_.empty() &&
        pending_.back().kind == OpKind::CreateKey && pending_.back().key == op.key) {
        pendingBytes_ += 12 + 2 * op.after.name.size() + op.after.data.size();
        pending_.back().values.push_back(std::move(op.after));
        if (pendingBytes_ >= partBytes_) writeGathered();
        return;
    }
    pendingBytes_ += recordedSize(op);
    pending_.push_back(std::move(op));
    pendingMadeKey_ = kNoKey;
    if (pendingBytes_ >= partBytes_) writeGathered();
}

void RecordingBackend::writeGathered() {
    if (pending_.empty()) return;
    if (!unrecorded_) {
        nameEntry(pending_.front());
        try {
            // Synced once, at the batch's commit, not part by part.
            batchParts_.push_back(file_->writePart(entry_, pending_, HistoryFile::Sync::later));
        } catch (const std::exception& error) {
            unrecorded_.emplace(error.what());
        }
    }
    pending_.clear();
    pendingBytes_ = 0;
    pendingMadeKey_ = kNoKey;
}

void RecordingBackend::dropBatchParts() {
    pending_.clear();
    pendingBytes_ = 0;
    pendingMadeKey_ = kNoKey;
    for (std::int64_t seq : batchParts_) {
        try {
            file_->dropPart(entry_.id, seq);
        } catch (const std::exception&) {
            // Stays pending: the next open finds the registry without it and drops it.
        }
    }
    batchParts_.clear();
    unrecorded_.reset();
}

template <typename Write, typename Kept>
LONG RecordingBackend::recordedOps(std::vector<ChangeOp> ops, Write write, Kept kept) {
    if (batchOpen_) {
        const LONG rc = write();
        if (kept(rc))
            for (ChangeOp& op : ops) gather(std::move(op));
        return rc;
    }
    nameEntry(ops.front());
    std::int64_t seq = 0;
    try {
        seq = file_->writePart(entry_, ops, HistoryFile::Sync::later);
    } catch (const std::exception& error) {
        failure_ = historyFailure(error, false);
        finishEntryIfOutsideScope();
        return ERROR_CANTWRITE;
    }
    // The part is in the history's file before the registry changes, so a process killed at any
    // moment leaves it for the next open to settle. It reaches the disk while the registry writes,
    // and both have before the change is reported done: one wait for the disk, not two in a row.
    std::future<void> synced = std::async(std::launch::async, [this] { file_->syncWritten(); });
    const LONG rc = write();
    try {
        synced.get();
    } catch (const std::exception& error) {
        if (kept(rc)) failure_ = historyFailure(error, true);
    }
    // A change outside any command's scope is its entry: the part is marked kept as the entry
    // is finished, in one transaction.
    const bool wholeEntry = kept(rc) && scopeDepth_ == 0;
    try {
        if (wholeEntry)
            file_->finishEntry(entry_.id, seq);
        else if (kept(rc))
            file_->markPartDone(entry_.id, seq);
        else
            file_->dropPart(entry_.id, seq);
    } catch (const std::exception&) {
        // The part stays pending, and the entry open; the next open settles them against the
        // registry.
    }
    if (wholeEntry)
        resetEntry();
    else
        finishEntryIfOutsideScope();
    return rc;
}

template <typename Write>
LONG RecordingBackend::recorded(ChangeOp op, Write write) {
    std::vector<ChangeOp> ops;
    ops.push_back(std::move(op));
    return recordedOps(std::move(ops), write, [](LONG rc) { return rc == ERROR_SUCCESS; });
}

void RecordingBackend::finishEntryIfOutsideScope() {
    if (scopeDepth_ > 0 || batchOpen_) return;
    if (entry_.id != 0) {
        try {
            file_->finishEntry(entry_.id);
        } catch (const std::exception&) {}
    }
    resetEntry();
}

void RecordingBackend::nameEntry(const ChangeOp& first) {
    if (entry_.id != 0) return;
    if (entry_.key.empty()) entry_.key = first.key;
    if (entry_.command.empty()) entry_.command = describeOp(first);
}

void RecordingBackend::resetEntry() {
    entry_ = EntryInfo{};
    createdInEntry_.clear();
    summarized_.clear();
    madeNamesKey_ = kNoKey;
}

LONG RecordingBackend::createKeys(KeyId parent, std::size_t parentDepth, std::span<const std::u16string_view> names,
                                  KeyId& id, bool& created) {
    writing();
    const std::optional<std::u16string> parentPath = pathOf(parent);
    if (!parentPath || inner_->readOnly()) return inner_->createKeys(parent, parentDepth, names, id, created);
    // Which of the names exist already: those the undo must leave. In a batch the change is
    // recorded after the write, and for one name the backend's `created` answers that.
    std::size_t existing = 0;
    if (!createdInEntry_.contains(parent) && !(batchOpen_ && names.size() == 1)) {
        for (KeyId at = parent; existing < names.size(); ++existing) {
            at = inner_->findChild(at, names[existing]);
            if (at == kNoKey) break;
        }
    }
    std::u16string joined;
    for (std::u16string_view name : names) {
        if (!joined.empty()) joined += u'\\';
        joined += name;
    }
    if (existing == names.size()) {  // nothing to make: no change to record
        const LONG rc = inner_->createKeys(parent, parentDepth, names, id, created);
        if (rc == ERROR_SUCCESS) learn(id, parent, joined);
        return rc;
    }
    std::vector<ChangeOp> ops;
    std::u16string path = *parentPath;
    for (std::size_t i = 0; i < names.size(); ++i) {
        path = joinPath(path, names[i]);
        if (i >= existing) ops.push_back(makeOp(OpKind::CreateKey, path));
    }
    // One step makes every missing key: recorded as one part, all or none.
    const LONG rc = recordedOps(
        std::move(ops), [&] { return inner_->createKeys(parent, parentDepth, names, id, created); },
        [&](LONG result) { return result == ERROR_SUCCESS && created; });
    if (rc == ERROR_SUCCESS) {
        learn(id, parent, joined);
        if (created) createdInEntry_.insert(id);
        if (created && batchOpen_ && !pending_.empty() && pending_.back().kind == OpKind::CreateKey) {
            pendingMadeKey_ = id;
            madeNames_.clear();
            madeNamesKey_ = id;
        }
    }
    return rc;
}

bool RecordingBackend::firstSetOfName(std::u16string_view name) {
    // The folded name's hash: two names of one hash are taken as one, which only sends the second
    // set the slower way, where what it replaces is read.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char16_t c : name) hash = (hash ^ foldNameUnit(c)) * 0x100000001B3ull;
    if (madeNames_.size() < 32) {
        if (std::find(madeNames_.begin(), madeNames_.end(), hash) != madeNames_.end()) return false;
        madeNames_.push_back(hash);
        if (madeNames_.size() == 32) madeNameSet_ = {madeNames_.begin(), madeNames_.end()};
        return true;
    }
    return madeNameSet_.insert(hash).second;
}

LONG RecordingBackend::setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) {
    writing();
    // An import sets the values of each key right after making it: the key's record keeps only
    // their count and the sum of their hashes, with no op of their own and no path built. Taking
    // the key back needs nothing more (the hashes tell whether its values are still these), and
    // the undo that takes it back records the values for a redo. Later changes of the key in the
    // same entry read what they replace, so that the walk back finds the values as they were set.
    if (batchOpen_ && key == pendingMadeKey_ && key != kNoKey && firstSetOfName(name)) {
        const LONG rc = inner_->setValue(key, name, type, data, size);
        if (rc == ERROR_SUCCESS) {
            ChangeOp& made = pending_.back();
            if (!made.valuesSummarized) summarized_.insert(key);
            made.valuesSummarized = true;
            ++made.summaryCount;
            made.summaryHash += valueHash(name, type, std::string_view(reinterpret_cast<const char*>(data), size));
        }
        return rc;
    }
    const std::optional<std::u16string> path = pathOf(key);
    if (!path || inner_->readOnly()) return inner_->setValue(key, name, type, data, size);
    ChangeOp op = makeOp(OpKind::SetValue, *path, std::u16string(name));
    const std::string_view written(reinterpret_cast<const char*>(data), size);
    op.afterIsDigest = size > kLargestKeptData;
    op.after = {std::u16string(name), type, op.afterIsDigest ? dataDigest(written) : std::string(written)};
    // On a key whose first values were summarized, a set that may replace one of them reads it
    // first. Which names those were is known for the last key made only (an import's values come
    // key by key, and a batch committed in the middle of a wide key ends its summary); for another
    // key every set reads.
    const bool mayReplaceSummarized = summarized_.contains(key) && (key != madeNamesKey_ || !firstSetOfName(name));
    op.onMadeKey = createdInEntry_.contains(key) && !mayReplaceSummarized;
    if (!op.onMadeKey) {
        if (std::optional<RecordedValue> before = currentValue(key, name)) {
            op.hadBefore = true;
            op.before = std::move(*before);
            op.after.name = op.before.name;  // an overwritten value keeps its name's case
        }
    }
    return recorded(std::move(op), [&] { return inner_->setValue(key, name, type, data, size); });
}

LONG RecordingBackend::deleteValue(KeyId key, std::u16string_view name) {
    writing();
    const std::optional<std::u16string> path = pathOf(key);
    if (!path || inner_->readOnly()) return inner_->deleteValue(key, name);
    std::optional<RecordedValue> before = currentValue(key, name);
    if (!before) return inner_->deleteValue(key, name);  // nothing there: nothing changes
    ChangeOp op = makeOp(OpKind::DeleteValue, *path, before->name);
    op.before = std::move(*before);
    return recorded(std::move(op), [&] { return inner_->deleteValue(key, name); });
}

LONG RecordingBackend::deleteKey(KeyId key) {
    writing();
    const std::optional<std::u16string> path = pathOf(key);
    if (!path || inner_->readOnly() || !inner_->keyExists(key)) return inner_->deleteKey(key);
    ChangeOp op = makeOp(OpKind::DeleteKey, *path);
    op.values = currentValues(key);
    const LONG rc = recorded(std::move(op), [&] { return inner_->deleteKey(key); });
    if (rc == ERROR_SUCCESS) {
        lastPathKey_ = kNoKey;
        nodes_.erase(key);
        createdInEntry_.erase(key);
    }
    return rc;
}

LONG RecordingBackend::renameKey(KeyId key, std::u16string_view newName) {
    writing();
    const std::optional<std::u16string> path = pathOf(key);
    const auto node = nodes_.find(key);
    if (!path || inner_->readOnly() || node == nodes_.end() || node->second.parent == kNoKey ||
        node->second.name.find(u'\\') != std::u16string::npos)
        return inner_->renameKey(key, newName);
    // The name as the registry keeps it, so that the undo gives back its case too.
    std::u16string stored;
    if (inner_->findChildNamed(node->second.parent, node->second.name, stored) != key) stored = node->second.name;
    std::u16string oldPath(parentPath(*path));
    oldPath = joinPath(oldPath, stored);
    ChangeOp op = makeOp(OpKind::RenameKey, oldPath, std::u16string(newName));
    const LONG rc = recorded(std::move(op), [&] { return inner_->renameKey(key, newName); });
    if (rc == ERROR_SUCCESS) {
        lastPathKey_ = kNoKey;  // the paths of the key and of every key below it changed
        nodes_[key].name.assign(newName);
    }
    return rc;
}

LONG RecordingBackend::renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) {
    writing();
    const std::optional<std::u16string> path = pathOf(key);
    if (!path || inner_->readOnly()) return inner_->renameValue(key, oldName, newName);
    const std::optional<RecordedValue> before = currentValue(key, oldName);
    if (!before) return inner_->renameValue(key, oldName, newName);
    // A value set later under either name may overwrite one this entry made: its before-state has
    // to be read then.
    createdInEntry_.erase(key);
    ChangeOp op = makeOp(OpKind::RenameValue, *path, before->name, std::u16string(newName));
    return recorded(std::move(op), [&] { return inner_->renameValue(key, oldName, newName); });
}

LONG RecordingBackend::beginBatch() {
    const LONG rc = inner_->beginBatch();
    if (rc == ERROR_SUCCESS) {
        batchOpen_ = true;
        pending_.clear();
        pendingBytes_ = 0;
        pendingMadeKey_ = kNoKey;
        batchParts_.clear();
        unrecorded_.reset();
    }
    return rc;
}

LONG RecordingBackend::commitBatch(bool beginAgain) {
    if (!batchOpen_) return inner_->commitBatch(beginAgain);
    writeGathered();
    // Every part on the disk before the registry commits: a power cut then never leaves a batch
    // kept whose history holds only some of its parts.
    if (!unrecorded_ && !batchParts_.empty()) {
        try {
            file_->syncWritten();
        } catch (const std::exception& error) {
            unrecorded_.emplace(error.what());
        }
    }
    const LONG rc = inner_->commitBatch(beginAgain);
    // The changes were in the backend's open transaction already and a backend cannot take them
    // back: when they were kept, they are kept unrecorded, and lastFailure() tells why they cannot
    // be undone. When they were not, the backend's own reason is the one to give. A batch recorded
    // only in part is not recorded at all: an undo of part of it would be no undo of it.
    if (unrecorded_ && rc == ERROR_SUCCESS) failure_ = historyFailure(*unrecorded_, true);
    if (rc == ERROR_SUCCESS && !unrecorded_) {
        try {
            file_->markPartsDone(entry_.id, batchParts_);
        } catch (const std::exception&) {
            // They stay pending: the next open finds the registry with them and keeps them.
        }
        batchParts_.clear();
    } else {
        dropBatchParts();
    }
    unrecorded_.reset();
    batchOpen_ = beginAgain && inner_->inTransaction();
    if (!beginAgain) finishEntryIfOutsideScope();
    return rc;
}

std::string RecordingBackend::lastFailure() const {
    return failure_.empty() ? inner_->lastFailure() : failure_;
}

void RecordingBackend::beginScope(std::u16string command, std::u16string key, EntryKind kind,
                                  std::vector<std::int64_t> targets) {
    if (scopeDepth_++ > 0) return;
    if (!batchOpen_) resetEntry();
    entry_.command = std::move(command);
    entry_.key = std::move(key);
    entry_.kind = kind;
    entry_.targets = std::move(targets);
}

void RecordingBackend::endScope() {
    if (scopeDepth_ == 0 || --scopeDepth_ > 0) return;
    finishEntryIfOutsideScope();
}

RecordingBackend* currentRecorder() {
    return dynamic_cast<RecordingBackend*>(currentBackend());
}

ChangeScope::ChangeScope(std::u16string command, std::u16string key) : recorder_(currentRecorder()) {
    serial_ = currentRegistryStoreSerial();
    if (recorder_) recorder_->beginScope(std::move(command), std::move(key));
}

ChangeScope::~ChangeScope() {
    // The registry may have been closed meanwhile; its recorder finished the entry then.
    if (recorder_ && serial_ == currentRegistryStoreSerial()) recorder_->endScope();
}

}  // namespace tovik::history
