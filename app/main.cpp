#include <QApplication>
#include <cstdio>
#include <string_view>

#include "app/tovik_app.h"
#include "ui/prompts.h"
#include "ui/translated.h"

namespace {

constexpr const char* kHelp =
    "Usage: tovik [OPTION]...\n"
    "\n"
    "Tovik, a registry editor: the registry's keys as a tree above the selected key's values.\n"
    "It opens your registry, $XDG_DATA_HOME/tovik/registry.db (by default\n"
    "~/.local/share/tovik/registry.db), made from the built-in device registry on first start.\n"
    "Only one copy runs at a time: a second start brings the running one to the front.\n"
    "tovik-reg reads and writes the same registry from the command line.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Print this help and exit.\n"
    "  --version      Print the version and exit.\n"
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
        if (arg == "-h" || arg == "--help") return std::fputs(kHelp, stdout) < 0 ? 1 : 0;
        if (arg == "--version") return std::fputs("tovik " TOVIK_VERSION "\n", stdout) < 0 ? 1 : 0;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = AnswerInformationOptions(argc, argv); status >= 0) return status;
    QApplication application(argc, argv);
    // Qt has taken its own options out of the arguments; whatever is left is not understood.
    QStringList rest = QApplication::arguments().mid(1);
    if (!rest.isEmpty() && rest.front() == QLatin1String("--")) rest.removeFirst();
    if (!rest.isEmpty()) {
        const QString& arg = rest.front();
        std::fprintf(stderr, "tovik: %s: %s\nTry 'tovik --help' for more information.\n",
                     arg.startsWith(QLatin1Char('-')) ? "unknown option" : "unexpected argument",
                     arg.toLocal8Bit().constData());
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("tovik"));
    QApplication::setOrganizationName(QString::fromLatin1(kSettingsOrganization));
    InstallTranslations();
    ApplyInterfaceFont();
    CTovikApp app;
    if (!app.InitInstance()) return 0;
    return QApplication::exec();
}
