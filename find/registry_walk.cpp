#include "find/registry_walk.h"

#include <algorithm>
#include <numeric>

#include "find/key_path.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/roots.h"

namespace tovik::find {

namespace {

const std::size_t kRootCount = heldRoots().size();

// The position of a held root among the virtual top's subkeys; -1 for any other handle.
std::int64_t heldRootIndex(HKEY root) {
    const std::span<const RootInfo> roots = heldRoots();
    for (std::size_t i = 0; i < roots.size(); ++i)
        if (roots[i].handle == root) return static_cast<std::int64_t>(i);
    return -1;
}
// Levels whose subkeys are counted for the progress estimate: a few calls per key there.
constexpr std::size_t kCountedLevels = 4;
// The end of a backward walk's edge: every real position comes before it.
const WalkPosition kPastEnd{{0xFFFFFFFFu}, WalkPosition::kKeySlot};

// The results that end a listing or skip a key because there is nothing (more) to read there;
// any other result means something that exists was not read.
bool isNothingThere(LONG rc) {
    return rc == ERROR_SUCCESS || rc == ERROR_NO_MORE_ITEMS || rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED;
}

int compareSlots(std::int64_t a, std::int64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

std::u16string_view shownName(const std::u16string& name) {
    return name.empty() ? std::u16string_view(u"@") : name;
}

}  // namespace

int comparePositions(const WalkPosition& a, const WalkPosition& b) {
    const std::size_t common = std::min(a.subkeys.size(), b.subkeys.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (a.subkeys[i] != b.subkeys[i]) return a.subkeys[i] < b.subkeys[i] ? -1 : 1;
    }
    // A key's own items come before everything below it.
    if (a.subkeys.size() == b.subkeys.size()) return compareSlots(a.slot, b.slot);
    return a.subkeys.size() < b.subkeys.size() ? -1 : 1;
}

RegistryWalk::RegistryWalk(HKEY root, std::u16string path, Direction direction, bool readValues, bool readData)
    : topRoot_(root),
      topPath_(std::move(path)),
      direction_(direction),
      readValues_(readValues || readData),
      readData_(readData) {
    restartFromEdge();
}

void RegistryWalk::clearStack() {
    while (!stack_.empty()) stack_.pop_back();
    path_.clear();
    valuesDepth_ = SIZE_MAX;
    failed_ = false;
}

bool RegistryWalk::pushTop() {
    Frame top;
    if (topRoot_ != 0) {
        HKEY key = 0;
        const LONG rc = RegOpenKeyExW(topRoot_, topPath_.c_str(), 0, 0, &key);
        if (rc != ERROR_SUCCESS) {
            incomplete_ = incomplete_ || !isNothingThere(rc);
            return false;
        }
        top.owned = KeyHandle(key);
        top.key = key;
        top.root = topRoot_;
        top.isRoot = topPath_.empty();
        path_ = resolveKeyPath(topRoot_, topPath_).existingPath;  // the names as stored
        const std::size_t cut = path_.rfind(u'\\');
        top.nameStart = cut == std::u16string::npos ? 0 : cut + 1;
        top.pathLength = path_.size();
        ++keysVisited_;
    }
    countOnFirstLevels(top);
    stack_.push_back(std::move(top));
    return true;
}

bool RegistryWalk::pushSubkey(std::int64_t index, bool& exists) {
    exists = false;
    if (index < 0) return false;
    const Frame& parent = stack_.back();
    Frame child;
    child.index = static_cast<DWORD>(index);
    if (parent.key == 0) {  // the virtual top: its subkeys are the roots
        if (static_cast<std::size_t>(index) >= kRootCount) return false;
        exists = true;
        child.key = heldRoots()[static_cast<std::size_t>(index)].handle;
        child.root = child.key;
        child.isRoot = true;
        path_.clear();
    } else {
        std::u16string_view name;
        const LONG listed = enumSubkeyName(parent.key, static_cast<DWORD>(index), keyBuffers_, name);
        if (listed != ERROR_SUCCESS) {
            incomplete_ = incomplete_ || !isNothingThere(listed);
            return false;
        }
        exists = true;
        if (stack_.size() > static_cast<std::size_t>(kMaxKeyDepth) + 1) {
            failed_ = true;
            return false;
        }
        HKEY key = 0;
        const LONG opened = RegOpenKeyExW(parent.key, name.data(), 0, 0, &key);  // ends in a zero unit
        if (opened != ERROR_SUCCESS) {
            incomplete_ = incomplete_ || !isNothingThere(opened);
            return false;
        }
        child.owned = KeyHandle(key);
        child.key = key;
        child.root = parent.root;
        path_.resize(parent.pathLength);
        if (!path_.empty()) path_ += u'\\';
        child.nameStart = path_.size();
        path_.append(name);
    }
    child.pathLength = path_.size();
    countOnFirstLevels(child);
    stack_.push_back(std::move(child));
    valuesDepth_ = SIZE_MAX;
    ++keysVisited_;
    return true;
}

void RegistryWalk::pop() {
    stack_.pop_back();
    valuesDepth_ = SIZE_MAX;
    if (!stack_.empty()) path_.resize(stack_.back().pathLength);
}

void RegistryWalk::countOnFirstLevels(Frame& frame) const {
    if (stack_.size() >= kCountedLevels) return;
    frame.subkeyCount = frame.key == 0 ? kRootCount : detail::countSubkeys(frame.key);
}

void RegistryWalk::enterBackward(Frame& frame) {
    frame.phase = Phase::Subkeys;
    if (frame.subkeyCount < 0) frame.subkeyCount = frame.key == 0 ? kRootCount : detail::countSubkeys(frame.key);
    frame.nextSubkey = frame.subkeyCount - 1;
}

double RegistryWalk::fractionBefore() const {
    if (atEdge_) return forward() ? 0.0 : 1.0;
    double fraction = 0;
    double share = 1;
    for (std::size_t level = 0; level + 1 < stack_.size(); ++level) {
        const std::int64_t count = stack_[level].subkeyCount;
        if (count <= 0) break;
        share /= static_cast<double>(count);
        fraction += share * stack_[level + 1].index;
    }
    return std::min(fraction, 1.0);
}

void RegistryWalk::restartFromEdge() {
    clearStack();
    start_ = forward() ? WalkPosition{} : kPastEnd;
    atEdge_ = true;
    if (pushTop() && !forward()) enterBackward(stack_.back());
}

std::int64_t RegistryWalk::currentKeyWriteTime() {
    if (stack_.empty()) return 0;
    Frame& frame = stack_.back();
    if (frame.writeTime < 0) {
        FILETIME time{};
        const bool read =
            frame.key != 0 && RegQueryInfoKeyW(frame.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, &time) == ERROR_SUCCESS;
        frame.writeTime =
            read ? static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) : 0;
    }
    return frame.writeTime;
}

void RegistryWalk::emitKey() {
    atEdge_ = false;
    kind_ = ItemKind::Key;
    currentRoot_ = stack_.back().root;
    currentSlot_ = WalkPosition::kKeySlot;
}

void RegistryWalk::emitValue(std::int64_t slot) {
    atEdge_ = false;
    kind_ = ItemKind::Value;
    currentRoot_ = stack_.back().root;
    currentSlot_ = slot;
    ++valuesVisited_;
}

std::u16string_view RegistryWalk::currentKeyName() const {
    if (stack_.empty() || stack_.back().isRoot) return {};
    const Frame& top = stack_.back();
    return std::u16string_view(path_).substr(top.nameStart, top.pathLength - top.nameStart);
}

bool RegistryWalk::next() {
    while (!stack_.empty() && !failed_) {
        Frame& frame = stack_.back();
        const bool hasItems = frame.key != 0;
        if (forward()) {
            switch (frame.phase) {
            case Phase::Key:
                frame.phase = Phase::Values;
                frame.nextValue = 0;
                if (hasItems && !frame.isRoot) {
                    emitKey();
                    return true;
                }
                break;
            case Phase::Values:
                if (hasItems && readValues_ && frame.nextValue < valueCount()) {
                    emitValue(frame.nextValue++);
                    return true;
                }
                frame.phase = Phase::Subkeys;
                frame.nextSubkey = 0;
                break;
            case Phase::Subkeys: {
                const std::int64_t index = frame.nextSubkey++;
                bool exists = false;
                if (!pushSubkey(index, exists) && !exists && !failed_) pop();
                break;
            }
            case Phase::Done: pop(); break;
            }
        } else {
            switch (frame.phase) {
            case Phase::Subkeys: {
                if (frame.nextSubkey < 0) {
                    frame.phase = Phase::Values;
                    frame.nextValue = hasItems && readValues_ ? valueCount() - 1 : -1;
                    break;
                }
                const std::int64_t index = frame.nextSubkey--;
                bool exists = false;
                if (pushSubkey(index, exists)) enterBackward(stack_.back());
                break;
            }
            case Phase::Values:
                if (frame.nextValue >= 0) {
                    emitValue(frame.nextValue--);
                    return true;
                }
                frame.phase = Phase::Key;
                break;
            case Phase::Key:
                frame.phase = Phase::Done;
                if (hasItems && !frame.isRoot) {
                    emitKey();
                    return true;
                }
                break;
            case Phase::Done: pop(); break;
            }
        }
    }
    return false;
}

bool RegistryWalk::startAt(HKEY root, std::u16string_view path, const std::optional<std::u16string>& valueName,
                           bool& exact) {
    exact = false;
    std::vector<std::u16string_view> names = splitKeyPath(path);
    std::size_t firstBelowTop = 0;
    if (topRoot_ == 0) {
        if (!isHeldRoot(root)) {
            restartFromEdge();
            return false;
        }
    } else {
        const std::vector<std::u16string_view> topNames = splitKeyPath(topPath_);
        bool inside = root == topRoot_ && names.size() >= topNames.size();
        for (std::size_t i = 0; inside && i < topNames.size(); ++i) inside = compareNames(names[i], topNames[i]) == 0;
        if (!inside) {
            restartFromEdge();
            return false;
        }
        firstBelowTop = topNames.size();
    }

    clearStack();
    start_ = WalkPosition{};
    atEdge_ = false;
    if (!pushTop()) return true;  // the walk's own key is gone: nothing to walk
    const auto enterAt = [&](std::int64_t index, bool present) {
        Frame& parent = stack_.back();
        parent.phase = Phase::Subkeys;
        start_.subkeys.push_back(static_cast<DWORD>(index));
        // A subkey being walked is passed over when its parent goes on; a missing one is not.
        const std::int64_t step = forward() ? 1 : -1;
        parent.nextSubkey = present ? index + step : (forward() ? index : index - 1);
        bool exists = false;
        return present && pushSubkey(index, exists);
    };
    if (topRoot_ == 0 && !enterAt(heldRootIndex(root), true)) return true;
    for (std::size_t i = firstBelowTop; i < names.size(); ++i) {
        const detail::SubkeySlot slot = detail::locateSubkey(stack_.back().key, names[i]);
        if (!enterAt(slot.index, slot.exists)) return true;  // stands where that key would be
    }

    Frame& key = stack_.back();
    key.phase = Phase::Key;
    if (!valueName) {
        exact = !key.isRoot;
        return true;
    }
    if (!readValues_) {
        // No value is walked: the place is between the key and its subkeys.
        start_.slot = WalkPosition::kAfterValues;
        if (forward()) {
            key.phase = Phase::Subkeys;
            key.nextSubkey = 0;
        }
        return true;
    }
    const std::int64_t slot = locateValue(*valueName, exact);
    start_.slot = slot;
    key.phase = Phase::Values;
    key.nextValue = forward() || exact ? slot : slot - 1;
    return true;
}

void RegistryWalk::loadValues(HKEY key) {
    valueCount_ = 0;
    EnumeratedValue read;
    for (DWORD index = 0;; ++index) {
        const LONG rc = enumValue(key, index, valueBuffers_, read, readData_);
        if (rc != ERROR_SUCCESS) {
            incomplete_ = incomplete_ || !isNothingThere(rc);
            break;
        }
        if (valueCount_ == values_.size()) values_.emplace_back();
        WalkValue& value = values_[valueCount_++];
        value.name.assign(read.name);
        // Folded once here rather than in every comparison of the sort.
        const std::u16string_view shown = shownName(value.name);
        value.sortKey.resize(shown.size());
        std::transform(shown.begin(), shown.end(), value.sortKey.begin(), foldNameUnit);
        value.type = read.type;
        if (readData_) {
            value.data.assign(read.data, read.data + read.size);
        } else {
            value.data.clear();
        }
    }
    order_.resize(valueCount_);
    std::iota(order_.begin(), order_.end(), 0u);
    // CompareNames order: the folded units compared one by one, a shorter prefix first.
    const auto before = [&](std::uint32_t a, std::uint32_t b) { return values_[a].sortKey < values_[b].sortKey; };
    if (std::is_sorted(order_.begin(), order_.end(), before)) return;
    // Most keys hold a few values: an insertion sort (stable too) needs no buffer of its own,
    // where stable_sort would allocate one for every key.
    constexpr std::size_t kFewValues = 32;
    if (order_.size() > kFewValues) {
        std::stable_sort(order_.begin(), order_.end(), before);
        return;
    }
    for (std::size_t i = 1; i < order_.size(); ++i) {
        const std::uint32_t moving = order_[i];
        std::size_t j = i;
        for (; j > 0 && before(moving, order_[j - 1]); --j) order_[j] = order_[j - 1];
        order_[j] = moving;
    }
}

std::int64_t RegistryWalk::valueCount() {
    const std::size_t depth = stack_.size() - 1;
    if (valuesDepth_ != depth) {
        loadValues(stack_.back().key);
        valuesDepth_ = depth;
    }
    return static_cast<std::int64_t>(valueCount_);
}

std::int64_t RegistryWalk::locateValue(const std::u16string& name, bool& exact) {
    const std::int64_t count = valueCount();
    for (std::int64_t i = 0; i < count; ++i) {
        if (compareNames(values_[order_[static_cast<std::size_t>(i)]].name, name) == 0) {
            exact = true;
            return i;
        }
    }
    exact = false;
    const std::u16string_view shown = shownName(name);
    for (std::int64_t i = 0; i < count; ++i) {
        if (compareNames(shownName(values_[order_[static_cast<std::size_t>(i)]].name), shown) > 0) return i;
    }
    return count;
}

int RegistryWalk::compareCurrentTo(const WalkPosition& position) const {
    const std::size_t depth = stack_.size() - 1;
    const std::size_t common = std::min(depth, position.subkeys.size());
    for (std::size_t i = 0; i < common; ++i) {
        const DWORD here = stack_[i + 1].index;
        if (here != position.subkeys[i]) return here < position.subkeys[i] ? -1 : 1;
    }
    if (depth == position.subkeys.size()) return compareSlots(currentSlot_, position.slot);
    return depth < position.subkeys.size() ? -1 : 1;
}

}  // namespace tovik::find
