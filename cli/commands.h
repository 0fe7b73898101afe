#pragma once
// Running tovik-reg's commands. Output and messages go to the streams given, so that tests can
// run every command in-process as well as through the program.
#include <iosfwd>
#include <span>
#include <string_view>

#include "cli/command_line.h"

namespace tovik::cli {

enum ExitCode : int { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2 };

// The exit status of a failure of command: 1, but 2 for find, whose 1 says that nothing was found
// (as grep's does).
int failureExitCode(CommandKind command);

// Runs a parsed command (not Help or Version) on the current registry store.
int runCommand(const Command& command, std::ostream& out, std::ostream& err);

// The whole program after main(): parse, --help and --version, open the store (--registry FILE or the user's,
// a new one filled with the default device registry), run, close.
int runCommandLine(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace tovik::cli
