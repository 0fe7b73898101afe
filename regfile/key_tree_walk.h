#pragma once
// A depth-first walk of a key and its subtree through the registry operations, in the order of
// Tovik's exports: a key, its values in the registry's order, then each subkey in name order with
// everything below it. One open handle per level on an explicit stack, so depth costs no stack;
// name and data buffers grow as the registry asks. The walk is a plain function over a visitor,
// so that every export format can share it.
#include <cstddef>
#include <string>
#include <string_view>

#include "registry/win_types.h"

namespace tovik {

class KeyTreeVisitor {
public:
    virtual ~KeyTreeVisitor() = default;
    // path: below the root; "" for the root itself. False stops the walk (a full disk).
    virtual bool OnKey(std::u16string_view path) = 0;
    virtual bool OnValue(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) = 0;
};

enum class KeyTreeWalkOutcome {
    Done,
    KeyNotOpened,  // root\path does not open
    ReadFailed,    // a key or value below it could not be read
    Stopped,       // the visitor returned false
};

struct KeyTreeWalkResult {
    KeyTreeWalkOutcome outcome = KeyTreeWalkOutcome::Done;
    std::u16string keyPath;  // KeyNotOpened, ReadFailed: the key concerned
};

// Walks inside one read snapshot, so that the visitor sees the registry of one moment.
KeyTreeWalkResult walkKeyTree(HKEY root, std::u16string_view path, KeyTreeVisitor& visitor);

}  // namespace tovik
