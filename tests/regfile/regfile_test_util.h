#pragma once
// .reg file text and bytes for tests, built independently of the writer, and the reader's
// entries collected into plain values.
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "regfile/reg_reader.h"
#include "regfile/reg_text.h"
#include "registry/value_types.h"
#include "tests/backup/registry_test_util.h"

namespace tovik::test {

enum class LineEnd { CrLf, Lf, Cr };

// The lines joined with the line end (and one after the last).
inline std::u16string joinLines(const std::vector<std::u16string_view>& lines, LineEnd end = LineEnd::CrLf) {
    const std::u16string_view eol = end == LineEnd::CrLf ? u"\r\n" : end == LineEnd::Lf ? u"\n" : u"\r";
    std::u16string text;
    for (std::u16string_view line : lines) {
        text += line;
        text += eol;
    }
    return text;
}

// UTF-16LE with the mark FF FE.
inline Bytes utf16File(std::u16string_view text) {
    Bytes bytes{0xFF, 0xFE};
    for (const char16_t c : text) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    return bytes;
}

// 8-bit bytes as they are (a std::string literal may hold UTF-8 or Windows-1252 bytes).
inline Bytes eightBitFile(std::string_view text, bool utf8Mark = false) {
    Bytes bytes;
    if (utf8Mark) bytes = {0xEF, 0xBB, 0xBF};
    for (const char c : text) bytes.push_back(static_cast<BYTE>(c));
    return bytes;
}

inline Bytes utf16Data(std::u16string_view text) {
    Bytes bytes;
    appendUtf16Le(text, bytes);
    return bytes;
}

// Type and bytes in hex, for failure messages.
inline void printTo(const StoredValue& value, std::ostream* out) {
    *out << "type " << value.type << ":";
    for (const BYTE b : value.data) {
        char two[4];
        std::snprintf(two, sizeof two, " %02x", b);
        *out << two;
    }
}

// An entry with its views and buffers copied out.
struct Entry {
    RegFileEntryKind kind;
    std::size_t line;
    HKEY root;
    std::u16string path;
    std::u16string name;
    RegFileValueTarget target;
    DWORD type;
    Bytes data;
    RegFileProblemKind problem;
};

inline std::vector<Entry> readEntries(std::u16string_view text, RegFileFormat* format = nullptr) {
    RegFileReader reader(text);
    if (format != nullptr) *format = reader.format();
    std::vector<Entry> entries;
    RegFileEntry e;
    while (reader.next(e)) {
        entries.push_back({e.kind, e.line, e.root, std::u16string(e.path), std::u16string(e.name), e.target, e.type,
                           Bytes(e.data, e.data + e.size), e.problem});
    }
    return entries;
}

}  // namespace tovik::test
