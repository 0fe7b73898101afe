#pragma once
// The command line of tovik-reg, parsed without side effects: the arguments (without the program
// name) give either a command ready to run or the reason they do not.
//
//   tovik-reg [--registry FILE] query KEY [-r] [--times]
//   tovik-reg [--registry FILE] get KEY NAME [--raw]
//   tovik-reg [--registry FILE] set KEY NAME TYPE DATA
//   tovik-reg [--registry FILE] delete-value KEY NAME
//   tovik-reg [--registry FILE] add-key KEY
//   tovik-reg [--registry FILE] delete-key KEY
//   tovik-reg [--registry FILE] export KEY FILE [--format backup|reg|reg4]
//   tovik-reg [--registry FILE] import FILE [--dry-run]
//   tovik-reg [--registry FILE] diff A [B] [--format text|reg|reg4] [--reverse] [--json] [--b OPTIONS]
//   tovik-reg [--registry FILE] find [TEXT] [KEY] [--keys] [--values] [--data] [--case] [--exact]
//             [--since DATE] [--until DATE]
//   tovik-reg [--registry FILE] timeline [KEY]
//   tovik-reg [--registry FILE] rename-key KEY NEWNAME
//   tovik-reg [--registry FILE] rename-value KEY NAME NEWNAME
//   tovik-reg [--registry FILE] history [KEY] [-n N]
//   tovik-reg [--registry FILE] undo [N]
//   tovik-reg [--registry FILE] redo [N]
//   tovik-reg registries
//   tovik-reg --help
//   tovik-reg --version
// Instead of --registry FILE: --wine-prefix [DIR], --steam-app APPID, --windows DIR [--user FILE]
// or --hive FILE --as KEY, with --write to change the hives (stores/registry_source_args.h).
//
// Global options come before the command word. After it every argument is taken as it stands
// (data such as "-1" is data), except query's -r, find's options, export's --format and --help.
// A new command is a CommandKind, a row of the command table in command_line.cpp and a handler (command_handlers.h) that
// RunCommand in commands.cpp calls.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "registry/win_types.h"
#include "stores/open_store.h"

namespace tovik::cli {

enum class CommandKind {
    Help,
    Version,
    Query,
    Set,
    DeleteValue,
    AddKey,
    DeleteKey,
    Export,
    Import,
    Find,
    RenameKey,
    RenameValue,
    Registries,
    Get,
    CompleteKeys,
    Diff,
    Timeline,
    History,
    Undo,
    Redo
};

// KEY: a root (HKEY_CLASSES_ROOT or HKCR, HKEY_CURRENT_USER or HKCU, HKEY_LOCAL_MACHINE or HKLM,
// any case), optionally followed by a backslash and a path, in any spelling that
// registry/key_path.h reads.
struct KeyArgument {
    HKEY root = 0;
    std::u16string path;  // below the root, single backslashes, none at either end; empty: the root
};

// export --format: Tovik's backup file (the default), or a .reg file of version 5 or REGEDIT4.
enum class ExportFormat { Backup, Reg, Reg4 };
// diff --format: a listing to read (the default), or the .reg file that turns A into B.
enum class DiffFormat { Listing, Reg, Reg4 };

// One side of diff: a key (of the registry the command works on; for side B, of the registry
// that --b names when given), or a .reg file read as a tree. A text that reads as a key path is a
// key; anything else is a file name ("./HKLM" names a file called HKLM).
struct DiffSide {
    bool isFile = false;
    KeyArgument key;   // !isFile
    std::string file;  // isFile; passed on unconverted
};

struct Command {
    CommandKind kind = CommandKind::Help;
    std::optional<std::string> registryFile;  // --registry FILE; a file name, passed on unconverted
    RegistrySource source;  // --wine-prefix DIR, --windows DIR [--user FILE], --hive FILE --as KEY, --write
    KeyArgument key;
    std::u16string valueName;  // "@" is already the empty name
    DWORD type = REG_NONE;
    std::u16string dataText;  // checked against the type (data_text_check.h)
    bool recursive = false;   // query -r
    bool raw = false;         // get --raw: the data's bytes as they are
    bool json = false;        // --json: the output as JSON (cli/json_output.h)
    bool times = false;       // query --times: each key line with the key's last write time
    std::u16string newName;   // rename-key and rename-value
    // find: the text, whether a KEY was given (else the whole registry), what to look at and how.
    std::u16string findText;
    bool hasKey = true;
    bool findKeys = false, findValues = false, findData = false;
    bool matchCase = false, exact = false;
    // find --since and --until: only keys last written in between (FILETIMEs, both included; 0: no
    // bound). A date alone in --until means the end of that day.
    std::int64_t since = 0, until = 0;
    std::string fileName;                        // export and import: the file; passed on unconverted
    ExportFormat format = ExportFormat::Backup;  // export
    bool dryRun = false;                         // import --dry-run: print what would change, write nothing
    // diff: its sides (B may be left out: then A's key, in the registry of --b), the output, and
    // the registry of side B's key when --b names one.
    std::vector<DiffSide> sides;
    DiffFormat diffFormat = DiffFormat::Listing;
    bool reverse = false;
    std::optional<RegistrySource> otherSource;
    std::size_t count = 1;   // undo and redo: how many entries
    std::size_t shown = 20;  // history -n: how many entries to print
};

enum class CommandLineErrorKind {
    Usage,        // unknown command or option, wrong number of arguments, invalid UTF-8: exit 2
    BadArgument,  // a well-formed call with a wrong root, type or data text: exit 1
};

struct CommandLineError {
    CommandLineErrorKind kind = CommandLineErrorKind::Usage;
    std::string message;                      // one sentence, without the program name
    CommandKind command = CommandKind::Help;  // BadArgument: the command whose argument it was
};

using ParsedCommandLine = std::variant<Command, CommandLineError>;

ParsedCommandLine parseCommandLine(std::span<const std::string_view> args);

// Pieces of the parser, for the tests and for later commands.
std::optional<KeyArgument> parseKeyArgument(std::u16string_view text);
// A tag (SZ, EXP, MLT, DW, BIN, NON, DWE, LNK, RSC, QW), a platform name (REG_SZ ...), in any
// case, or a number: decimal, or hexadecimal after 0x; any value up to 0xFFFFFFFF.
std::optional<DWORD> parseTypeArgument(std::u16string_view text);

// The commands a person types and the options each takes after its command word (--help aside,
// which every command takes); the parser reads them from the same table. The help, the manual
// page and the shells' completions are checked against it.
struct CommandOptions {
    std::string_view command;
    std::vector<std::string_view> options;
};
std::vector<CommandOptions> commandTable();
// The options before the command word.
std::span<const std::string_view> globalOptions();

// What --help prints, and the short form shown with a usage error, in the chosen language (the
// Japanese from help_document.h).
std::string_view usageText();
std::string_view shortUsageText();
// What --version prints: the program's name and version, one line.
std::string_view versionText();

}  // namespace tovik::cli
