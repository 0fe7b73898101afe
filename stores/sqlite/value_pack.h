#pragma once
// How the SQLite store writes names and values into its blobs. Names are UTF-16LE blobs; a
// name's fold is its folded units big-endian, so that SQLite's blob order (memcmp) is the order
// of CompareNames. A key's values, while they are few and small, are one blob (a pack) in
// creation order: a list of the key's values is one row, and writing them one row.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/win_types.h"

namespace tovik::sqlite {

std::string encodeName(std::u16string_view name);
std::string encodeFold(std::u16string_view name);
std::u16string decodeName(std::string_view bytes);
// True when the names are one name, whatever their case.
bool sameName(std::u16string_view a, std::u16string_view b);

struct StoredValue {
    std::u16string name;
    DWORD type = 0;
    std::string data;
};

// A key keeps its values in one pack while they fit both bounds; beyond them every value of the
// key is a row of its own, so that setting one value of a wide key writes one row.
constexpr std::size_t kMaxPackedValues = 1000;
constexpr std::size_t kMaxPackBytes = 64 * 1024;

// The bytes that a value takes in a pack.
std::size_t packedSize(std::u16string_view name, DWORD type, std::size_t dataSize);
inline std::size_t packedSize(const StoredValue& value) {
    return packedSize(value.name, value.type, value.data.size());
}
// Appends value to pack.
void appendToPack(std::string& pack, const StoredValue& value);
std::string encodePack(const std::vector<StoredValue>& values);
// One value of a pack as its bytes lie there.
struct PackedValue {
    std::string_view name;  // one byte per unit when narrow, else UTF-16LE
    bool narrow = false;
    DWORD type = 0;
    std::string_view data;
    std::u16string decodedName() const;
};
// Reads the value at at and moves at past it; false when the bytes there are not a value.
bool readPackedValue(std::string_view pack, std::size_t& at, PackedValue& value);
// The values of pack in order; false (out partly filled) when the bytes are not a pack.
bool decodePack(std::string_view pack, std::vector<StoredValue>& out);

}  // namespace tovik::sqlite
