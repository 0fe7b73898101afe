#pragma once
// One Wine registry file (system.reg or user.reg) as a tree of keys and values that keeps the
// file's own text. Saving an unedited file gives its bytes back; after edits every key that was
// not changed keeps its lines exactly, changed keys are written as wineserver writes them, and
// new keys go where Wine would put them (parents before children, siblings by name).
//
// Keys are owned by the file; a WineKey pointer stays valid until that key (or a key above it)
// is deleted or the file object is destroyed.
//
// The model is kept small for files dense in keys: keys live in blocks owned by the file, names
// that needed no unescaping are read from the file's text where they stand, and what few keys
// have (lines other than values, class names, repeated blocks) is kept apart.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stores/wine/wine_name_order.h"

namespace tovik::wine {

inline constexpr std::uint32_t kRegNone = 0, kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegLink = 6,
                               kRegMultiSz = 7;
// Deeper keys are refused, in files and in edits.
inline constexpr std::size_t kMaxKeyDepth = 512;
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;

enum class EditResult {
    ok,
    notFound,       // no such value
    alreadyExists,  // a rename onto another key's or value's name
    hasSubkeys,     // deleting a key that still has subkeys
    invalidName,    // empty or too long, or a key name with a backslash
    tooDeep,        // a new key below kMaxKeyDepth levels
    notAllowed,     // the root itself, or a value other than the link target on a link key
};
const char* describe(EditResult result);

// A piece of the file's text; files are at most kMaxFileSize bytes, so 32 bits hold any offset.
inline constexpr std::size_t kMaxFileSize = 0x7FFFFFFF;
struct Span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

class WineValue {
public:
    std::u16string name() const { return storedName().str(); }
    std::uint32_t type() const { return type_; }
    // The data as Wine holds it: strings are UTF-16LE with their terminating zero.
    std::string_view data() const { return {data_, dataSize_}; }

private:
    friend class WineRegistryFile;
    friend class WineFileParser;
    friend class WineKey;
    StoredName storedName() const { return {nameData_, nameSize_, nameWide_}; }
    void setName(StoredName name);
    void setOwnData(std::string data);

    const void* nameData_ = nullptr;        // in the file's text or the file's arena
    const char* data_ = nullptr;            // in the file's arena or in ownData_
    std::unique_ptr<std::string> ownData_;  // edited data, and long data read from the file
    std::uint32_t nameSize_ = 0;
    std::uint32_t type_ = kRegNone;
    std::uint32_t dataSize_ = 0;
    Span line_;  // its lines in the source, continuation lines included
    bool nameWide_ = false;
    bool fromFile_ = false;
    bool changed_ = false;
};

class WineKey {
public:
    std::u16string name() const { return storedName().str(); }
    WineKey* parent() const { return parent_; }
    // Subkeys in Wine's name order; O(1) by index.
    std::size_t subkeyCount() const { return body_ ? body_->children.size() : 0; }
    WineKey* subkey(std::size_t index) const { return body_->children[index]; }
    WineKey* findSubkey(std::u16string_view name) const { return findSubkey(StoredName(name)); }
    // Values in file order, new values after them in the order they were set; O(1) by index.
    std::size_t valueCount() const { return body_ ? body_->values.size() : 0; }
    const WineValue& value(std::size_t index) const { return body_->values[index]; }
    std::optional<std::size_t> findValue(std::u16string_view name) const { return findValue(StoredName(name)); }
    // Last write time as a FILETIME (100 ns units since 1601).
    std::uint64_t lastWriteTime() const { return modified_; }
    bool isLink() const { return isLink_; }
    const std::optional<std::u16string>& className() const;
    std::size_t depth() const;

    ~WineKey();
    WineKey(const WineKey&) = delete;
    WineKey& operator=(const WineKey&) = delete;

private:
    friend class WineRegistryFile;
    friend class WineFileParser;
    WineKey() = default;

    // One piece of the file in the order in which the file is written: a key's own block (the
    // chunk is the first member of its key), or a header, a later block of a key or the text of
    // a malformed key (a FileChunk).
    struct Chunk {
        static constexpr std::uint32_t kKeyBit = 0x80000000u;
        Chunk* prev = nullptr;
        Chunk* next = nullptr;
        std::uint32_t offset = 0;
        std::uint32_t lengthAndKey = 0;  // the length; kKeyBit on a key's own chunk
        std::uint32_t length() const { return lengthAndKey & ~kKeyBit; }
        void setLength(std::size_t length) {
            lengthAndKey = (lengthAndKey & kKeyBit) | static_cast<std::uint32_t>(length);
        }
        bool isKey() const { return (lengthAndKey & kKeyBit) != 0; }
    };
    struct FileChunk : Chunk {
        enum class Kind { header, extraBlock, orphan };
        Kind kind = Kind::header;
        WineKey* owner = nullptr;
    };
    // A line of the key's block that is not one of its values; it comes before the value at
    // `beforeValue` (or after every value when that is valueCount()).
    struct OtherLine {
        enum class Kind : std::uint8_t { plain, time };
        Span span;
        std::uint32_t beforeValue = 0;
        Kind kind = Kind::plain;
    };
    // What few keys have.
    struct Extras {
        std::vector<OtherLine> otherLines;  // besides a #time line right after the key line
        std::optional<std::u16string> className;
        std::vector<FileChunk*> extraBlocks;  // later blocks of the same key in the file
        // Open addressing over value positions (position + 1; 0 is empty), built for keys with
        // many values so that lookups by name stay O(1).
        std::vector<std::uint32_t> valueSlots;
    };
    // What keys with subkeys or values have; the many keys of a dense file have none.
    struct Body {
        std::vector<WineKey*> children;
        std::vector<WineValue> values;
        std::unique_ptr<Extras> extras;
    };

    StoredName storedName() const { return {nameData_, nameSize_, nameWide_}; }
    WineKey* findSubkey(StoredName name) const;
    std::optional<std::size_t> findValue(StoredName name) const;
    std::size_t childIndexFor(StoredName name, bool& found) const;
    std::optional<std::size_t> findValueLinear(StoredName name) const;
    void buildValueIndex() const;
    bool hasValueIndex() const;
    void dropValueIndex() const;
    void indexValue(std::size_t index) const;
    void appendValue(WineValue value);
    void eraseValue(std::size_t index);
    bool rewritten() const { return touched_ || pathChanged_; }
    bool writtenByWine() const;
    Body& body();
    Extras& extras() const;
    const std::vector<OtherLine>* otherLines() const;

    Chunk chunk_;  // first: a key's chunk is the key
    WineKey* parent_ = nullptr;
    const void* nameData_ = nullptr;  // in the file's text or the file's arena
    Body* body_ = nullptr;            // owned; made when first needed
    std::uint64_t modified_ = 0;
    std::uint32_t nameSize_ = 0;
    // Blank lines that ended the key's latest block: they only count if another block follows.
    std::uint16_t trailingBlankLines_ = 0;
    bool nameWide_ : 1 = false;
    bool hasBlock_ : 1 = false;
    bool isLink_ : 1 = false;
    bool touched_ : 1 = false;
    bool pathChanged_ : 1 = false;
    bool timeAfterKeyLine_ : 1 = false;  // its block starts with a #time line
};

class WineRegistryFile {
public:
    // Parses `bytes`. On failure returns nullptr and sets `error` to an English sentence naming
    // the line (for example a first line that is not "WINE REGISTRY Version 2").
    static std::unique_ptr<WineRegistryFile> parse(std::string bytes, std::string& error);
    // An empty file as Wine would start one, relative to `relativeTo` (for example
    // "REGISTRY\\Machine"), for the architecture "win32" or "win64" (or none when empty).
    static std::unique_ptr<WineRegistryFile> createEmpty(std::u16string_view relativeTo, std::string_view arch);

    WineKey& root() { return *root_; }
    const WineKey& root() const { return *root_; }
    // "win32", "win64" or empty when the file names none.
    const std::string& arch() const { return arch_; }
    // True once an edit changed something that serialize() will write differently.
    bool modified() const { return edits_ != 0; }
    // Counts the edits that changed something; a saver compares it with its last save.
    std::uint64_t editCount() const { return edits_; }
    std::string serialize() const;

    // Follows a backslash-separated path below `from` (case-insensitive); nullptr when a key
    // on the way is missing. An empty path is `from` itself.
    WineKey* findPath(WineKey& from, std::u16string_view path) const;
    std::u16string pathOf(const WineKey& key) const;

    // Creates the subkey `name` of `parent`, or finds it when it exists (`created` tells which).
    EditResult createKey(WineKey& parent, std::u16string_view name, WineKey** key, bool* created = nullptr);
    EditResult deleteKey(WineKey& key);
    // Renames `key` among its siblings, keeping its values and subkeys.
    EditResult renameKey(WineKey& key, std::u16string_view newName);
    EditResult setValue(WineKey& key, std::u16string_view name, std::uint32_t type, std::string_view data);
    EditResult deleteValue(WineKey& key, std::u16string_view name);
    // Renames a value, keeping its type, data and position.
    EditResult renameValue(WineKey& key, std::u16string_view oldName, std::u16string_view newName);

    // The clock for new timestamps (FILETIME); the system clock unless replaced.
    void setClock(std::function<std::uint64_t()> now) { clock_ = std::move(now); }

    ~WineRegistryFile();

private:
    friend class WineFileParser;
    using Chunk = WineKey::Chunk;
    using FileChunk = WineKey::FileChunk;
    WineRegistryFile();

    // Memory handed out in blocks and given back only with the file: decoded value data and
    // names that are not pieces of the text.
    class Arena {
    public:
        void* allocate(std::size_t bytes, std::size_t align);

    private:
        std::vector<std::unique_ptr<char[]>> blocks_;
        char* at_ = nullptr;
        std::size_t left_ = 0;
    };

    WineKey* newKey(WineKey* parent, StoredName name);
    StoredName keep(StoredName name);  // a wide copy in the arena unless it is text of the file
    const char* keepData(std::string_view data);
    FileChunk* newChunk(FileChunk::Kind kind, WineKey* owner);
    void append(Chunk* chunk);
    void unlink(Chunk* chunk);
    void insertAfter(Chunk* where, Chunk* chunk);
    Chunk* lastChunkOfSubtree(WineKey& key) const;
    void touch(WineKey& key);
    void appendKeyPath(std::string& out, const WineKey& key) const;
    void appendRewrittenKey(std::string& out, const WineKey& key) const;
    std::string_view keyLineSuffix(const WineKey& key) const;
    Span lineAfterKeyLine(const WineKey& key) const;
    bool isTextOfFile(const void* data) const;
    std::string_view text(Span span) const { return std::string_view(source_).substr(span.offset, span.length); }

    std::string source_;
    std::vector<std::unique_ptr<WineKey[]>> keyBlocks_;
    std::size_t keysLeft_ = 0;  // unused keys in the last block
    Arena arena_;
    WineKey* root_ = nullptr;
    std::vector<std::unique_ptr<FileChunk>> chunks_;
    Chunk head_;  // sentinel of the chunk list
    std::string arch_;
    std::uint64_t edits_ = 0;
    std::function<std::uint64_t()> clock_;
};

// The current time as a FILETIME.
std::uint64_t systemFileTime();

}  // namespace tovik::wine
