#pragma once
// Listing a key's subkeys and values by index without ERROR_MORE_DATA reaching the caller: the
// helpers grow their buffers to what the registry asks for and read again, by one rule.
//
// The rule: a buffer grows to exactly the size the registry says it needs, and an entry is read
// at most kEnumReadTries times. A second read fits unless the entry grew in between (another
// process rewrote it); an entry that keeps outgrowing the buffers ends its listing with
// ERROR_MORE_DATA rather than looping for ever.
#include <cstddef>
#include <string_view>
#include <vector>

#include "registry/value_types.h"
#include "registry/win_types.h"

namespace tovik {

inline constexpr int kEnumReadTries = 4;

// The buffers of a listing. Keep one for a whole walk: it keeps the largest size met, so that
// later entries are read at once.
struct EnumBuffers {
    std::vector<WCHAR> name;
    Bytes data;
};

// The name of the subkey at index, valid until buffers are used again; a zero unit follows it in
// the buffer, so that it can be passed on as a C string. ERROR_SUCCESS, ERROR_NO_MORE_ITEMS past
// the last one, or the registry's failure.
LONG enumSubkeyName(HKEY key, DWORD index, EnumBuffers& buffers, std::u16string_view& name);

struct EnumeratedValue {
    std::u16string_view name;  // valid until buffers are used again, as data is
    DWORD type = 0;
    const BYTE* data = nullptr;  // null when the data was not asked for
    DWORD size = 0;              // the data's size in bytes, asked for or not
};

// The value at index; with withData false its data is neither read nor copied.
LONG enumValue(HKEY key, DWORD index, EnumBuffers& buffers, EnumeratedValue& value, bool withData = true);

}  // namespace tovik
