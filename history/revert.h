#pragma once
// Taking recorded changes back: first a check that the registry is still as the changes left it
// (nothing is touched when it is not), then their before-states written in reverse order.
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "history/change_op.h"
#include "registry/backend.h"

namespace tovik::history {

// The first key or value that is not as the recorded changes left it.
struct Difference {
    std::u16string key;
    std::u16string value;  // the value's name when isValue
    bool isValue = false;
    enum class Reason { Missing, Present, Changed, NotEmpty } reason = Reason::Changed;
};

// A sentence naming what differs, for the command line.
std::string describeDifference(const Difference& difference);

// Recorded changes read a part at a time, so that an entry of a million changes (the delete of a
// large subtree) is never held whole.
class ChangeSource {
public:
    virtual ~ChangeSource() = default;
    virtual std::size_t partCount() = 0;
    // The changes of part i in the order they were made; throws std::runtime_error when unreadable.
    virtual std::vector<ChangeOp> part(std::size_t i) = 0;
};

// Whether the registry reached through store is as the changes (in the order they were made)
// left it; the first difference, walking from the last change back, when it is not. madeKeys
// receives the folded paths of the keys the changes created, for applyReverse.
std::optional<Difference> firstDifference(Backend& store, ChangeSource& changes,
                                          std::unordered_set<std::u16string>& madeKeys);
std::optional<Difference> firstDifference(Backend& store, const std::vector<ChangeOp>& ops);

// Writes the before-states of the changes through store, the last change first. The caller checked
// with firstDifference and holds a batch. ERROR_SUCCESS, or the result code of the write that
// failed (what was written until then stays, and is recorded as the undo itself).
LONG applyReverse(Backend& store, ChangeSource& changes, const std::unordered_set<std::u16string>& madeKeys);
LONG applyReverse(Backend& store, const std::vector<ChangeOp>& ops);

// The id of the key at path (a root's name first), looked up name by name; kNoKey when missing.
KeyId resolvePath(Backend& store, std::u16string_view path);

}  // namespace tovik::history
