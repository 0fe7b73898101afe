#include "app/chooser_screenshots.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "app/screenshot_support.h"
#include "discover/discovery.h"
#include "view/open_registry_dlg.h"
#include "view/tovik_view.h"

namespace {

void writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(text);
}

// The two files that make a folder a Wine prefix, as a fresh one has them.
void makePrefix(const QString& folder) {
    writeFile(folder + QStringLiteral("/system.reg"),
              "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n");
    writeFile(folder + QStringLiteral("/user.reg"),
              "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n");
}

tovik::discover::UserFolders makeHome(const QString& home) {
    tovik::discover::UserFolders folders;
    folders.home = QFile::encodeName(home).toStdString();
    folders.dataHome = folders.home + "/.local/share";
    folders.configHome = folders.home + "/.config";
    const QString data = home + QStringLiteral("/.local/share");
    const QString steam = data + QStringLiteral("/Steam/steamapps");
    writeFile(steam + QStringLiteral("/libraryfolders.vdf"), "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" +
                                                                 QFile::encodeName(data) + "/Steam\"\n\t}\n}\n");
    const std::pair<const char*, const char*> games[] = {
        {"220", "Half-Life 2"}, {"620", "Portal 2"}, {"1145360", "Hades"}};
    for (const auto& [appId, name] : games) {
        writeFile(steam + QStringLiteral("/appmanifest_%1.acf").arg(QLatin1String(appId)),
                  QByteArray("\"AppState\"\n{\n\t\"appid\"\t\t\"") + appId + "\"\n\t\"name\"\t\t\"" + name + "\"\n}\n");
        makePrefix(steam + QStringLiteral("/compatdata/%1/pfx").arg(QLatin1String(appId)));
    }
    writeFile(data + QStringLiteral("/lutris/games/gta-v-1700000000.yml"),
              "name: Grand Theft Auto V\ngame:\n  prefix: ~/Games/gta-v\n");
    makePrefix(home + QStringLiteral("/Games/gta-v"));
    writeFile(data + QStringLiteral("/bottles/bottles/Office/bottle.yml"), "Name: Office 2010\nPath: Office\n");
    makePrefix(data + QStringLiteral("/bottles/bottles/Office"));
    makePrefix(home + QStringLiteral("/.wine"));
    return folders;
}

}  // namespace

void saveChooserScreenshots(CTovikView& view, const QString& outputDir) {
    QTemporaryDir scratch;
    const QString home = scratch.filePath(QStringLiteral("home"));
    const tovik::discover::UserFolders folders = makeHome(home);

    COpenRegistryDlg dialog(view.prompts(), &view);
    dialog.startDiscovery(tovik::discover::discoverRegistries, folders);
    QElapsedTimer waited;
    waited.start();
    while (!dialog.discoveryFinished() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    RegistryRequest recent;
    recent.kind = RegistryRequest::Kind::WinePrefix;
    recent.path = home + QStringLiteral("/.local/share/Steam/steamapps/compatdata/620/pfx");
    recent.name = QStringLiteral("Portal 2");
    recent.kindLabel = QStringLiteral("Proton");
    dialog.setRecent({recent});
    if (QTreeWidget* list = dialog.foundList(); list->topLevelItemCount() > 1)
        list->setCurrentItem(list->topLevelItem(1));
    saveGrab(dialog, outputDir, QStringLiteral("open_registry"));

    dialog.tabs()->setCurrentIndex(COpenRegistryDlg::OtherPage);
    dialog.otherKindBox()->setCurrentIndex(COpenRegistryDlg::OtherWindows);
    dialog.otherPath()->setText(QStringLiteral("/media/disk/Windows"));
    dialog.otherUserHive()->setText(QStringLiteral("/media/disk/Users/me/NTUSER.DAT"));
    saveGrab(dialog, outputDir, QStringLiteral("open_registry_other"));
    dialog.hide();
}
