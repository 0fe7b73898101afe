#pragma once
// One Windows hive file, read and written through libhivex, with the operations a registry
// backend needs. Keys are NodeIds that stay valid while the model lives, also across the reopen
// that follows a failed hivex call. A key's subkeys (in name order) and values (in the hive's
// order) are read once and kept, so access by index is O(1).
//
// hivex writes the whole hive back and may leave its in-memory hive half changed when a call
// fails, so: every write starts from the file as it is on disk (reread when another program saved
// it), a failed hivex call throws the handle away and reopens the file, and each write outside a
// batch is saved at once (a new file beside the hive, fsynced and renamed over it). Before the
// first change the hive is copied once to NAME.tovik-backup.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "language/messages.h"
#include "stores/hive/hive_file_ops.h"
#include "stores/hive/hive_write_guard.h"

struct hive_h;  // libhivex's handle

namespace tovik::hive {

enum class HiveStatus {
    Ok,
    NotFound,    // no such key or value, or the key was deleted
    Exists,      // a key of that name exists already
    HasSubkeys,  // a key with subkeys cannot be deleted
    ReadOnly,    // the hive was opened read-only (readOnlyReason() says why)
    Refused,     // hivex cannot write this (too large, a class name, a root...)
    Damaged,     // the hive's records are inconsistent
    Failed,      // a file or hivex call failed; nothing of the write was kept
};

struct HiveResult {
    HiveStatus status = HiveStatus::Ok;
    std::string message;  // a sentence for the user when status is not Ok
    bool ok() const { return status == HiveStatus::Ok; }
};

using NodeId = std::uint32_t;

struct HiveValue {
    std::u16string name;  // empty: the key's unnamed value
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;  // exactly the hive's bytes
};

struct HiveOpenOptions {
    bool writable = false;
};

// Keys deeper than this below the hive's root are neither read nor created.
inline constexpr std::size_t kMaxHiveDepth = 512;

class HiveModel {
public:
    // nullptr with result saying why when the file cannot be opened as a hive.
    static std::unique_ptr<HiveModel> open(const std::string& path, const HiveOpenOptions& options, HiveResult& result);
    ~HiveModel();
    HiveModel(const HiveModel&) = delete;
    HiveModel& operator=(const HiveModel&) = delete;

    const std::string& path() const { return path_; }
    // The file as it was when last read or saved (taken from the descriptor that read it).
    const std::optional<FileIdentity>& identity() const { return identity_; }
    bool readOnly() const { return !writable_; }
    // A sentence when Windows left unfinished writes (the hive then opens read-only); else empty.
    const std::string& readOnlyReason() const { return readOnlyReason_; }
    // The sentence of a write refused because the hive is read-only: the reason first, where
    // there is one (Windows left the hive unfinished), then that nothing was changed.
    std::string refusedWriteSentence() const;
    // The largest value data this hive accepts from setValue.
    std::size_t maxValueSize() const { return maxValueSize_; }

    NodeId root() const { return 0; }
    // The name as stored (its case kept), and the parent (root's parent is root).
    const std::u16string& name(NodeId key) const;
    NodeId parent(NodeId key) const;

    HiveResult findChild(NodeId parent, std::u16string_view name, NodeId& child);
    HiveResult subkeyCount(NodeId key, std::size_t& count);
    // NotFound past the end.
    HiveResult subkeyAt(NodeId key, std::size_t index, NodeId& child);
    HiveResult valueCount(NodeId key, std::size_t& count);
    // The pointer stays valid until the next write to this key or the next reopen.
    HiveResult valueAt(NodeId key, std::size_t index, const HiveValue*& value);
    HiveResult findValue(NodeId key, std::u16string_view name, const HiveValue*& value);

    // When the key was last written, as a FILETIME (0 when the hive holds none). Writes set it as
    // Windows does: a value set or deleted touches its key, a key created touches itself and its
    // parent, a key deleted touches its parent. Setting a value to the data it holds writes nothing.
    HiveResult writeTime(NodeId key, std::int64_t& time);
    // Gives a key this time, saved with the next save: a rename copies keys, whose copies take
    // their originals' times.
    void setWriteTime(NodeId key, std::int64_t time);

    // True while the key is in the hive (not deleted here or by another program since).
    bool exists(NodeId key);
    // Why hivex cannot create a key of this name below a key at depth parentDepth; Ok when it can.
    HiveResult checkKeyName(std::u16string_view name, std::size_t parentDepth) const;
    std::size_t depth(NodeId key) const { return key < nodes_.size() ? nodes_[key].depth : 0; }

    // Whether the key has a class name. hivex neither reads nor writes class names, so the key's
    // record is read from the file; refused while this process holds unsaved changes to the hive.
    HiveResult hasClassName(NodeId key, bool& has);
    // Creates one key below parent (className must be empty: hivex cannot write class names).
    HiveResult createKey(NodeId parent, std::u16string_view name, NodeId& child, std::u16string_view className = {});
    // Replaces the value of that name (keeping its place and the case of its name) or appends it.
    HiveResult setValue(NodeId key, std::u16string_view name, std::uint32_t type, const std::uint8_t* data,
                        std::size_t size);
    HiveResult deleteValue(NodeId key, std::u16string_view name);
    // Gives a key exactly these values, in this order, in one hivex call (copying a key).
    HiveResult replaceValues(NodeId key, std::vector<HiveValue> values);
    // Renames a value in place: its type, data and position stay. Exists when another value has
    // the new name.
    HiveResult renameValue(NodeId key, std::u16string_view oldName, std::u16string_view newName);
    // Only a key without subkeys; never the root.
    HiveResult deleteKey(NodeId key);
    // Always refused: hivex cannot write security descriptors.
    HiveResult setKeySecurity(NodeId key, const std::uint8_t* descriptor, std::size_t size);

    // Writes between begin and commit are saved once, by commit. When one of them fails, the
    // batch's earlier writes are dropped with it, the later ones are refused, and commit fails.
    HiveResult beginBatch();
    // Rereads the hive when another program saved it since it was read (for a consistent view
    // before a walk); NodeIds stay valid, keys that are gone give NotFound.
    HiveResult reloadIfChanged();
    HiveResult commitBatch();
    // After a key was copied (from, to) pairs: each copy takes over its original's NodeId, so
    // that ids held elsewhere follow the key to its new place; the originals must be deleted.
    void takeOverIds(const std::vector<std::pair<NodeId, NodeId>>& moved);
    // Drops what the open batch wrote (the hive is read again) and makes its commit fail.
    void failBatch();
    bool inBatch() const { return batchOpen_; }

private:
    struct Node {
        std::uint64_t handle = 0;  // hivex's node offset; 0 until resolved after a reopen
        NodeId parent = 0;
        std::uint16_t depth = 0;
        bool removed = false;
        bool childrenLoaded = false;
        bool valuesLoaded = false;
        std::u16string name;
        std::vector<NodeId> children;  // name order once loaded; before that, those known earlier
        std::vector<HiveValue> values;
    };

    // The keys resolved from the loaded hive, by hivex's node handle, to catch a key met twice.
    // hivex hands out only handles it checked to be 4-aligned offsets inside the file, so one bit
    // per 4 bytes of file holds them: a hive of 700,000 keys is met in one pass without hashing.
    class HandleSet {
    public:
        bool contains(std::uint64_t handle) const {
            const std::uint64_t bit = handle >> 2;
            return (bit >> 6) < words_.size() && ((words_[bit >> 6] >> (bit & 63)) & 1) != 0;
        }
        void insert(std::uint64_t handle);
        void erase(std::uint64_t handle);
        void clear() { words_.clear(); }

    private:
        std::vector<std::uint64_t> words_;
    };

    HiveModel() = default;
    HiveResult openHandle();
    void closeHandle();
    HiveResult rereadFile();
    HiveResult reopenAfterFailure(const std::string& message);
    HiveResult live(NodeId key);
    HiveResult loadChildren(NodeId key);
    HiveResult loadValues(NodeId key);
    HiveResult startWrite(NodeId key);
    HiveResult finishWrite(HiveResult written);
    HiveResult save();
    // Writes the times set since the hive was read into the saved file (hivex keeps none itself).
    HiveResult writeTimes(const std::string& newFile);
    HiveResult writeTimes(int fd);
    void touch(NodeId key);
    // A write that changed nothing: released as a write is, but nothing is saved.
    HiveResult finishUnchanged();
    HiveResult writeValues(NodeId key, std::vector<HiveValue> values);
    // Empty when the records the write will touch are sound; else why not, after dropping the
    // open batch (nothing of it is kept).
    HiveResult guardWrite(const std::string& damage);
    HiveResult loadGuard();
    std::optional<std::size_t> childIndex(const Node& parent, std::u16string_view name) const;
    // what: the sentence, with %1 for the hive's path and %2 for the system's reason.
    std::string hivexFailure(const Message& what, int err) const;
    std::string damagedSentence(const Message& damage) const;
    std::string cannotWriteTimes(std::string_view why) const;

    std::string path_;
    bool writable_ = false;
    std::string readOnlyReason_;
    std::size_t maxValueSize_ = 0;
    ::hive_h* hive_ = nullptr;
    bool handleWritable_ = false;           // hivex's own copy, opened for a write; else a mapped copy
    std::optional<FileIdentity> identity_;  // the file as last read or saved
    bool backupKept_ = false;
    std::deque<Node> nodes_;  // grows without moving the keys already read
    HandleSet resolved_;      // every resolved key, to catch cycles
    // Times set since the hive was read, by hivex's node handle: hivex can neither set a key's time
    // nor keep one for a key it creates (it copies the parent's).
    std::unordered_map<std::uint64_t, std::int64_t> times_;
    std::size_t cachedValueBytes_ = 0;  // bounded by the file's size: shared data blocks are hostile
    HiveWriteGuard guard_;              // the loaded hive and what this handle's writes changed in it
    std::unique_ptr<FolderLock> writeLock_;
    bool batchOpen_ = false;
    bool batchFailed_ = false;
    std::string batchFailure_;  // the sentence of the write that failed the batch
    bool batchChanged_ = false;
};

}  // namespace tovik::hive
