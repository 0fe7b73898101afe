#include "stores/hive/hive_write_guard.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "language/messages.h"

namespace tovik::hive {

namespace {

constexpr std::uint64_t kFirstPage = 0x1000;
constexpr std::uint32_t kNone = 0xFFFFFFFF;
// Record sizes up to the fields read here (with the 4-byte block size in front).
constexpr std::size_t kKeyRecord = 0x50;
constexpr std::size_t kValueRecord = 0x18;
constexpr std::size_t kSecurityRecord = 0x18;
// hivex refuses keys with more values than this (and so does the guard, before hivex frees any).
constexpr std::uint32_t kMaxValues = 110000;
constexpr unsigned kMaxListDepth = 32;

std::string damageAt(std::uint64_t offset, std::string_view what) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(offset));
    return say({"at %1: %2", "%1 の位置: %2"}, {hex, what});
}

// The first block named twice, else 0: hivex would release it twice, and the second release
// asserts.
std::uint64_t repeated(std::vector<std::uint64_t> blocks) {
    std::sort(blocks.begin(), blocks.end());
    const auto twice = std::adjacent_find(blocks.begin(), blocks.end());
    return twice == blocks.end() ? 0 : *twice;
}

}  // namespace

void HiveWriteGuard::clear() {
    *this = HiveWriteGuard();
}

void HiveWriteGuard::load(std::string bytes) {
    clear();
    bytes_ = std::move(bytes);
    loaded_ = true;
    const std::uint64_t size = bytes_.size();
    used_.assign(size / 4 + 1, false);
    freshFrom_ = size;
    if (size < 2 * kFirstPage) return;
    // The blocks in use are found as hivex finds them on open; anything odd ends the walk, which
    // leaves fewer blocks counted in use and so refuses more, never less.
    // hivex adds pages after the length the header gives, even past the end of a file cut short:
    // the pages between would hold no "hbin", and the saved hive would not open again.
    const std::uint64_t claimed = std::uint64_t{u32(0x28)} + kFirstPage;
    if (claimed > size || (claimed & 0xfff) != 0) {
        fileDamage_ =
            damageAt(0x28, say({"the header gives the pages a length of %1 bytes, the file holds %2",
                                "ヘッダーではページの長さが %1 バイトですが、ファイルには %2 バイトしかありません"},
                               {std::to_string(claimed - kFirstPage), std::to_string(size - kFirstPage)}));
    }
    freshFrom_ = std::min<std::uint64_t>(claimed, size);
    std::uint64_t page = kFirstPage;
    while (page + 0x20 <= freshFrom_) {
        if (std::memcmp(bytes_.data() + page, "hbin", 4) != 0) break;
        const std::uint64_t pageSize = u32(page + 8);
        if (pageSize <= 0x20 || (pageSize & 0xfff) != 0 || page + pageSize > size) break;
        for (std::uint64_t block = page + 0x20; block + 4 <= page + pageSize;) {
            const std::int32_t raw = static_cast<std::int32_t>(u32(block));
            const std::uint64_t length = raw < 0 ? -static_cast<std::int64_t>(raw) : raw;
            if (length <= 4 || (length & 3) != 0 || block + length > page + pageSize) break;
            if (raw < 0 && block < freshFrom_) used_[block / 4] = true;
            block += length;
        }
        page += pageSize;
    }
}

std::uint32_t HiveWriteGuard::u32(std::uint64_t offset) const {
    if (offset + 4 > bytes_.size()) return kNone;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data() + offset);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t HiveWriteGuard::u16(std::uint64_t offset) const {
    if (offset + 2 > bytes_.size()) return 0xFFFF;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data() + offset);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

bool HiveWriteGuard::inUse(std::uint64_t offset) const {
    return (offset & 3) == 0 && offset >= kFirstPage && offset < freshFrom_ && used_[offset / 4] &&
           released_.count(offset) == 0;
}

std::size_t HiveWriteGuard::blockLength(std::uint64_t offset) const {
    const std::int32_t raw = static_cast<std::int32_t>(u32(offset));
    return raw < 0 ? static_cast<std::size_t>(-static_cast<std::int64_t>(raw)) : static_cast<std::size_t>(raw);
}

bool HiveWriteGuard::hasId(std::uint64_t offset, const char* id) const {
    return offset + 6 <= bytes_.size() && bytes_[offset + 4] == id[0] && bytes_[offset + 5] == id[1];
}

std::string HiveWriteGuard::record(std::uint64_t offset, const char* id, std::size_t minimum,
                                   const Message& what) const {
    if (!inUse(offset))
        return damageAt(offset, say({"%1 is not a block in use", "%1 が使用中のブロックではありません"}, {text(what)}));
    if (blockLength(offset) < minimum)
        return damageAt(
            offset, say({"%1 is shorter than its fields", "%1 がそのフィールドより短くなっています"}, {text(what)}));
    if (id != nullptr && !hasId(offset, id))
        return damageAt(offset,
                        say({"%1 is not a '%2' record", "%1 が '%2' のレコードではありません"}, {text(what), id}));
    return {};
}

std::string HiveWriteGuard::valueBlocks(std::uint64_t key, std::vector<std::uint64_t>& released) const {
    const std::uint32_t count = u32(key + 0x28);
    if (count == 0) return {};
    if (count > kMaxValues)
        return damageAt(key,
                        say({"the key claims %1 values", "キーの値の数が %1 になっています"}, {std::to_string(count)}));
    const std::uint64_t list = std::uint64_t{u32(key + 0x2c)} + kFirstPage;
    if (std::string bad = record(list, nullptr, 4 + 4 * std::size_t{count}, {"the key's value list", "キーの値の一覧"});
        !bad.empty()) {
        return bad;
    }
    released.push_back(list);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t value = std::uint64_t{u32(list + 4 + 4 * std::uint64_t{i})} + kFirstPage;
        if (std::string bad = record(value, "vk", kValueRecord, {"a value's record", "値のレコード"}); !bad.empty())
            return bad;
        released.push_back(value);
        if ((u32(value + 8) & 0x80000000u) != 0) continue;  // the data is held in the record
        const std::uint64_t data = std::uint64_t{u32(value + 0xc)} + kFirstPage;
        if (std::string bad = record(data, nullptr, 0, {"a value's data", "値のデータ"}); !bad.empty()) return bad;
        released.push_back(data);
    }
    return {};
}

std::string HiveWriteGuard::subkeyLists(std::uint64_t key, std::uint64_t wanted, bool& linked) const {
    linked = false;
    if (u32(key + 0x18) == 0) return {};
    struct Pending {
        std::uint64_t list;
        unsigned depth;
    };
    std::vector<Pending> pending{{std::uint64_t{u32(key + 0x20)} + kFirstPage, 0}};
    std::unordered_set<std::uint64_t> seen;
    while (!pending.empty()) {
        const Pending at = pending.back();
        pending.pop_back();
        if (!seen.insert(at.list).second)
            return damageAt(at.list, text({"a subkey list is listed twice", "同じサブキーの一覧が二度載っています"}));
        if (std::string bad = record(at.list, nullptr, 8, {"a subkey list", "サブキーの一覧"}); !bad.empty())
            return bad;
        const std::size_t count = u16(at.list + 6);
        const bool hashed = hasId(at.list, "lf") || hasId(at.list, "lh");
        const bool plain = hasId(at.list, "li") || hasId(at.list, "ri");
        if (!hashed && !plain)
            return damageAt(at.list, text({"a subkey list is not an 'lf', 'lh', 'li' or 'ri' record",
                                           "サブキーの一覧が 'lf'、'lh'、'li'、'ri' のどのレコードでもありません"}));
        const std::size_t entry = hashed ? 8 : 4;
        if (8 + count * entry > blockLength(at.list))
            return damageAt(at.list, text({"a subkey list is longer than its block",
                                           "サブキーの一覧がそのブロックより長くなっています"}));
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t target = std::uint64_t{u32(at.list + 8 + i * entry)} + kFirstPage;
            if (hasId(at.list, "ri")) {
                if (at.depth + 1 >= kMaxListDepth)
                    return damageAt(at.list,
                                    text({"subkey lists are nested too deep", "サブキーの一覧の入れ子が深すぎます"}));
                pending.push_back({target, at.depth + 1});
            } else if (hashed && target == wanted) {
                linked = true;  // hivex removes a key from 'lf' and 'lh' lists only
            }
        }
    }
    return {};
}

std::string HiveWriteGuard::securityOf(std::uint64_t key, std::uint64_t& found) const {
    found = 0;
    if (fresh(key)) {
        const auto it = createdSecurity_.find(key);
        if (it != createdSecurity_.end()) found = it->second;
        return {};
    }
    const std::uint32_t field = u32(key + 0x30);
    if (field == kNone) return {};
    found = std::uint64_t{field} + kFirstPage;
    return record(found, "sk", kSecurityRecord, {"the key's security record", "キーのセキュリティレコード"});
}

HiveWriteGuard::Security HiveWriteGuard::security(std::uint64_t offset) const {
    const auto it = securities_.find(offset);
    if (it != securities_.end()) return it->second;
    return {u32(offset + 0x10), std::uint64_t{u32(offset + 0xc)} + kFirstPage,
            std::uint64_t{u32(offset + 8)} + kFirstPage};
}

std::string HiveWriteGuard::checkSetValues(std::uint64_t key, Change& change) const {
    if (!fileDamage_.empty()) return fileDamage_;
    change.valuesRewritten = key;
    if (fresh(key) || valuesRewritten_.count(key) != 0) return {};
    if (std::string bad = record(key, "nk", kKeyRecord, {"the key's record", "キーのレコード"}); !bad.empty())
        return bad;
    if (std::string bad = valueBlocks(key, change.released); !bad.empty()) return bad;
    if (const std::uint64_t twice = repeated(change.released))
        return damageAt(
            twice, text({"a block is used twice by the key's values", "キーの値が同じブロックを二度使っています"}));
    return {};
}

std::string HiveWriteGuard::checkAddChild(std::uint64_t parent, Change& change) const {
    if (!fileDamage_.empty()) return fileDamage_;
    change.listRewritten = parent;
    if (!fresh(parent)) {
        if (std::string bad = record(parent, "nk", kKeyRecord, {"the key's record", "キーのレコード"}); !bad.empty())
            return bad;
    }
    std::uint64_t securityRecord = 0;
    if (std::string bad = securityOf(parent, securityRecord); !bad.empty()) return bad;
    if (securityRecord == 0)
        return damageAt(parent, text({"the key has no security record for a new subkey to take",
                                      "新しいサブキーが使うセキュリティレコードがキーにありません"}));
    change.securityAdded = securityRecord;
    if (!fresh(parent) && listsRewritten_.count(parent) == 0) {
        bool linked = false;
        if (std::string bad = subkeyLists(parent, 0, linked); !bad.empty()) return bad;
    }
    return {};
}

std::string HiveWriteGuard::checkDeleteChild(std::uint64_t key, std::uint64_t parent, Change& change) const {
    if (!fileDamage_.empty()) return fileDamage_;
    change.removedKey = key;
    const bool created = fresh(key);
    if (!created) {
        if (std::string bad = record(key, "nk", kKeyRecord, {"the key's record", "キーのレコード"}); !bad.empty())
            return bad;
        if (std::uint64_t{u32(key + 0x14)} + kFirstPage != parent) {
            return damageAt(key, text({"the key's record names another parent key than the one that lists it",
                                       "キーのレコードが、そのキーを載せている親キーとは別の親キーを指しています"}));
        }
        if (valuesRewritten_.count(key) == 0) {
            if (std::string bad = valueBlocks(key, change.released); !bad.empty()) return bad;
        }
        if (const std::uint32_t className = u32(key + 0x34); className != kNone) {
            const std::uint64_t block = std::uint64_t{className} + kFirstPage;
            if (std::string bad = record(block, nullptr, 0, {"the key's class name", "キーのクラス名"}); !bad.empty())
                return bad;
            change.released.push_back(block);
        }
    }
    std::uint64_t securityRecord = 0;
    if (std::string bad = securityOf(key, securityRecord); !bad.empty()) return bad;
    if (securityRecord != 0) {
        const Security held = security(securityRecord);
        if (held.references == 0)
            return damageAt(securityRecord, text({"the key's security record counts no keys",
                                                  "キーのセキュリティレコードを使うキーの数が0になっています"}));
        change.securityDropped = securityRecord;
        if (held.references == 1) {
            // The last key using it: hivex unlinks the record from its neighbours and releases it.
            if (held.previous != securityRecord && held.next != securityRecord) {
                for (const std::uint64_t neighbour : {held.previous, held.next}) {
                    if (std::string bad =
                            record(neighbour, "sk", kSecurityRecord,
                                   {"a security record's neighbour", "セキュリティレコードの隣のレコード"});
                        !bad.empty()) {
                        return bad;
                    }
                }
            }
            change.released.push_back(securityRecord);
        }
    }
    if (!created) change.released.push_back(key);
    if (const std::uint64_t twice = repeated(change.released))
        return damageAt(twice, text({"a block is used twice by the key", "キーが同じブロックを二度使っています"}));
    if (!fresh(parent) && listsRewritten_.count(parent) == 0) {
        if (std::string bad = record(parent, "nk", kKeyRecord, {"the parent key's record", "親キーのレコード"});
            !bad.empty())
            return bad;
        bool linked = false;
        if (std::string bad = subkeyLists(parent, key, linked); !bad.empty()) return bad;
        if (!linked)
            return damageAt(parent, text({"the key is not in an 'lf' or 'lh' subkey list of its parent",
                                          "キーが親キーの 'lf' や 'lh' のサブキーの一覧にありません"}));
    }
    return {};
}

void HiveWriteGuard::apply(const Change& change) {
    released_.insert(change.released.begin(), change.released.end());
    if (change.valuesRewritten != 0) valuesRewritten_.insert(change.valuesRewritten);
    if (change.listRewritten != 0) listsRewritten_.insert(change.listRewritten);
    if (change.securityAdded != 0) {
        Security held = security(change.securityAdded);
        ++held.references;
        securities_[change.securityAdded] = held;
    }
    if (change.securityDropped != 0) {
        const std::uint64_t gone = change.securityDropped;
        Security held = security(gone);
        --held.references;
        securities_[gone] = held;
        if (held.references == 0 && held.previous != gone && held.next != gone) {
            Security previous = security(held.previous);
            previous.next = held.next;
            securities_[held.previous] = previous;
            Security next = security(held.next);
            next.previous = held.previous;
            securities_[held.next] = next;
        }
    }
    if (change.removedKey != 0) {
        createdSecurity_.erase(change.removedKey);
        valuesRewritten_.erase(change.removedKey);
    }
}

void HiveWriteGuard::created(std::uint64_t parent, std::uint64_t key) {
    std::uint64_t securityRecord = 0;
    securityOf(parent, securityRecord);
    createdSecurity_[key] = securityRecord;
}

}  // namespace tovik::hive
