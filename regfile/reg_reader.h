#pragma once
// The .reg reader: a pull parser over the decoded text of a whole file (reg_text.h). It holds no
// string per line: paths are views into the text, and a value's name and data live in buffers
// that the next entry reuses. Lines end in CR LF, LF or CR; a hex list goes on over lines that
// end in a backslash, across blank and comment lines. A line that cannot be read gives a Malformed
// entry and the reader goes on with the next line. A continuation broken by a line that is no hex
// data ends its value as malformed, and that line is dropped with it (a Malformed entry of its
// own), as the platform reads such a file. String data (hex(1), hex(2), hex(7)) that does not end
// in a zero character gets one; a key path's trailing backslashes are dropped.
#include <cstddef>
#include <string>
#include <string_view>

#include "regfile/reg_format.h"
#include "registry/value_types.h"
#include "registry/win_types.h"

namespace tovik {

// Why a line was skipped (the first ones), or why applying it failed.
enum class RegFileProblemKind {
    BadKeyLine,          // no closing "]", or a blank after "["
    UnknownRoot,         // the path starts with no root name
    RootDeletion,        // "[-HKEY_...]" names a root, which is never deleted
    BadValueLine,        // no "=" after the name, or text after the data
    BadEscape,           // "\0" or a backslash at the end of a quoted text
    UnterminatedString,  // a quoted name or text without its closing quote
    BadDword,            // dword: without 1 to 8 hex digits
    BadHex,              // a hex list with something other than bytes, commas and a final backslash
    UnknownDataForm,     // the data starts with none of "text", hex:, hex(N):, dword:, -
    UnexpectedLine,      // a line that starts with none of [ @ " ;
    LineAfterBrokenHex,  // the line after a continuation that it broke, dropped with the value
    // Applying:
    KeyNotCreated,
    KeyNotDeleted,
    ValueNotWritten,
    ValueNotDeleted,
};

// A short sentence for the user.
std::u16string_view RegFileProblemText(RegFileProblemKind kind);

enum class RegFileEntryKind {
    Key,           // [ROOT\path]: create or open, then take the values that follow
    DeleteKey,     // [-ROOT\path]: delete the key with its subtree
    OtherRootKey,  // a key line (or deletion) under a root that cannot be placed
    Value,         // "name"=data or @=data
    DeleteValue,   // "name"=-
    Malformed,     // a line that was skipped; see problem
};

// Where a value line belongs.
enum class RegFileValueTarget {
    CurrentKey,  // the key of the last key line
    OtherRoot,   // the block of a key under another root: skipped
    NoKey,       // before the first key line, or after a deletion or a malformed key line
};

struct RegFileEntry {
    RegFileEntryKind kind = RegFileEntryKind::Malformed;
    std::size_t line = 0;      // 1-based number of the entry's first line (the header is 1)
    HKEY root = 0;             // Key, DeleteKey
    std::u16string_view path;  // Key, DeleteKey, OtherRootKey: below the root (a view into the text)
    std::u16string_view name;  // Value, DeleteValue: empty for @ (valid until the next entry)
    RegFileValueTarget target = RegFileValueTarget::NoKey;  // Value, DeleteValue
    DWORD type = REG_NONE;                                  // Value
    const BYTE* data = nullptr;                             // Value: size bytes (valid until the next entry)
    std::size_t size = 0;
    RegFileProblemKind problem = RegFileProblemKind::UnexpectedLine;  // Malformed
};

class RegFileReader {
public:
    // text: a whole file as DecodeRegFileBytes gives it; it must outlive the reader.
    explicit RegFileReader(std::u16string_view text);

    // The version the first line names; Unknown or UnknownHeader when it names none that is read
    // (Next then gives nothing).
    RegFileFormat format() const { return format_; }

    // The next entry; false at the end of the text.
    bool next(RegFileEntry& entry);

    // Units of the text read so far, for progress.
    std::size_t position() const { return pos_; }
    std::size_t lineCount() const { return lineNumber_; }

private:
    bool nextLine(std::u16string_view& line);
    bool takeLine(std::u16string_view line, std::size_t number, RegFileEntry& entry);
    bool takeKeyLine(std::u16string_view line, std::size_t at, RegFileEntry& entry);
    bool takeValueLine(std::u16string_view line, std::size_t at, RegFileEntry& entry);
    bool takeHexData(std::u16string_view line, std::size_t at, RegFileEntry& entry);
    bool malformed(RegFileEntry& entry, RegFileProblemKind problem);

    std::u16string_view text_;
    std::size_t pos_ = 0;
    std::size_t lineNumber_ = 0;  // lines read so far
    RegFileFormat format_ = RegFileFormat::Unknown;
    RegFileValueTarget target_ = RegFileValueTarget::NoKey;

    // The number of a line that broke a continuation, to be reported as dropped; 0 when none.
    std::size_t droppedLine_ = 0;

    std::u16string name_;
    std::u16string text16_;
    Bytes data_;
};

}  // namespace tovik
