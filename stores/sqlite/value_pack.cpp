#include "stores/sqlite/value_pack.h"

#include "registry/name_fold.h"

namespace tovik::sqlite {
namespace {

// Each value: a varint of the name's length in units, doubled, plus one when every unit is below
// 0x100 and so takes one byte; varints of the type and the data's size; the name; the data.
void appendVarint(std::string& out, std::uint64_t n) {
    while (n >= 0x80) {
        out.push_back(static_cast<char>((n & 0x7F) | 0x80));
        n >>= 7;
    }
    out.push_back(static_cast<char>(n));
}

std::size_t varintSize(std::uint64_t n) {
    std::size_t size = 1;
    while (n >= 0x80) {
        n >>= 7;
        ++size;
    }
    return size;
}

bool readVarint(std::string_view bytes, std::size_t& at, std::uint64_t& n) {
    n = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (at >= bytes.size()) return false;
        const auto byte = static_cast<unsigned char>(bytes[at++]);
        n |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) return true;
    }
    return false;
}

bool isNarrow(std::u16string_view name) {
    for (const char16_t unit : name)
        if (unit > 0xFF) return false;
    return true;
}

}  // namespace

std::string encodeName(std::u16string_view name) {
    std::string bytes(name.size() * 2, '\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        bytes[2 * i] = static_cast<char>(name[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(name[i] >> 8);
    }
    return bytes;
}

std::string encodeFold(std::u16string_view name) {
    std::string bytes(name.size() * 2, '\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t folded = foldNameUnit(name[i]);
        bytes[2 * i] = static_cast<char>(folded >> 8);
        bytes[2 * i + 1] = static_cast<char>(folded & 0xFF);
    }
    return bytes;
}

std::u16string decodeName(std::string_view bytes) {
    std::u16string name(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        name[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return name;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && foldNameUnit(a[i]) != foldNameUnit(b[i])) return false;
    return true;
}

std::size_t packedSize(std::u16string_view name, DWORD type, std::size_t dataSize) {
    const std::size_t units = name.size();
    const std::size_t nameBytes = isNarrow(name) ? units : 2 * units;
    return varintSize(2 * units + 1) + varintSize(type) + varintSize(dataSize) + nameBytes + dataSize;
}

void appendToPack(std::string& pack, const StoredValue& value) {
    const bool narrow = isNarrow(value.name);
    appendVarint(pack, 2 * static_cast<std::uint64_t>(value.name.size()) + (narrow ? 1 : 0));
    appendVarint(pack, value.type);
    appendVarint(pack, value.data.size());
    for (const char16_t unit : value.name) {
        pack.push_back(static_cast<char>(unit & 0xFF));
        if (!narrow) pack.push_back(static_cast<char>(unit >> 8));
    }
    pack += value.data;
}

std::string encodePack(const std::vector<StoredValue>& values) {
    std::size_t size = 0;
    for (const StoredValue& value : values) size += packedSize(value);
    std::string pack;
    pack.reserve(size);
    for (const StoredValue& value : values) appendToPack(pack, value);
    return pack;
}

std::u16string PackedValue::decodedName() const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
    std::u16string decoded(narrow ? name.size() : name.size() / 2, u'\0');
    for (std::size_t i = 0; i < decoded.size(); ++i)
        decoded[i] = narrow ? bytes[i] : static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return decoded;
}

bool readPackedValue(std::string_view pack, std::size_t& at, PackedValue& value) {
    std::uint64_t nameField = 0, type = 0, size = 0;
    if (!readVarint(pack, at, nameField) || !readVarint(pack, at, type) || !readVarint(pack, at, size)) return false;
    value.narrow = (nameField & 1) != 0;
    const std::uint64_t units = nameField >> 1;
    const std::uint64_t nameBytes = value.narrow ? units : 2 * units;
    if (type > 0xFFFFFFFFu || nameBytes > pack.size() - at || size > pack.size() - at - nameBytes) return false;
    value.type = static_cast<DWORD>(type);
    value.name = pack.substr(at, nameBytes);
    at += nameBytes;
    value.data = pack.substr(at, size);
    at += size;
    return true;
}

bool decodePack(std::string_view pack, std::vector<StoredValue>& out) {
    PackedValue packed;
    for (std::size_t at = 0; at < pack.size();) {
        if (!readPackedValue(pack, at, packed)) return false;
        out.push_back({packed.decodedName(), packed.type, std::string(packed.data)});
    }
    return true;
}

}  // namespace tovik::sqlite
