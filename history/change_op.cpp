#include "history/change_op.h"

#include <cstring>

namespace tovik::history {

namespace {

void putU32(std::string& out, std::uint32_t n) {
    char bytes[4];
    std::memcpy(bytes, &n, 4);
    out.append(bytes, 4);
}

void putText(std::string& out, std::u16string_view text) {
    putU32(out, static_cast<std::uint32_t>(text.size()));
    out.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

void putBytes(std::string& out, std::string_view bytes) {
    putU32(out, static_cast<std::uint32_t>(bytes.size()));
    out.append(bytes);
}

void putValue(std::string& out, const RecordedValue& value) {
    putText(out, value.name);
    putU32(out, value.type);
    putBytes(out, value.data);
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool u8(std::uint8_t& n) {
        if (bytes_.empty()) return false;
        n = static_cast<std::uint8_t>(bytes_[0]);
        bytes_.remove_prefix(1);
        return true;
    }
    bool u32(std::uint32_t& n) {
        if (bytes_.size() < 4) return false;
        std::memcpy(&n, bytes_.data(), 4);
        bytes_.remove_prefix(4);
        return true;
    }
    bool text(std::u16string& text) {
        std::uint32_t units = 0;
        if (!u32(units) || bytes_.size() / sizeof(char16_t) < units) return false;
        text.resize(units);
        std::memcpy(text.data(), bytes_.data(), units * sizeof(char16_t));
        bytes_.remove_prefix(units * sizeof(char16_t));
        return true;
    }
    bool bytes(std::string& out) {
        std::uint32_t size = 0;
        if (!u32(size) || bytes_.size() < size) return false;
        out.assign(bytes_.substr(0, size));
        bytes_.remove_prefix(size);
        return true;
    }
    bool value(RecordedValue& v) {
        std::uint32_t type = 0;
        if (!text(v.name) || !u32(type) || !bytes(v.data)) return false;
        v.type = type;
        return true;
    }
    bool done() const { return bytes_.empty(); }

private:
    std::string_view bytes_;
};

}  // namespace

std::u16string_view parentPath(std::u16string_view path) {
    const std::size_t cut = path.rfind(u'\\');
    return cut == std::u16string_view::npos ? std::u16string_view() : path.substr(0, cut);
}

std::u16string_view lastName(std::u16string_view path) {
    const std::size_t cut = path.rfind(u'\\');
    return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

std::u16string renamedKeyPath(const ChangeOp& op) {
    std::u16string path(parentPath(op.key));
    path += u'\\';
    path += op.name;
    return path;
}

std::string dataDigest(std::string_view data) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : data) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string digest;
    putU32(digest, static_cast<std::uint32_t>(data.size()));
    digest.append(reinterpret_cast<const char*>(&hash), sizeof hash);
    return digest;
}

namespace {

// 64-bit words mixed by multiplication: fast over megabytes, and a change of any bit changes the
// result with near certainty (no defence against inputs made to collide, which none of this needs).
std::uint64_t mixBytes(std::uint64_t hash, const void* bytes, std::size_t size) {
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    const auto* at = static_cast<const unsigned char*>(bytes);
    auto mix = [&](std::uint64_t word) {
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 29;
    };
    for (; size >= 8; at += 8, size -= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, at, 8);
        mix(word);
    }
    std::uint64_t tail = 0;
    if (size > 0) std::memcpy(&tail, at, size);  // no data may come as a null pointer
    mix(tail ^ (static_cast<std::uint64_t>(size) << 56));
    return hash;
}

}  // namespace

std::uint64_t valueHash(std::u16string_view name, DWORD type, std::string_view data) {
    std::uint64_t hash = mixBytes(0x6A09E667F3BCC909ull ^ type, name.data(), name.size() * sizeof(char16_t));
    hash = mixBytes(hash ^ data.size(), data.data(), data.size());
    // A last avalanche, so that sums of hashes of similar values do not cancel.
    hash ^= hash >> 32;
    hash *= 0xD6E8FEB86659FD93ull;
    return hash ^ (hash >> 32);
}

bool matchesAfter(const ChangeOp& op, DWORD type, std::string_view data) {
    if (type != op.after.type) return false;
    return op.afterIsDigest ? dataDigest(data) == op.after.data : data == op.after.data;
}

std::u16string describeOp(const ChangeOp& op) {
    switch (op.kind) {
    case OpKind::CreateKey: return u"create key";
    case OpKind::DeleteKey: return u"delete key";
    case OpKind::SetValue: return u"set value " + op.after.name;
    case OpKind::DeleteValue: return u"delete value " + op.name;
    case OpKind::RenameKey: return u"rename key to " + op.name;
    case OpKind::RenameValue: return u"rename value " + op.name + u" to " + op.newName;
    }
    return u"change";
}

std::string encodeOps(const std::vector<ChangeOp>& ops) {
    std::string out;
    putU32(out, static_cast<std::uint32_t>(ops.size()));
    for (const ChangeOp& op : ops) {
        out.push_back(static_cast<char>(op.kind));
        putText(out, op.key);
        putText(out, op.name);
        putText(out, op.newName);
        out.push_back(static_cast<char>((op.hadBefore ? 1 : 0) | (op.afterIsDigest ? 2 : 0) | (op.onMadeKey ? 4 : 0) |
                                        (op.valuesSummarized ? 8 : 0)));
        putValue(out, op.before);
        putValue(out, op.after);
        putU32(out, static_cast<std::uint32_t>(op.values.size()));
        for (const RecordedValue& v : op.values) putValue(out, v);
        if (op.valuesSummarized) {
            putU32(out, op.summaryCount);
            putU32(out, static_cast<std::uint32_t>(op.summaryHash));
            putU32(out, static_cast<std::uint32_t>(op.summaryHash >> 32));
        }
    }
    return out;
}

bool decodeOps(std::string_view bytes, std::vector<ChangeOp>& ops) {
    Reader in(bytes);
    std::uint32_t count = 0;
    if (!in.u32(count)) return false;
    std::vector<ChangeOp> decoded;
    for (std::uint32_t i = 0; i < count; ++i) {
        ChangeOp op;
        std::uint8_t kind = 0, hadBefore = 0;
        std::uint32_t values = 0;
        if (!in.u8(kind) || kind < 1 || kind > static_cast<std::uint8_t>(OpKind::RenameValue)) return false;
        op.kind = static_cast<OpKind>(kind);
        if (!in.text(op.key) || !in.text(op.name) || !in.text(op.newName) || !in.u8(hadBefore) ||
            !in.value(op.before) || !in.value(op.after) || !in.u32(values))
            return false;
        op.hadBefore = (hadBefore & 1) != 0;
        op.afterIsDigest = (hadBefore & 2) != 0;
        op.onMadeKey = (hadBefore & 4) != 0;
        op.valuesSummarized = (hadBefore & 8) != 0;
        for (std::uint32_t v = 0; v < values; ++v) {
            RecordedValue value;
            if (!in.value(value)) return false;
            op.values.push_back(std::move(value));
        }
        if (op.valuesSummarized) {
            std::uint32_t low = 0, high = 0;
            if (op.kind != OpKind::CreateKey || !in.u32(op.summaryCount) || !in.u32(low) || !in.u32(high)) return false;
            op.summaryHash = (static_cast<std::uint64_t>(high) << 32) | low;
        }
        if (op.kind == OpKind::CreateKey && !op.values.empty()) {
            std::vector<RecordedValue> set = std::move(op.values);
            op.values.clear();
            const std::u16string key = op.key;
            decoded.push_back(std::move(op));
            for (RecordedValue& value : set) {
                ChangeOp setOp = makeOp(OpKind::SetValue, key, value.name);
                setOp.onMadeKey = true;
                setOp.after = std::move(value);
                decoded.push_back(std::move(setOp));
            }
            continue;
        }
        decoded.push_back(std::move(op));
    }
    if (!in.done()) return false;
    ops.insert(ops.end(), std::make_move_iterator(decoded.begin()), std::make_move_iterator(decoded.end()));
    return true;
}

}  // namespace tovik::history
