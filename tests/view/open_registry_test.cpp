// The chooser of ﾂｰﾙ > レジストリを開く... on a fake home: what it lists, and the window it starts
// from the found list, the recent list and another folder or file (the start is recorded, never
// made).
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "fake_home.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "view/command_ids.h"
#include "view/open_registry_commands.h"
#include "view/open_registry_dlg.h"
#include "view/view_commands.h"
#include "view/view_settings.h"
#include "wine_test_support.h"

using namespace testing_support;

namespace {

QString firstLine(const QTreeWidgetItem* item) {
    return item->text(0).section(QLatin1Char('\n'), 0, 0);
}

// The view with its chooser pointed at a fake home, a settings file of its own, and a launcher
// that records the arguments it would start tovik with.
struct ChooserFixture {
    QTemporaryDir dir;
    fake_home::FakeHome home;
    CTovikDoc doc;
    ScriptedPrompts* prompts = nullptr;
    std::unique_ptr<CTovikView> view;
    QList<QStringList> launched;
    bool launchWorks = true;

    ChooserFixture() {
        FreshRegistry();
        view = startScriptedView(doc, prompts);
        OpenRegistryCommands& open = commands();
        open.setUserFolders(home.folders());
        open.setSettings(std::make_unique<ViewSettings>(dir.filePath("view.conf")));
        open.setLauncher([this](const QStringList& args) {
            launched << args;
            return launchWorks;
        });
    }
    OpenRegistryCommands& commands() { return view->commands().openRegistry(); }
    // Runs the menu command; script fills and closes the chooser.
    void choose(std::function<int(COpenRegistryDlg&)> script) {
        prompts->dialogs.push_back(
            [script](QDialog& dialog) { return script(static_cast<COpenRegistryDlg&>(dialog)); });
        view->commands().run(ID_OPEN_REGISTRY);
    }
};

int acceptWith(COpenRegistryDlg& dialog) {
    dialog.accept();
    return dialog.result() == QDialog::Accepted ? IDOK : IDCANCEL;
}

QTreeWidgetItem* rowNamed(QTreeWidget* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (firstLine(list->topLevelItem(i)) == name) return list->topLevelItem(i);
    return nullptr;
}

}  // namespace

class OpenRegistryTest : public QObject {
    Q_OBJECT

private slots:
    // Every registry of the fake home is listed once with its name, kind and folder, the damaged
    // files of other programs skipped; the game chosen opens as its prefix under its name, and
    // joins the recent list.
    void theFoundListOpensTheChosenGame() {
        ChooserFixture fixture;
        QSet<QString> listed;
        QString halfLifeKind;
        fixture.choose([&](COpenRegistryDlg& dialog) {
            if (!QTest::qWaitFor([&dialog] { return dialog.discoveryFinished(); }, 10000)) return IDCANCEL;
            QTreeWidget* list = dialog.foundList();
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* item = list->topLevelItem(i);
                listed << item->text(1).toLower() + QLatin1Char('|') + firstLine(item) + QLatin1Char('|') +
                              item->text(0).section(QLatin1Char('\n'), 1);
            }
            QTreeWidgetItem* game = rowNamed(list, QStringLiteral("Half-Life 2"));
            if (game == nullptr) return IDCANCEL;
            halfLifeKind = game->text(1);
            list->setCurrentItem(game);
            return acceptWith(dialog);
        });
        // Folders in the home folder are shown from ~.
        const std::string home = fixture.home.home().string() + '/';
        QSet<QString> expected;
        for (const fake_home::Expected& e : fixture.home.expected()) {
            const std::string folder = e.folder.starts_with(home) ? "~/" + e.folder.substr(home.size()) : e.folder;
            expected << QString::fromStdString(e.kind + '|' + e.name + '|' + folder);
        }
        QCOMPARE(listed, expected);
        QCOMPARE(halfLifeKind, QStringLiteral("Proton"));
        const QString folder = QString::fromStdString(fixture.home.folderOf("Half-Life 2"));
        QCOMPARE(fixture.launched, QList<QStringList>({{"--wine-prefix=" + folder, "--name=Half-Life 2"}}));
        const QList<RegistryRequest> recent = fixture.commands().recentRegistries();
        QCOMPARE(recent.size(), 1);
        QCOMPARE(recent[0].path, folder);
        QCOMPARE(recent[0].name, QStringLiteral("Half-Life 2"));
    }

    // The recent list shows the newest first and opens what it names, which then moves first;
    // the user's own store opens with no option (the copy that runs for it).
    void theRecentListOpensWhatItNames() {
        ChooserFixture fixture;
        RegistryRequest bottle;
        bottle.kind = RegistryRequest::Kind::WinePrefix;
        bottle.path = QString::fromStdString(fixture.home.folderOf("Office 2010"));
        bottle.name = QStringLiteral("Office 2010");
        bottle.kindLabel = QStringLiteral("Bottles");
        RegistryRequest own;
        own.kindLabel = QStringLiteral("Tovik");
        QVERIFY(fixture.commands().openRequest(bottle));
        QVERIFY(fixture.commands().openRequest(own));
        fixture.launched.clear();

        QStringList shown;
        fixture.choose([&](COpenRegistryDlg& dialog) {
            dialog.tabs()->setCurrentIndex(COpenRegistryDlg::RecentPage);
            QTreeWidget* list = dialog.recentList();
            for (int i = 0; i < list->topLevelItemCount(); ++i) shown << list->topLevelItem(i)->text(0);
            list->setCurrentItem(list->topLevelItem(1));
            return acceptWith(dialog);
        });
        const QString home = QString::fromStdString(fixture.home.home().string());
        QCOMPARE(shown, QStringList({"Tovik", "Office 2010\n~" + bottle.path.mid(home.size())}));
        QCOMPARE(fixture.launched, QList<QStringList>({{"--wine-prefix=" + bottle.path, "--name=Office 2010"}}));
        const QList<RegistryRequest> recent = fixture.commands().recentRegistries();
        QCOMPARE(recent.size(), 2);
        QVERIFY(recent[0] == bottle);
        QVERIFY(recent[1] == own);

        // Kept in the settings file: a new view's chooser reads the same list.
        fixture.choose(
            [](COpenRegistryDlg& dialog) { return dialog.recentList()->topLevelItemCount() == 2 ? IDCANCEL : IDOK; });
        QCOMPARE(fixture.launched.size(), 1);
        QCOMPARE(fixture.prompts->dialogCount, 2);
    }

    // "Another folder or file": a folder that is no prefix, a hive without its key and a missing
    // file are refused with a message and the chooser stays open; a hive file chosen through the
    // file dialog opens under its key, writable when asked; a failed start says so and is not
    // remembered.
    void anotherFolderOrFileIsCheckedThenOpened() {
        ChooserFixture fixture;
        const QString notAPrefix = fixture.dir.filePath("empty");
        QVERIFY(QDir().mkpath(notAPrefix));
        const QString hive = fixture.dir.filePath("SOFTWARE");
        QFile file(hive);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        fixture.prompts->fileNames = {hive};
        bool stayedOpen = false;
        fixture.choose([&](COpenRegistryDlg& dialog) {
            dialog.tabs()->setCurrentIndex(COpenRegistryDlg::OtherPage);
            dialog.otherPath()->setText(notAPrefix);
            dialog.accept();
            const bool refusedPrefix = dialog.result() != QDialog::Accepted;
            dialog.otherKindBox()->setCurrentIndex(COpenRegistryDlg::OtherHive);
            for (QPushButton* button : dialog.findChildren<QPushButton*>())
                if (button->text() == QString::fromUtf16(u"参照...") && button->isVisibleTo(&dialog)) button->click();
            dialog.accept();
            const bool refusedKeyless = dialog.result() != QDialog::Accepted;
            dialog.otherKey()->setText(QStringLiteral("HKLM\\SOFTWARE"));
            dialog.otherWritable()->setChecked(true);
            stayedOpen = refusedPrefix && refusedKeyless;
            return acceptWith(dialog);
        });
        QVERIFY(stayedOpen);
        QCOMPARE(fixture.prompts->messages.size(), 2);
        QVERIFY(fixture.prompts->messages[0].contains(QString::fromUtf16(u"Wine プレフィックスではありません")));
        QCOMPARE(fixture.launched,
                 QList<QStringList>({{"--hive=" + hive, QString::fromUtf16(u"--as=HKLM\\SOFTWARE"), "--write"}}));

        fixture.launchWorks = false;
        fixture.choose([&](COpenRegistryDlg& dialog) {
            dialog.tabs()->setCurrentIndex(COpenRegistryDlg::OtherPage);
            dialog.otherKindBox()->setCurrentIndex(COpenRegistryDlg::OtherWinePrefix);
            dialog.otherPath()->setText(QString::fromStdString(fixture.home.folderOf(".wine")));
            return acceptWith(dialog);
        });
        QCOMPARE(fixture.launched.size(), 2);
        QCOMPARE(fixture.prompts->messages.last(), QString::fromUtf16(u"新しいウィンドウを開けませんでした。"));
        QCOMPARE(fixture.commands().recentRegistries().size(), 1);
    }

    // A search that hangs on a slow disk: the rows found so far show while it runs, the window
    // keeps working, and closing the chooser asks the search to stop without waiting for it.
    void aSlowSearchNeitherFreezesNorHoldsTheChooser() {
        struct Gate {
            std::mutex mutex;
            std::condition_variable released;
            bool open = false;
            std::atomic<bool> sawStop = false;
        };
        auto gate = std::make_shared<Gate>();
        ChooserFixture fixture;
        fixture.commands().setDiscovery([gate](const tovik::discover::UserFolders&,
                                               const tovik::discover::FoundCallback& onFound, std::stop_token stop) {
            tovik::discover::FoundRegistry first;
            first.name = u"First";
            first.folder = "/prefixes/first";
            first.kind = tovik::discover::RegistryKind::Lutris;
            first.readOnly = true;
            onFound(first);
            std::unique_lock lock(gate->mutex);
            gate->released.wait(lock, [&gate] { return gate->open; });
            gate->sawStop = stop.stop_requested();
        });
        bool shownWhileSearching = false;
        QString state;
        fixture.choose([&](COpenRegistryDlg& dialog) {
            shownWhileSearching = QTest::qWaitFor([&dialog] { return dialog.foundList()->topLevelItemCount() == 1; }) &&
                                  !dialog.discoveryFinished();
            state = dialog.foundList()->topLevelItem(0)->text(3);
            return IDCANCEL;
        });
        QVERIFY(shownWhileSearching);
        QCOMPARE(state, QString::fromUtf16(u"実行中"));
        QVERIFY(fixture.launched.isEmpty());
        {
            const std::lock_guard lock(gate->mutex);
            gate->open = true;
        }
        gate->released.notify_all();
        QTRY_VERIFY(gate->sawStop.load());
    }

    // What a request keeps in the settings and the options it starts tovik with, for each kind.
    void requestsRoundTripAndNameTheirOptions() {
        RegistryRequest store{RegistryRequest::Kind::StoreFile, "/data/other.db"};
        RegistryRequest windows{RegistryRequest::Kind::Windows, "/mnt/c/Windows", "/mnt/c/Users/me/NTUSER.DAT"};
        RegistryRequest hive{RegistryRequest::Kind::Hive, "/mnt/SYSTEM", {}, "HKLM\\SYSTEM", true, "Rescue"};
        RegistryRequest prefix{RegistryRequest::Kind::WinePrefix, "/games/-odd\nname"};
        const std::pair<RegistryRequest, QStringList> cases[] = {
            {store, {"--registry=/data/other.db"}},
            {windows, {"--windows=/mnt/c/Windows", "--user=/mnt/c/Users/me/NTUSER.DAT"}},
            {hive, {"--hive=/mnt/SYSTEM", "--as=HKLM\\SYSTEM", "--write", "--name=Rescue"}},
            {prefix, {"--wine-prefix=/games/-odd\nname"}},
            {RegistryRequest{}, {}},
        };
        for (const auto& [request, args] : cases) {
            QCOMPARE(launchArguments(request), args);
            const std::optional<RegistryRequest> back = decodeRequest(encodeRequest(request));
            QVERIFY(back && *back == request && back->name == request.name);
        }
        for (const char* broken : {"", "[]", "{\"kind\":\"hive\",\"path\":\"/x\"}", "{\"kind\":\"?\",\"path\":\"/x\"}",
                                   "{\"kind\":\"wine-prefix\"}"})
            QVERIFY2(!decodeRequest(QString::fromLatin1(broken)), broken);
        QList<RegistryRequest> recent;
        for (int i = 0; i < 12; ++i)
            recent = withRecent(recent, RegistryRequest{RegistryRequest::Kind::WinePrefix, QString::number(i % 11)});
        QCOMPARE(recent.size(), 10);
        QCOMPARE(recent[0].path, QStringLiteral("0"));
        QCOMPARE(recent[1].path, QStringLiteral("10"));
    }
};

QTEST_MAIN(OpenRegistryTest)
#include "open_registry_test.moc"
