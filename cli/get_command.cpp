// get KEY NAME: one value's data, as text or (--raw) as its bytes.
#include <ostream>

#include <nlohmann/json.hpp>

#include "backup/backup_export.h"
#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/utf8.h"
#include "registry/key_enum.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/value_types.h"

namespace tovik::cli {

LONG findValue(HKEY key, std::u16string_view name, EnumBuffers& buffers, EnumeratedValue& value) {
    for (DWORD index = 0;; ++index) {
        const LONG result = enumValue(key, index, buffers, value);
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_FILE_NOT_FOUND;
        if (result != ERROR_SUCCESS) return result;
        if (value.name.size() == name.size() && compareNames(value.name, name) == 0) return ERROR_SUCCESS;
    }
}

int runGet(const Command& command, std::ostream& out, std::ostream& err) {
    KeyHandle key;
    LONG result = openKeyHandle(command.key.root, command.key.path, key);
    if (result != ERROR_SUCCESS) return reportKeyFailure(err, result, command.key, Action::Open);
    EnumBuffers buffers;
    EnumeratedValue value;
    result = findValue(key.get(), command.valueName, buffers, value);
    if (result != ERROR_SUCCESS) return reportValueFailure(err, result, command, Action::Read);
    if (command.json) {
        out << jsonText(jsonValue(command.key.root, storedKeyPath(command.key.root, command.key.path), value.name,
                                  value.type, value.data, value.size))
            << '\n';
    } else if (command.raw) {
        out.write(reinterpret_cast<const char*>(value.data), static_cast<std::streamsize>(value.size));
    } else {
        out << utf16ToUtf8(typedValueText(value.type, value.data, value.size)) << '\n';
    }
    if (!out.flush()) {
        reportError(err, say(kCannotWriteOutput));
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace tovik::cli
