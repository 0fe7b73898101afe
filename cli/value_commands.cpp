// set, delete-value and rename-value.
#include <optional>
#include <ostream>

#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/data_text_check.h"
#include "registry/registry_api.h"
#include "registry/value_types.h"

namespace tovik::cli {

int runSet(const Command& command, std::ostream&, std::ostream& err) {
    KeyHandle key;
    if (command.key.path.empty()) {
        key = KeyHandle(command.key.root);
    } else {
        HKEY created = 0;
        DWORD disposition = 0;
        const LONG result = RegCreateKeyExW(command.key.root, command.key.path.c_str(), 0, nullptr, 0, 0, nullptr,
                                            &created, &disposition);
        if (result != ERROR_SUCCESS) return reportKeyFailure(err, result, command.key, Action::Create);
        key = KeyHandle(created);
    }

    // The same conversion as the value editors, so that both write the same bytes for the same
    // text: strings end as Windows writes them where Windows or Wine reads the registry.
    std::optional<Bytes> quad;
    if (command.type == REG_QWORD && !(quad = quadData(command.dataText))) {
        reportError(err, say({"QW data must be a number that fits in 64 bits.",
                              "QWのデータは64ビットに収まる数でなければなりません。"}));
        return kExitFailure;
    }
    const Bytes data = quad ? *quad : valueDataToWrite(command.type, command.dataText);
    const LONG result = RegSetValueExW(key.get(), command.valueName.c_str(), 0, command.type, data.data(),
                                       static_cast<DWORD>(data.size()));
    return result == ERROR_SUCCESS ? kExitSuccess : reportValueFailure(err, result, command, Action::Write);
}

int runDeleteValue(const Command& command, std::ostream&, std::ostream& err) {
    KeyHandle key;
    LONG result = openKeyHandle(command.key.root, command.key.path, key);
    if (result != ERROR_SUCCESS) return reportKeyFailure(err, result, command.key, Action::Open);
    result = RegDeleteValueW(key.get(), command.valueName.c_str());
    return result == ERROR_SUCCESS ? kExitSuccess : reportValueFailure(err, result, command, Action::Delete);
}

int runRenameValue(const Command& command, std::ostream&, std::ostream& err) {
    KeyHandle key;
    LONG result = openKeyHandle(command.key.root, command.key.path, key);
    if (result != ERROR_SUCCESS) return reportKeyFailure(err, result, command.key, Action::Open);
    result = RegRenameValueW(key.get(), command.valueName.c_str(), command.newName.c_str());
    return result == ERROR_SUCCESS ? kExitSuccess : reportValueFailure(err, result, command, Action::Rename);
}

}  // namespace tovik::cli
