#include "compare/tree_compare.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "registry/key_path.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/value_types.h"

namespace tovik {

namespace {

bool isStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A subkey name with the key it names on each side (kNoKey where it is missing).
struct ChildPair {
    std::u16string name;
    KeyId a = kNoKey;
    KeyId b = kNoKey;
};

// The subkeys of one key pair still to walk; path has parentLength units while they are walked.
struct Frame {
    std::vector<ChildPair> children;
    std::size_t next = 0;
    std::size_t parentLength = 0;
    bool oneSided = false;  // the key whose subkeys these are is only on one side
};

// Thrown to end the walk at a key that cannot be read.
struct ReadFailure {};

// One side's snapshot for the length of the walk, unless the backend holds one already (a batch,
// or the other side is the same registry).
class SideSnapshot {
public:
    explicit SideSnapshot(Backend* backend) {
        if (backend && !backend->inTransaction() && backend->beginSnapshot()) backend_ = backend;
    }
    ~SideSnapshot() {
        if (backend_ && backend_->inTransaction()) backend_->endSnapshot();
    }
    SideSnapshot(const SideSnapshot&) = delete;
    SideSnapshot& operator=(const SideSnapshot&) = delete;

private:
    Backend* backend_ = nullptr;
};

class TreeComparer {
public:
    TreeComparer(const CompareSide& a, const CompareSide& b, DifferenceSink& sink, const CompareOptions& options)
        : a_(a), b_(b), sink_(sink), options_(options) {}

    CompareResult run() {
        try {
            walk();
        } catch (const ReadFailure&) {
            result_.outcome = CompareOutcome::ReadFailed;
            result_.keyPath = path_;
        } catch (const BackendFailure&) {
            result_.outcome = CompareOutcome::ReadFailed;
            result_.keyPath = path_;
        }
        return std::move(result_);
    }

private:
    static KeyId openKey(const CompareSide& side) {
        if (!side.backend) return kNoKey;
        KeyId key = side.backend->rootKey(side.root);
        for (std::u16string_view name : splitKeyPath(side.path)) {
            if (key == kNoKey) break;
            key = side.backend->findChild(key, name);
        }
        return key;
    }

    void walk() {
        const KeyId topA = openKey(a_);
        const KeyId topB = openKey(b_);
        if (topA == kNoKey && topB == kNoKey) {
            result_.outcome = CompareOutcome::KeyNotFound;
            return;
        }
        std::vector<Frame> stack;
        if (!visitKey(topA, topB, false)) return;
        stack.push_back(Frame{children(topA, topB), 0, 0, topA == kNoKey || topB == kNoKey});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == frame.children.size()) {
                stack.pop_back();
                continue;
            }
            ChildPair child = std::move(frame.children[frame.next++]);
            path_.resize(frame.parentLength);
            if (!path_.empty()) path_ += u'\\';
            path_ += child.name;
            const bool parentOneSided = frame.oneSided;
            // A damaged store whose tree loops is bounded by the depth a key can have.
            if (stack.size() > static_cast<std::size_t>(kMaxKeyDepth)) throw ReadFailure{};
            if (!visitKey(child.a, child.b, parentOneSided)) return;
            Frame next{children(child.a, child.b), 0, path_.size(), child.a == kNoKey || child.b == kNoKey};
            stack.push_back(std::move(next));
        }
    }

    // Reports the key pair at path_ and its values; false when the walk is to end.
    bool visitKey(KeyId a, KeyId b, bool belowOneSided) {
        ++result_.keys;
        Difference key;
        key.path = path_;
        key.belowOneSidedKey = belowOneSided;
        key.kind = a == kNoKey   ? DifferenceKind::KeyOnlyInB
                   : b == kNoKey ? DifferenceKind::KeyOnlyInA
                                 : DifferenceKind::KeySame;
        if (!emit(key)) return false;
        if (!compareValues(a, b, belowOneSided || a == kNoKey || b == kNoKey)) return false;
        if (options_.progress && !options_.progress(result_.keys)) {
            result_.outcome = CompareOutcome::Cancelled;
            return false;
        }
        return true;
    }

    bool emit(const Difference& difference) {
        const bool same = difference.kind == DifferenceKind::KeySame || difference.kind == DifferenceKind::ValueSame;
        if (same && !options_.reportSame) return true;
        if (!same) ++result_.differences;
        if (sink_.onDifference(difference)) return true;
        result_.outcome = CompareOutcome::Stopped;
        return false;
    }

    static void loadValues(Backend* backend, KeyId key, std::vector<ValueEntry>& values) {
        values.clear();
        if (key == kNoKey) return;
        backend->listValues(key, 0, -1, values);
        for (ValueEntry& value : values) {
            if (value.dataLoaded) continue;
            value.data.resize(value.size);
            if (!backend->readValueData(value.id, reinterpret_cast<BYTE*>(value.data.data()), value.size))
                throw ReadFailure{};
            value.dataLoaded = true;
        }
    }

    static ValueData dataOf(const ValueEntry& value) {
        return ValueData{value.type, reinterpret_cast<const BYTE*>(value.data.data()), value.data.size()};
    }

    // Sorted positions of values by folded name, for pairing the two sides.
    static std::vector<std::size_t> byName(const std::vector<ValueEntry>& values) {
        std::vector<std::size_t> order(values.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&values](std::size_t x, std::size_t y) {
            return compareNames(values[x].name, values[y].name) < 0;
        });
        return order;
    }

    bool compareValues(KeyId a, KeyId b, bool belowOneSided) {
        loadValues(a_.backend, a, valuesA_);
        loadValues(b_.backend, b, valuesB_);
        const std::vector<std::size_t> orderA = byName(valuesA_);
        const std::vector<std::size_t> orderB = byName(valuesB_);
        // Pairs of positions (npos where a side has none), then put in the order they are reported.
        constexpr std::size_t none = static_cast<std::size_t>(-1);
        std::vector<std::pair<std::size_t, std::size_t>> pairs;
        pairs.reserve(std::max(valuesA_.size(), valuesB_.size()));
        std::size_t i = 0, j = 0;
        while (i < orderA.size() || j < orderB.size()) {
            int order = i == orderA.size()   ? 1
                        : j == orderB.size() ? -1
                                             : compareNames(valuesA_[orderA[i]].name, valuesB_[orderB[j]].name);
            if (order < 0)
                pairs.emplace_back(orderA[i++], none);
            else if (order > 0)
                pairs.emplace_back(none, orderB[j++]);
            else
                pairs.emplace_back(orderA[i++], orderB[j++]);
        }
        std::sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) {
            const bool xa = x.first != none, ya = y.first != none;
            if (xa != ya) return xa;
            return xa ? x.first < y.first : x.second < y.second;
        });
        for (const auto& [x, y] : pairs) {
            Difference value;
            value.path = path_;
            value.belowOneSidedKey = belowOneSided;
            if (x != none) value.a = dataOf(valuesA_[x]);
            if (y != none) value.b = dataOf(valuesB_[y]);
            if (y == none) {
                value.kind = DifferenceKind::ValueOnlyInA;
                value.name = valuesA_[x].name;
            } else if (x == none) {
                value.kind = DifferenceKind::ValueOnlyInB;
                value.name = valuesB_[y].name;
            } else {
                value.kind = sameValue(value.a, value.b) ? DifferenceKind::ValueSame : DifferenceKind::ValueChanged;
                value.name = valuesA_[x].name;
            }
            if (!emit(value)) return false;
        }
        return true;
    }

    static void loadChildren(Backend* backend, KeyId key, std::vector<SubkeyEntry>& out) {
        out.clear();
        if (key == kNoKey) return;
        backend->listSubkeys(key, 0, -1, out);
        for (const SubkeyEntry& entry : out)
            if (entry.damaged) throw ReadFailure{};
        // Backends list in their own name order (Wine folds to lower case): the merge needs one.
        const auto less = [](const SubkeyEntry& x, const SubkeyEntry& y) { return compareNames(x.name, y.name) < 0; };
        if (!std::is_sorted(out.begin(), out.end(), less)) std::stable_sort(out.begin(), out.end(), less);
    }

    std::vector<ChildPair> children(KeyId a, KeyId b) {
        loadChildren(a_.backend, a, subkeysA_);
        loadChildren(b_.backend, b, subkeysB_);
        std::vector<ChildPair> merged;
        merged.reserve(std::max(subkeysA_.size(), subkeysB_.size()));
        std::size_t i = 0, j = 0;
        while (i < subkeysA_.size() || j < subkeysB_.size()) {
            int order = i == subkeysA_.size()   ? 1
                        : j == subkeysB_.size() ? -1
                                                : compareNames(subkeysA_[i].name, subkeysB_[j].name);
            if (order < 0) {
                merged.push_back(ChildPair{std::move(subkeysA_[i].name), subkeysA_[i].id, kNoKey});
                ++i;
            } else if (order > 0) {
                merged.push_back(ChildPair{std::move(subkeysB_[j].name), kNoKey, subkeysB_[j].id});
                ++j;
            } else {
                merged.push_back(ChildPair{std::move(subkeysA_[i].name), subkeysA_[i].id, subkeysB_[j].id});
                ++i;
                ++j;
            }
        }
        return merged;
    }

    const CompareSide& a_;
    const CompareSide& b_;
    DifferenceSink& sink_;
    const CompareOptions& options_;
    CompareResult result_;
    std::u16string path_;
    // Reused from key to key, so that a walk allocates only when a key is larger than any before.
    std::vector<ValueEntry> valuesA_, valuesB_;
    std::vector<SubkeyEntry> subkeysA_, subkeysB_;
};

}  // namespace

namespace {

// The bytes of string data without the zeros that end it: one unit for a string, up to two (the
// last string's and the list's) for a multi-string. Data of an odd size is taken as it is.
std::size_t stringDataLength(DWORD type, const BYTE* data, std::size_t size) {
    if (size % 2 != 0) return size;
    int zeros = type == REG_MULTI_SZ ? 2 : 1;
    while (zeros-- > 0 && size >= 2 && data[size - 1] == 0 && data[size - 2] == 0) size -= 2;
    return size;
}

}  // namespace

bool sameValue(const ValueData& a, const ValueData& b) {
    if (a.type != b.type) return false;
    std::size_t sizeA = a.size, sizeB = b.size;
    if (sizeA != sizeB && isStringType(a.type)) {
        sizeA = stringDataLength(a.type, a.data, sizeA);
        sizeB = stringDataLength(b.type, b.data, sizeB);
    }
    return sizeA == sizeB && (sizeA == 0 || std::memcmp(a.data, b.data, sizeA) == 0);
}

Difference reversed(const Difference& difference) {
    Difference reversed = difference;
    std::swap(reversed.a, reversed.b);
    switch (difference.kind) {
    case DifferenceKind::KeyOnlyInA: reversed.kind = DifferenceKind::KeyOnlyInB; break;
    case DifferenceKind::KeyOnlyInB: reversed.kind = DifferenceKind::KeyOnlyInA; break;
    case DifferenceKind::ValueOnlyInA: reversed.kind = DifferenceKind::ValueOnlyInB; break;
    case DifferenceKind::ValueOnlyInB: reversed.kind = DifferenceKind::ValueOnlyInA; break;
    default: break;
    }
    return reversed;
}

CompareResult compareKeyTrees(const CompareSide& a, const CompareSide& b, DifferenceSink& sink,
                              const CompareOptions& options) {
    SideSnapshot snapshotA(a.backend);
    SideSnapshot snapshotB(b.backend);
    return TreeComparer(a, b, sink, options).run();
}

}  // namespace tovik
