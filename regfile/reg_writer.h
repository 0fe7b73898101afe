#pragma once
// The .reg writer: version 5 (UTF-16LE with its mark) or REGEDIT4 (UTF-8), CR LF line ends, laid
// out as regedit lays it out: the header, then for each key a blank line, the key line and its
// value lines, and a blank line at the end. Hex lists are wrapped before 80 columns with a
// backslash and a two-space indent.
//
// Every value is written with all its bytes: REG_SZ as a quoted text only when it is one
// terminated string without CR, LF or "=", REG_DWORD as dword: only when it has exactly 4 bytes,
// everything else as hex: (REG_BINARY) or hex(N): (an empty or embedded-zero string as hex(1)).
// Each reads back as exactly its bytes, except that string data without its terminating zero
// gets one, as the platform imports it. REGEDIT4 holds string data (hex(1), hex(2), hex(7)) as
// 8-bit text, which cannot carry an odd byte or a lone surrogate; names and data it cannot carry
// are counted in inexact().
#include <cstddef>
#include <string>
#include <string_view>

#include "regfile/byte_sink.h"
#include "regfile/reg_format.h"
#include "registry/value_types.h"
#include "registry/win_types.h"

namespace tovik {

class RegFileWriter {
public:
    // format: Version5 or Regedit4 (Unknown writes Version5).
    RegFileWriter(ByteSink& sink, RegFileFormat format);
    RegFileWriter(const RegFileWriter&) = delete;
    RegFileWriter& operator=(const RegFileWriter&) = delete;

    void writeHeader();
    // A blank line, then "[ROOT\path]" ("[ROOT]" for an empty path).
    void writeKey(HKEY root, std::u16string_view path);
    void writeValue(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size);
    // A blank line, then "[-ROOT\path]": the key goes with everything below it.
    void writeDeleteKey(HKEY root, std::u16string_view path);
    // "name"=- (@=- for the unnamed value).
    void writeDeleteValue(std::u16string_view name);
    // The final blank line, then everything still buffered goes to the sink.
    bool finish();

    // False once the sink refused bytes; nothing more is written then.
    bool ok() const { return ok_; }
    // Key paths, value names and data written other than they are (see above).
    std::size_t inexact() const { return inexact_; }

private:
    void writeKeyLine(HKEY root, std::u16string_view path, bool deletion);
    void appendEscapedName(std::u16string_view name);
    void appendHexData(const BYTE* data, std::size_t size, std::size_t column);
    void endLine();
    void flush();

    ByteSink& sink_;
    bool unicode_;
    std::u16string line_;  // the line being built, reused
    Bytes buffer_;         // encoded bytes not yet given to the sink
    std::u16string text_;  // REGEDIT4 string data as text
    Bytes converted_;      // and as 8-bit text
    bool lineInexact_ = false;
    std::size_t inexact_ = 0;
    bool ok_ = true;
};

}  // namespace tovik
