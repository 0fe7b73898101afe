// __complete-keys PREFIX: the key paths that complete PREFIX, one per line, for the shells'
// completions. Hidden from the help: a shell asks it, not a person.
#include <ostream>

#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/utf8.h"
#include "registry/key_enum.h"
#include "registry/key_path.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/roots.h"

namespace tovik::cli {

namespace {

bool startsWithName(std::u16string_view name, std::u16string_view prefix) {
    return name.size() >= prefix.size() && compareNames(name.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace

int runCompleteKeys(const Command& command, std::ostream& out, std::ostream&) {
    const std::u16string& typed = command.findText;
    // The separator the user types: a slash needs no quoting in a shell, so it is the default.
    const std::size_t cut = typed.find_last_of(u"\\/");
    const char16_t separator = cut != std::u16string::npos ? typed[cut] : u'/';
    if (cut == std::u16string::npos) {
        for (const RootInfo& root : heldRoots()) {
            for (const std::u16string_view name : {root.shortName, root.longName}) {
                if (!name.empty() && startsWithName(name, typed))
                    out << utf16ToUtf8(name) << static_cast<char>(separator) << '\n';
            }
        }
        return kExitSuccess;
    }
    if (!hasRegistryStore()) return kExitFailure;
    const std::u16string_view parentText = std::u16string_view(typed).substr(0, cut);
    const std::u16string_view partial = std::u16string_view(typed).substr(cut + 1);
    const ParsedKeyPath parent = parseKeyPath(parentText);
    if (!parent.ok()) return kExitFailure;
    RegistryReadSnapshot snapshot;
    KeyHandle key;
    if (openKeyHandle(parent.root, parent.path, key) != ERROR_SUCCESS) return kExitFailure;
    EnumBuffers buffers;
    std::u16string_view name;
    const std::string head = utf16ToUtf8(typed.substr(0, cut + 1));
    for (DWORD index = 0; enumSubkeyName(key.get(), index, buffers, name) == ERROR_SUCCESS; ++index) {
        if (startsWithName(name, partial)) out << head << utf16ToUtf8(name) << static_cast<char>(separator) << '\n';
    }
    out.flush();
    return kExitSuccess;
}

}  // namespace tovik::cli
