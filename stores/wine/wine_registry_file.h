#pragma once
// One Wine registry file (system.reg or user.reg) as a tree of keys and values that keeps the
// file's own text. Saving an unedited file gives its bytes back; after edits every key that was
// not changed keeps its lines exactly, changed keys are written as wineserver writes them, and
// new keys go where Wine would put them (parents before children, siblings by name).
//
// Keys are owned by the file; a WineKey pointer stays valid until that key (or a key above it)
// is deleted or the file object is destroyed.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

struct Span {
    std::size_t offset = 0;
    std::size_t length = 0;
};

class WineValue {
public:
    const std::u16string& name() const { return name_; }
    std::uint32_t type() const { return type_; }
    // The data as Wine holds it: strings are UTF-16LE with their terminating zero.
    const std::string& data() const { return data_; }

private:
    friend class WineRegistryFile;
    friend class WineFileParser;
    friend class WineKey;
    std::u16string name_;
    std::uint32_t type_ = kRegNone;
    std::string data_;
    Span line_;  // its lines in the source, continuation lines included
    bool fromFile_ = false;
    bool changed_ = false;
};

class WineKey {
public:
    const std::u16string& name() const { return name_; }
    WineKey* parent() const { return parent_; }
    // Subkeys in Wine's name order; O(1) by index.
    std::size_t subkeyCount() const { return children_.size(); }
    WineKey* subkey(std::size_t index) const { return children_[index].get(); }
    WineKey* findSubkey(std::u16string_view name) const;
    // Values in file order, new values after them in the order they were set; O(1) by index.
    std::size_t valueCount() const { return values_.size(); }
    const WineValue& value(std::size_t index) const { return values_[index]; }
    std::optional<std::size_t> findValue(std::u16string_view name) const;
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

    // One piece of the file in the order in which the file is written.
    struct Chunk {
        enum class Kind { header, key, extraBlock, orphan };
        Kind kind = Kind::key;
        WineKey* owner = nullptr;
        Span span;
        Chunk* prev = nullptr;
        Chunk* next = nullptr;
    };
    // A line of the key's block that is not one of its values; it comes before the value at
    // `beforeValue` (or after every value when that is valueCount()).
    struct OtherLine {
        enum class Kind { plain, time };
        Span span;
        std::size_t beforeValue = 0;
        Kind kind = Kind::plain;
    };

    std::size_t childIndexFor(std::u16string_view name, bool& found) const;
    std::optional<std::size_t> findValueLinear(std::u16string_view name) const;
    void buildValueIndex() const;
    void dropValueIndex() const;
    void indexValue(std::size_t index) const;
    void appendValue(WineValue value);
    void eraseValue(std::size_t index);
    bool rewritten() const { return touched_ || pathChanged_; }
    bool writtenByWine() const;

    // What few keys have, kept apart so that the many keys of a large file stay small.
    struct Extras {
        std::optional<std::u16string> className;
        std::vector<Chunk*> extraBlocks;  // later blocks of the same key in the file
        // Open addressing over value positions (position + 1; 0 is empty), built for keys with
        // many values so that lookups by name stay O(1).
        std::vector<std::uint32_t> valueSlots;
    };
    Extras& extras() const;

    std::u16string name_;
    WineKey* parent_ = nullptr;
    std::vector<std::unique_ptr<WineKey>> children_;
    std::vector<WineValue> values_;
    std::vector<OtherLine> otherLines_;
    Span keyLineSuffix_;  // what follows the closing bracket of its key line
    Chunk chunk_;
    std::uint64_t modified_ = 0;
    bool hasBlock_ = false;
    bool isLink_ = false;
    bool touched_ = false;
    bool pathChanged_ = false;
    mutable std::unique_ptr<Extras> extras_;  // made when first needed
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
    WineRegistryFile();

    Chunk* newChunk(Chunk::Kind kind, WineKey* owner);
    void append(Chunk* chunk);
    void unlink(Chunk* chunk);
    void insertAfter(Chunk* where, Chunk* chunk);
    Chunk* lastChunkOfSubtree(WineKey& key) const;
    void touch(WineKey& key);
    void appendKeyPath(std::string& out, const WineKey& key) const;
    void appendRewrittenKey(std::string& out, const WineKey& key) const;
    std::string_view text(Span span) const { return std::string_view(source_).substr(span.offset, span.length); }

    std::string source_;
    std::unique_ptr<WineKey> root_;
    std::vector<std::unique_ptr<Chunk>> chunks_;
    Chunk head_;  // sentinel of the chunk list
    std::string arch_;
    std::uint64_t edits_ = 0;
    std::function<std::uint64_t()> clock_;
};

// The current time as a FILETIME.
std::uint64_t systemFileTime();

}  // namespace tovik::wine
