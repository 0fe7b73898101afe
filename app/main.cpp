#include <QApplication>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/tovik_app.h"
#include "stores/registry_source_args.h"

namespace {

constexpr const char* kHelp =
    "Usage: tovik [OPTION]...\n"
    "\n"
    "Tovik, a registry editor: the registry's keys as a tree above the selected key's values.\n"
    "It opens your registry, $XDG_DATA_HOME/tovik/registry.db (by default\n"
    "~/.local/share/tovik/registry.db), made from the built-in device registry on first start,\n"
    "or the registry the options below name; a line under the tree then shows which, and\n"
    "読み取り専用 when it is read-only (a Wine prefix while Wine runs it).\n"
    "Only one copy per registry runs at a time: a second start brings the running one to the front.\n"
    "tovik-reg reads and writes the same registries from the command line.\n"
    "\n"
    "Options:\n"
    "%s"
    "  -h, --help                 Print this help and exit.\n"
    "  --version                  Print the version and exit.\n"
    "Qt's own options are accepted as well, for example -platform NAME, -style NAME, -reverse.\n"
    "\n"
    "Exit status: 0 when the window is closed or another copy was brought to the front;\n"
    "2 for an unknown option or argument.\n";

// --help and --version are answered before Qt starts, so that they work without a display.
// Returns the exit status when one of them was given.
int AnswerInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") {
            const std::string sources(tovik::RegistrySourceHelpText());
            return std::printf(kHelp, sources.c_str()) < 0 ? 1 : 0;
        }
        if (arg == "--version") return std::fputs("tovik " TOVIK_VERSION "\n", stdout) < 0 ? 1 : 0;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = AnswerInformationOptions(argc, argv); status >= 0) return status;
    QApplication application(argc, argv);
    // Qt has taken its own options out of the arguments; the registry options are ours, and
    // whatever else is left is not understood.
    std::vector<std::string> texts;
    for (const QString& arg : QApplication::arguments().mid(1)) texts.push_back(arg.toLocal8Bit().toStdString());
    const std::vector<std::string_view> args(texts.begin(), texts.end());
    tovik::RegistrySourceArgs sourceOptions;
    std::string error;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        if (i == 0 && args[i] == "--") continue;
        const auto taken = sourceOptions.take(args, i, error);
        if (taken == tovik::RegistrySourceArgs::Taken::NotMine)
            error = std::string(args[i].starts_with('-') ? "unknown option: " : "unexpected argument: ") +
                    std::string(args[i]);
    }
    std::optional<tovik::RegistrySource> source;
    if (error.empty()) source = sourceOptions.finish(error);
    if (!source) {
        std::fprintf(stderr, "tovik: %s\nTry 'tovik --help' for more information.\n", error.c_str());
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("tovik"));
    ApplyInterfaceFont();
    CTovikApp app(*source);
    if (!app.InitInstance()) return 0;
    return QApplication::exec();
}
