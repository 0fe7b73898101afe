#pragma once
// The backup file: a byte order mark, then UTF-16LE lines ending in CR LF: a header line, a root
// line, and one block per key (its key line, then one value line per value), depth first.
// This file holds the writer's pieces and the reader's pure parts; no registry access.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "registry/value_types.h"
#include "registry/win_types.h"

namespace tovik {

inline constexpr BYTE kBackupByteOrderMark[2] = {0xFF, 0xFE};
inline constexpr std::u16string_view kBackupHeaderLine = u"Tovik レジストリ退避ファイル Ver1.0";

// "\\HKEY_CLASSES_ROOT", "\\HKEY_CURRENT_USER", "\\HKEY_LOCAL_MACHINE" (two backslashes);
// empty for any other handle.
std::u16string backupRootLine(HKEY root);

// A message template with %1, %2, ... replaced by args (as QString::arg does for translations).
std::u16string fillTemplate(std::u16string_view text, std::initializer_list<std::u16string> args);

// ---- Writer pieces (no line ends; BackupWriter adds CR LF) ----

// "[path]".
std::u16string backupKeyLine(std::u16string_view path);
// "\"name\"=TAG:text", with "@" for the empty name; tag and text as FormatValue makes them.
std::u16string backupValueLine(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size);

// Collects lines as UTF-16LE with CR LF in a byte buffer. With a file, the buffer goes to the
// file whenever it passes a threshold and on Flush(); without one, the bytes stay for TakeBytes().
class BackupWriter {
public:
    explicit BackupWriter(std::FILE* file = nullptr);
    BackupWriter(const BackupWriter&) = delete;
    BackupWriter& operator=(const BackupWriter&) = delete;

    // The byte order mark, the header line and the root line of root.
    void writeStart(HKEY root);
    void writeMarkAndHeader();
    void writeRootLine(HKEY root);
    void writeLine(std::u16string_view line);
    void writeKeyLine(std::u16string_view path);
    // False when the line cannot come back as it was: the reader would take it as another value
    // or skip it (see ValueLineReadsBack). The line is written all the same.
    bool writeValueLine(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size);

    // Writes the buffer to the file (no-op without one); false once any write has failed.
    bool flush();
    // False once a write to the file has failed; the file is then incomplete.
    bool ok() const { return ok_; }
    // The errno of the first failed write, else 0.
    int error() const { return error_; }
    // The bytes collected so far (buffer mode); the buffer is emptied.
    Bytes takeBytes();

private:
    void appendUnits(std::u16string_view units);
    void appendLineEnd();
    void flushIfFull();
    void failed();

    std::FILE* file_;
    Bytes buffer_;
    std::u16string scratch_;  // reused for each value line
    bool ok_ = true;
    int error_ = 0;
};

// Whether an import gives back the value that this value line was written from. It does not for
// a value named "@" (it becomes the unnamed value), data
// text holding "=" (the line splits at its last "="), a CR, LF or zero unit anywhere (they end
// the line or its block), or multi-string parts holding "|" (it separates the parts).
bool valueLineReadsBack(std::u16string_view line, std::u16string_view name, DWORD type, const BYTE* data,
                        std::size_t size);
// Whether a key path comes back from its key line: not with a double quote (the reader splits
// there), a CR, LF or zero unit.
bool keyLineReadsBack(std::u16string_view path);

// ---- Reader ----

// The lines of a backup file's text, held in one buffer with the end of each line: a file of
// millions of lines costs its own size and four bytes a line, not a string per line. Lines are
// taken off the front as the import reads them; operator[] counts from the first line not taken.
class BackupText {
public:
    std::size_t size() const { return ends_.size() - first_; }
    bool empty() const { return size() == 0; }
    std::u16string_view operator[](std::size_t index) const;
    std::u16string_view front() const { return (*this)[0]; }
    std::u16string_view back() const { return (*this)[size() - 1]; }
    void pop_front();
    void clear();
    void push_back(std::u16string_view line);
    friend bool operator==(const BackupText& a, const BackupText& b);

private:
    friend class BackupTextSplitter;
    std::u16string text_;
    std::vector<std::uint32_t> ends_;  // where each line ends in text_
    std::size_t first_ = 0;            // lines before it were taken
};

// Splits the bytes after the byte order mark into lines, without their line ends: units are read
// in 1024-byte blocks from the first byte after the mark, a zero unit skips the rest of its block,
// CR ends a line, LF is dropped, a final odd byte and the text after the last CR are dropped.
// Feed() may be given the bytes in pieces of any size.
class BackupTextSplitter {
public:
    // Room for the units of a file of this many bytes, so that the text is never copied to grow.
    void reserve(std::size_t bytes);
    void feed(const BYTE* data, std::size_t size);
    // The complete lines so far; the unfinished last line is not among them.
    std::vector<std::u16string> takeLines();
    BackupText takeText();

private:
    void takeUnit(char16_t unit);
    void endLine();
    std::size_t lineStart() const;

    BackupText text_;         // complete lines, then the unfinished one
    std::size_t offset_ = 0;  // bytes fed so far
    BYTE low_ = 0;            // first byte of a unit whose second byte has not come yet
    bool skipping_ = false;   // a zero unit was met in the current block
};
std::vector<std::u16string> SplitBackupText(const BYTE* data, std::size_t size);

bool hasBackupByteOrderMark(const BYTE* data, std::size_t size);
// Accepted when the first five characters are exactly "Tovik"; the version is not examined.
bool isBackupHeaderLine(std::u16string_view line);
// The root that a root line names, by exact, case-sensitive comparison; 0 for any other line.
HKEY rootFromBackupRootLine(std::u16string_view line);

// How a line after the root line is taken, by its first character.
enum class BackupLineKind {
    End,     // an empty line: the data ends here
    Key,     // "["
    Value,   // a double quote
    Broken,  // anything else: the file is broken from this line on
};
BackupLineKind classifyBackupLine(std::u16string_view line);

// A key line: the first and last characters are dropped (whatever the last one is). Without a
// double quote in the rest, the whole rest is created under the root; otherwise the rest splits
// at its last double quote into an existing parent path and the path to create under it.
struct BackupKeyPaths {
    std::u16string parentPath;  // empty: the root itself
    std::u16string createPath;  // empty: the parent itself
};
BackupKeyPaths ParseKeyLine(std::u16string_view line);

// The nine tags the reader knows (exact, case-sensitive: "BIN", "DW", "DWE", "EXP", "LNK", "MLT",
// "NON", "RSC", "SZ"); false for any other text, the writer's "??" included.
bool findBackupTag(std::u16string_view tag, DWORD* type);

// A value line. Split at the last "="; no "=" or nothing after it: ignored. The name is the part
// before it without its first and last characters ("@" gives the empty name); the part after it
// splits at its first ":" into the tag and the data text (no ":": empty tag, all data text).
struct BackupValue {
    bool ignored = false;
    std::u16string name;
    bool tagFound = false;
    DWORD type = REG_NONE;  // meaningful only when tagFound
    Bytes data;             // ValueDataFromText(type, data text); empty when !tagFound
};
BackupValue ParseValueLine(std::u16string_view line);

}  // namespace tovik
