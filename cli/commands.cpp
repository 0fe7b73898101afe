#include "cli/commands.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <ostream>
#include <variant>

#include "cli/command_handlers.h"
#include "cli/registries_command.h"
#include "cli/utf8.h"
#include "history/recording_backend.h"
#include "registry/key_path.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace tovik::cli {

int failureExitCode(CommandKind command) {
    return command == CommandKind::Find || command == CommandKind::Diff ? kExitUsage : kExitFailure;
}

std::string keyDisplayName(const KeyArgument& key) {
    return utf16ToUtf8(fullKeyPath(key.root, key.path));
}

std::string valueDisplayName(std::u16string_view name) {
    return "\"" + (name.empty() ? std::string("@") : utf16ToUtf8(name)) + "\"";
}

std::string loopedTreeText(const KeyArgument& key) {
    return say(
        {"the registry store is damaged: its key tree loops back on itself at %1 (a key lies inside itself); "
         "stopped there.",
         "レジストリのストアが壊れています。%1 でキーの木が自分自身に戻っています（キーがそれ自身の中にあります）。"
         "そこで止めました。"},
        {keyDisplayName(key)});
}

std::string registryErrorText(LONG result) {
    switch (result) {
    case ERROR_FILE_NOT_FOUND: return say({"not found", "見つかりません"});
    case ERROR_ACCESS_DENIED: return say({"access denied", "アクセスが拒否されました"});
    case ERROR_INVALID_PARAMETER:
        return say({"a name is too long or the key lies too deep", "名前が長すぎるか、キーが深すぎます"});
    case ERROR_NOT_ENOUGH_MEMORY: return say({"not enough memory", "メモリが足りません"});
    case ERROR_BUSY: return say({"the registry store is busy", "他のプログラムがレジストリを使用中です"});
    case ERROR_BADDB: return say({"the registry store is not usable", "レジストリのストアが使えません"});
    case ERROR_WRITE_FAULT:
    case ERROR_CANTWRITE: return say({"the registry store could not be written", "レジストリに書き込めません"});
    case ERROR_KEY_DELETED: return say({"the key was deleted meanwhile", "キーが他のプログラムに削除されました"});
    case ERROR_ALREADY_EXISTS: return say({"the name exists already (既に存在します)", "既に存在します"});
    default: return say({"registry error %1", "レジストリのエラー %1"}, {std::to_string(result)});
    }
}

namespace {

// "cannot open key %1: %2." and the like, for each action.
const Message& keyFailureMessage(Action action) {
    static const Message messages[] = {
        {"cannot open key %1: %2.", "キー %1 を開けません: %2。"},
        {"cannot read key %1: %2.", "キー %1 を読み出せません: %2。"},
        {"cannot create key %1: %2.", "キー %1 を作成できません: %2。"},
        {"cannot delete key %1: %2.", "キー %1 を削除できません: %2。"},
        {"cannot rename key %1: %2.", "キー %1 の名前を変更できません: %2。"},
        {"cannot write key %1: %2.", "キー %1 に書き込めません: %2。"},
    };
    return messages[static_cast<int>(action)];
}

const Message& valueFailureMessage(Action action) {
    static const Message messages[] = {
        {"cannot open value %1 in %2: %3.", "%2 の値 %1 を開けません: %3。"},
        {"cannot read value %1 in %2: %3.", "%2 の値 %1 を読み出せません: %3。"},
        {"cannot create value %1 in %2: %3.", "%2 に値 %1 を作成できません: %3。"},
        {"cannot delete value %1 in %2: %3.", "%2 の値 %1 を削除できません: %3。"},
        {"cannot rename value %1 in %2: %3.", "%2 の値 %1 の名前を変更できません: %3。"},
        {"cannot write value %1 in %2: %3.", "%2 の値 %1 を書き込めません: %3。"},
    };
    return messages[static_cast<int>(action)];
}

}  // namespace

int reportKeyFailure(std::ostream& err, LONG result, const KeyArgument& key, Action action) {
    if (result == ERROR_FILE_NOT_FOUND) {
        reportError(err, say({"no such key: %1", "キー %1 がありません。"}, {keyDisplayName(key)}));
    } else {
        reportError(err, say(keyFailureMessage(action), {keyDisplayName(key), registryErrorText(result)}));
    }
    return kExitFailure;
}

int reportValueFailure(std::ostream& err, LONG result, const Command& command, Action action) {
    const std::string value = valueDisplayName(command.valueName);
    const std::string key = keyDisplayName(command.key);
    if (result == ERROR_FILE_NOT_FOUND) {
        reportError(err, say({"no such value: %1 in %2", "%2 に値 %1 がありません。"}, {value, key}));
    } else {
        reportError(err, say(valueFailureMessage(action), {value, key, registryErrorText(result)}));
    }
    return kExitFailure;
}

std::string cannotReadFileText(const std::string& file, int error) {
    if (error == 0) return say({"cannot read %1", "%1 を読み込めません"}, {file});
    return say({"cannot read %1: %2", "%1 を読み込めません: %2"}, {file, std::strerror(error)});
}

void reportError(std::ostream& err, std::string_view message) {
    err << "tovik-reg: " << message << '\n';
}

namespace {
constexpr Message kReadOnlyNothingWritten{"the registry is read-only, nothing was written.",
                                          "レジストリは読み取り専用です。何も書き込みませんでした。"};

bool writesTheRegistry(CommandKind kind) {
    return kind == CommandKind::Set || kind == CommandKind::DeleteValue || kind == CommandKind::AddKey ||
           kind == CommandKind::DeleteKey || kind == CommandKind::Import || kind == CommandKind::RenameKey ||
           kind == CommandKind::RenameValue;
}

// A registry can turn read-only while a command runs (Wine starts running the prefix): a write
// that failed for that reason says so. A read that failed (no hit, no such key) wrote nothing by
// its nature, so being read-only is no part of why.
void reportReadOnlyRefusal(const Command& command, int code, std::ostream& err) {
    const Backend* store = currentBackend();
    if (code != kExitFailure || !writesTheRegistry(command.kind) || !store || !store->readOnly()) return;
    const std::string reason = store->readOnlyReason();
    reportError(err, reason.empty() ? say(kReadOnlyNothingWritten)
                                    : say({"the registry is read-only, nothing was written: %1",
                                           "レジストリは読み取り専用です。何も書き込みませんでした: %1"},
                                          {reason}));
}

// A sentence less a notice it begins with (the reason a hive is read-only, said at open).
std::string withoutNotices(const std::string& sentence, const std::vector<std::string>& notices) {
    for (const std::string& notice : notices) {
        if (notice.empty() || sentence.compare(0, notice.size(), notice) != 0) continue;
        const std::size_t rest = sentence.find_first_not_of(' ', notice.size());
        return rest == std::string::npos ? std::string() : sentence.substr(rest);
    }
    return sentence;
}

int runCommandKind(const Command& command, std::ostream& out, std::ostream& err) {
    switch (command.kind) {
    case CommandKind::Query: return runQuery(command, out, err);
    case CommandKind::Set: return runSet(command, out, err);
    case CommandKind::DeleteValue: return runDeleteValue(command, out, err);
    case CommandKind::AddKey: return runAddKey(command, out, err);
    case CommandKind::DeleteKey: return runDeleteKey(command, out, err);
    case CommandKind::Export: return runExport(command, out, err);
    case CommandKind::Import: return runImport(command, out, err);
    case CommandKind::Find: return runFindCommand(command, out, err);
    case CommandKind::RenameKey: return runRenameKey(command, out, err);
    case CommandKind::RenameValue: return runRenameValue(command, out, err);
    case CommandKind::Get: return runGet(command, out, err);
    case CommandKind::CompleteKeys: return runCompleteKeys(command, out, err);
    case CommandKind::Diff: return runDiff(command, out, err);
    case CommandKind::Timeline: return runTimeline(command, out, err);
    case CommandKind::Registries: return runRegistries(out, err, command.json);
    case CommandKind::History: return runHistory(command, out, err);
    case CommandKind::Undo: return runUndo(command, out, err);
    case CommandKind::Redo: return runRedo(command, out, err);
    case CommandKind::Help:
    case CommandKind::Version: break;
    }
    reportError(err, say({"this command needs no registry.", "このコマンドはレジストリを使いません。"}));
    return kExitUsage;
}
}  // namespace

int runCommand(const Command& command, std::ostream& out, std::ostream& err) {
    // Running out of memory is a failure of the command, never an abort; what was written before
    // stays (every write is durable once it returned, a batch commits as it unwinds).
    try {
        // One command, one entry of the change history, whatever it writes.
        std::optional<history::ChangeScope> scope;
        if (writesTheRegistry(command.kind)) {
            scope.emplace(historyEntryName(command), command.kind == CommandKind::Import
                                                         ? std::u16string()
                                                         : fullKeyPath(command.key.root, command.key.path));
        }
        return runCommandKind(command, out, err);
    } catch (const std::bad_alloc&) {
        reportError(err, say(kOutOfMemory));
        return failureExitCode(command.kind);
    }
}

namespace {
// A store named on the command line is made only in a folder that exists: a mistyped folder
// must fail, not quietly give a fresh registry somewhere new. The folder, or empty when it is there.
std::string missingStoreFolder(const std::string& file) {
    std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec) ? std::string() : folder.string();
}
}  // namespace

int runCommandLine(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    ParsedCommandLine parsed = parseCommandLine(args);
    if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
        reportError(err, error->message);
        if (error->kind == CommandLineErrorKind::BadArgument) return failureExitCode(error->command);
        err << shortUsageText();
        return kExitUsage;
    }
    const Command& command = std::get<Command>(parsed);
    if (command.kind == CommandKind::Help || command.kind == CommandKind::Version) {
        out << (command.kind == CommandKind::Help ? usageText() : versionText());
        out.flush();
        return out ? kExitSuccess : kExitFailure;
    }
    if (command.kind == CommandKind::Registries) return runCommand(command, out, err);  // opens none
    // Two files need no registry: the user's store is not made for them.
    if (command.kind == CommandKind::Diff && command.sides.size() == 2 && command.sides[0].isFile &&
        command.sides[1].isFile)
        return runCommand(command, out, err);
    // Completing must not create the user's store on the first Tab: without one only the roots
    // complete.
    if (command.kind == CommandKind::CompleteKeys && !command.registryFile &&
        command.source.kind == RegistrySource::Kind::UserStore && !std::filesystem::exists(defaultRegistryPath()))
        return runCommand(command, out, err);
    if (command.registryFile) {
        if (const std::string folder = missingStoreFolder(*command.registryFile); !folder.empty()) {
            reportError(err,
                        say({"the folder of the registry store does not exist: %1 (the folder of a store named "
                             "with --registry is never created).",
                             "レジストリのストアのフォルダがありません: %1（--registry で指定したストアのフォルダは"
                             "作成しません）。"},
                            {folder}));
            return failureExitCode(command.kind);
        }
    }

    // Only a command that writes, or reads the history, opens it.
    setChangeHistoryWanted(writesTheRegistry(command.kind) || command.kind == CommandKind::History ||
                           command.kind == CommandKind::Undo || command.kind == CommandKind::Redo);
    const StoreOpenResult opened = command.source.kind != RegistrySource::Kind::UserStore ? openRegistry(command.source)
                                   : command.registryFile ? openUserRegistry(*command.registryFile)
                                                          : openUserRegistry();
    setChangeHistoryWanted(true);
    if (!opened.ok) {
        reportError(err, opened.error);
        return failureExitCode(command.kind);
    }
    for (const std::string& notice : opened.notices) reportError(err, notice);
    if (opened.readOnly && writesTheRegistry(command.kind)) {
        // A reason that a notice gave already (a hive Windows left unfinished) is not said again.
        const bool said =
            std::find(opened.notices.begin(), opened.notices.end(), opened.readOnlyReason) != opened.notices.end();
        reportError(err, said ? say(kReadOnlyNothingWritten) : opened.readOnlyReason);
        closeRegistryStore();
        return kExitFailure;
    }
    const int code = runCommand(command, out, err);
    // The store's own sentence says more than a result code (a refusal of hivex, a failed save),
    // less what a notice said already.
    const bool failed = code != kExitSuccess && code == failureExitCode(command.kind);
    if (const Backend* store = currentBackend(); failed && store && !store->lastFailure().empty()) {
        if (const std::string rest = withoutNotices(store->lastFailure(), opened.notices); !rest.empty())
            reportError(err, rest);
    } else {
        reportReadOnlyRefusal(command, code, err);
    }
    closeRegistryStore();
    return code;
}

}  // namespace tovik::cli
