#pragma once
// The handlers behind RunCommand, one per command, and what they share.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "cli/messages.h"

#include "cli/command_line.h"
#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/win_types.h"

namespace tovik::cli {

int RunQuery(const Command& command, std::ostream& out, std::ostream& err);
int RunSet(const Command& command, std::ostream& out, std::ostream& err);
int RunDeleteValue(const Command& command, std::ostream& out, std::ostream& err);
int RunAddKey(const Command& command, std::ostream& out, std::ostream& err);
int RunDeleteKey(const Command& command, std::ostream& out, std::ostream& err);
int RunExport(const Command& command, std::ostream& out, std::ostream& err);
int RunImport(const Command& command, std::ostream& out, std::ostream& err);
int RunFindCommand(const Command& command, std::ostream& out, std::ostream& err);
int RunRenameKey(const Command& command, std::ostream& out, std::ostream& err);
int RunRenameValue(const Command& command, std::ostream& out, std::ostream& err);
int RunGet(const Command& command, std::ostream& out, std::ostream& err);
int RunHistory(const Command& command, std::ostream& out, std::ostream& err);
int RunUndo(const Command& command, std::ostream& out, std::ostream& err);
int RunRedo(const Command& command, std::ostream& out, std::ostream& err);
// What a command that writes is called in the change history ("delete-key HKCU\X").
std::u16string HistoryEntryName(const Command& command);
int RunCompleteKeys(const Command& command, std::ostream& out, std::ostream& err);
// diff: exit 0 without differences, 1 with, 2 when the comparison could not be made.
int RunDiff(const Command& command, std::ostream& out, std::ostream& err);
// import --dry-run: what the import would change, nothing written.
int RunImportDryRun(const Command& command, std::ostream& out, std::ostream& err);
int RunTimeline(const Command& command, std::ostream& out, std::ostream& err);

// When key was last written (a FILETIME); 0 when the registry keeps no time for it.
std::int64_t KeyWriteTime(HKEY key);

// The value named (any case) among key's values into value; ERROR_FILE_NOT_FOUND when there is none.
LONG FindValue(HKEY key, std::u16string_view name, EnumBuffers& buffers, EnumeratedValue& value);

// "HKEY_LOCAL_MACHINE\Software\Tovik", for messages.
std::string KeyDisplayName(const KeyArgument& key);
// "@" for the unnamed value, else the name; quoted, for messages.
std::string ValueDisplayName(std::u16string_view name);
// The error for a walk that met a key inside itself (a damaged store) at key.
std::string LoopedTreeText(const KeyArgument& key);
// A short reason for a registry result code.
std::string RegistryErrorText(LONG result);
// What a command tried to do with a key or a value, for the sentence that says it failed.
enum class Action { Open, Read, Create, Delete, Rename, Write };
// Reports why doing action to key failed: "no such key" for ERROR_FILE_NOT_FOUND, else the
// reason. Returns the failure exit code.
int ReportKeyFailure(std::ostream& err, LONG result, const KeyArgument& key, Action action);
// The same for the value command.valueName of command.key: "no such value" or why it could not be done.
int ReportValueFailure(std::ostream& err, LONG result, const Command& command, Action action);
// "cannot read FILE: why", for a file that could not be read (error: an errno, or 0).
std::string CannotReadFileText(const std::string& file, int error);
// "tovik-reg: message" and a line end on err.
void ReportError(std::ostream& err, std::string_view message);

}  // namespace tovik::cli
