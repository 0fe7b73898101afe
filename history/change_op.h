#pragma once
// One recorded change of the registry, with what it found before and what it left, so that it can
// be taken back and made again: the unit of which history entries are built.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/win_types.h"

namespace tovik::history {

struct RecordedValue {
    std::u16string name;
    DWORD type = 0;
    std::string data;
    bool operator==(const RecordedValue&) const = default;
};

enum class OpKind : std::uint8_t { CreateKey = 1, DeleteKey, SetValue, DeleteValue, RenameKey, RenameValue };

// Keys are named by their whole path from the root ("HKEY_CURRENT_USER\Software\X"), so that an
// entry means the same in another process and after a restart, when the backend's ids differ.
struct ChangeOp {
    OpKind kind = OpKind::SetValue;
    std::u16string key;
    // SetValue, DeleteValue: the value's name; RenameValue: the old name; RenameKey: the new name.
    std::u16string name;
    std::u16string newName;  // RenameValue: the new name
    bool hadBefore = false;  // SetValue: a value of that name was there
    RecordedValue before;    // SetValue (when hadBefore) and DeleteValue
    RecordedValue after;     // SetValue
    // after.data holds dataDigest of the data written, not the data: a large value is kept once,
    // as the before-state of whatever changes it next, and never twice in memory while written.
    bool afterIsDigest = false;
    // SetValue on a key that its entry made: the value was not read first (an import writes
    // millions), so hadBefore false says only that the key held nothing before the entry.
    bool onMadeKey = false;
    // DeleteKey: the key's values, in creation order. CreateKey: values set on the new key right
    // after it was made (kept so, compactly, by the recording; decodeOps gives them back as the
    // SetValue ops they stand for).
    std::vector<RecordedValue> values;
    // CreateKey: the values set on the new key right after it was made, when the recording kept
    // only their count and sum of valueHash instead of the values themselves (an import's keys:
    // taking them back needs no data, and a redo takes its data from the undo that deleted them).
    bool valuesSummarized = false;
    std::uint32_t summaryCount = 0;
    std::uint64_t summaryHash = 0;
};

inline ChangeOp makeOp(OpKind kind, std::u16string key, std::u16string name = {}, std::u16string newName = {}) {
    ChangeOp op;
    op.kind = kind;
    op.key = std::move(key);
    op.name = std::move(name);
    op.newName = std::move(newName);
    return op;
}

// The path of the key that a RenameKey op leaves: the old path's last name replaced.
std::u16string renamedKeyPath(const ChangeOp& op);
// The path above path ("" for a root) and its last name.
std::u16string_view parentPath(std::u16string_view path);
std::u16string_view lastName(std::u16string_view path);

// A digest of data that stands for it in comparisons: its size and a 64-bit hash.
std::string dataDigest(std::string_view data);
// A hash of one value (its name as stored, type and data) whose sum over a key's values stands
// for them whatever their order.
std::uint64_t valueHash(std::u16string_view name, DWORD type, std::string_view data);
// Whether data is what op's SetValue wrote.
bool matchesAfter(const ChangeOp& op, DWORD type, std::string_view data);

// What an op did, in a few words ("delete key"), for an entry no command named.
std::u16string describeOp(const ChangeOp& op);

// A compact binary form of a list of ops, for the history file. decodeOps returns false for
// bytes that are not such a form (a damaged file): nothing of them is used.
std::string encodeOps(const std::vector<ChangeOp>& ops);
bool decodeOps(std::string_view bytes, std::vector<ChangeOp>& ops);

}  // namespace tovik::history
