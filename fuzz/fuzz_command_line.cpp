// tovik-reg's argument parser on untrusted arguments: the bytes split at zero bytes give the
// arguments. Whatever the parser makes of them must be well-formed; commands that touch only the
// registry are then run on a fresh in-memory store (commands that name files are parsed only).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/data_text_check.h"
#include "cli/utf8.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace {

using namespace tovik::cli;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

bool isUtf8(std::string_view text) {
    return utf8ToUtf16(text).has_value();
}

void checkKey(const KeyArgument& key) {
    check(key.root == HKEY_CLASSES_ROOT || key.root == HKEY_CURRENT_USER || key.root == HKEY_LOCAL_MACHINE,
          "a key has one of the three roots");
    const std::u16string_view path = key.path;
    if (path.empty()) return;
    check(path.front() != u'\\' && path.back() != u'\\', "no backslash at either end of a path");
    check(path.find(u"\\\\") == std::u16string_view::npos, "no empty name inside a path");
    // Within the store's limits, so that a refusal comes before anything is written.
    std::size_t levels = 1, name = 0;
    for (const char16_t c : path) {
        if (c == u'\\') {
            ++levels;
            name = 0;
        } else {
            check(++name <= static_cast<std::size_t>(kMaxKeyNameLength), "key names within the limit");
        }
    }
    check(levels <= static_cast<std::size_t>(kMaxKeyDepth), "keys within the depth limit");
}

// The commands whose arguments always hold a KEY, and those that may go without one (find, the
// timeline and the history then take the whole registry).
bool namesAKey(CommandKind kind) {
    switch (kind) {
    case CommandKind::Query:
    case CommandKind::Get:
    case CommandKind::Set:
    case CommandKind::DeleteValue:
    case CommandKind::AddKey:
    case CommandKind::DeleteKey:
    case CommandKind::Export:
    case CommandKind::RenameKey:
    case CommandKind::RenameValue: return true;
    default: return false;
    }
}

bool mayNameAKey(CommandKind kind) {
    return kind == CommandKind::Find || kind == CommandKind::Timeline || kind == CommandKind::History;
}

bool touchesOnlyTheRegistry(CommandKind kind) {
    switch (kind) {
    case CommandKind::Query:
    case CommandKind::Set:
    case CommandKind::DeleteValue:
    case CommandKind::AddKey:
    case CommandKind::DeleteKey: return true;
    default: return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> args;
    for (std::size_t start = 0; start <= bytes.size() && args.size() < 16;) {
        const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
        args.emplace_back(bytes.data() + start, end - start);
        start = end + 1;
    }

    const ParsedCommandLine parsed = parseCommandLine(args);
    if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
        check(!error->message.empty() && isUtf8(error->message), "an error is a readable sentence");
        return 0;
    }
    const Command& command = std::get<Command>(parsed);
    if (command.source.kind != tovik::RegistrySource::Kind::UserStore)
        check(!command.source.path.empty(), "a named registry has a path");
    if (namesAKey(command.kind)) check(command.hasKey, "the command names a key");
    if ((namesAKey(command.kind) || mayNameAKey(command.kind)) && command.hasKey) checkKey(command.key);
    if (!touchesOnlyTheRegistry(command.kind)) return 0;
    if (command.kind == CommandKind::Set) {
        check(!checkDataText(command.type, command.dataText).has_value(), "set's data text was accepted");
    }
    if (command.kind == CommandKind::DeleteKey) check(!command.key.path.empty(), "a root is never deleted");
    check(command.valueName.size() <= static_cast<std::size_t>(kMaxValueNameLength), "value names within the limit");

    tovik::openInMemoryRegistryStore();
    std::ostringstream out;
    std::ostringstream err;
    const int code = runCommand(command, out, err);
    check(code == kExitSuccess || code == kExitFailure, "a command succeeds or fails");
    check(isUtf8(out.str()) && isUtf8(err.str()), "output is UTF-8");
    check(code == kExitSuccess || !err.str().empty(), "a failure says why");
    tovik::closeRegistryStore();
    return 0;
}
