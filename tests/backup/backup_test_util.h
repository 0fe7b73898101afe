#pragma once
// Backup file bytes for tests, built independently of the writer.
#include <array>
#include <string>
#include <string_view>

#include "registry/value_types.h"

namespace tovik::test {

inline Bytes encodeUtf16(std::u16string_view text) {
    Bytes bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t c : text) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    return bytes;
}

// A byte order mark followed by the lines, each ended with CR LF.
template <typename Lines>
Bytes backupFileBytes(const Lines& lines) {
    std::u16string text;
    for (std::u16string_view line : lines) {
        text += line;
        text += u"\r\n";
    }
    Bytes bytes{0xFF, 0xFE};
    const Bytes body = encodeUtf16(text);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

inline constexpr std::array<std::u16string_view, 11> kExampleLines = {
    u"Tovik レジストリ退避ファイル Ver1.0",
    u"\\\\HKEY_LOCAL_MACHINE",
    u"[Software\\Sample]",
    u"\"@\"=SZ:Sample application",
    u"\"Version\"=DW:260(104)",
    u"\"Flags\"=DW:-1(FFFFFFFF)",
    u"\"Data\"=BIN:0A FF 00 ",
    u"\"Paths\"=MLT:\\Windows|\\Temp||",
    u"[Software\\Sample\\Options]",
    u"\"Order\"=DWE:00 00 01 00 ",
    u"\"Empty\"=NON:",
};

inline Bytes exampleFileBytes() {
    return backupFileBytes(kExampleLines);
}

}  // namespace tovik::test
