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

class WineFileParser {
public:
    explicit WineFileParser(WineRegistryFile& file) : file_(file), src_(file.source_) {}

    bool run(std::string& error);

private:
    using Chunk = WineKey::Chunk;
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
    WineKey* keyForPath(const std::u16string& path, std::size_t& depth);
    WineKey* findOrAddChild(WineKey* parent, std::u16string_view name);
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
    std::vector<WineKey*> lastPath_;  // keys of the previous key line, for sorted files
    std::u16string scratch_;

    // Keys whose subkeys came out of order: their children are appended as they come, found
    // through childIndex_, and sorted once at the end, so that any order parses in linear time.
    // Sorted files (all that Wine writes) never use them.
    struct ChildName {
        const WineKey* parent;
        std::u16string_view name;  // the child's own name
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
    if (open_) open_->span.length = end - open_->span.offset;
    open_ = nullptr;
}

bool WineFileParser::run(std::string& error) {
    Line line;
    if (!readLine(line) || line.content != "WINE REGISTRY Version 2")
        return fail(error, say({"this is not a Wine registry file of version 2 (its first line is "
                                "not \"WINE REGISTRY Version 2\").",
                                "バージョン2のWineのレジストリファイルではありません（1行目が"
                                "「WINE REGISTRY Version 2」ではありません）。"}));
    open_ = file_.newChunk(Chunk::Kind::header, nullptr);
    open_->span.offset = 0;
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
    setTimeOnce(current_, pendingTime_);
    sortUnsortedChildren();
    return true;
}

WineKey* WineFileParser::findOrAddChild(WineKey* parent, std::u16string_view name) {
    const bool sorted = !unsorted_.contains(parent);
    std::size_t index = parent->children_.size();
    if (sorted) {
        bool found = false;
        index = parent->childIndexFor(name, found);
        if (found) return parent->children_[index].get();
    } else if (const auto it = childIndex_.find({parent, name}); it != childIndex_.end()) {
        return it->second;
    }
    auto child = std::unique_ptr<WineKey>(new WineKey());
    child->name_.assign(name);
    child->parent_ = parent;
    child->chunk_.owner = child.get();
    WineKey* added = child.get();
    if (sorted && index != parent->children_.size()) {
        // Out of order: from now on this key's children are found through the index.
        unsorted_.insert(parent);
        for (const auto& sibling : parent->children_)
            childIndex_.emplace(ChildName{parent, sibling->name_}, sibling.get());
    }
    parent->children_.push_back(std::move(child));
    if (unsorted_.contains(parent)) childIndex_.emplace(ChildName{parent, added->name_}, added);
    file_.append(&added->chunk_);
    return added;
}

void WineFileParser::sortUnsortedChildren() {
    for (WineKey* parent : unsorted_) {
        std::sort(parent->children_.begin(), parent->children_.end(),
                  [](const auto& a, const auto& b) { return compareNames(a->name_, b->name_) < 0; });
    }
    childIndex_.clear();
    unsorted_.clear();
}

void WineFileParser::setTimeOnce(WineKey* key, std::uint64_t time) {
    // A key takes the first time given for it; parents that only exist through it take it too.
    for (; key && key->modified_ == 0; key = key->parent_) key->modified_ = time;
}

WineKey* WineFileParser::keyForPath(const std::u16string& path, std::size_t& depth) {
    WineKey* key = file_.root_.get();
    depth = 0;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find(u'\\', at);
        if (end == std::u16string::npos) end = path.size();
        const std::u16string_view name(path.data() + at, end - at);
        at = end + 1;
        if (name.empty()) continue;  // Wine skips empty path elements
        if (++depth > kMaxKeyDepth) return nullptr;
        // Sorted files repeat the previous key line's parents: try those first.
        WineKey* next = nullptr;
        if (depth <= lastPath_.size() && lastPath_[depth - 1]->parent_ == key &&
            sameName(lastPath_[depth - 1]->name_, name))
            next = lastPath_[depth - 1];
        if (!next) next = findOrAddChild(key, name);
        if (lastPath_.size() < depth) lastPath_.resize(depth);
        lastPath_[depth - 1] = next;
        key = next;
    }
    lastPath_.resize(depth);
    return key;
}

bool WineFileParser::keyLine(const Line& line, std::string_view text, std::string& error) {
    closeChunk(line.start);
    setTimeOnce(current_, pendingTime_);
    current_ = nullptr;
    scratch_.clear();
    const long used = parseEscaped(text.substr(1), ']', scratch_);
    if (used < 0) {
        // Wine drops a malformed key with everything up to the next key line; its text stays.
        open_ = file_.newChunk(Chunk::Kind::orphan, nullptr);
        open_->span.offset = line.start;
        file_.append(open_);
        return true;
    }
    std::size_t depth = 0;
    WineKey* key = keyForPath(scratch_, depth);
    if (!key)
        return fail(error, say({"a key is nested more than %1 levels deep.", "キーが%1階層より深くなっています。"},
                               {std::to_string(kMaxKeyDepth)}));
    const std::string_view rest = text.substr(1 + static_cast<std::size_t>(used));
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
        open_ = file_.newChunk(Chunk::Kind::extraBlock, key);
        key->extras().extraBlocks.push_back(open_);
    } else {
        key->hasBlock_ = true;
        key->keyLineSuffix_ = {static_cast<std::size_t>(rest.data() - src_.data()), rest.size()};
        file_.unlink(&key->chunk_);  // it may have been placed earlier as a parent of a key
        open_ = &key->chunk_;
    }
    open_->span.offset = line.start;
    file_.append(open_);
    current_ = key;
    return true;
}

void WineFileParser::otherLine(const Line& line, WineKey::OtherLine::Kind kind) {
    WineKey::OtherLine other;
    other.span = {line.start, line.next - line.start};
    other.beforeValue = current_->values_.size();
    other.kind = kind;
    current_->otherLines_.push_back(other);
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
            time = (time << 4) | static_cast<std::uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        setTimeOnce(&key, time);
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
    std::u16string name;
    std::size_t used = 1;
    if (text.front() == '"') {
        const long r = parseEscaped(text.substr(1), '"', name);
        if (r < 0) return otherLine(line, WineKey::OtherLine::Kind::plain);
        used = 1 + static_cast<std::size_t>(r);
    }
    while (used < text.size() && isSpace(text[used])) ++used;
    if (used >= text.size() || text[used] != '=') return otherLine(line, WineKey::OtherLine::Kind::plain);
    ++used;
    while (used < text.size() && isSpace(text[used])) ++used;
    std::string_view rest = text.substr(used);

    WineValue value;
    value.name_ = std::move(name);
    value.fromFile_ = true;
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
        value.type_ = tag->type;
        if (tag->text == "hex(") {
            std::size_t digits = 0;
            value.type_ = parseHexNumber(rest, digits);
            if (rest.substr(digits, 2) != "):")
                ok = false;
            else
                rest.remove_prefix(digits + 2);
        }
    }
    if (ok && tag->parse == 0) {
        scratch_.clear();
        if (parseEscaped(rest, '"', scratch_) < 0) {
            ok = false;
        } else {
            scratch_.push_back(u'\0');
            value.data_.resize(scratch_.size() * 2);
            for (std::size_t i = 0; i < scratch_.size(); ++i) {
                value.data_[2 * i] = static_cast<char>(scratch_[i] & 0xFF);
                value.data_[2 * i + 1] = static_cast<char>(scratch_[i] >> 8);
            }
        }
    } else if (ok && tag->parse == 2) {
        std::size_t digits = 0;
        const std::uint32_t dw = parseHexNumber(rest, digits);
        value.data_.resize(4);
        for (int i = 0; i < 4; ++i) value.data_[i] = static_cast<char>((dw >> (8 * i)) & 0xFF);
    } else if (ok) {
        // Each byte takes at least two digits and a comma: room for the first line's bytes at
        // once, so that a value of one long line is not copied as it grows.
        value.data_.reserve(rest.size() / 3 + 1);
        for (;;) {
            std::size_t p = 0;
            while (p < rest.size() && isHexDigit(rest[p])) {
                std::size_t digits = 0;
                const std::uint32_t byte = parseHexNumber(rest.substr(p), digits);
                if (byte > 0xFF) {
                    ok = false;
                    break;
                }
                value.data_.push_back(static_cast<char>(byte));
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
        value.type_ = kRegNone;
        value.data_.clear();
    }
    value.line_ = {line.start, lineEnd - line.start};
    if (const auto existing = key.findValue(value.name_)) {
        // A later line for the same name replaces the data but keeps the first one's place.
        WineValue& old = key.values_[*existing];
        old.type_ = value.type_;
        old.data_ = std::move(value.data_);
        old.line_ = value.line_;
        return;
    }
    key.appendValue(std::move(value));
}

std::unique_ptr<WineRegistryFile> WineRegistryFile::parse(std::string bytes, std::string& error) {
    std::unique_ptr<WineRegistryFile> file(new WineRegistryFile());
    file->source_ = std::move(bytes);
    WineFileParser parser(*file);
    if (!parser.run(error)) return nullptr;
    return file;
}

}  // namespace tovik::wine
