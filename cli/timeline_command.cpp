// timeline [KEY]: every key below KEY with the time it was last written, newest first, as CSV:
// the forensic habit of one timeline over several registries.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "backup/backup_export.h"
#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/utf8.h"
#include "registry/backend.h"
#include "registry/key_path.h"
#include "registry/key_time.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik::cli {

namespace {

// Every key listed, in the order the walk met it. A key holds its own name only, in one shared
// buffer, and its parent's place: 700,000 keys cost no string each, and a path is put together
// only when printed.
struct KeyList {
    static constexpr std::uint32_t kNoParent = ~std::uint32_t{0};
    struct Key {
        std::int64_t time;
        std::uint32_t parent;  // kNoParent for a top, whose name is its full path
        std::uint32_t nameLength;
        std::size_t nameAt;
    };
    std::deque<Key> keys;  // grows without moving what it holds
    std::string names;     // UTF-8

    std::size_t addName(std::u16string_view name) {
        const std::size_t at = names.size();
        appendUtf8(names, name);
        return at;
    }
    // The key's full path, into path (emptied first).
    void pathOf(std::uint32_t index, std::vector<std::uint32_t>& chain, std::string& path) const {
        chain.clear();
        for (std::uint32_t at = index; at != kNoParent; at = keys[at].parent) chain.push_back(at);
        path.clear();
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            if (it != chain.rbegin()) path += '\\';
            path.append(names, keys[*it].nameAt, keys[*it].nameLength);
        }
    }
};

// A CSV field, quoted (quotes doubled) only when it holds a comma, a quote or a line end.
void appendCsvField(std::string& out, std::string_view field) {
    const auto special = [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; };
    if (std::none_of(field.begin(), field.end(), special)) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// The backend's id of root\path (names in any case); kNoKey when a key on the way is missing.
KeyId idOf(Backend& store, HKEY root, std::u16string_view path) {
    KeyId id = store.rootKey(root);
    while (id != kNoKey && !path.empty()) {
        const std::size_t cut = std::min(path.find(u'\\'), path.size());
        id = store.findChild(id, path.substr(0, cut));
        path.remove_prefix(std::min(cut + 1, path.size()));
    }
    return id;
}

// Every key from top down, with its time, into list. False when the walk met a key inside itself
// (a damaged store) or went deeper than keys can.
bool collect(Backend& store, KeyId top, std::string_view topPath, KeyList& list, KeyId watch, bool& watchSeen) {
    struct Pending {
        KeyId id;
        std::uint32_t parent;
        std::uint32_t nameLength;
        std::size_t nameAt;
        std::size_t depth;
    };
    const std::size_t topAt = list.names.size();
    list.names += topPath;
    std::vector<Pending> stack{{top, KeyList::kNoParent, static_cast<std::uint32_t>(topPath.size()), topAt, 0}};
    std::vector<SubkeyEntry> children;
    while (!stack.empty()) {
        const Pending key = stack.back();
        stack.pop_back();
        if (key.id == watch) watchSeen = true;
        const auto index = static_cast<std::uint32_t>(list.keys.size());
        list.keys.push_back({store.keyWriteTime(key.id), key.parent, key.nameLength, key.nameAt});
        children.clear();
        store.listSubkeys(key.id, 0, -1, children);
        if (!children.empty() && key.depth + 1 > static_cast<std::size_t>(kMaxKeyDepth)) return false;
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if (it->damaged) return false;
            const std::size_t at = list.addName(it->name);
            stack.push_back({it->id, index, static_cast<std::uint32_t>(list.names.size() - at), at, key.depth + 1});
        }
    }
    return true;
}

}  // namespace

int runTimeline(const Command& command, std::ostream& out, std::ostream& err) {
    RegistryReadSnapshot snapshot;
    Backend* store = currentBackend();
    if (store == nullptr) {
        reportError(err, say({"no registry is open.", "レジストリが開いていません。"}));
        return kExitFailure;
    }
    // The walk only reads: it asks the registry itself, below the change history's layer, which
    // would learn the path of every key for writes that never come.
    while (Backend* below = store->layeredOver()) store = below;
    struct Top {
        HKEY root;
        std::u16string path;
    };
    std::vector<Top> tops;
    if (command.hasKey) {
        KeyHandle key;
        const LONG opened = openKeyHandle(command.key.root, command.key.path, key);
        if (opened != ERROR_SUCCESS) return reportKeyFailure(err, opened, command.key, Action::Open);
        tops.push_back({command.key.root, command.key.path.empty()
                                              ? std::u16string()
                                              : storedKeyPath(command.key.root, command.key.path)});
    } else {
        // HKEY_CLASSES_ROOT last: where it is a key of HKEY_LOCAL_MACHINE (Wine, hives) it was
        // listed there already.
        tops = {{HKEY_CURRENT_USER, {}}, {HKEY_LOCAL_MACHINE, {}}, {HKEY_CLASSES_ROOT, {}}};
    }

    KeyList list;
    const KeyId classes = store->rootKey(HKEY_CLASSES_ROOT);
    bool classesSeen = false;
    try {
        for (const Top& top : tops) {
            if (!command.hasKey && top.root == HKEY_CLASSES_ROOT && classesSeen) continue;
            const KeyId id = idOf(*store, top.root, top.path);
            if (id == kNoKey) continue;  // deleted meanwhile
            std::string path;
            appendUtf8(path, fullKeyPath(top.root, top.path));
            const KeyId watch = top.root == HKEY_CLASSES_ROOT ? kNoKey : classes;
            if (!collect(*store, id, path, list, watch, classesSeen)) {
                reportError(err, loopedTreeText({top.root, top.path}));
                return kExitFailure;
            }
        }
    } catch (const BackendFailure& failure) {
        reportError(err, say({"the registry could not be read: %1.", "レジストリを読み出せません: %1。"},
                             {registryErrorText(registryResultOf(failure.kind(), false))}));
        return kExitFailure;
    }

    // Newest first; keys of one time keep the registry's order.
    std::vector<std::pair<std::int64_t, std::uint32_t>> order;
    order.reserve(list.keys.size());
    for (std::size_t i = 0; i < list.keys.size(); ++i)
        order.emplace_back(list.keys[i].time, static_cast<std::uint32_t>(i));
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::string buffer;
    buffer.reserve(1 << 20);
    std::string path;
    std::vector<std::uint32_t> chain;
    std::string timeText;
    std::int64_t timeTextOf = 0;  // formatFileTimeUtc(0) is empty
    for (const auto& [time, index] : order) {
        if (time != timeTextOf) {
            timeText = formatFileTimeUtc(time);
            timeTextOf = time;
        }
        buffer += timeText;
        buffer += ',';
        list.pathOf(index, chain, path);
        appendCsvField(buffer, path);
        buffer += '\n';
        if (buffer.size() >= (1 << 20)) {
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            buffer.clear();
        }
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (!out.flush()) {
        reportError(err, say(kCannotWriteOutput));
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace tovik::cli
