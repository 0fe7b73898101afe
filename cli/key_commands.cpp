// add-key, delete-key and rename-key, on the same registry walks as the GUI's key commands.
#include <ostream>

#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik::cli {

int runAddKey(const Command& command, std::ostream&, std::ostream& err) {
    KeyHandle created;
    DWORD disposition = 0;
    const LONG result = RegCreateKeyExW(command.key.root, command.key.path.c_str(), 0, nullptr, 0, 0, nullptr,
                                        created.receive(), &disposition);
    if (result != ERROR_SUCCESS) return reportKeyFailure(err, result, command.key, Action::Create);
    // The window's own words when the key was there already; not a failure.
    if (disposition == REG_OPENED_EXISTING_KEY) err << text({"The key exists already.", "既に存在します"}) << '\n';
    return kExitSuccess;
}

int runDeleteKey(const Command& command, std::ostream&, std::ostream& err) {
    KeyHandle key;
    const LONG opened = RegOpenKeyExW(command.key.root, command.key.path.c_str(), 0, 0, key.receive());
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_KEY_DELETED)
        return reportKeyFailure(err, ERROR_FILE_NOT_FOUND, command.key, Action::Open);
    if (opened == ERROR_BADDB) {
        reportError(err, loopedTreeText(command.key));
        return kExitFailure;
    }
    if (opened != ERROR_SUCCESS) return reportKeyFailure(err, opened, command.key, Action::Open);
    key.reset();
    if (const std::string refusal = treeDeleteRefusal(command.key.root, command.key.path, false); !refusal.empty()) {
        reportError(err,
                    say({"cannot delete %1: %2", "%1 を削除できません: %2"}, {keyDisplayName(command.key), refusal}));
        return kExitFailure;
    }
    LONG deleted = ERROR_SUCCESS;
    {
        // The key goes in the same step as its subkeys: a store that saves whole files saves once.
        RegistryBatch batch;
        const DeleteSubkeysResult below = DeleteSubkeys(command.key.root, command.key.path);
        if (below.error == ERROR_BADDB) {
            reportError(err, say({"could not delete all of %1: %2", "%1 をすべては削除できませんでした: %2"},
                                 {keyDisplayName(command.key), loopedTreeText(command.key)}));
            return kExitFailure;
        }
        deleted =
            below.error != ERROR_SUCCESS ? below.error : RegDeleteKeyW(command.key.root, command.key.path.c_str());
        if (!batch.finish() && deleted == ERROR_SUCCESS) deleted = batch.error() != 0 ? batch.error() : ERROR_CANTWRITE;
    }
    if (keyExists(command.key.root, command.key.path)) {
        const Message unsaid{"could not delete all of %1; what is still there was left as it is.",
                             "%1 をすべては削除できませんでした。残っているものはそのままです。"};
        const Message said{"could not delete all of %1 (%2); what is still there was left as it is.",
                           "%1 をすべては削除できませんでした（%2）。残っているものはそのままです。"};
        const bool saysWhy = deleted != ERROR_SUCCESS && deleted != ERROR_ACCESS_DENIED;
        reportError(err, say(saysWhy ? said : unsaid, {keyDisplayName(command.key), registryErrorText(deleted)}));
        return kExitFailure;
    }
    return kExitSuccess;
}

int runRenameKey(const Command& command, std::ostream&, std::ostream& err) {
    const LONG result = RegRenameKey(command.key.root, command.key.path.c_str(), command.newName.c_str());
    return result == ERROR_SUCCESS ? kExitSuccess : reportKeyFailure(err, result, command.key, Action::Rename);
}

}  // namespace tovik::cli
