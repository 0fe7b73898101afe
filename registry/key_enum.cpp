#include "registry/key_enum.h"

#include "registry/registry_api.h"

namespace tovik {

namespace {

// Room for every key name at once, for most value names and for most data. The data buffer is
// never empty: an empty one would have no address, and the registry would take it for no buffer.
constexpr std::size_t kFirstNameUnits = kMaxKeyNameLength + 1;
constexpr std::size_t kFirstDataBytes = 1024;

template <class Buffer>
void growTo(Buffer& buffer, std::size_t size) {
    if (buffer.size() < size) buffer.resize(size);
}

}  // namespace

LONG enumSubkeyName(HKEY key, DWORD index, EnumBuffers& buffers, std::u16string_view& name) {
    growTo(buffers.name, kFirstNameUnits);
    for (int tries = 1;; ++tries) {
        DWORD length = static_cast<DWORD>(buffers.name.size());
        const LONG rc = RegEnumKeyExW(key, index, buffers.name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) name = std::u16string_view(buffers.name.data(), length);
        if (rc != ERROR_MORE_DATA || tries == kEnumReadTries) return rc;
        growTo(buffers.name, std::size_t{length} + 1);
    }
}

LONG enumValue(HKEY key, DWORD index, EnumBuffers& buffers, EnumeratedValue& value, bool withData) {
    growTo(buffers.name, kFirstNameUnits);
    if (withData) growTo(buffers.data, kFirstDataBytes);
    for (int tries = 1;; ++tries) {
        DWORD length = static_cast<DWORD>(buffers.name.size());
        DWORD size = static_cast<DWORD>(buffers.data.size());
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, buffers.name.data(), &length, nullptr, &type,
                                      withData ? buffers.data.data() : nullptr, &size);
        if (rc == ERROR_SUCCESS) {
            value.name = std::u16string_view(buffers.name.data(), length);
            value.type = type;
            value.data = withData ? buffers.data.data() : nullptr;
            value.size = size;
        }
        if (rc != ERROR_MORE_DATA || tries == kEnumReadTries) return rc;
        growTo(buffers.name, std::size_t{length} + 1);
        if (withData) growTo(buffers.data, size);
    }
}

}  // namespace tovik
