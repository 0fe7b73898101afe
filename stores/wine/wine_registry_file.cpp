#include "stores/wine/wine_registry_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "stores/wine/wine_name_order.h"
#include "stores/wine/wine_text.h"

namespace tovik::wine {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;
constexpr std::size_t kIndexedValues = 16;  // keys with more values get a hash index

bool validKeyName(std::u16string_view name) {
    return !name.empty() && name.size() <= kMaxKeyNameLength && name.find(u'\\') == std::u16string_view::npos;
}

void appendUnsigned(std::string& out, const char* format, unsigned a, unsigned b = 0) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, format, a, b);
    out.append(buffer, static_cast<std::size_t>(n));
}

bool endsWith(const std::string& s, std::string_view tail) {
    return s.size() >= tail.size() && std::string_view(s).substr(s.size() - tail.size()) == tail;
}

}  // namespace

std::uint64_t systemFileTime() {
    const auto since1970 =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch());
    return static_cast<std::uint64_t>(since1970.count() / 100) + kTicks1601To1970;
}

const char* describe(EditResult result) {
    switch (result) {
    case EditResult::ok: return "done";
    case EditResult::notFound: return "there is no such value";
    case EditResult::alreadyExists: return "that name is taken";
    case EditResult::hasSubkeys: return "the key has subkeys";
    case EditResult::invalidName: return "the name is empty, too long or has a backslash";
    case EditResult::tooDeep: return "the key would be nested too deep";
    case EditResult::notAllowed: return "Wine does not allow this";
    }
    return "unknown result";
}

// ---- WineValue ----

void WineValue::setName(StoredName name) {
    nameData_ = name.data();
    nameSize_ = static_cast<std::uint32_t>(name.size());
    nameWide_ = name.wide();
}

void WineValue::setOwnData(std::string data) {
    ownData_ = std::make_unique<std::string>(std::move(data));
    data_ = ownData_->data();
    dataSize_ = static_cast<std::uint32_t>(ownData_->size());
}

// ---- WineKey ----

static_assert(std::is_standard_layout_v<WineKey>, "a key's chunk must convert to its key");

WineKey::~WineKey() {
    delete body_;
}

WineKey::Body& WineKey::body() {
    if (!body_) body_ = new Body();
    return *body_;
}

WineKey::Extras& WineKey::extras() const {
    Body& b = const_cast<WineKey*>(this)->body();
    if (!b.extras) b.extras = std::make_unique<Extras>();
    return *b.extras;
}

const std::vector<WineKey::OtherLine>* WineKey::otherLines() const {
    return body_ && body_->extras ? &body_->extras->otherLines : nullptr;
}

std::size_t WineKey::depth() const {
    std::size_t depth = 0;
    for (const WineKey* k = this; k->parent_; k = k->parent_) ++depth;
    return depth;
}

std::size_t WineKey::childIndexFor(StoredName name, bool& found) const {
    // Files are sorted, so new children usually go last.
    found = false;
    if (!body_ || body_->children.empty()) return 0;
    const std::vector<WineKey*>& children = body_->children;
    const int last = compareNames(children.back()->storedName(), name);
    if (last < 0) return children.size();
    if (last == 0) {
        found = true;
        return children.size() - 1;
    }
    std::size_t low = 0, high = children.size() - 1;
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (compareNames(children[mid]->storedName(), name) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    found = compareNames(children[low]->storedName(), name) == 0;
    return low;
}

WineKey* WineKey::findSubkey(StoredName name) const {
    bool found = false;
    const std::size_t index = childIndexFor(name, found);
    return found ? body_->children[index] : nullptr;
}

std::optional<std::size_t> WineKey::findValueLinear(StoredName name) const {
    const std::size_t count = valueCount();
    for (std::size_t i = 0; i < count; ++i)
        if (sameName(body_->values[i].storedName(), name)) return i;
    return std::nullopt;
}

const std::optional<std::u16string>& WineKey::className() const {
    static const std::optional<std::u16string> none;
    return body_ && body_->extras ? body_->extras->className : none;
}

void WineKey::indexValue(std::size_t index) const {
    std::vector<std::uint32_t>& slots = body_->extras->valueSlots;
    const std::size_t mask = slots.size() - 1;
    std::size_t slot = hashName(body_->values[index].storedName()) & mask;
    while (slots[slot] != 0) slot = (slot + 1) & mask;
    slots[slot] = static_cast<std::uint32_t>(index + 1);
}

void WineKey::buildValueIndex() const {
    std::size_t size = 64;
    while (size < valueCount() * 2) size *= 2;
    extras().valueSlots.assign(size, 0);
    for (std::size_t i = 0; i < valueCount(); ++i) indexValue(i);
}

bool WineKey::hasValueIndex() const {
    return body_ && body_->extras && !body_->extras->valueSlots.empty();
}

std::optional<std::size_t> WineKey::findValue(StoredName name) const {
    if (valueCount() < kIndexedValues) return findValueLinear(name);
    if (!hasValueIndex()) buildValueIndex();
    const std::vector<std::uint32_t>& slots = body_->extras->valueSlots;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t slot = hashName(name) & mask; slots[slot] != 0; slot = (slot + 1) & mask) {
        const std::size_t index = slots[slot] - 1;
        if (sameName(body_->values[index].storedName(), name)) return index;
    }
    return std::nullopt;
}

void WineKey::dropValueIndex() const {
    if (hasValueIndex()) {
        body_->extras->valueSlots.clear();
        body_->extras->valueSlots.shrink_to_fit();
    }
}

void WineKey::appendValue(WineValue value) {
    std::vector<WineValue>& values = body().values;
    values.push_back(std::move(value));
    if (!hasValueIndex()) return;
    if (values.size() * 2 > body_->extras->valueSlots.size())
        buildValueIndex();
    else
        indexValue(values.size() - 1);
}

void WineKey::eraseValue(std::size_t index) {
    body_->values.erase(body_->values.begin() + static_cast<std::ptrdiff_t>(index));
    if (body_->extras)
        for (OtherLine& line : body_->extras->otherLines)
            if (line.beforeValue > index) --line.beforeValue;
    dropValueIndex();
}

bool WineKey::writtenByWine() const {
    return valueCount() != 0 || subkeyCount() == 0 || className() || isLink_;
}

// ---- WineRegistryFile: structure ----

void* WineRegistryFile::Arena::allocate(std::size_t bytes, std::size_t align) {
    constexpr std::size_t kBlock = 64 * 1024;
    std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(at_) % align) % align;
    if (!at_ || pad + bytes > left_) {
        if (bytes > kBlock / 4) {
            // Large pieces get a block of their own; the current block stays in use.
            blocks_.push_back(std::unique_ptr<char[]>(new char[bytes]));
            return blocks_.back().get();
        }
        blocks_.push_back(std::unique_ptr<char[]>(new char[kBlock]));  // not cleared: all is written before use
        at_ = blocks_.back().get();
        left_ = kBlock;
        pad = 0;
    }
    char* out = at_ + pad;
    at_ += pad + bytes;
    left_ -= pad + bytes;
    return out;
}

WineRegistryFile::WineRegistryFile() : clock_(systemFileTime) {
    head_.prev = head_.next = &head_;
    root_ = newKey(nullptr, {});
}

WineRegistryFile::~WineRegistryFile() = default;

WineKey* WineRegistryFile::newKey(WineKey* parent, StoredName name) {
    constexpr std::size_t kKeysPerBlock = 1024;
    if (keysLeft_ == 0) {
        keyBlocks_.push_back(std::unique_ptr<WineKey[]>(new WineKey[kKeysPerBlock]));
        keysLeft_ = kKeysPerBlock;
    }
    WineKey* key = &keyBlocks_.back()[kKeysPerBlock - keysLeft_--];
    key->chunk_.lengthAndKey = Chunk::kKeyBit;
    key->parent_ = parent;
    name = keep(name);
    key->nameData_ = name.data();
    key->nameSize_ = static_cast<std::uint32_t>(name.size());
    key->nameWide_ = name.wide();
    return key;
}

bool WineRegistryFile::isTextOfFile(const void* data) const {
    const auto* p = static_cast<const char*>(data);
    return p >= source_.data() && p < source_.data() + source_.size();
}

StoredName WineRegistryFile::keep(StoredName name) {
    if (name.size() == 0) return {};
    if (!name.wide() && isTextOfFile(name.data())) return name;
    auto* units = static_cast<char16_t*>(arena_.allocate(name.size() * sizeof(char16_t), alignof(char16_t)));
    for (std::size_t i = 0; i < name.size(); ++i) units[i] = name[i];
    return {units, name.size(), true};
}

const char* WineRegistryFile::keepData(std::string_view data) {
    if (data.empty()) return nullptr;
    auto* bytes = static_cast<char*>(arena_.allocate(data.size(), 1));
    std::memcpy(bytes, data.data(), data.size());
    return bytes;
}

std::unique_ptr<WineRegistryFile> WineRegistryFile::createEmpty(std::u16string_view relativeTo, std::string_view arch) {
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to ";
    appendEscaped(text, relativeTo, "[]");
    text += "\n";
    if (!arch.empty()) text += "\n#arch=" + std::string(arch) + "\n";
    std::string error;
    return parse(std::move(text), error);
}

WineRegistryFile::FileChunk* WineRegistryFile::newChunk(FileChunk::Kind kind, WineKey* owner) {
    chunks_.push_back(std::make_unique<FileChunk>());
    chunks_.back()->kind = kind;
    chunks_.back()->owner = owner;
    return chunks_.back().get();
}

void WineRegistryFile::append(Chunk* chunk) {
    insertAfter(head_.prev, chunk);
}

void WineRegistryFile::insertAfter(Chunk* where, Chunk* chunk) {
    chunk->prev = where;
    chunk->next = where->next;
    where->next->prev = chunk;
    where->next = chunk;
}

void WineRegistryFile::unlink(Chunk* chunk) {
    if (!chunk->prev) return;
    chunk->prev->next = chunk->next;
    chunk->next->prev = chunk->prev;
    chunk->prev = chunk->next = nullptr;
}

WineRegistryFile::Chunk* WineRegistryFile::lastChunkOfSubtree(WineKey& key) const {
    WineKey* last = &key;
    while (last->subkeyCount() != 0) last = last->body_->children.back();
    return &last->chunk_;
}

void WineRegistryFile::touch(WineKey& key) {
    key.touched_ = true;
    key.modified_ = clock_();
    ++edits_;
}

WineKey* WineRegistryFile::findPath(WineKey& from, std::u16string_view path) const {
    WineKey* key = &from;
    std::size_t at = 0;
    while (key && at < path.size()) {
        std::size_t end = path.find(u'\\', at);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > at) key = key->findSubkey(path.substr(at, end - at));
        at = end + 1;
    }
    return key;
}

std::u16string WineRegistryFile::pathOf(const WineKey& key) const {
    std::vector<const WineKey*> chain;
    for (const WineKey* k = &key; k->parent_; k = k->parent_) chain.push_back(k);
    std::u16string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path.push_back(u'\\');
        (*it)->storedName().appendTo(path);
    }
    return path;
}

// ---- edits ----

EditResult WineRegistryFile::createKey(WineKey& parent, std::u16string_view name, WineKey** key, bool* created) {
    if (created) *created = false;
    if (!validKeyName(name)) return EditResult::invalidName;
    bool found = false;
    const std::size_t index = parent.childIndexFor(name, found);
    if (found) {
        if (key) *key = parent.body_->children[index];
        return EditResult::ok;
    }
    if (parent.depth() + 1 > kMaxKeyDepth) return EditResult::tooDeep;
    WineKey* added = newKey(&parent, name);
    // Wine writes a key right after the subtree of the sibling before it.
    std::vector<WineKey*>& children = parent.body().children;
    Chunk* after = index == 0 ? &parent.chunk_ : lastChunkOfSubtree(*children[index - 1]);
    children.insert(children.begin() + static_cast<std::ptrdiff_t>(index), added);
    insertAfter(after->prev ? after : head_.prev, &added->chunk_);
    touch(*added);
    touch(parent);
    if (key) *key = added;
    if (created) *created = true;
    return EditResult::ok;
}

EditResult WineRegistryFile::deleteKey(WineKey& key) {
    if (!key.parent_) return EditResult::notAllowed;
    if (key.subkeyCount() != 0) return EditResult::hasSubkeys;
    WineKey& parent = *key.parent_;
    unlink(&key.chunk_);
    if (key.body_ && key.body_->extras)
        for (FileChunk* extra : key.body_->extras->extraBlocks) unlink(extra);
    bool found = false;
    const std::size_t index = parent.childIndexFor(key.storedName(), found);
    std::vector<WineKey*>& children = parent.body_->children;
    children.erase(children.begin() + static_cast<std::ptrdiff_t>(index));
    // The key's place in its block stays unused; what it held goes now.
    delete key.body_;
    key.body_ = nullptr;
    key.parent_ = nullptr;
    touch(parent);
    return EditResult::ok;
}

EditResult WineRegistryFile::renameKey(WineKey& key, std::u16string_view newName) {
    if (!key.parent_) return EditResult::notAllowed;
    if (!validKeyName(newName)) return EditResult::invalidName;
    WineKey& parent = *key.parent_;
    WineKey* other = parent.findSubkey(newName);
    if (other && other != &key) return EditResult::alreadyExists;
    if (key.storedName().size() == newName.size() && key.name() == newName) return EditResult::ok;

    bool found = false;
    std::vector<WineKey*>& children = parent.body_->children;
    const std::size_t oldIndex = parent.childIndexFor(key.storedName(), found);
    children.erase(children.begin() + static_cast<std::ptrdiff_t>(oldIndex));
    const StoredName kept = keep(newName);
    key.nameData_ = kept.data();
    key.nameSize_ = static_cast<std::uint32_t>(kept.size());
    key.nameWide_ = kept.wide();
    const std::size_t newIndex = parent.childIndexFor(kept, found);
    children.insert(children.begin() + static_cast<std::ptrdiff_t>(newIndex), &key);

    // Every key of the subtree gets a new path: move their blocks to the new place, in order.
    std::vector<WineKey*> subtree;
    std::vector<WineKey*> stack{&key};
    while (!stack.empty()) {
        WineKey* k = stack.back();
        stack.pop_back();
        subtree.push_back(k);
        k->pathChanged_ = true;
        unlink(&k->chunk_);
        for (std::size_t i = k->subkeyCount(); i-- > 0;) stack.push_back(k->body_->children[i]);
    }
    Chunk* after = newIndex == 0 ? &parent.chunk_ : lastChunkOfSubtree(*children[newIndex - 1]);
    if (!after->prev) after = head_.prev;
    for (WineKey* k : subtree) {
        insertAfter(after, &k->chunk_);
        after = &k->chunk_;
    }
    touch(key);
    return EditResult::ok;
}

EditResult WineRegistryFile::setValue(WineKey& key, std::u16string_view name, std::uint32_t type,
                                      std::string_view data) {
    if (name.size() > kMaxValueNameLength) return EditResult::invalidName;
    if (key.isLink_ && (type != kRegLink || !sameName(name, u"SymbolicLinkValue"))) return EditResult::notAllowed;
    if (const auto index = key.findValue(name)) {
        WineValue& value = key.body_->values[*index];
        if (value.type_ == type && value.data() == data) return EditResult::ok;  // Wine skips it too
        value.type_ = type;
        value.setOwnData(std::string(data));
        value.changed_ = true;
        touch(key);
        return EditResult::ok;
    }
    WineValue value;
    value.setName(keep(name));
    value.type_ = type;
    value.setOwnData(std::string(data));
    value.changed_ = true;
    // Lines after the last value (blank lines, comments) stay after it.
    const std::size_t oldCount = key.valueCount();
    if (key.body_ && key.body_->extras)
        for (WineKey::OtherLine& line : key.body_->extras->otherLines)
            if (line.beforeValue >= oldCount) ++line.beforeValue;
    key.appendValue(std::move(value));
    touch(key);
    return EditResult::ok;
}

EditResult WineRegistryFile::deleteValue(WineKey& key, std::u16string_view name) {
    const auto index = key.findValue(name);
    if (!index) return EditResult::notFound;
    key.eraseValue(*index);
    touch(key);
    return EditResult::ok;
}

EditResult WineRegistryFile::renameValue(WineKey& key, std::u16string_view oldName, std::u16string_view newName) {
    if (newName.size() > kMaxValueNameLength) return EditResult::invalidName;
    const auto index = key.findValue(oldName);
    if (!index) return EditResult::notFound;
    const auto other = key.findValue(newName);
    if (other && *other != *index) return EditResult::alreadyExists;
    if (key.isLink_) return EditResult::notAllowed;
    WineValue& value = key.body_->values[*index];
    if (value.storedName().size() == newName.size() && value.name() == newName) return EditResult::ok;
    value.setName(keep(newName));
    value.changed_ = true;
    key.dropValueIndex();
    touch(key);
    return EditResult::ok;
}

// ---- writing ----

std::string_view WineRegistryFile::keyLineSuffix(const WineKey& key) const {
    // What follows the closing bracket of the key line, up to its line end (or a zero byte).
    std::string_view line = std::string_view(source_).substr(key.chunk_.offset);
    line = line.substr(0, std::min(line.find('\n'), line.size()));
    if (!line.empty() && line.back() == '\r' && key.chunk_.offset + line.size() < source_.size()) line.remove_suffix(1);
    line = line.substr(0, std::min(line.find('\0'), line.size()));
    while (!line.empty() && isSpace(line.front())) line.remove_prefix(1);
    std::u16string ignored;
    const long used = parseEscaped(line.substr(1), ']', ignored);
    return used < 0 ? std::string_view() : line.substr(1 + static_cast<std::size_t>(used));
}

Span WineRegistryFile::lineAfterKeyLine(const WineKey& key) const {
    const std::size_t feed = source_.find('\n', key.chunk_.offset);
    const std::size_t start = feed == std::string::npos ? source_.size() : feed + 1;
    const std::size_t next = source_.find('\n', start);
    const std::size_t end = next == std::string::npos ? source_.size() : next + 1;
    return {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end - start)};
}

void WineRegistryFile::appendKeyPath(std::string& out, const WineKey& key) const {
    std::vector<const WineKey*> chain;
    for (const WineKey* k = &key; k->parent_; k = k->parent_) chain.push_back(k);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) out += "\\\\";
        appendEscaped(out, (*it)->name(), "[]");
    }
}

void WineRegistryFile::appendRewrittenKey(std::string& out, const WineKey& key) const {
    // Wine starts every key with an empty line.
    if (!out.empty() && out.back() != '\n') out.push_back('\n');
    if (!endsWith(out, "\n\n")) out.push_back('\n');
    out.push_back('[');
    appendKeyPath(out, key);
    out.push_back(']');
    const bool keepTime = !key.touched_ && key.hasBlock_;
    std::string timeLine;
    if (keepTime) {
        out += keyLineSuffix(key);
        out.push_back('\n');
    } else {
        const std::uint64_t t = key.modified_;
        appendUnsigned(out, " %u\n", static_cast<unsigned>((t - kTicks1601To1970) / kTicksPerSecond));
        appendUnsigned(timeLine, "#time=%x%08x\n", static_cast<unsigned>(t >> 32),
                       static_cast<unsigned>(t & 0xFFFFFFFFu));
    }
    bool timeWritten = keepTime;
    auto writeTimeLine = [&] {
        if (!timeWritten) out += timeLine;
        timeWritten = true;
    };
    // The key's other lines in order, its #time line first when it came right after the key line.
    std::vector<WineKey::OtherLine> lines;
    if (key.timeAfterKeyLine_) lines.push_back({lineAfterKeyLine(key), 0, WineKey::OtherLine::Kind::time});
    if (const auto* more = key.otherLines()) lines.insert(lines.end(), more->begin(), more->end());
    const std::size_t valueCount = key.valueCount();
    std::size_t other = 0;
    // Blank lines at the end separated the block from the next one; the next block brings its own.
    std::size_t kept = lines.size();
    while (kept > 0 && lines[kept - 1].beforeValue >= valueCount && isBlankLine(text(lines[kept - 1].span))) --kept;
    for (std::size_t v = 0; v <= valueCount; ++v) {
        for (; other < kept && lines[other].beforeValue <= v; ++other) {
            if (lines[other].kind == WineKey::OtherLine::Kind::time && !keepTime) {
                writeTimeLine();
                continue;
            }
            std::string_view line = text(lines[other].span);
            // Wine writes no blank lines inside a key; those of a merged repeated block go.
            if (!keepTime && isBlankLine(line)) continue;
            // An unchanged key's #time line comes first in Wine's form; keep the order found.
            if (lines[other].kind != WineKey::OtherLine::Kind::time) writeTimeLine();
            out += line;
            if (line.empty() || line.back() != '\n') out.push_back('\n');
        }
        writeTimeLine();
        if (v == valueCount) break;
        const WineValue& value = key.value(v);
        if (value.fromFile_ && !value.changed_) {
            std::string_view line = text(value.line_);
            out += line;
            if (line.empty() || line.back() != '\n') out.push_back('\n');
        } else {
            appendValueLine(out, value.name(), value.type_, value.data());
        }
    }
}

std::string WineRegistryFile::serialize() const {
    std::string out;
    out.reserve(source_.size() + source_.size() / 16 + 256);
    bool afterRewritten = false;
    for (const Chunk* chunk = head_.next; chunk != &head_; chunk = chunk->next) {
        bool verbatim = true;
        if (chunk->isKey()) {
            // A key's own chunk is its first member.
            const WineKey* owner = reinterpret_cast<const WineKey*>(chunk);
            if (owner->rewritten()) {
                verbatim = false;
                if (owner->writtenByWine()) {
                    appendRewrittenKey(out, *owner);
                    afterRewritten = true;
                }
            } else {
                verbatim = owner->hasBlock_;
            }
        } else {
            const auto* piece = static_cast<const FileChunk*>(chunk);
            if (piece->kind == FileChunk::Kind::extraBlock) verbatim = !piece->owner->rewritten();
        }
        if (!verbatim || chunk->length() == 0) continue;
        if (afterRewritten && !endsWith(out, "\n\n")) {
            if (!out.empty() && out.back() != '\n') out.push_back('\n');
            out.push_back('\n');
        }
        afterRewritten = false;
        out += text({chunk->offset, chunk->length()});
    }
    return out;
}

}  // namespace tovik::wine
