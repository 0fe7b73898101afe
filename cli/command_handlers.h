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

int runQuery(const Command& command, std::ostream& out, std::ostream& err);
int runSet(const Command& command, std::ostream& out, std::ostream& err);
int runDeleteValue(const Command& command, std::ostream& out, std::ostream& err);
int runAddKey(const Command& command, std::ostream& out, std::ostream& err);
int runDeleteKey(const Command& command, std::ostream& out, std::ostream& err);
int runExport(const Command& command, std::ostream& out, std::ostream& err);
int runImport(const Command& command, std::ostream& out, std::ostream& err);
int runFindCommand(const Command& command, std::ostream& out, std::ostream& err);
int runRenameKey(const Command& command, std::ostream& out, std::ostream& err);
int runRenameValue(const Command& command, std::ostream& out, std::ostream& err);
int runGet(const Command& command, std::ostream& out, std::ostream& err);
int runHistory(const Command& command, std::ostream& out, std::ostream& err);
int runUndo(const Command& command, std::ostream& out, std::ostream& err);
int runRedo(const Command& command, std::ostream& out, std::ostream& err);
// What a command that writes is called in the change history ("delete-key HKCU\X").
std::u16string historyEntryName(const Command& command);
int runCompleteKeys(const Command& command, std::ostream& out, std::ostream& err);
// diff: exit 0 without differences, 1 with, 2 when the comparison could not be made.
int runDiff(const Command& command, std::ostream& out, std::ostream& err);
// import --dry-run: what the import would change, nothing written.
int runImportDryRun(const Command& command, std::ostream& out, std::ostream& err);
int runTimeline(const Command& command, std::ostream& out, std::ostream& err);

// The value named (any case) among key's values into value; ERROR_FILE_NOT_FOUND when there is none.
LONG findValue(HKEY key, std::u16string_view name, EnumBuffers& buffers, EnumeratedValue& value);

// "HKEY_LOCAL_MACHINE\Software\Tovik", for messages.
std::string keyDisplayName(const KeyArgument& key);
// "@" for the unnamed value, else the name; quoted, for messages.
std::string valueDisplayName(std::u16string_view name);
// The error for a walk that met a key inside itself (a damaged store) at key.
std::string loopedTreeText(const KeyArgument& key);
// A short reason for a registry result code.
std::string registryErrorText(LONG result);
// What a command tried to do with a key or a value, for the sentence that says it failed.
enum class Action { Open, Read, Create, Delete, Rename, Write };
// Reports why doing action to key failed: "no such key" for ERROR_FILE_NOT_FOUND, else the
// reason. Returns the failure exit code.
int reportKeyFailure(std::ostream& err, LONG result, const KeyArgument& key, Action action);
// The same for the value command.valueName of command.key: "no such value" or why it could not be done.
int reportValueFailure(std::ostream& err, LONG result, const Command& command, Action action);
// "cannot read FILE: why", for a file that could not be read (error: an errno, or 0).
std::string cannotReadFileText(const std::string& file, int error);
// "tovik-reg: message" and a line end on err.
void reportError(std::ostream& err, std::string_view message);

}  // namespace tovik::cli
