#include "cli/commands.h"

#include <new>
#include <ostream>
#include <variant>

#include "cli/command_handlers.h"
#include "cli/utf8.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace tovik::cli {

KeyHandle& KeyHandle::operator=(KeyHandle&& other) noexcept {
    if (this != &other) {
        if (owned_) RegCloseKey(handle_);
        handle_ = other.handle_;
        owned_ = other.owned_;
        other.owned_ = false;
    }
    return *this;
}

KeyHandle::~KeyHandle() {
    if (owned_) RegCloseKey(handle_);
}

LONG OpenKey(HKEY parent, const std::u16string& path, KeyHandle& key) {
    if (path.empty()) {
        key = KeyHandle(parent, false);
        return ERROR_SUCCESS;
    }
    HKEY opened = 0;
    const LONG result = RegOpenKeyExW(parent, path.c_str(), 0, 0, &opened);
    if (result == ERROR_SUCCESS) key = KeyHandle(opened, true);
    return result;
}

std::string KeyDisplayName(const KeyArgument& key) {
    std::u16string name(RootKeyName(key.root));
    if (!key.path.empty()) name += u"\\" + key.path;
    return Utf16ToUtf8(name);
}

std::string ValueDisplayName(std::u16string_view name) {
    return "\"" + (name.empty() ? std::string("@") : Utf16ToUtf8(name)) + "\"";
}

std::string LoopedTreeText(const KeyArgument& key) {
    return "the registry store is damaged: its key tree loops back on itself at " + KeyDisplayName(key) +
           " (a key lies inside itself); stopped there.";
}

std::string RegistryErrorText(LONG result) {
    switch (result) {
        case ERROR_FILE_NOT_FOUND: return "not found";
        case ERROR_ACCESS_DENIED: return "access denied";
        case ERROR_INVALID_PARAMETER: return "a name is too long or the key lies too deep";
        case ERROR_NOT_ENOUGH_MEMORY: return "not enough memory";
        case ERROR_BUSY: return "the registry store is busy";
        case ERROR_BADDB: return "the registry store is not usable";
        case ERROR_WRITE_FAULT:
        case ERROR_CANTWRITE: return "the registry store could not be written";
        case ERROR_KEY_DELETED: return "the key was deleted meanwhile";
        default: return "registry error " + std::to_string(result);
    }
}

void ReportError(std::ostream& err, std::string_view message) {
    err << "tovik-reg: " << message << '\n';
}

namespace {
// A command that failed on a read-only registry was refused for that reason: say it.
void ReportReadOnlyRefusal(int code, std::ostream& err) {
    const Backend* store = CurrentBackend();
    if (code != kExitFailure || !store || !store->readOnly()) return;
    const std::string reason = store->readOnlyReason();
    ReportError(err, "the registry is read-only, nothing was written" + (reason.empty() ? std::string(".") : ": " + reason));
}

int RunCommandKind(const Command& command, std::ostream& out, std::ostream& err) {
    switch (command.kind) {
        case CommandKind::Query: return RunQuery(command, out, err);
        case CommandKind::Set: return RunSet(command, out, err);
        case CommandKind::DeleteValue: return RunDeleteValue(command, out, err);
        case CommandKind::AddKey: return RunAddKey(command, out, err);
        case CommandKind::DeleteKey: return RunDeleteKey(command, out, err);
        case CommandKind::Export: return RunExport(command, out, err);
        case CommandKind::Import: return RunImport(command, out, err);
        case CommandKind::Help:
        case CommandKind::Version: break;
    }
    ReportError(err, "this command needs no registry.");
    return kExitUsage;
}
}  // namespace

int RunCommand(const Command& command, std::ostream& out, std::ostream& err) {
    // Running out of memory is a failure of the command, never an abort; what was written before
    // stays (every write is durable once it returned, a batch commits as it unwinds).
    try {
        return RunCommandKind(command, out, err);
    } catch (const std::bad_alloc&) {
        ReportError(err, "not enough memory; the command was stopped.");
        return kExitFailure;
    }
}

int RunCommandLine(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    ParsedCommandLine parsed = ParseCommandLine(args);
    if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
        ReportError(err, error->message);
        if (error->kind == CommandLineErrorKind::BadArgument) return kExitFailure;
        err << ShortUsageText();
        return kExitUsage;
    }
    const Command& command = std::get<Command>(parsed);
    if (command.kind == CommandKind::Help || command.kind == CommandKind::Version) {
        out << (command.kind == CommandKind::Help ? UsageText() : VersionText());
        out.flush();
        return out ? kExitSuccess : kExitFailure;
    }

    const StoreOpenResult opened = OpenRegistry(command.source);
    if (!opened.ok) {
        ReportError(err, opened.error);
        return kExitFailure;
    }
    const int code = RunCommand(command, out, err);
    ReportReadOnlyRefusal(code, err);
    CloseRegistryStore();
    return code;
}

}  // namespace tovik::cli
