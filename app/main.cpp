#include <QApplication>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/tovik_app.h"
#include "stores/registry_source_args.h"
#include "ui/prompts.h"
#include "ui/translated.h"

namespace {

constexpr const char* kHelp =
    "Usage: tovik [OPTION]... [FILE]\n"
    "\n"
    "Tovik, a registry editor: the registry's keys as a tree above the selected key's values.\n"
    "It opens your registry, $XDG_DATA_HOME/tovik/registry.db (by default\n"
    "~/.local/share/tovik/registry.db), made from the built-in device registry on first start.\n"
    "A line under the tree shows which registry is open, and 読み取り専用 when it is read-only.\n"
    "One copy runs per registry: a second start brings the running one to the front, and a\n"
    "FILE given to it is imported by the running copy. ツール > レジストリを開く... (Ctrl+O) opens\n"
    "another registry (a Wine, Proton, Lutris, Bottles or Heroic prefix found on this machine,\n"
    "Windows hive files, a Tovik registry file) in a window of its own.\n"
    "tovik-reg reads and writes the same registry from the command line.\n"
    "With FILE (a .reg file or a backup file), the import of FILE starts at once: its lines are\n"
    "shown for confirmation, as ツール > インポート（取り込み） shows them.\n"
    "\n"
    "Options:\n"
    "  --wine-prefix [DIR]\n"
    "                 Open the registry of the Wine prefix DIR instead: HKEY_LOCAL_MACHINE is its\n"
    "                 system.reg, HKEY_CURRENT_USER its user.reg. While Wine runs the prefix it\n"
    "                 is read-only (wineserver keeps the registry in memory and overwrites the\n"
    "                 files). Without DIR (last, or before another option or --): $WINEPREFIX,\n"
    "                 else ~/.wine.\n"
    "  --steam-app APPID\n"
    "                 Open the Proton prefix of the Steam game APPID instead\n"
    "                 (steamapps/compatdata/APPID/pfx in any Steam library).\n"
    "  --windows DIR [--user FILE]\n"
    "                 Open the registry hive files of the Windows installation DIR (the folder\n"
    "                 holding System32/config) instead; --user names an NTUSER.DAT for\n"
    "                 HKEY_CURRENT_USER.\n"
    "  --hive FILE --as KEY\n"
    "                 Open the one hive file FILE, shown as KEY (for example 'HKLM\\SOFTWARE').\n"
    "  --write        Allow changes to the hive files (read-only without it).\n"
    "  --registry FILE\n"
    "                 Open the Tovik registry file FILE instead (created when missing).\n"
    "  --name NAME    Show NAME (a game's or bottle's name) in the title and under the tree.\n"
    "  -h, --help     Print this help and exit.\n"
    "  --version      Print the version and exit.\n"
    "Qt's own options are accepted as well, for example -platform NAME, -style NAME, -reverse.\n"
    "\n"
    "Exit status: 0 when the window is closed or another copy was brought to the front;\n"
    "1 when FILE was given while another copy runs and that copy did not answer, or the\n"
    "Steam game of --steam-app has no Proton prefix;\n"
    "2 for an unknown option or more than one FILE.\n";

// The value of option name at args[i], given as "--name VALUE" or "--name=VALUE"; i then points
// at the last argument used. False when args[i] is not that option.
bool takeOwnOption(const std::vector<std::string_view>& args, std::size_t& i, std::string_view name,
                   std::optional<std::string>& value) {
    const std::string_view arg = args[i];
    if (arg == name) {
        value = i + 1 < args.size() ? std::string(args[++i]) : std::string();
        return true;
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        value = std::string(arg.substr(name.size() + 1));
        return true;
    }
    return false;
}

int usageError(const std::string& sentence) {
    std::fprintf(stderr, "tovik: %s\nTry 'tovik --help' for more information.\n", sentence.c_str());
    return 2;
}

// --help and --version are answered before Qt starts, so that they work without a display.
// Returns the exit status when one of them was given.
int answerInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") {
            return std::fputs(kHelp, stdout) < 0 ? 1 : 0;
        }
        if (arg == "--version") return std::fputs("tovik " TOVIK_VERSION "\n", stdout) < 0 ? 1 : 0;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = answerInformationOptions(argc, argv); status >= 0) return status;
    QApplication application(argc, argv);
    // Qt has taken its own options out of the arguments; what is left is one file to import.
    QStringList rest = QApplication::arguments().mid(1);
    // The options naming the registry to open, spelt as tovik-reg spells them.
    std::vector<std::string> texts;
    for (const QString& arg : rest) texts.push_back(arg.toLocal8Bit().toStdString());
    const std::vector<std::string_view> args(texts.begin(), texts.end());
    tovik::RegistrySource source;
    std::optional<std::string> storeFile;
    std::optional<std::string> name;
    std::size_t taken = 0;
    for (std::string error; taken < args.size(); ++taken) {
        std::optional<std::string> value;
        if (takeOwnOption(args, taken, "--registry", value)) {
            if (value->empty()) return usageError("--registry needs a file name.");
            if (storeFile) return usageError("--registry is given twice.");
            storeFile = std::move(value);
            continue;
        }
        if (takeOwnOption(args, taken, "--name", value)) {
            if (value->empty()) return usageError("--name needs a name.");
            if (name) return usageError("--name is given twice.");
            name = std::move(value);
            continue;
        }
        if (!tovik::takeRegistrySourceOption(args, taken, source, error)) break;
        if (!error.empty()) return usageError(error);
    }
    if (storeFile) {
        // As tovik-reg --registry FILE: the one registry named.
        if (source.kind != tovik::RegistrySource::Kind::UserStore)
            return usageError("name one registry only: --registry, --wine-prefix, --steam-app, --windows and --hive "
                              "exclude each other.");
        source.kind = tovik::RegistrySource::Kind::StoreFile;
        source.path = *storeFile;
    }
    if (const std::string refusal = tovik::checkRegistrySource(source); !refusal.empty()) return usageError(refusal);
    // The folder of --steam-app or of a bare --wine-prefix, before the copy is named after it.
    if (const std::string missing = tovik::resolveRegistrySource(source); !missing.empty()) {
        std::fprintf(stderr, "tovik: %s\n", missing.c_str());
        return 1;
    }
    rest = rest.mid(static_cast<int>(taken));
    const bool endOfOptions = !rest.isEmpty() && rest.front() == QLatin1String("--");
    if (endOfOptions) rest.removeFirst();
    const bool unknownOption = !endOfOptions && !rest.isEmpty() && rest.front().startsWith(QLatin1Char('-'));
    if (unknownOption || rest.size() > 1) {
        const QString& arg = unknownOption ? rest.front() : rest[1];
        std::fprintf(stderr, "tovik: %s: %s\nTry 'tovik --help' for more information.\n",
                     unknownOption ? "unknown option" : "unexpected argument", arg.toLocal8Bit().constData());
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("tovik"));
    QApplication::setOrganizationName(QString::fromLatin1(kSettingsOrganization));
    installTranslations();
    applyInterfaceFont();
    CTovikApp app(source);
    if (!rest.isEmpty()) app.setFileToImport(rest.front());
    if (name) app.setRegistryName(QString::fromLocal8Bit(name->c_str()));
    if (!app.initInstance()) {
        if (app.otherCopyRuns() && !rest.isEmpty() && !app.fileHandedOver()) {
            std::fprintf(stderr,
                         "tovik: another copy is running but did not answer; %s was not imported: "
                         "import it from that copy's menu.\n",
                         rest.front().toLocal8Bit().constData());
            return 1;
        }
        return 0;
    }
    return QApplication::exec();
}
