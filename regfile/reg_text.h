#pragma once
// The text of a .reg file: its byte order mark, and the 8-bit encodings of files without the
// UTF-16 mark. A file is decoded once into one UTF-16 buffer that the reader then walks.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "regfile/reg_format.h"
#include "registry/value_types.h"
#include "registry/win_types.h"

namespace tovik {

enum class RegFileEncoding {
    Utf16Le,   // FF FE, then UTF-16LE units
    Utf8Mark,  // EF BB BF, then 8-bit text
    EightBit,  // no mark: 8-bit text
};

struct RegFileText {
    RegFileEncoding encoding = RegFileEncoding::EightBit;
    std::u16string text;  // without the mark; line ends as they were
};

// Decodes a whole file. 8-bit text is read line by line as UTF-8, and as Windows-1252 where a
// line is not valid UTF-8 (older tools write the ANSI code page). A final odd byte of a UTF-16
// file is dropped.
RegFileText decodeRegFileBytes(const BYTE* data, std::size_t size);

// The same for a file on disk, read whole. A UTF-16 file is read straight into the text, so that
// only one copy of it is held; nullopt when it cannot be opened or read (error, when given,
// receives the errno).
std::optional<RegFileText> readRegFileAt(const std::string& path, int* error = nullptr);

// The version that a file's first line names, from its first bytes (a few hundred are enough),
// so that an import can tell a .reg file from a backup file before reading it whole. A first line
// without a line end counts only when the bytes are the whole file (a file of its header alone).
RegFileFormat sniffRegFileFormat(const BYTE* data, std::size_t size, bool wholeFile = false);

// The same for a file on disk, from its first bytes; Unknown when it cannot be read, and for a
// FIFO, device or folder, which is never opened for reading.
RegFileFormat sniffRegFileAt(const std::string& path);

// Appends 8-bit text as UTF-16: UTF-8 when all of it is valid UTF-8, else Windows-1252.
void appendEightBitText(const BYTE* data, std::size_t size, std::u16string& out);

// Appends UTF-16 text as UTF-8. A lone surrogate becomes U+FFFD; false when one was met (the
// text then does not come back exactly).
bool appendUtf8(std::u16string_view text, Bytes& out);

// Appends units as UTF-16LE bytes.
void appendUtf16Le(std::u16string_view text, Bytes& out);

}  // namespace tovik
