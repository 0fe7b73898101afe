// find: the GUI's search over the registry, one line per hit.
#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/utf8.h"
#include "find/registry_find.h"
#include "registry/key_time.h"

namespace tovik::cli {

namespace {

// A key hit as its path; a value hit as the value itself, read again for its data.
nlohmann::ordered_json jsonHitOnly(const find::FindHit& hit) {
    if (!hit.isValueHit()) return nlohmann::ordered_json{{"path", utf16ToUtf8(hit.fullKeyPath())}, {"match", "key"}};
    const char* match = hit.kind == find::HitKind::ValueName ? "name" : "data";
    KeyHandle key;
    EnumBuffers buffers;
    EnumeratedValue value;
    nlohmann::ordered_json found;
    if (openKeyHandle(hit.root, hit.path, key) == ERROR_SUCCESS &&
        findValue(key.get(), hit.valueName, buffers, value) == ERROR_SUCCESS) {
        found = jsonValue(hit.root, hit.path, value.name, value.type, value.data, value.size);
    } else {
        // Gone meanwhile: what the search saw, without the data.
        found = jsonValue(hit.root, hit.path, hit.valueName, hit.type, nullptr, 0);
        found["text"] = nullptr;
        found["hex"] = nullptr;
    }
    found["match"] = match;
    return found;
}

// With a time span, each hit also says when its key was last written.
nlohmann::ordered_json jsonHit(const find::FindHit& hit, bool withTime) {
    nlohmann::ordered_json found = jsonHitOnly(hit);
    if (withTime) {
        const std::string time = formatFileTimeUtc(hit.keyWriteTime);
        found["written"] = time.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(time);
    }
    return found;
}

}  // namespace

int runFindCommand(const Command& command, std::ostream& out, std::ostream& err) {
    find::FindOptions options;
    options.text = command.findText;
    options.keyNames = command.findKeys;
    options.valueNames = command.findValues;
    options.data = command.findData;
    options.matchCase = command.matchCase;
    options.wholeMatch = command.exact;
    options.changedFrom = command.since;
    options.changedUntil = command.until;
    if (command.hasKey) {
        KeyHandle key;
        const LONG opened = openKeyHandle(command.key.root, command.key.path, key);
        if (opened != ERROR_SUCCESS) {
            reportKeyFailure(err, opened, command.key, Action::Open);
            return failureExitCode(command.kind);
        }
        options.scopeRoot = command.key.root;
        options.scopePath = command.key.path;
    }

    // Hits are printed as each slice finds them, so a long search shows its first hits at once.
    find::RegistryFind search = find::RegistryFind::findAll(options, SIZE_MAX);
    std::optional<JsonArrayWriter> json;
    if (command.json) json.emplace(out);
    std::size_t printed = 0;
    const auto printNew = [&](const find::RegistryFind& running) {
        const auto& hits = running.hits();
        for (; printed < hits.size(); ++printed) {
            const find::FindHit& hit = hits[printed];
            if (json) {
                json->add(jsonHit(hit, command.since != 0 || command.until != 0));
                continue;
            }
            out << utf16ToUtf8(hit.fullKeyPath());
            if (hit.isValueHit()) out << '\t' << utf16ToUtf8(hit.shownValueName());
            out << '\n';
        }
        return true;
    };
    const find::FindStatus status = find::runFind(search, printNew);
    printNew(search);
    if (json) json->finish();
    out.flush();
    if (status == find::FindStatus::Failed) {
        reportError(err, loopedTreeText(command.hasKey ? command.key : KeyArgument{HKEY_CLASSES_ROOT, {}}));
        return failureExitCode(command.kind);
    }
    if (search.incomplete()) {
        reportError(err, say({"some keys or values could not be read; the search did not see them all.",
                              "読み出せないキーか値がありました。検索はすべてを見ていません。"}));
        return failureExitCode(command.kind);
    }
    if (!out) {
        reportError(err, say(kCannotWriteOutput));
        return failureExitCode(command.kind);
    }
    return printed > 0 ? kExitSuccess : kExitFailure;  // 1: nothing found
}

}  // namespace tovik::cli
