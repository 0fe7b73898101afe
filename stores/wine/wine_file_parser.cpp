// Reading a Wine registry file line by line as wineserver's loader does, while remembering where
// every key block, value and other line sits in the text so that it can be written back as it was.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "language/messages.h"
#include "stores/wine/wine_name_order.h"
#include "stores/wine/wine_registry_file.h"
#include "stores/wine/wine_text.h"

namespace tovik::wine {

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;
// Data up to this size is kept with the file's other small pieces; longer data on its own.
constexpr std::size_t kLongData = 4096;

class WineFileParser {
public:
    explicit WineFileParser(WineRegistryFile& file) : file_(file), src_(file.source_) {}

    bool run(std::string& error);

private:
    using Chunk = WineKey::Chunk;
    using FileChunk = WineKey::FileChunk;
    struct Line {
        std::size_t start = 0;     // first byte of the line
        std::size_t next = 0;      // first byte after its line feed
        std::string_view content;  // without the line end, up to a zero byte
    };

    bool readLine(Line& line);
    bool fail(std::string& error, const std::string& what);
    void closeChunk(std::size_t end);
    bool keyLine(const Line& line, std::string_view text, std::string& error);
    void valueLine(const Line& line, std::string_view text);
    bool optionLine(const Line& line, std::string_view text, std::string& error);
    bool globalOption(std::string_view text, std::string& error);
    void otherLine(const Line& line, WineKey::OtherLine::Kind kind);
    void keepBlankLines();
    void closeBlock();
    void reopenBlankLines(WineKey& key);
    bool splitPlainPath(std::string_view text, std::size_t& used);
    void splitPath(const std::u16string& path);
    WineKey* keyForPath(std::size_t& depth);
    WineKey* findOrAddChild(WineKey* parent, StoredName name);
    void sortUnsortedChildren();
    void setTimeOnce(WineKey* key, std::uint64_t time);

    WineRegistryFile& file_;
    const std::string& src_;
    std::size_t pos_ = 0;
    std::size_t lineNumber_ = 0;
    Chunk* open_ = nullptr;       // the chunk whose text runs up to the next key line
    WineKey* current_ = nullptr;  // the key whose block is being read, null in the header or
                                  // after a malformed key line
    std::uint64_t pendingTime_ = 0;
    std::vector<WineKey*> lastPath_;     // keys of the previous key line, for sorted files
    std::vector<StoredName> pathNames_;  // the names of the key line being read
    std::u16string scratch_;
    std::string data_;     // the data of the value being read
    std::u16string text_;  // the string of the value being read
    // Blank lines read last in the current block: kept only when something of the block follows
    // them (or the key has another block), since the blank lines that end a key are not written
    // again when it is rewritten.
    std::vector<Span> blankLines_;
    bool firstLineOfBlock_ = false;  // nothing of the current key's first block read yet

    // Keys whose subkeys came out of order: their children are appended as they come, found
    // through childIndex_, and sorted once at the end, so that any order parses in linear time.
    // Sorted files (all that Wine writes) never use them.
    struct ChildName {
        const WineKey* parent;
        StoredName name;  // the child's own name
    };
    struct ChildNameHash {
        std::size_t operator()(const ChildName& c) const {
            return hashName(c.name) ^ (std::hash<const void*>{}(c.parent) * 0x9E3779B97F4A7C15ull);
        }
    };
    struct ChildNameEqual {
        bool operator()(const ChildName& a, const ChildName& b) const {
            return a.parent == b.parent && sameName(a.name, b.name);
        }
    };
    std::unordered_set<WineKey*> unsorted_;
    std::unordered_map<ChildName, WineKey*, ChildNameHash, ChildNameEqual> childIndex_;
};

bool WineFileParser::readLine(Line& line) {
    if (pos_ >= src_.size()) return false;
    ++lineNumber_;
    line.start = pos_;
    const std::size_t feed = src_.find('\n', pos_);
    std::size_t end = feed == std::string::npos ? src_.size() : feed;
    line.next = feed == std::string::npos ? src_.size() : feed + 1;
    if (feed != std::string::npos && end > pos_ && src_[end - 1] == '\r') --end;
    std::string_view content(src_.data() + pos_, end - pos_);
    const std::size_t zero = content.find('\0');
    if (zero != std::string_view::npos) content = content.substr(0, zero);
    line.content = content;
    pos_ = line.next;
    return true;
}

bool WineFileParser::fail(std::string& error, const std::string& what) {
    error = say({"line %1: %2", "%1行目: %2"}, {std::to_string(lineNumber_), what});
    return false;
}

void WineFileParser::closeChunk(std::size_t end) {
    if (open_) open_->setLength(end - open_->offset);
    open_ = nullptr;
}

bool WineFileParser::run(std::string& error) {
    Line line;
    if (!readLine(line) || line.content != "WINE REGISTRY Version 2")
        return fail(error, say({"this is not a Wine registry file of version 2 (its first line is "
                                "not \"WINE REGISTRY Version 2\").",
                                "バージョン2のWineのレジストリファイルではありません（1行目が"
                                "「WINE REGISTRY Version 2」ではありません）。"}));
    open_ = file_.newChunk(FileChunk::Kind::header, nullptr);
    open_->offset = 0;
    file_.append(open_);
    file_.append(&file_.root_->chunk_);
    while (readLine(line)) {
        std::string_view text = line.content;
        while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
        const char first = text.empty() ? '\0' : text.front();
        if (first == '[') {
            if (!keyLine(line, text, error)) return false;
        } else if (first == '@' || first == '"') {
            if (current_) valueLine(line, text);
        } else if (first == '#') {
            if (!optionLine(line, text, error)) return false;
        } else if (current_) {
            otherLine(line, WineKey::OtherLine::Kind::plain);
        }
    }
    closeChunk(src_.size());
    closeBlock();
    setTimeOnce(current_, pendingTime_);
    sortUnsortedChildren();
    return true;
}

WineKey* WineFileParser::findOrAddChild(WineKey* parent, StoredName name) {
    const bool sorted = !unsorted_.contains(parent);
    std::size_t index = parent->subkeyCount();
    if (sorted) {
        bool found = false;
        index = parent->childIndexFor(name, found);
        if (found) return parent->body_->children[index];
    } else if (const auto it = childIndex_.find({parent, name}); it != childIndex_.end()) {
        return it->second;
    }
    WineKey* added = file_.newKey(parent, name);
    std::vector<WineKey*>& children = parent->body().children;
    if (sorted && index != children.size()) {
        // Out of order: from now on this key's children are found through the index.
        unsorted_.insert(parent);
        for (WineKey* sibling : children) childIndex_.emplace(ChildName{parent, sibling->storedName()}, sibling);
    }
    children.push_back(added);
    if (unsorted_.contains(parent)) childIndex_.emplace(ChildName{parent, added->storedName()}, added);
    file_.append(&added->chunk_);
    return added;
}

void WineFileParser::sortUnsortedChildren() {
    for (WineKey* parent : unsorted_) {
        std::sort(
            parent->body_->children.begin(), parent->body_->children.end(),
            [](const WineKey* a, const WineKey* b) { return compareNames(a->storedName(), b->storedName()) < 0; });
    }
    childIndex_.clear();
    unsorted_.clear();
}

void WineFileParser::setTimeOnce(WineKey* key, std::uint64_t time) {
    // A key takes the first time given for it; parents that only exist through it take it too.
    for (; key && key->modified_ == 0; key = key->parent_) key->modified_ = time;
}

// The names of a key path that needs no unescaping, read where they stand: printable ASCII with
// doubled backslashes between names. Sets `used` as parseEscaped would; false for any other path.
bool WineFileParser::splitPlainPath(std::string_view text, std::size_t& used) {
    pathNames_.clear();
    std::size_t start = 0;
    for (std::size_t p = 0; p < text.size(); ++p) {
        const char c = text[p];
        if (c == ']' || (c == '\\' && p + 1 < text.size() && text[p + 1] == '\\')) {
            if (p > start) pathNames_.push_back(StoredName::ascii(text.substr(start, p - start)));
            if (c == ']') {
                used = p + 1;
                return true;
            }
            start = ++p + 1;
            continue;
        }
        if (c == '\\' || static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return false;
}

void WineFileParser::splitPath(const std::u16string& path) {
    pathNames_.clear();
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find(u'\\', at);
        if (end == std::u16string::npos) end = path.size();
        // Wine skips empty path elements.
        if (end > at) pathNames_.push_back(std::u16string_view(path.data() + at, end - at));
        at = end + 1;
    }
}

WineKey* WineFileParser::keyForPath(std::size_t& depth) {
    WineKey* key = file_.root_;
    depth = 0;
    for (const StoredName name : pathNames_) {
        if (++depth > kMaxKeyDepth) return nullptr;
        // Sorted files repeat the previous key line's parents: try those first.
        WineKey* next = nullptr;
        if (depth <= lastPath_.size() && lastPath_[depth - 1]->parent_ == key &&
            sameName(lastPath_[depth - 1]->storedName(), name))
            next = lastPath_[depth - 1];
        if (!next) next = findOrAddChild(key, name);
        if (lastPath_.size() < depth) lastPath_.resize(depth);
        lastPath_[depth - 1] = next;
        key = next;
    }
    lastPath_.resize(depth);
    return key;
}

void WineFileParser::keepBlankLines() {
    for (const Span& blank : blankLines_)
        current_->extras().otherLines.push_back(
            {blank, static_cast<std::uint32_t>(current_->valueCount()), WineKey::OtherLine::Kind::plain});
    blankLines_.clear();
}

void WineFileParser::closeBlock() {
    firstLineOfBlock_ = false;
    if (!current_) return;
    if (blankLines_.size() > 0xFFFF) keepBlankLines();  // more than the key can count: kept, they cost nothing
    current_->trailingBlankLines_ = static_cast<std::uint16_t>(blankLines_.size());
    blankLines_.clear();
}

void WineFileParser::reopenBlankLines(WineKey& key) {
    // The blank lines that ended the key's previous block are inside the key now: read them back
    // from the end of that block.
    const std::vector<FileChunk*>* blocks = key.body_ && key.body_->extras ? &key.body_->extras->extraBlocks : nullptr;
    const Chunk& last = blocks && !blocks->empty() ? *blocks->back() : key.chunk_;
    std::size_t end = last.offset + last.length();
    std::vector<Span> lines(key.trailingBlankLines_);
    for (std::size_t i = lines.size(); i-- > 0;) {
        const std::size_t feed = end >= 2 ? src_.rfind('\n', end - 2) : std::string::npos;
        const std::size_t start = feed == std::string::npos ? 0 : feed + 1;
        lines[i] = {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end - start)};
        end = start;
    }
    for (const Span& blank : lines)
        key.extras().otherLines.push_back(
            {blank, static_cast<std::uint32_t>(key.valueCount()), WineKey::OtherLine::Kind::plain});
    key.trailingBlankLines_ = 0;
}

bool WineFileParser::keyLine(const Line& line, std::string_view text, std::string& error) {
    closeChunk(line.start);
    closeBlock();
    setTimeOnce(current_, pendingTime_);
    current_ = nullptr;
    std::size_t used = 0;
    if (!splitPlainPath(text.substr(1), used)) {
        scratch_.clear();
        const long read = parseEscaped(text.substr(1), ']', scratch_);
        if (read < 0) {
            // Wine drops a malformed key with everything up to the next key line; its text stays.
            open_ = file_.newChunk(FileChunk::Kind::orphan, nullptr);
            open_->offset = static_cast<std::uint32_t>(line.start);
            file_.append(open_);
            return true;
        }
        used = static_cast<std::size_t>(read);
        splitPath(scratch_);
    }
    std::size_t depth = 0;
    WineKey* key = keyForPath(depth);
    if (!key)
        return fail(error, say({"a key is nested more than %1 levels deep.", "キーが%1階層より深くなっています。"},
                               {std::to_string(kMaxKeyDepth)}));
    const std::string_view rest = text.substr(1 + used);
    // sscanf(" %u"): the seconds since 1970 that Wine takes when no #time line follows.
    std::size_t p = 0;
    while (p < rest.size() && isSpace(rest[p])) ++p;
    std::uint64_t seconds = 0;
    bool haveSeconds = false;
    if (p < rest.size() && rest[p] == '+') ++p;
    for (; p < rest.size() && rest[p] >= '0' && rest[p] <= '9'; ++p) {
        seconds = (seconds * 10 + static_cast<std::uint64_t>(rest[p] - '0')) & 0xFFFFFFFFu;
        haveSeconds = true;
    }
    pendingTime_ = haveSeconds ? seconds * kTicksPerSecond + kTicks1601To1970 : systemFileTime();
    if (key->hasBlock_) {
        reopenBlankLines(*key);
        FileChunk* block = file_.newChunk(FileChunk::Kind::extraBlock, key);
        key->extras().extraBlocks.push_back(block);
        open_ = block;
    } else {
        key->hasBlock_ = true;
        file_.unlink(&key->chunk_);  // it may have been placed earlier as a parent of a key
        open_ = &key->chunk_;
        firstLineOfBlock_ = true;
    }
    open_->offset = static_cast<std::uint32_t>(line.start);
    file_.append(open_);
    current_ = key;
    return true;
}

void WineFileParser::otherLine(const Line& line, WineKey::OtherLine::Kind kind) {
    firstLineOfBlock_ = false;
    const Span span{static_cast<std::uint32_t>(line.start), static_cast<std::uint32_t>(line.next - line.start)};
    if (kind == WineKey::OtherLine::Kind::plain &&
        isBlankLine(std::string_view(src_).substr(line.start, span.length))) {
        blankLines_.push_back(span);
        return;
    }
    keepBlankLines();
    current_->extras().otherLines.push_back({span, static_cast<std::uint32_t>(current_->valueCount()), kind});
}

bool WineFileParser::globalOption(std::string_view text, std::string& error) {
    if (text.substr(0, 6) != "#arch=") return true;
    const std::string_view arch = text.substr(6);
    if (arch != "win32" && arch != "win64")
        return fail(error, say({"the architecture \"%1\" is unknown (Wine accepts win32 and win64).",
                                "アーキテクチャ「%1」は不明です（Wineが受け付けるのは win32 と win64 です）。"},
                               {arch}));
    if (!file_.arch_.empty() && file_.arch_ != arch)
        return fail(error, say({"the file names two architectures, %1 and %2.",
                                "ファイルに2つのアーキテクチャ %1 と %2 が書かれています。"},
                               {file_.arch_, arch}));
    file_.arch_ = std::string(arch);
    return true;
}

bool WineFileParser::optionLine(const Line& line, std::string_view text, std::string& error) {
    if (!current_) return globalOption(text, error);
    WineKey& key = *current_;
    auto kind = WineKey::OtherLine::Kind::plain;
    if (text.substr(0, 6) == "#time=") {
        std::uint64_t time = 0;
        for (std::size_t p = 6; p < text.size() && isHexDigit(text[p]); ++p) {
            const char c = text[p];
            time = (time << 4) | static_cast<std::uint64_t>(hexDigitValue(c));
        }
        setTimeOnce(&key, time);
        if (firstLineOfBlock_) {
            // Where Wine writes it: kept with the key, no line of its own.
            firstLineOfBlock_ = false;
            key.timeAfterKeyLine_ = true;
            return true;
        }
        kind = WineKey::OtherLine::Kind::time;
    } else if (text.substr(0, 8) == "#class=\"") {
        scratch_.clear();
        if (parseEscaped(text.substr(8), '"', scratch_) >= 0) key.extras().className = scratch_;
    } else if (text.substr(0, 5) == "#link") {
        key.isLink_ = true;
    }
    otherLine(line, kind);
    return true;
}

void WineFileParser::valueLine(const Line& line, std::string_view text) {
    WineKey& key = *current_;
    StoredName name;
    std::size_t used = 1;
    if (text.front() == '"') {
        // A name that needs no unescaping is read where it stands.
        std::size_t end = 1;
        while (end < text.size() && text[end] != '"' && text[end] != '\\' &&
               static_cast<unsigned char>(text[end]) < 0x80)
            ++end;
        if (end < text.size() && text[end] == '"') {
            name = StoredName::ascii(text.substr(1, end - 1));
            used = end + 1;
        } else {
            scratch_.clear();
            const long r = parseEscaped(text.substr(1), '"', scratch_);
            if (r < 0) return otherLine(line, WineKey::OtherLine::Kind::plain);
            name = std::u16string_view(scratch_);
            used = 1 + static_cast<std::size_t>(r);
        }
    }
    while (used < text.size() && isSpace(text[used])) ++used;
    if (used >= text.size() || text[used] != '=') return otherLine(line, WineKey::OtherLine::Kind::plain);
    ++used;
    while (used < text.size() && isSpace(text[used])) ++used;
    std::string_view rest = text.substr(used);

    firstLineOfBlock_ = false;
    keepBlankLines();
    std::uint32_t type = kRegNone;
    data_.clear();
    bool ok = true;
    std::size_t lineEnd = line.next;
    struct Tag {
        std::string_view text;
        std::uint32_t type;
        int parse;
    };  // parse: 0 sz, 1 hex, 2 dword
    static const Tag tags[] = {{"\"", kRegSz, 0},
                               {"str:\"", kRegSz, 0},
                               {"str(2):\"", kRegExpandSz, 0},
                               {"str(7):\"", kRegMultiSz, 0},
                               {"hex:", kRegBinary, 1},
                               {"dword:", kRegDword, 2},
                               {"hex(", 0, 1}};
    const Tag* tag = nullptr;
    for (const Tag& t : tags) {
        if (rest.substr(0, t.text.size()) == t.text) {
            tag = &t;
            break;
        }
    }
    if (!tag) {
        ok = false;
    } else {
        rest.remove_prefix(tag->text.size());
        type = tag->type;
        if (tag->text == "hex(") {
            std::size_t digits = 0;
            type = parseHexNumber(rest, digits);
            if (rest.substr(digits, 2) != "):")
                ok = false;
            else
                rest.remove_prefix(digits + 2);
        }
    }
    if (ok && tag->parse == 0) {
        text_.clear();
        if (parseEscaped(rest, '"', text_) < 0) {
            ok = false;
        } else {
            text_.push_back(u'\0');
            data_.resize(text_.size() * 2);
            for (std::size_t i = 0; i < text_.size(); ++i) {
                data_[2 * i] = static_cast<char>(text_[i] & 0xFF);
                data_[2 * i + 1] = static_cast<char>(text_[i] >> 8);
            }
        }
    } else if (ok && tag->parse == 2) {
        std::size_t digits = 0;
        const std::uint32_t dw = parseHexNumber(rest, digits);
        data_.resize(4);
        for (int i = 0; i < 4; ++i) data_[i] = static_cast<char>((dw >> (8 * i)) & 0xFF);
    } else if (ok) {
        // Each byte takes at least two digits and a comma: room for the first line's bytes at
        // once, so that a value of one long line is not copied as it grows.
        data_.reserve(rest.size() / 3 + 1);
        for (;;) {
            std::size_t p = 0;
            // The form Wine writes, two digits and a comma, read straight.
            while (p + 2 < rest.size() && rest[p + 2] == ',' && isHexDigit(rest[p]) && isHexDigit(rest[p + 1])) {
                data_.push_back(static_cast<char>(hexDigitValue(rest[p]) * 16 + hexDigitValue(rest[p + 1])));
                p += 3;
            }
            while (p < rest.size() && isHexDigit(rest[p])) {
                std::size_t digits = 2;
                std::uint32_t byte = 0;
                if (p + 1 < rest.size() && isHexDigit(rest[p + 1]) &&
                    (p + 2 == rest.size() || !isHexDigit(rest[p + 2])))
                    byte = static_cast<std::uint32_t>(hexDigitValue(rest[p]) * 16 + hexDigitValue(rest[p + 1]));
                else
                    byte = parseHexNumber(rest.substr(p), digits);  // what Wine's strtoul makes of the rest
                if (byte > 0xFF) {
                    ok = false;
                    break;
                }
                data_.push_back(static_cast<char>(byte));
                p += digits;
                while (p < rest.size() && isSpace(rest[p])) ++p;
                if (p < rest.size() && rest[p] == ',') ++p;
                while (p < rest.size() && isSpace(rest[p])) ++p;
            }
            if (!ok) break;
            while (p < rest.size() && isSpace(rest[p])) ++p;
            if (p >= rest.size()) break;
            // A backslash continues the list on the next line, whatever that line holds.
            Line more;
            if (rest[p] != '\\' || !readLine(more)) {
                ok = false;
                break;
            }
            lineEnd = more.next;
            rest = more.content;
            while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
        }
    }
    if (!ok) {
        // Wine keeps a value whose data it cannot read, empty and of type REG_NONE.
        type = kRegNone;
        data_.clear();
    }
    WineValue* target = nullptr;
    if (const auto existing = key.findValue(name)) {
        // A later line for the same name replaces the data but keeps the first one's place.
        target = &key.body_->values[*existing];
    } else {
        WineValue value;
        value.setName(file_.keep(name));
        value.fromFile_ = true;
        key.appendValue(std::move(value));
        target = &key.body_->values.back();
    }
    target->type_ = type;
    target->line_ = {static_cast<std::uint32_t>(line.start), static_cast<std::uint32_t>(lineEnd - line.start)};
    if (data_.size() > kLongData) {
        target->setOwnData(std::move(data_));
        data_ = std::string();
    } else {
        target->ownData_.reset();
        target->data_ = file_.keepData(data_);
        target->dataSize_ = static_cast<std::uint32_t>(data_.size());
    }
}

std::unique_ptr<WineRegistryFile> WineRegistryFile::parse(std::string bytes, std::string& error) {
    if (bytes.size() > kMaxFileSize) {
        error = say({"the file is larger than 2 GiB.", "ファイルが2GiBを超えています。"});
        return nullptr;
    }
    std::unique_ptr<WineRegistryFile> file(new WineRegistryFile());
    file->source_ = std::move(bytes);
    WineFileParser parser(*file);
    if (!parser.run(error)) return nullptr;
    return file;
}

}  // namespace tovik::wine
