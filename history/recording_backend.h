#pragma once
// The recording layer: a Backend that hands every call to the registry's own backend and writes
// each change, with what it replaced, into the registry's history first. The commands know nothing
// of it; a command that makes many changes opens a ChangeScope so that they are one entry.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "history/change_op.h"
#include "history/history_file.h"
#include "registry/backend.h"

namespace tovik::history {

class RecordingBackend : public Backend {
public:
    // Brings the history and the registry to agree first: parts left pending by a process that
    // was killed are kept when the registry holds their changes and dropped when it does not.
    RecordingBackend(std::unique_ptr<Backend> inner, std::unique_ptr<HistoryFile> file);
    ~RecordingBackend() override;

    HistoryFile& file() { return *file_; }
    // The size (about) at which the changes of an open batch are written out as a pending part,
    // so that a batch of a million changes is never held whole. Tests make it small.
    void setPartBytes(std::size_t bytes) { partBytes_ = bytes; }
    Backend& inner() { return *inner_; }

    // Groups the changes until the matching endScope into one entry (scopes nest: the outermost
    // names the entry). key may be empty: the first change's key is used.
    void beginScope(std::u16string command, std::u16string key, EntryKind kind = EntryKind::Change,
                    std::vector<std::int64_t> targets = {});
    void endScope();
    // The whole path of a key this process has reached; nullopt for an id it never saw.
    std::optional<std::u16string> pathOf(KeyId key) const;

    bool readOnly() const override { return inner_->readOnly(); }
    std::string readOnlyReason() const override { return inner_->readOnlyReason(); }
    KeyId rootKey(HKEY root) const override { return inner_->rootKey(root); }
    ChangeStamp changeStamp() override { return inner_->changeStamp(); }
    bool inTransaction() override { return inner_->inTransaction(); }
    bool keyExists(KeyId key) override { return inner_->keyExists(key); }
    KeyId findChild(KeyId parent, std::u16string_view name) override;
    KeyId findChildNamed(KeyId parent, std::u16string_view name, std::u16string& storedName) override;
    void listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out) override;
    void listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out) override {
        inner_->listValues(key, from, limit, out);
    }
    bool readValueData(ValueId value, BYTE* buffer, DWORD expectedSize) override {
        return inner_->readValueData(value, buffer, expectedSize);
    }
    LONG createKeys(KeyId parent, std::size_t parentDepth, std::span<const std::u16string_view> names, KeyId& id,
                    bool& created) override;
    LONG setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) override;
    LONG deleteValue(KeyId key, std::u16string_view name) override;
    LONG deleteKey(KeyId key) override;
    std::string treeDeleteRefusal(KeyId key, bool withKey) override { return inner_->treeDeleteRefusal(key, withKey); }
    LONG renameKey(KeyId key, std::u16string_view newName) override;
    LONG renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) override;
    LONG beginBatch() override;
    LONG commitBatch(bool beginAgain) override;
    bool commitsAlongTheWay() const override { return inner_->commitsAlongTheWay(); }
    bool beginSnapshot() override { return inner_->beginSnapshot(); }
    void endSnapshot() override { inner_->endSnapshot(); }
    std::string lastFailure() const override;
    bool terminatesStrings() const override { return inner_->terminatesStrings(); }
    std::vector<std::string> files() const override { return inner_->files(); }
    std::int64_t keyWriteTime(KeyId key) override { return inner_->keyWriteTime(key); }
    Backend* layeredOver() override { return inner_.get(); }

private:
    struct Node {
        KeyId parent;
        std::u16string name;  // one name, or several joined by '\' for keys made in one step
    };
    void recover();
    void learn(KeyId id, KeyId parent, std::u16string_view name);
    // Reads a value as it is now; nullopt when there is none of that name.
    std::optional<RecordedValue> currentValue(KeyId key, std::u16string_view name);
    std::vector<RecordedValue> currentValues(KeyId key);
    // Runs write (which returns a result code) and records op when it succeeds: written ahead
    // when the write commits on its own, gathered for the batch's commit otherwise.
    template <typename Write>
    LONG recorded(ChangeOp op, Write write);
    // Records ops as one part around write(); kept(rc) tells whether the registry kept them.
    template <typename Write, typename Kept>
    LONG recordedOps(std::vector<ChangeOp> ops, Write write, Kept kept);
    // Adds ops of the open batch; writes what it gathered as a pending part once it is large.
    void gather(ChangeOp op);
    void writeGathered();
    // Forgets the open batch's changes: the backend did not keep them.
    void dropBatchParts();
    bool writing();  // false when a write has to be refused because the history cannot take it
    void finishEntryIfOutsideScope();
    void resetEntry();
    // An entry that no scope named is named after its first change.
    void nameEntry(const ChangeOp& first);
    // Whether no value of this name was set on madeNamesKey_ yet (and notes that one is now).
    bool firstSetOfName(std::u16string_view name);

    std::unique_ptr<Backend> inner_;
    std::unique_ptr<HistoryFile> file_;
    std::unordered_map<KeyId, Node> nodes_;
    mutable KeyId lastPathKey_ = kNoKey;  // pathOf's last answer, until a key moves or goes
    mutable std::u16string lastPath_;
    std::unordered_set<KeyId> createdInEntry_;  // keys the open entry made: nothing was there before
    std::unordered_set<KeyId> summarized_;      // of those, keys whose first values were summarized
    std::vector<ChangeOp> pending_;             // recorded in the open batch, not yet written
    std::size_t pendingBytes_ = 0;
    KeyId pendingMadeKey_ = kNoKey;  // the key whose CreateKey is pending_.back(), while it is
    // The folded names' hashes of the values set on madeNamesKey_, the last key made in a batch
    // (a set once there are many).
    KeyId madeNamesKey_ = kNoKey;
    std::vector<std::uint64_t> madeNames_;
    std::unordered_set<std::uint64_t> madeNameSet_;
    std::size_t partBytes_ = 4u << 20;
    std::vector<std::int64_t> batchParts_;          // parts of the open batch written already, pending
    std::optional<std::runtime_error> unrecorded_;  // why a part of the open batch could not be written
    EntryInfo entry_;
    int scopeDepth_ = 0;
    bool batchOpen_ = false;
    std::string failure_;
};

// The recording layer of the current registry, or null when its changes are not recorded.
RecordingBackend* currentRecorder();

// One user command, one history entry: every change made while the scope lives.
class ChangeScope {
public:
    explicit ChangeScope(std::u16string command, std::u16string key = {});
    ~ChangeScope();
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

private:
    RecordingBackend* recorder_;
    std::uint64_t serial_;
};

}  // namespace tovik::history
