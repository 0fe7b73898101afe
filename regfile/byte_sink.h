#pragma once
// Where a writer's bytes go. The writer never opens files itself: the caller's sink may be a
// buffer, or a temporary file that is synced and renamed into place once everything is written.
#include <cstddef>

#include "registry/value_types.h"
#include "registry/win_types.h"

namespace tovik {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes were not taken (disk full, ...); the writer then stops writing.
    virtual bool write(const BYTE* data, std::size_t size) = 0;
};

// Collects everything in memory.
class BytesSink final : public ByteSink {
public:
    bool write(const BYTE* data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    Bytes bytes;
};

}  // namespace tovik
