// timeline [KEY]: every key below KEY with the time it was last written, newest first, as CSV:
// the forensic habit of one timeline over several registries.
#include <algorithm>
#include <ostream>
#include <string>
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

struct DatedKey {
    std::int64_t time;
    std::string path;  // full, UTF-8
};

// A CSV field, quoted (quotes doubled) only when it holds a comma, a quote or a line end.
void appendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
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

// Every key from top down, with its time, into keys. False when the walk met a key inside itself
// (a damaged store) or went deeper than keys can.
bool collect(Backend& store, KeyId top, std::string topPath, std::vector<DatedKey>& keys, KeyId watch,
             bool& watchSeen) {
    struct Pending {
        KeyId id;
        std::string path;
        std::size_t depth;
    };
    std::vector<Pending> stack{{top, std::move(topPath), 0}};
    std::vector<SubkeyEntry> children;
    while (!stack.empty()) {
        Pending key = std::move(stack.back());
        stack.pop_back();
        if (key.id == watch) watchSeen = true;
        keys.push_back({store.keyWriteTime(key.id), key.path});
        children.clear();
        store.listSubkeys(key.id, 0, -1, children);
        if (!children.empty() && key.depth + 1 > static_cast<std::size_t>(kMaxKeyDepth)) return false;
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if (it->damaged) return false;
            std::string path = key.path;
            path += '\\';
            appendUtf8(path, it->name);
            stack.push_back({it->id, std::move(path), key.depth + 1});
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

    std::vector<DatedKey> keys;
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
            if (!collect(*store, id, std::move(path), keys, watch, classesSeen)) {
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
    std::stable_sort(keys.begin(), keys.end(), [](const DatedKey& a, const DatedKey& b) { return a.time > b.time; });
    std::string buffer;
    buffer.reserve(1 << 20);
    for (const DatedKey& key : keys) {
        buffer += formatFileTimeUtc(key.time);
        buffer += ',';
        appendCsvField(buffer, key.path);
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
