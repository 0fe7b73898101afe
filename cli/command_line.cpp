#include "cli/command_line.h"

#include "cli/messages.h"

#include <array>
#include <vector>

#include "cli/data_text_check.h"
#include "cli/help_document.h"
#include "cli/messages.h"
#include "cli/utf8.h"
#include "registry/key_path.h"
#include "registry/key_time.h"
#include "registry/registry_api.h"
#include "registry/value_types.h"
#include "stores/registry_source_args.h"

namespace tovik::cli {

namespace {

// The roles a command's positional arguments play; each role has one way to be read.
enum class ArgumentRole { Key, ValueName, Type, Data, File, FindText, NewKeyName, NewValueName, DiffSide, Count };

struct CommandSpec {
    std::string_view name;
    CommandKind kind;
    std::array<ArgumentRole, 4> roles;
    std::size_t roleCount;
    bool takesOptions;  // its options and --help after the command word; otherwise "-1" is data, not an option
    std::size_t required = roleCount;  // the arguments after these may be left out
    // The options it takes after the command word (besides --help, which every command takes
    // first): the one list that the parser, the help, the manual page and the completions share.
    std::array<std::string_view, 8> options{};
    bool hidden = false;  // asked by the shells' completions, not listed in the help
};

constexpr CommandSpec kCommands[] = {
    {"query", CommandKind::Query, {ArgumentRole::Key}, 1, true, 1, {"-r", "--json", "--times"}},
    {"get", CommandKind::Get, {ArgumentRole::Key, ArgumentRole::ValueName}, 2, true, 2, {"--raw", "--json"}},
    {"set",
     CommandKind::Set,
     {ArgumentRole::Key, ArgumentRole::ValueName, ArgumentRole::Type, ArgumentRole::Data},
     4,
     false},
    {"delete-value", CommandKind::DeleteValue, {ArgumentRole::Key, ArgumentRole::ValueName}, 2, false},
    {"add-key", CommandKind::AddKey, {ArgumentRole::Key}, 1, false},
    {"delete-key", CommandKind::DeleteKey, {ArgumentRole::Key}, 1, false},
    {"export", CommandKind::Export, {ArgumentRole::Key, ArgumentRole::File}, 2, false, 2, {"--format"}},
    {"import", CommandKind::Import, {ArgumentRole::File}, 1, false, 1, {"--dry-run"}},
    {"find",
     CommandKind::Find,
     {ArgumentRole::FindText, ArgumentRole::Key},
     2,
     true,
     0,
     {"--keys", "--values", "--data", "--case", "--exact", "--json", "--since", "--until"}},
    {"timeline", CommandKind::Timeline, {ArgumentRole::Key}, 1, true, 0, {}},
    {"rename-key", CommandKind::RenameKey, {ArgumentRole::Key, ArgumentRole::NewKeyName}, 2, false},
    {"rename-value",
     CommandKind::RenameValue,
     {ArgumentRole::Key, ArgumentRole::ValueName, ArgumentRole::NewValueName},
     3,
     false},
    {"registries", CommandKind::Registries, {}, 0, true, 0, {"--json"}},
    {"diff",
     CommandKind::Diff,
     {ArgumentRole::DiffSide, ArgumentRole::DiffSide},
     2,
     true,
     1,
     {"--format", "--reverse", "--json", "--b"}},
    {"history", CommandKind::History, {ArgumentRole::Key}, 1, true, 0, {"-n"}},
    {"undo", CommandKind::Undo, {ArgumentRole::Count}, 1, false, 0},
    {"redo", CommandKind::Redo, {ArgumentRole::Count}, 1, false, 0},
    {"__complete-keys", CommandKind::CompleteKeys, {ArgumentRole::FindText}, 1, false, 1, {}, true},
};

// The options before the command word.
constexpr std::string_view kGlobalOptions[] = {"--registry", "--wine-prefix", "--steam-app", "--windows", "--user",
                                               "--hive",     "--as",          "--write",     "--help",    "-h",
                                               "--version"};

bool takes(const CommandSpec& spec, std::string_view option) {
    for (std::string_view taken : spec.options)
        if (!taken.empty() && taken == option) return true;
    return false;
}

// The command words, which a --wine-prefix before them never takes as its folder.
constexpr auto kCommandWords = [] {
    std::array<std::string_view, std::size(kCommands)> words{};
    for (std::size_t k = 0; k < words.size(); ++k) words[k] = kCommands[k].name;
    return words;
}();

constexpr std::string_view kUsage =
    "Usage: tovik-reg [--registry FILE] COMMAND ARGUMENTS\n"
    "       tovik-reg --wine-prefix [DIR] COMMAND ARGUMENTS\n"
    "       tovik-reg --steam-app APPID COMMAND ARGUMENTS\n"
    "       tovik-reg --windows DIR [--user FILE] [--write] COMMAND ARGUMENTS\n"
    "       tovik-reg --hive FILE --as KEY [--write] COMMAND ARGUMENTS\n"
    "       tovik-reg registries\n"
    "\n"
    "Reads and writes the Tovik registry, a Wine prefix's registry files, or the\n"
    "registry hive files of a Windows installation.\n"
    "\n"
    "Commands:\n"
    "  query KEY [-r] [--json] [--times]\n"
    "                             Print the key line [path] and one line\n"
    "                             \"name\"=TAG:data per value, as a backup file holds\n"
    "                             them (UTF-8, LF line ends). -r adds every subkey's\n"
    "                             block after, depth first, in the registry's order.\n"
    "                             --times adds to each key line, after a space, when\n"
    "                             the key was last written (ISO 8601, UTC), and\n"
    "                             \"written\" to each key of --json.\n"
    "  get KEY NAME [--raw|--json]\n"
    "                             Print one value's data text alone, as set takes it\n"
    "                             (a QW value as its number); --raw writes the\n"
    "                             data's bytes as they are, with no line end.\n"
    "  set KEY NAME TYPE DATA     Write a value, creating KEY and any missing keys\n"
    "                             above it.\n"
    "  delete-value KEY NAME      Delete a value.\n"
    "  add-key KEY                Create KEY and any missing keys above it; says so\n"
    "                             when it existed already (and succeeds).\n"
    "  delete-key KEY             Delete KEY with every key and value below it. A\n"
    "                             root cannot be deleted.\n"
    "  export KEY FILE [--format backup|reg|reg4]\n"
    "                             Save KEY with every key and value below it in\n"
    "                             FILE: a backup file (the default; UTF-16 with CR\n"
    "                             LF, as the GUI's Export writes it), a .reg file of\n"
    "                             version 5 (reg, UTF-16) or a REGEDIT4 .reg file\n"
    "                             (reg4, UTF-8). An existing FILE is replaced only\n"
    "                             once the new one is complete; after a failure it\n"
    "                             is as it was.\n"
    "  import FILE                Write the keys and values of FILE into the\n"
    "                             registry, as the GUI's Import does, without\n"
    "                             asking. The first line tells the kind of file,\n"
    "                             whatever its name. A backup file writes under the\n"
    "                             root it names: value lines whose type tag is\n"
    "                             unknown are skipped and counted on stderr, and a\n"
    "                             broken line stops the import there; what came\n"
    "                             before it stays written. A .reg file (REGEDIT4 or\n"
    "                             version 5) also deletes the keys and values it\n"
    "                             marks with -; lines that cannot be read or placed\n"
    "                             are skipped, counted and the first ones named by\n"
    "                             line number on stderr, and the import goes on. The\n"
    "                             counts of keys and values written, deleted and\n"
    "                             skipped go to stdout. With --dry-run nothing is\n"
    "                             written: the file's changes (a .reg or a backup\n"
    "                             file) are listed as diff lists them (values added,\n"
    "                             changed, deleted; keys created, deleted), then\n"
    "                             their counts.\n"
    "  diff A [B] [--format text|reg|reg4] [--reverse] [--json] [--b REGISTRY]\n"
    "                             Compare two key trees. A and B are each a KEY of\n"
    "                             the registry, or a .reg or backup FILE read as a\n"
    "                             tree at the other side's key (two files: every\n"
    "                             root). B's KEY is in the registry that the options\n"
    "                             after --b name (--registry FILE, --wine-prefix DIR,\n"
    "                             ...); without B it is A's key there. Lists -[key]\n"
    "                             and -  \"value\" for what only A has, + for what only\n"
    "                             B has, a changed value as its - then its + line,\n"
    "                             below \" [key]\"; names compare in any case. --format\n"
    "                             reg (or reg4) prints the .reg file that turns A\n"
    "                             into B, --reverse swaps A and B. Exit status as\n"
    "                             diff's: 0 no differences, 1 some, 2 trouble. A text\n"
    "                             that reads as a KEY is one: ./HKLM names a file.\n"
    "  find [TEXT] [KEY] [--keys] [--values] [--data] [--case] [--exact] [--json]\n"
    "       [--since DATE] [--until DATE]\n"
    "                             Print one line per hit below KEY (the whole\n"
    "                             registry without it), in the browser's order: the\n"
    "                             key's path, and for a hit in a value a tab and the\n"
    "                             value's name (@ for the unnamed one). --keys,\n"
    "                             --values and --data choose what is looked at (key\n"
    "                             names, value names, data as the value list shows\n"
    "                             it; all three when none is given); --case matches\n"
    "                             case, --exact the whole name or data text. Exit\n"
    "                             status as grep's: 0 when something was found, 1\n"
    "                             when nothing was, 2 on a failure. --since and\n"
    "                             --until keep the hits in keys last written in\n"
    "                             that span (both ends included); with them TEXT\n"
    "                             may be left out (or empty): every such key is a\n"
    "                             hit, and a lone argument naming a root is KEY.\n"
    "  timeline [KEY]             Print every key below KEY (KEY included; the whole\n"
    "                             registry without it) as CSV lines time,path,\n"
    "                             newest first: when the key was last written (ISO\n"
    "                             8601, UTC; empty when the registry keeps no time)\n"
    "                             and its full path, quoted when it holds a comma or\n"
    "                             a quote.\n"
    "  rename-key KEY NEWNAME     Rename KEY with everything below it (never a\n"
    "                             root).\n"
    "  rename-value KEY NAME NEWNAME\n"
    "                             Rename a value; its type, data and place stay.\n"
    "  history [KEY] [-n N]       Print the newest N (20 unless given) entries of\n"
    "                             the registry's change history, newest first, one\n"
    "                             line each: number, time, what was done, the key,\n"
    "                             and \"undone\" or \"redone\" when it was; with KEY\n"
    "                             only the entries of KEY and the keys below it.\n"
    "  undo [N]                   Take back the newest N changes (1 unless given),\n"
    "                             all of them or none: refused, naming the first key\n"
    "                             or value that differs, when something changed what\n"
    "                             they made since. An undo is an entry of its own.\n"
    "  redo [N]                   Make again what the newest N undos took back (only\n"
    "                             until a new change is made).\n"
    "  registries [--json]        List the registries found on this machine, one\n"
    "                             line each: kind, name, folder (the store file for\n"
    "                             Tovik's own) and read-only or writable, separated\n"
    "                             by tabs. Kinds: tovik, proton (Steam), lutris,\n"
    "                             bottles, heroic, playonlinux, wine ($WINEPREFIX\n"
    "                             and ~/.wine). A prefix that Wine runs now is\n"
    "                             read-only. Configuration files that cannot be read\n"
    "                             are skipped.\n"
    "\n"
    "KEY   a root, HKEY_CLASSES_ROOT (HKCR), HKEY_CURRENT_USER (HKCU) or\n"
    "      HKEY_LOCAL_MACHINE (HKLM), in any case, optionally followed by a\n"
    "      backslash and the path below it: 'HKLM\\Software\\Tovik'. Quote it, the\n"
    "      shell eats backslashes. Also read: HKLM/Software/Tovik, doubled\n"
    "      backslashes, a leading backslash, HKLM:\\Software and\n"
    "      Computer\\HKEY_LOCAL_MACHINE\\Software; spaces around are ignored.\n"
    "NAME  a value name; @ is the key's unnamed (default) value.\n"
    "DATE  an ISO 8601 date or date and time: 2024-05-01, 2024-05-01T12:30,\n"
    "      2024-05-01 12:30:15; local time, or UTC with Z, or another zone with an\n"
    "      offset (+09:00). A date alone in --until is the end of that day.\n"
    "NEWNAME  a new key or value name: not empty, no backslash in a key name.\n"
    "TYPE  a type tag, NON SZ EXP BIN DW DWE LNK MLT RSC (types 0 to 8) or QW (11),\n"
    "      a name REG_NONE ... REG_QWORD, in any case, or any type number, decimal\n"
    "      or hexadecimal after 0x, from 0 to 0xFFFFFFFF.\n"
    "FILE  a file name, taken as it is; - (or /dev/stdout, /dev/stdin) is standard\n"
    "      output for export and standard input for import, read whole into memory\n"
    "      first.\n"
    "DATA  the data as the value list shows it: SZ and EXP the text itself; MLT the\n"
    "      strings with | after each, ending in ||; DW a number of 32 bits: decimal\n"
    "      from -2147483648 to 4294967295, optionally followed by its hexadecimal\n"
    "      form in parentheses (260 or 260(104)), or hexadecimal after 0x (0x104);\n"
    "      QW a number of 64 bits, decimal from -9223372036854775808 to\n"
    "      18446744073709551615 or hexadecimal after 0x, stored as 8 bytes\n"
    "      little-endian; every other type hex bytes separated by spaces (0A FF 00),\n"
    "      empty for no data.\n"
    "\n"
    "--json  (query, get, find, registries) prints JSON instead: a value is an\n"
    "        object {\"path\", \"name\", \"type\", \"tag\", \"text\", \"hex\"}: the key's full\n"
    "        path, the name (\"\" for the unnamed value), the type number, the tag set\n"
    "        takes (null for none), the data text as get prints it and every byte as\n"
    "        lowercase hex. get prints one value; query an array of keys {\"path\",\n"
    "        \"values\": [value, ...]}; find an array of hits, {\"path\", \"match\":\n"
    "        \"key\"} or a value with \"match\": \"name\" or \"data\"; registries an array\n"
    "        of {\"kind\", \"name\", \"folder\", \"readOnly\"}; diff an array of\n"
    "        {\"change\": \"added\"|\"removed\"|\"changed\", \"kind\": \"key\"|\"value\",\n"
    "        \"path\"} with a value's \"name\", \"a\" and \"b\" (null on the side without).\n"
    "\n"
    "Options:\n"
    "  --registry FILE            Use the registry store FILE instead of the user's\n"
    "                             ($XDG_DATA_HOME/tovik/registry.db). A new store is\n"
    "                             filled with the default device registry; its\n"
    "                             folder must exist.\n"
    "  --wine-prefix [DIR]        Use the registry of the Wine prefix DIR: HKLM is\n"
    "                             its system.reg, HKCU its user.reg, HKCR is\n"
    "                             HKLM\\Software\\Classes. Wine must not be running\n"
    "                             the prefix (wineserver keeps the registry in\n"
    "                             memory and overwrites the files); while it runs,\n"
    "                             every write is refused. Without DIR (the command\n"
    "                             word follows): $WINEPREFIX, else ~/.wine.\n"
    "  --steam-app APPID          Use the Proton prefix of the Steam game APPID\n"
    "                             (steamapps/compatdata/APPID/pfx in any Steam\n"
    "                             library), as --wine-prefix does.\n"
    "  --windows DIR              Use the hive files of the Windows installation DIR\n"
    "                             (the folder holding System32\\config, or a disk's\n"
    "                             root holding Windows): SOFTWARE, SYSTEM, SAM,\n"
    "                             SECURITY and DEFAULT under HKLM,\n"
    "                             HKLM\\SOFTWARE\\Classes as HKCR. Nothing is written\n"
    "                             without --write.\n"
    "  --user FILE                With --windows: the NTUSER.DAT FILE as HKCU (else\n"
    "                             HKCU is empty).\n"
    "  --hive FILE --as KEY       Use the one hive file FILE, shown as KEY\n"
    "                             ('HKLM\\SOFTWARE'). Nothing is written without\n"
    "                             --write.\n"
    "  --write                    Allow changes to the hive files. Before the first\n"
    "                             change a copy of each hive is kept beside it,\n"
    "                             once. A hive that Windows did not shut down\n"
    "                             cleanly is never written.\n"
    "  -h, --help                 Print this help and exit.\n"
    "  --version                  Print the version and exit.\n"
    "\n"
    "Every command takes --help as its first argument; -- ends the options of query,\n"
    "get, find, diff and registries, so that a name starting with - follows.\n"
    "\n"
    "Exit status: 0 success; 1 failure (no such key or value, a bad root, type or\n"
    "data, a registry that cannot be opened, a write to one that is read-only, a\n"
    "file that cannot be written, read or imported, a write the store did not keep);\n"
    "2 usage error (unknown command or option, wrong number of arguments, arguments\n"
    "other than FILE that are not UTF-8).\n"
    "find: 0 something found, 1 nothing found, 2 any failure or usage error (as\n"
    "grep). diff: 0 no differences, 1 differences, 2 any failure or usage error.\n"
    "\n"
    "Examples:\n"
    "  tovik-reg export 'HKCU\\Software\\Game' before.reg --format reg\n"
    "  (run the installer)\n"
    "  tovik-reg diff before.reg 'HKCU\\Software\\Game'\n"
    "  tovik-reg --wine-prefix ~/.wine diff 'HKLM\\Software' --b --wine-prefix ~/fresh\n"
    "  tovik-reg import --dry-run fix.reg\n";

constexpr std::string_view kShortUsage =
    "Usage: tovik-reg [REGISTRY] query KEY [-r] [--json] [--times]\n"
    "       tovik-reg [REGISTRY] get KEY NAME [--raw|--json]\n"
    "       tovik-reg [REGISTRY] set KEY NAME TYPE DATA\n"
    "       tovik-reg [REGISTRY] delete-value KEY NAME\n"
    "       tovik-reg [REGISTRY] add-key KEY\n"
    "       tovik-reg [REGISTRY] delete-key KEY\n"
    "       tovik-reg [REGISTRY] export KEY FILE [--format backup|reg|reg4]\n"
    "       tovik-reg [REGISTRY] import FILE [--dry-run]\n"
    "       tovik-reg [REGISTRY] diff A [B] [--format text|reg|reg4] [--reverse]\n"
    "                 [--json] [--b REGISTRY]\n"
    "       tovik-reg [REGISTRY] find [TEXT] [KEY] [--keys] [--values] [--data]\n"
    "                 [--case] [--exact] [--json] [--since DATE] [--until DATE]\n"
    "       tovik-reg [REGISTRY] timeline [KEY]\n"
    "       tovik-reg [REGISTRY] rename-key KEY NEWNAME\n"
    "       tovik-reg [REGISTRY] rename-value KEY NAME NEWNAME\n"
    "       tovik-reg [REGISTRY] history [KEY] [-n N]\n"
    "       tovik-reg [REGISTRY] undo [N]\n"
    "       tovik-reg [REGISTRY] redo [N]\n"
    "       tovik-reg registries [--json]\n"
    "REGISTRY: --registry FILE, --wine-prefix [DIR], --steam-app APPID,\n"
    "          --windows DIR [--user FILE] [--write], --hive FILE --as KEY [--write]\n"
    "Try 'tovik-reg --help' for more information.\n";

CommandLineError usageError(std::string message) {
    return {CommandLineErrorKind::Usage, std::move(message)};
}

CommandLineError badArgument(std::string message) {
    return {CommandLineErrorKind::BadArgument, std::move(message)};
}

// An argument quoted in a message, which must stay valid UTF-8 whatever was typed.
std::string printable(std::string_view arg) {
    return utf8ToUtf16(arg) ? std::string(arg) : say({"(text that is not UTF-8)", "（UTF-8ではない文字列）"});
}

char16_t asciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c;
}

// find's options: what to look at (all three when none is named), case and whole match.
bool findOption(std::string_view arg, Command& command) {
    if (arg == "--keys")
        command.findKeys = true;
    else if (arg == "--values")
        command.findValues = true;
    else if (arg == "--data")
        command.findData = true;
    else if (arg == "--case")
        command.matchCase = true;
    else if (arg == "--exact")
        command.exact = true;
    else
        return false;
    return true;
}

// A whole number from 1 up to a million.
std::optional<std::size_t> parseCount(std::string_view text) {
    if (text.empty() || text.size() > 7) return std::nullopt;
    std::size_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    if (n == 0 || n > 1000000) return std::nullopt;
    return n;
}

const CommandSpec* findCommand(std::string_view name) {
    for (const CommandSpec& spec : kCommands) {
        if (spec.name == name) return &spec;
    }
    return nullptr;
}

constexpr Message kRegistryNeedsFile{"--registry needs a file name.", "--registry にはファイル名が必要です。"};

std::string valueNameTooLong() {
    return say({"value name too long: a value name has at most %1 characters.",
                "値の名前が長すぎます: 値の名前は%1文字までです。"},
               {std::to_string(kMaxValueNameLength)});
}

// Why a key argument names no key, as a sentence; the store's limits are checked here, before
// anything is written.
std::string keyRefusal(KeyPathError error, std::string_view raw) {
    switch (error) {
    case KeyPathError::NameTooLong:
        return say({"key name too long: a name in a key path has at most %1 characters.",
                    "キーの名前が長すぎます: キーのパスの名前は%1文字までです。"},
                   {std::to_string(kMaxKeyNameLength)});
    case KeyPathError::TooDeep:
        return say({"key too deep: a key lies at most %1 levels below its root.",
                    "キーが深すぎます: キーはルートから%1階層までです。"},
                   {std::to_string(kMaxKeyDepth)});
    default:
        return say({"no such key: %1 (a key starts with HKCR, HKCU or HKLM, and no name in its path is empty).",
                    "キー %1 がありません（キーは HKCR、HKCU、HKLM のどれかで始まり、パスに空の名前はありません）。"},
                   {std::string(raw)});
    }
}

// Reads the positional argument text for its role into command; an error when it does not fit.
std::optional<CommandLineError> readArgument(ArgumentRole role, const std::u16string& text, std::string_view raw,
                                             Command& command) {
    switch (role) {
    case ArgumentRole::FindText: command.findText = text; return std::nullopt;
    case ArgumentRole::NewKeyName:
        if (text.empty()) return badArgument(say({"the new key name is empty.", "新しいキーの名前が空です。"}));
        if (text.find(u'\\') != std::u16string::npos) {
            return badArgument(say(
                {"a key name cannot hold a backslash: %1", "キーの名前に円記号（バックスラッシュ）は使えません: %1"},
                {std::string(raw)}));
        }
        if (text.size() > static_cast<std::size_t>(kMaxKeyNameLength)) {
            return badArgument(say({"key name too long: a key name has at most %1 characters.",
                                    "キーの名前が長すぎます: キーの名前は%1文字までです。"},
                                   {std::to_string(kMaxKeyNameLength)}));
        }
        command.newName = text;
        return std::nullopt;
    case ArgumentRole::NewValueName:
        if (text.empty() || text == u"@")
            return badArgument(say({"the new value name is empty (a value cannot become the unnamed value).",
                                    "新しい値の名前が空です（値を名前のない値にはできません）。"}));
        if (text.size() > static_cast<std::size_t>(kMaxValueNameLength)) return badArgument(valueNameTooLong());
        command.newName = text;
        return std::nullopt;
    case ArgumentRole::Key: {
        ParsedKeyPath key = parseKeyPath(text);
        if (!key.ok()) return badArgument(keyRefusal(key.error, raw));
        command.key = KeyArgument{key.root, std::move(key.path)};
        return std::nullopt;
    }
    case ArgumentRole::ValueName:
        // Refused here, before anything is written: a set would otherwise create its key
        // and only then find the name too long.
        if (text.size() > static_cast<std::size_t>(kMaxValueNameLength)) return badArgument(valueNameTooLong());
        command.valueName = text == u"@" ? std::u16string() : text;
        return std::nullopt;
    case ArgumentRole::Type: {
        auto type = parseTypeArgument(text);
        if (!type) {
            return badArgument(say({"unknown type: %1 (a tag such as SZ, DW or QW, a name such as REG_SZ, or a "
                                    "number from 0 to 0xFFFFFFFF).",
                                    "型 %1 が分かりません（SZ、DW、QW のようなタグ、REG_SZ のような名前、"
                                    "または0から0xFFFFFFFFまでの数）。"},
                                   {std::string(raw)}));
        }
        command.type = *type;
        return std::nullopt;
    }
    case ArgumentRole::Data:  // comes after Type, so the type is known
        if (auto refusal = checkDataText(command.type, text)) return badArgument(*refusal);
        command.dataText = dataTextToStore(command.type, text);
        return std::nullopt;
    case ArgumentRole::File: command.fileName = std::string(raw); return std::nullopt;
    case ArgumentRole::DiffSide: {
        DiffSide side;
        ParsedKeyPath key = parseKeyPath(text);
        if (key.ok()) {
            side.key = KeyArgument{key.root, std::move(key.path)};
        } else if (key.error == KeyPathError::NameTooLong || key.error == KeyPathError::TooDeep) {
            return badArgument(keyRefusal(key.error, raw));
        } else {
            side.isFile = true;
            side.file = std::string(raw);
        }
        command.sides.push_back(std::move(side));
        return std::nullopt;
    }
    case ArgumentRole::Count: {
        const std::optional<std::size_t> count = parseCount(raw);
        if (!count)
            return badArgument(
                say({"not a count: %1 (a whole number from 1 on).", "回数ではありません: %1（1以上の整数）。"},
                    {printable(raw)}));
        command.count = *count;
        return std::nullopt;
    }
    }
    return std::nullopt;
}

// diff --b: the registry options after it name the registry of side B's key, as the options
// before the command word name the registry of side A's.
std::optional<CommandLineError> takeOtherRegistry(std::span<const std::string_view> args, std::size_t& i,
                                                  Command& command) {
    RegistrySource source;
    bool named = false;
    while (i + 1 < args.size() && args[i + 1].starts_with("--")) {
        std::size_t at = i + 1;
        std::string error;
        if (takeRegistrySourceOption(args, at, source, error, kCommandWords)) {
            if (!error.empty()) return usageError(error);
        } else if (args[at] == "--registry" || args[at].starts_with("--registry=")) {
            std::string_view file;
            if (args[at] == "--registry") {
                if (at + 1 == args.size()) return usageError(say(kRegistryNeedsFile));
                file = args[++at];
            } else {
                file = args[at].substr(std::string_view("--registry=").size());
            }
            if (file.empty() || source.kind != RegistrySource::Kind::UserStore)
                return usageError(
                    say({"--b names one registry: a store file, a prefix, a Windows folder or a hive.",
                         "--b で指定できるレジストリは1つです: ストアのファイル、プレフィックス、Windowsの"
                         "フォルダ、ハイブのどれか。"}));
            source.kind = RegistrySource::Kind::StoreFile;
            source.path = std::string(file);
        } else {
            break;  // diff's own options follow
        }
        named = true;
        i = at;
    }
    if (!named) {
        return usageError(say({"--b needs the options of a registry: --registry FILE, --wine-prefix DIR, ...",
                               "--b にはレジストリのオプションが必要です: --registry FILE、--wine-prefix DIR など。"}));
    }
    if (std::string refusal = checkRegistrySource(source); !refusal.empty()) return usageError(refusal);
    command.otherSource = std::move(source);
    return std::nullopt;
}

}  // namespace

std::optional<KeyArgument> parseKeyArgument(std::u16string_view text) {
    ParsedKeyPath key = parseKeyPath(text);
    if (!key.ok()) return std::nullopt;
    return KeyArgument{key.root, std::move(key.path)};
}

std::optional<DWORD> parseTypeArgument(std::u16string_view text) {
    if (const ValueTypeInfo* named = findValueTypeByName(text)) return named->number;

    unsigned base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char16_t c : text) {
        unsigned digit;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (base == 16 && asciiUpper(c) >= u'A' && asciiUpper(c) <= u'F') {
            digit = asciiUpper(c) - u'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<DWORD>(value);
}

ParsedCommandLine parseCommandLine(std::span<const std::string_view> args) {
    Command command;
    std::size_t i = 0;

    // Global options, up to the command word.
    for (; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.empty() || arg[0] != '-') break;
        if (arg == "-h" || arg == "--help") {
            command.kind = CommandKind::Help;
            return command;
        }
        if (arg == "--version") {
            command.kind = CommandKind::Version;
            return command;
        }
        std::string sourceError;
        if (takeRegistrySourceOption(args, i, command.source, sourceError, kCommandWords)) {
            if (!sourceError.empty()) return usageError(sourceError);
            continue;
        }
        std::optional<std::string_view> file;
        if (arg == "--registry") {
            if (i + 1 == args.size()) return usageError(say(kRegistryNeedsFile));
            file = args[++i];
        } else if (arg.starts_with("--registry=")) {
            file = arg.substr(std::string_view("--registry=").size());
        } else {
            return usageError(say({"unknown option: %1", "オプション %1 が分かりません。"}, {printable(arg)}));
        }
        if (file->empty()) return usageError(say(kRegistryNeedsFile));
        command.registryFile = std::string(*file);
    }
    if (command.registryFile && command.source.kind != RegistrySource::Kind::UserStore) {
        return usageError(say(kOneRegistryOnly));
    }
    if (std::string refusal = checkRegistrySource(command.source); !refusal.empty()) return usageError(refusal);
    if (i == args.size()) return usageError(say({"no command given.", "コマンドがありません。"}));

    const CommandSpec* spec = findCommand(args[i]);
    if (spec == nullptr)
        return usageError(say({"unknown command: %1", "コマンド %1 が分かりません。"}, {printable(args[i])}));
    command.kind = spec->kind;
    ++i;
    // Every command takes --help as its first argument; those without options take data that
    // looks like an option anywhere else.
    if (i < args.size() && (args[i] == "-h" || args[i] == "--help")) {
        command.kind = CommandKind::Help;
        return command;
    }
    if (command.kind == CommandKind::Registries &&
        (command.registryFile || command.source.kind != RegistrySource::Kind::UserStore)) {
        return usageError(say({"registries lists every registry; it takes no option naming one.",
                               "registries はすべてのレジストリを一覧にします。レジストリを指定するオプションは"
                               "使えません。"}));
    }

    // Positional arguments and the command's own options. Count and encoding are checked before
    // any argument is interpreted, so that a usage error always wins over a bad value.
    std::vector<std::string_view> positional;
    std::optional<std::string_view> format;
    bool optionsEnded = false;
    for (; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded) {
            positional.push_back(arg);
        } else if (takes(*spec, "--format") && (arg == "--format" || arg.starts_with("--format="))) {
            if (format) return usageError(say({"--format is given twice.", "--format が2回あります。"}));
            if (arg == "--format") {
                if (i + 1 == args.size())
                    return usageError(say({"--format needs backup, reg or reg4.",
                                           "--format には backup、reg、reg4 のどれかが必要です。"}));
                format = args[++i];
            } else {
                format = arg.substr(std::string_view("--format=").size());
            }
            if (command.kind == CommandKind::Diff) {
                if (*format == "text")
                    command.diffFormat = DiffFormat::Listing;
                else if (*format == "reg")
                    command.diffFormat = DiffFormat::Reg;
                else if (*format == "reg4")
                    command.diffFormat = DiffFormat::Reg4;
                else
                    return usageError(say({"unknown format: %1 (text, reg or reg4).",
                                           "形式 %1 が分かりません（text、reg、reg4 のどれか）。"},
                                          {printable(*format)}));
            } else if (*format == "backup") {
                command.format = ExportFormat::Backup;
            } else if (*format == "reg") {
                command.format = ExportFormat::Reg;
            } else if (*format == "reg4") {
                command.format = ExportFormat::Reg4;
            } else {
                return usageError(say({"unknown format: %1 (backup, reg or reg4).",
                                       "形式 %1 が分かりません（backup、reg、reg4 のどれか）。"},
                                      {printable(*format)}));
            }
        } else if (takes(*spec, "-n") && arg == "-n") {
            if (i + 1 == args.size())
                return usageError(say({"-n needs a number of entries.", "-n には項目の数が必要です。"}));
            const std::optional<std::size_t> shown = parseCount(args[++i]);
            if (!shown)
                return usageError(
                    say({"-n needs a number of entries from 1 on: %1", "-n には1以上の項目の数が必要です: %1"},
                        {printable(args[i])}));
            command.shown = *shown;
        } else if (takes(*spec, arg) && arg == "-r") {
            command.recursive = true;
        } else if (takes(*spec, arg) && arg == "--raw") {
            command.raw = true;
        } else if (takes(*spec, arg) && arg == "--json") {
            command.json = true;
        } else if (takes(*spec, arg) && arg == "--dry-run") {
            command.dryRun = true;
        } else if (takes(*spec, arg) && arg == "--reverse") {
            command.reverse = true;
        } else if (takes(*spec, arg) && arg == "--b") {
            if (command.otherSource) return usageError(say({"--b is given twice.", "--b が2回あります。"}));
            if (auto error = takeOtherRegistry(args, i, command)) return *error;
        } else if (takes(*spec, arg) && arg == "--times") {
            command.times = true;
        } else if (takes(*spec, "--since") && (arg == "--since" || arg.starts_with("--since=") || arg == "--until" ||
                                               arg.starts_with("--until="))) {
            const bool since = arg.starts_with("--since");
            const std::string_view option = since ? "--since" : "--until";
            std::string_view text;
            if (arg == option) {
                if (i + 1 == args.size())
                    return usageError(say({"%1 needs a date.", "%1 には日付が必要です。"}, {option}));
                text = args[++i];
            } else {
                text = arg.substr(option.size() + 1);
            }
            bool dateOnly = false;
            const std::optional<std::int64_t> time = parseIsoDateTime(text, &dateOnly);
            if (!time) {
                return usageError(say({"%1 needs an ISO 8601 date such as 2024-05-01 or 2024-05-01T12:30Z: %2",
                                       "%1 には 2024-05-01 や 2024-05-01T12:30Z のようなISO 8601の日付が必要です: %2"},
                                      {option, printable(text)}));
            }
            // A day given alone runs to its end.
            constexpr std::int64_t kDay = 86400 * kFileTimeTicksPerSecond;
            if (since)
                command.since = *time;
            else
                command.until = dateOnly ? *time + kDay - 1 : *time;
        } else if (spec->takesOptions && arg == "--") {
            optionsEnded = true;  // a value name such as "-r" follows
        } else if (takes(*spec, arg) && findOption(arg, command)) {
        } else if (spec->takesOptions && (arg == "-h" || arg == "--help")) {
            command.kind = CommandKind::Help;
            return command;
        } else if (spec->takesOptions && arg.size() > 1 && arg[0] == '-') {
            return usageError(say({"unknown option for %1: %2", "%1 のオプション %2 が分かりません。"},
                                  {spec->name, printable(arg)}));
        } else {
            positional.push_back(arg);
        }
    }
    if (command.raw && command.json)
        return usageError(say({"--raw and --json exclude each other.", "--raw と --json は同時に使えません。"}));
    if (command.json && command.diffFormat != DiffFormat::Listing)
        return usageError(
            say({"--json and --format reg exclude each other.", "--json と --format reg は同時に使えません。"}));
    const bool timeBounded = command.since != 0 || command.until != 0;
    if (command.since != 0 && command.until != 0 && command.until < command.since)
        return usageError(say({"--until is before --since.", "--until が --since より前です。"}));
    // find needs a text unless it looks for keys by time; one argument that names a root is then KEY.
    bool keyOnly = false;
    if (spec->kind == CommandKind::Find) {
        if (positional.empty() && !timeBounded)
            return usageError(say({"missing arguments for %1.", "%1 の引数が足りません。"}, {spec->name}));
        if (positional.size() == 1 && timeBounded) {
            const auto text = utf8ToUtf16(positional[0]);
            keyOnly = text && parseKeyPath(*text).ok();
        }
    }
    if (positional.size() < spec->required) {
        return usageError(say({"missing arguments for %1.", "%1 の引数が足りません。"}, {spec->name}));
    }
    if (positional.size() > spec->roleCount) {
        return usageError(say({"too many arguments for %1.", "%1 の引数が多すぎます。"}, {spec->name}));
    }
    // A file name is bytes to the system and is passed on as it is; everything else is text.
    std::vector<std::u16string> texts;
    const std::size_t firstRole = keyOnly ? 1 : 0;
    for (std::size_t k = 0; k < positional.size(); ++k) {
        if (spec->roles[k + firstRole] == ArgumentRole::File) {
            if (positional[k].empty()) return usageError(say({"the file name is empty.", "ファイル名が空です。"}));
            texts.emplace_back();
            continue;
        }
        auto text = utf8ToUtf16(positional[k]);
        if (!text)
            return usageError(
                say({"an argument is not valid UTF-8 text.", "引数が正しいUTF-8の文字列ではありません。"}));
        texts.push_back(std::move(*text));
    }
    for (std::size_t k = 0; k < positional.size(); ++k) {
        if (auto error = readArgument(spec->roles[k + firstRole], texts[k], positional[k], command)) {
            error->command = spec->kind;
            return *error;
        }
    }
    if (command.kind == CommandKind::DeleteKey && command.key.path.empty())
        return usageError(say({"a root cannot be deleted; name a key below it.",
                               "ルートは削除できません。その下のキーを指定してください。"}));
    if (command.kind == CommandKind::RenameKey && command.key.path.empty())
        return usageError(say({"a root cannot be renamed; name a key below it.",
                               "ルートの名前は変更できません。その下のキーを指定してください。"}));
    if (command.kind == CommandKind::Diff) {
        if (command.sides.size() == 1) {
            if (!command.otherSource) {
                return usageError(
                    say({"diff needs two sides, or one key and --b naming the registry to compare it with.",
                         "diff には2つの比較対象か、1つのキーと比較先のレジストリを指定する --b が必要です。"}));
            }
            command.sides.push_back(command.sides.front());
        }
        if (command.otherSource && command.sides[1].isFile) {
            return usageError(say({"--b names the registry of side B's key, but side B is a file.",
                                   "--b はBのキーのレジストリを指定しますが、Bはファイルです。"}));
        }
    }
    if (command.kind == CommandKind::Timeline) command.hasKey = !positional.empty();
    if (command.kind == CommandKind::History) command.hasKey = !positional.empty();
    if (command.kind == CommandKind::Find) {
        command.hasKey = positional.size() + firstRole > 1;
        if (!command.findKeys && !command.findValues && !command.findData)
            command.findKeys = command.findValues = command.findData = true;
    }
    return command;
}

std::vector<CommandOptions> commandTable() {
    std::vector<CommandOptions> table;
    for (const CommandSpec& spec : kCommands) {
        if (spec.hidden) continue;
        CommandOptions row{spec.name, {}};
        for (std::string_view option : spec.options)
            if (!option.empty()) row.options.push_back(option);
        table.push_back(std::move(row));
    }
    return table;
}

std::span<const std::string_view> globalOptions() {
    return kGlobalOptions;
}

std::string_view usageText() {
    if (messageLanguage() == InterfaceLanguage::English) return kUsage;
    static const std::string japanese = helpText(japaneseHelp());
    return japanese;
}

std::string_view shortUsageText() {
    if (messageLanguage() == InterfaceLanguage::English) return kShortUsage;
    static const std::string japanese = [] {
        const HelpDocument& help = japaneseHelp();
        const std::string_view lines = kShortUsage.substr(0, kShortUsage.find("\nREGISTRY:") + 1);
        return std::string(help.shortUsageWord) + std::string(lines.substr(lines.find(' '))) +
               std::string(help.shortUsageEnd);
    }();
    return japanese;
}

std::string_view versionText() {
    return "tovik-reg " TOVIK_VERSION "\n";
}

}  // namespace tovik::cli
