#pragma once
// A depth-first walk over the registry in the order the browser shows it: roots
// HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE; within a key first the key itself,
// then its values in the value list's order (sorted by shown name, "@" for the unnamed value),
// then its subkeys in the registry's order, each with everything below it. The walk goes forward
// or backward through that order, one item (a key or a value) per call, from any position.
//
// A position is the item's place in the walk: the subkey index at each level and the item's slot
// in its key, so that positions compare without reading the registry. A position that names a key
// or value that no longer exists stands where it would have been.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "find/key_lookup.h"
#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/value_types.h"
#include "registry/win_types.h"

namespace tovik::find {

struct WalkPosition {
    static constexpr std::int64_t kKeySlot = -1;             // the key itself, before its values
    static constexpr std::int64_t kAfterValues = INT64_MAX;  // between the values and the subkeys

    std::vector<DWORD> subkeys;    // the index at each level below the walk's top
    std::int64_t slot = kKeySlot;  // kKeySlot, a value's index in list order, or kAfterValues
};

// <0, 0, >0 as a comes before, is, or comes after b in the forward order.
int comparePositions(const WalkPosition& a, const WalkPosition& b);

struct WalkValue {
    std::u16string name;  // as stored; empty for the unnamed value
    DWORD type = 0;
    Bytes data;              // empty unless the walk reads data
    std::u16string sortKey;  // the shown name folded, for putting values in list order
};

class RegistryWalk {
public:
    enum class Direction { Forward, Backward };
    enum class ItemKind { Key, Value };

    // The walk covers root\path with everything below it; root 0 covers the three roots.
    // Without readValues no value is listed; without readData values come without their data.
    RegistryWalk(HKEY root, std::u16string path, Direction direction, bool readValues, bool readData);

    // Before the first item of the walk's direction: the top when forward, the end when backward.
    void restartFromEdge();
    // Where root\path (and, when given, its value of that name) stands: the next item is that
    // item when it exists, else the first one past where it would be in the walk's direction.
    // False when the place lies outside the walk's subtree (the walk then starts from its edge).
    // exact tells whether the item exists.
    bool startAt(HKEY root, std::u16string_view path, const std::optional<std::u16string>& valueName, bool& exact);
    // The start's position from the last StartAt (the edge's after RestartFromEdge).
    const WalkPosition& startPosition() const { return start_; }

    // Closes every handle the walk holds; it then has no items until it is started again.
    void release() { clearStack(); }

    // Moves to the next item; false at the end of the walk or when it failed.
    bool next();
    // A store whose keys nest deeper than any key can (a damaged store with a cycle) ends the
    // walk as failed.
    bool failed() const { return failed_; }
    // Something that exists could not be read (the store failed or was closed): keys or values
    // were passed over. Stays set until the walk is made anew.
    bool incomplete() const { return incomplete_; }

    ItemKind currentKind() const { return kind_; }
    HKEY currentRoot() const { return currentRoot_; }
    // The current key's path below its root, and its own name (empty for a root).
    std::u16string_view currentPath() const { return path_; }
    std::u16string_view currentKeyName() const;
    // The current value, when the current item is one.
    const WalkValue& currentValue() const { return values_[order_[static_cast<std::size_t>(currentSlot_)]]; }
    // When the current key (a value's key, for a value) was last written, as a FILETIME; 0 when
    // the registry keeps no time for it. Asked once per key.
    std::int64_t currentKeyWriteTime();
    // The current item's position; compare with ComparePositions.
    int compareCurrentTo(const WalkPosition& position) const;

    // How far through the whole forward order the current item stands, from 0 to 1: estimated
    // from its subkey indices on the first few levels, for a progress display.
    double fractionBefore() const;

    std::uint64_t keysVisited() const { return keysVisited_; }
    std::uint64_t valuesVisited() const { return valuesVisited_; }

private:
    // Forward a key goes Key, Values, Subkeys; backward Subkeys, Values, Key, Done.
    enum class Phase { Key, Values, Subkeys, Done };
    struct Frame {
        KeyHandle owned;  // empty for the three roots and the virtual top
        HKEY key = 0;     // 0: the virtual top above the roots
        HKEY root = 0;
        bool isRoot = false;         // a root has no name to match
        std::size_t pathLength = 0;  // of path_ up to and including this key's name
        std::size_t nameStart = 0;
        DWORD index = 0;  // this key's index among its parent's subkeys
        Phase phase = Phase::Key;
        std::int64_t nextValue = 0;
        std::int64_t nextSubkey = 0;    // the subkey to enter next (counting down when backward)
        std::int64_t subkeyCount = -1;  // known on the first levels, and when walked backward
        std::int64_t writeTime = -1;    // read on first need
    };

    bool forward() const { return direction_ == Direction::Forward; }
    void clearStack();
    bool pushTop();
    // Opens subkey index of the top frame and pushes it; false when there is none or it does not
    // open. exists tells whether the index was there at all.
    bool pushSubkey(std::int64_t index, bool& exists);
    void pop();
    void enterBackward(Frame& frame);
    // Counts the subkeys of a frame about to be pushed when it lies on the first levels.
    void countOnFirstLevels(Frame& frame) const;
    void emitKey();
    void emitValue(std::int64_t slot);
    void loadValues(HKEY key);
    // The number of values in list order for the top frame; loaded on first need.
    std::int64_t valueCount();
    std::int64_t locateValue(const std::u16string& name, bool& exact);

    HKEY topRoot_;
    std::u16string topPath_;
    Direction direction_;
    bool readValues_;
    bool readData_;

    std::vector<Frame> stack_;
    std::u16string path_;
    EnumBuffers keyBuffers_;
    EnumBuffers valueBuffers_;
    std::vector<WalkValue> values_;  // kept between keys, so their buffers are reused
    std::size_t valueCount_ = 0;
    std::vector<std::uint32_t> order_;    // list order of values_[0, valueCount_)
    std::size_t valuesDepth_ = SIZE_MAX;  // the frame whose values are loaded

    WalkPosition start_;
    ItemKind kind_ = ItemKind::Key;
    HKEY currentRoot_ = 0;
    std::int64_t currentSlot_ = WalkPosition::kKeySlot;
    bool failed_ = false;
    bool atEdge_ = false;
    bool incomplete_ = false;  // restarted from the edge, no item yet
    std::uint64_t keysVisited_ = 0;
    std::uint64_t valuesVisited_ = 0;
};

}  // namespace tovik::find
