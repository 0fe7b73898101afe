#pragma once
// Comparing two key trees: a merge walk over both in name order, key by key, that reports keys
// only on one side, values only on one side and values whose type or data differ. Each side is a
// key of a registry read straight through its Backend, so that a second registry can be read
// while another one is the current registry, and nothing is held but the key being compared and
// the subkey names of the keys above it.
//
// Names compare case-insensitively (name_fold.h); a key or value that differs in the case of its
// name alone is the same. String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) that differs only by
// its terminating zeros is the same string: the Tovik store keeps strings without it, Wine and
// Windows with it, and a .reg file adds it.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "registry/backend.h"
#include "registry/win_types.h"

namespace tovik {

// A key of a registry: root\path, read through backend (which must outlive the comparison).
struct CompareSide {
    Backend* backend = nullptr;
    HKEY root = 0;
    std::u16string path;  // below the root; empty for the root itself
};

enum class DifferenceKind {
    KeyOnlyInA,
    KeyOnlyInB,
    ValueOnlyInA,
    ValueOnlyInB,
    ValueChanged,  // on both sides, with another type or other data
    KeySame,       // reported only with CompareOptions::reportSame
    ValueSame,     // likewise
};

struct ValueData {
    DWORD type = REG_NONE;
    const BYTE* data = nullptr;
    std::size_t size = 0;
};

// One entry of the result; the views and pointers hold until the sink returns.
struct Difference {
    DifferenceKind kind = DifferenceKind::KeySame;
    // The key below the compared keys ("" for them), names as side A keeps them (as B keeps them
    // for a key only in B).
    std::u16string_view path;
    std::u16string_view name;  // the value's name ("" for the unnamed value); empty for keys
    ValueData a;               // the value on side A (ValueOnlyInA, ValueChanged, ValueSame)
    ValueData b;               // the value on side B (ValueOnlyInB, ValueChanged, ValueSame)
    // A key or value below a key that is reported only on one side: the difference follows from
    // that key's, and a .reg that deletes the key needs no line for it.
    bool belowOneSidedKey = false;

    bool isKey() const {
        return kind == DifferenceKind::KeyOnlyInA || kind == DifferenceKind::KeyOnlyInB ||
               kind == DifferenceKind::KeySame;
    }
};

// The same difference seen from the other side: A and B swap.
Difference reversed(const Difference& difference);

class DifferenceSink {
public:
    virtual ~DifferenceSink() = default;
    // False stops the comparison (CompareOutcome::Stopped).
    virtual bool onDifference(const Difference& difference) = 0;
};

struct CompareOptions {
    bool reportSame = false;  // also report the keys and values that are equal (KeySame, ValueSame)
    // Called after each key with the keys compared so far; false cancels the comparison.
    std::function<bool(std::size_t keys)> progress;
};

enum class CompareOutcome {
    Done,
    KeyNotFound,  // the key is on neither side
    ReadFailed,   // a key or value could not be read (a damaged or busy store); see keyPath
    Stopped,      // the sink returned false
    Cancelled,    // the progress callback returned false
};

struct CompareResult {
    CompareOutcome outcome = CompareOutcome::Done;
    std::size_t keys = 0;         // key pairs compared
    std::size_t differences = 0;  // reported entries other than KeySame and ValueSame
    std::u16string keyPath;       // ReadFailed: the key below the compared keys where it failed
};

// Walks both trees and reports to sink in tree order: a key, then its values (side A's in their
// order, then those only on side B in B's order), then each subkey in name order with everything
// below it. A key that is only on one side is reported with every key and value below it. A top
// key missing on one side is a key only on the other; missing on both, KeyNotFound. Each side is
// read inside a read snapshot of its backend when it is not already in one.
CompareResult compareKeyTrees(const CompareSide& a, const CompareSide& b, DifferenceSink& sink,
                              const CompareOptions& options = {});

// True when two values are the same: equal types and equal data, string data up to the zero
// that ends it (a multi-string up to the two that end the list).
bool sameValue(const ValueData& a, const ValueData& b);

}  // namespace tovik
