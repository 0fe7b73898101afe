#pragma once
// An open registry key that closes itself, so that no early return leaks a handle.
#include <string>
#include <utility>

#include "registry/win_types.h"

namespace tovik {

// Holds one handle and closes it when it goes; the predefined roots are held but never closed.
class KeyHandle {
public:
    KeyHandle() = default;
    explicit KeyHandle(HKEY key) : key_(key) {}
    KeyHandle(KeyHandle&& other) noexcept : key_(std::exchange(other.key_, 0)) {}
    KeyHandle& operator=(KeyHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.key_, 0));
        return *this;
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() { reset(); }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != 0; }
    // Closes the key held and gives the place for RegOpenKeyExW or RegCreateKeyExW to put the next.
    PHKEY receive() {
        reset();
        return &key_;
    }
    // Closes the key held (unless a root) and holds key instead.
    void reset(HKEY key = 0);

private:
    HKEY key_ = 0;
};

// Opens path below parent into key; an empty path below a root holds the root itself.
LONG openKeyHandle(HKEY parent, const std::u16string& path, KeyHandle& key);

}  // namespace tovik
