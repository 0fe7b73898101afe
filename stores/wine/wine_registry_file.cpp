#include "stores/wine/wine_registry_file.h"

#include <chrono>
#include <cstdio>

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

bool isBlank(std::string_view line) {
    for (char c : line)
        if (!isSpace(c)) return false;
    return true;
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

// ---- WineKey ----

WineKey::~WineKey() = default;

std::size_t WineKey::depth() const {
    std::size_t depth = 0;
    for (const WineKey* k = this; k->parent_; k = k->parent_) ++depth;
    return depth;
}

std::size_t WineKey::childIndexFor(std::u16string_view name, bool& found) const {
    // Files are sorted, so new children usually go last.
    found = false;
    if (children_.empty()) return 0;
    const int last = compareNames(children_.back()->name_, name);
    if (last < 0) return children_.size();
    if (last == 0) {
        found = true;
        return children_.size() - 1;
    }
    std::size_t low = 0, high = children_.size() - 1;
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (compareNames(children_[mid]->name_, name) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    found = compareNames(children_[low]->name_, name) == 0;
    return low;
}

WineKey* WineKey::findSubkey(std::u16string_view name) const {
    bool found = false;
    const std::size_t index = childIndexFor(name, found);
    return found ? children_[index].get() : nullptr;
}

std::optional<std::size_t> WineKey::findValueLinear(std::u16string_view name) const {
    for (std::size_t i = 0; i < values_.size(); ++i)
        if (sameName(values_[i].name_, name)) return i;
    return std::nullopt;
}

WineKey::Extras& WineKey::extras() const {
    if (!extras_) extras_ = std::make_unique<Extras>();
    return *extras_;
}

const std::optional<std::u16string>& WineKey::className() const {
    static const std::optional<std::u16string> none;
    return extras_ ? extras_->className : none;
}

void WineKey::indexValue(std::size_t index) const {
    std::vector<std::uint32_t>& slots = extras_->valueSlots;
    const std::size_t mask = slots.size() - 1;
    std::size_t slot = hashName(values_[index].name_) & mask;
    while (slots[slot] != 0) slot = (slot + 1) & mask;
    slots[slot] = static_cast<std::uint32_t>(index + 1);
}

void WineKey::buildValueIndex() const {
    std::size_t size = 64;
    while (size < values_.size() * 2) size *= 2;
    extras().valueSlots.assign(size, 0);
    for (std::size_t i = 0; i < values_.size(); ++i) indexValue(i);
}

std::optional<std::size_t> WineKey::findValue(std::u16string_view name) const {
    if (values_.size() < kIndexedValues) return findValueLinear(name);
    if (!extras_ || extras_->valueSlots.empty()) buildValueIndex();
    const std::vector<std::uint32_t>& slots = extras_->valueSlots;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t slot = hashName(name) & mask; slots[slot] != 0; slot = (slot + 1) & mask) {
        const std::size_t index = slots[slot] - 1;
        if (sameName(values_[index].name_, name)) return index;
    }
    return std::nullopt;
}

void WineKey::dropValueIndex() const {
    if (extras_) {
        extras_->valueSlots.clear();
        extras_->valueSlots.shrink_to_fit();
    }
}

void WineKey::appendValue(WineValue value) {
    values_.push_back(std::move(value));
    if (!extras_ || extras_->valueSlots.empty()) return;
    if (values_.size() * 2 > extras_->valueSlots.size())
        buildValueIndex();
    else
        indexValue(values_.size() - 1);
}

void WineKey::eraseValue(std::size_t index) {
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(index));
    for (OtherLine& line : otherLines_)
        if (line.beforeValue > index) --line.beforeValue;
    dropValueIndex();
}

bool WineKey::writtenByWine() const {
    return !values_.empty() || children_.empty() || className() || isLink_;
}

// ---- WineRegistryFile: structure ----

WineRegistryFile::WineRegistryFile() : root_(new WineKey()), clock_(systemFileTime) {
    head_.prev = head_.next = &head_;
    root_->chunk_.owner = root_.get();
}

WineRegistryFile::~WineRegistryFile() {
    // Tear the tree down without recursion: keys may nest deeply.
    std::vector<std::unique_ptr<WineKey>> pending;
    pending.push_back(std::move(root_));
    while (!pending.empty()) {
        std::unique_ptr<WineKey> key = std::move(pending.back());
        pending.pop_back();
        for (auto& child : key->children_) pending.push_back(std::move(child));
    }
}

std::unique_ptr<WineRegistryFile> WineRegistryFile::createEmpty(std::u16string_view relativeTo, std::string_view arch) {
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to ";
    appendEscaped(text, relativeTo, "[]");
    text += "\n";
    if (!arch.empty()) text += "\n#arch=" + std::string(arch) + "\n";
    std::string error;
    return parse(std::move(text), error);
}

WineRegistryFile::Chunk* WineRegistryFile::newChunk(Chunk::Kind kind, WineKey* owner) {
    chunks_.push_back(std::make_unique<Chunk>());
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
    while (!last->children_.empty()) last = last->children_.back().get();
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
        path += (*it)->name_;
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
        if (key) *key = parent.children_[index].get();
        return EditResult::ok;
    }
    if (parent.depth() + 1 > kMaxKeyDepth) return EditResult::tooDeep;
    auto child = std::unique_ptr<WineKey>(new WineKey());
    WineKey* added = child.get();
    added->name_.assign(name);
    added->parent_ = &parent;
    added->chunk_.owner = added;
    // Wine writes a key right after the subtree of the sibling before it.
    Chunk* after = index == 0 ? &parent.chunk_ : lastChunkOfSubtree(*parent.children_[index - 1]);
    parent.children_.insert(parent.children_.begin() + static_cast<std::ptrdiff_t>(index), std::move(child));
    insertAfter(after->prev ? after : head_.prev, &added->chunk_);
    touch(*added);
    touch(parent);
    if (key) *key = added;
    if (created) *created = true;
    return EditResult::ok;
}

EditResult WineRegistryFile::deleteKey(WineKey& key) {
    if (!key.parent_) return EditResult::notAllowed;
    if (!key.children_.empty()) return EditResult::hasSubkeys;
    WineKey& parent = *key.parent_;
    unlink(&key.chunk_);
    if (key.extras_)
        for (Chunk* extra : key.extras_->extraBlocks) unlink(extra);
    bool found = false;
    const std::size_t index = parent.childIndexFor(key.name_, found);
    parent.children_.erase(parent.children_.begin() + static_cast<std::ptrdiff_t>(index));
    touch(parent);
    return EditResult::ok;
}

EditResult WineRegistryFile::renameKey(WineKey& key, std::u16string_view newName) {
    if (!key.parent_) return EditResult::notAllowed;
    if (!validKeyName(newName)) return EditResult::invalidName;
    WineKey& parent = *key.parent_;
    WineKey* other = parent.findSubkey(newName);
    if (other && other != &key) return EditResult::alreadyExists;
    if (key.name_ == newName) return EditResult::ok;

    bool found = false;
    const std::size_t oldIndex = parent.childIndexFor(key.name_, found);
    std::unique_ptr<WineKey> owned = std::move(parent.children_[oldIndex]);
    parent.children_.erase(parent.children_.begin() + static_cast<std::ptrdiff_t>(oldIndex));
    key.name_.assign(newName);
    const std::size_t newIndex = parent.childIndexFor(key.name_, found);
    parent.children_.insert(parent.children_.begin() + static_cast<std::ptrdiff_t>(newIndex), std::move(owned));

    // Every key of the subtree gets a new path: move their blocks to the new place, in order.
    std::vector<WineKey*> subtree;
    std::vector<WineKey*> stack{&key};
    while (!stack.empty()) {
        WineKey* k = stack.back();
        stack.pop_back();
        subtree.push_back(k);
        k->pathChanged_ = true;
        unlink(&k->chunk_);
        for (auto it = k->children_.rbegin(); it != k->children_.rend(); ++it) stack.push_back(it->get());
    }
    Chunk* after = newIndex == 0 ? &parent.chunk_ : lastChunkOfSubtree(*parent.children_[newIndex - 1]);
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
        WineValue& value = key.values_[*index];
        if (value.type_ == type && value.data_ == data) return EditResult::ok;  // Wine skips it too
        value.type_ = type;
        value.data_.assign(data);
        value.changed_ = true;
        touch(key);
        return EditResult::ok;
    }
    WineValue value;
    value.name_.assign(name);
    value.type_ = type;
    value.data_.assign(data);
    value.changed_ = true;
    // Lines after the last value (blank lines, comments) stay after it.
    const std::size_t oldCount = key.values_.size();
    for (WineKey::OtherLine& line : key.otherLines_)
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
    WineValue& value = key.values_[*index];
    if (value.name_ == newName) return EditResult::ok;
    value.name_.assign(newName);
    value.changed_ = true;
    key.dropValueIndex();
    touch(key);
    return EditResult::ok;
}

// ---- writing ----

void WineRegistryFile::appendKeyPath(std::string& out, const WineKey& key) const {
    std::vector<const WineKey*> chain;
    for (const WineKey* k = &key; k->parent_; k = k->parent_) chain.push_back(k);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) out += "\\\\";
        appendEscaped(out, (*it)->name_, "[]");
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
        out += text(key.keyLineSuffix_);
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
    std::size_t other = 0;
    const auto& lines = key.otherLines_;
    // Blank lines at the end separated the block from the next one; the next block brings its own.
    std::size_t kept = lines.size();
    while (kept > 0 && lines[kept - 1].beforeValue >= key.values_.size() && isBlank(text(lines[kept - 1].span))) --kept;
    for (std::size_t v = 0; v <= key.values_.size(); ++v) {
        for (; other < kept && lines[other].beforeValue <= v; ++other) {
            if (lines[other].kind == WineKey::OtherLine::Kind::time && !keepTime) {
                writeTimeLine();
                continue;
            }
            std::string_view line = text(lines[other].span);
            // Wine writes no blank lines inside a key; those of a merged repeated block go.
            if (!keepTime && isBlank(line)) continue;
            // An unchanged key's #time line comes first in Wine's form; keep the order found.
            if (lines[other].kind != WineKey::OtherLine::Kind::time) writeTimeLine();
            out += line;
            if (line.empty() || line.back() != '\n') out.push_back('\n');
        }
        writeTimeLine();
        if (v == key.values_.size()) break;
        const WineValue& value = key.values_[v];
        if (value.fromFile_ && !value.changed_) {
            std::string_view line = text(value.line_);
            out += line;
            if (line.empty() || line.back() != '\n') out.push_back('\n');
        } else {
            appendValueLine(out, value.name_, value.type_, value.data_);
        }
    }
}

std::string WineRegistryFile::serialize() const {
    std::string out;
    out.reserve(source_.size() + source_.size() / 16 + 256);
    bool afterRewritten = false;
    for (const Chunk* chunk = head_.next; chunk != &head_; chunk = chunk->next) {
        const WineKey* owner = chunk->owner;
        bool verbatim = true;
        switch (chunk->kind) {
        case Chunk::Kind::header:
        case Chunk::Kind::orphan: break;
        case Chunk::Kind::extraBlock: verbatim = !owner->rewritten(); break;
        case Chunk::Kind::key:
            if (owner->rewritten()) {
                verbatim = false;
                if (owner->writtenByWine()) {
                    appendRewrittenKey(out, *owner);
                    afterRewritten = true;
                }
            } else {
                verbatim = owner->hasBlock_;
            }
            break;
        }
        if (!verbatim || chunk->span.length == 0) continue;
        if (afterRewritten && !endsWith(out, "\n\n")) {
            if (!out.empty() && out.back() != '\n') out.push_back('\n');
            out.push_back('\n');
        }
        afterRewritten = false;
        out += text(chunk->span);
    }
    return out;
}

}  // namespace tovik::wine
