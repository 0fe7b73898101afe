// Start-up: one running copy, the frame and its menu, the caution after the painted tree.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app/single_instance.h"
#include "app/tovik_app.h"
#ifdef TOVIK_TEST_HIVES
#include "hive_builder.h"
#include "language/messages.h"
#endif
#include "registry/registry_api.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "wine_test_support.h"

namespace {

// Answers every message box with OK and records what the user would have seen at that moment.
struct RecordingPrompts : ViewPrompts {
    CTovikApp* app = nullptr;
    QStringList texts;
    bool frameVisible = false;
    int treeItems = 0;
    int dialogs = 0;
    int dialogMs = 0;  // how long a dialog stays open, running events as a real one does
    int messageBox(QWidget*, const QString& text, MessageButtons) override {
        texts << text;
        if (app && app->mainFrame()) {
            frameVisible = app->mainFrame()->isVisible();
            treeItems = static_cast<int>(app->mainFrame()->view()->treeModel().itemCount());
        }
        return IDOK;
    }
    int DoModal(QDialog&) override {
        ++dialogs;
        if (dialogMs > 0) QTest::qWait(dialogMs);
        return IDOK;
    }
};

// Gives app prompts that record what the user sees (the app owns them).
RecordingPrompts* recordPrompts(CTovikApp& app) {
    auto prompts = std::make_unique<RecordingPrompts>();
    RecordingPrompts* seen = prompts.get();
    app.setPrompts(std::move(prompts));
    return seen;
}

// Empty when a start on a read-only registry showed the caution, then one notice saying it is
// read-only and naming reason, with 読み取り専用 and location in the status line; else what differs.
QString readOnlyStartProblem(const RecordingPrompts& seen, CTovikApp& app, const std::string& location,
                             const QString& reason) {
    if (seen.texts.size() != 2 || seen.texts[0] != startupCautionText())
        return QStringLiteral("not the caution and one notice: ") + seen.texts.join(QLatin1Char('|'));
    if (!seen.texts[1].startsWith(QString::fromUtf16(u"このレジストリは読み取り専用で開きました。")) ||
        !seen.texts[1].contains(reason))
        return QStringLiteral("notice: ") + seen.texts[1];
    const QString line = app.mainFrame()->registryLocationText();
    if (line != QString::fromUtf16(u"読み取り専用　") + QString::fromStdString(location))
        return QStringLiteral("status line: ") + line;
    return {};
}

// A .reg file at path that makes HKEY_CURRENT_USER\Software\key; returns path.
QString writeRegFile(const QString& path, const QByteArray& key) {
    QFile reg(path);
    if (reg.open(QIODevice::WriteOnly))
        reg.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\" + key + "]\r\n\"v\"=dword:00000001\r\n");
    return path;
}

bool keyExists(const char16_t* path) {
    HKEY key = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, 0, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

}  // namespace

class AppStartTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase() {
        // Never the user's store or the user's running copy.
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        qputenv("TMPDIR", home_.path().toUtf8());
    }

    void cautionFollowsThePaintedTree() {
        CTovikApp app;
        auto prompts = std::make_unique<RecordingPrompts>();
        RecordingPrompts* seen = prompts.get();
        seen->app = &app;
        app.setPrompts(std::move(prompts));
        QVERIFY(app.initInstance());
        QCOMPARE(seen->texts, QStringList({startupCautionText()}));
        QVERIFY(seen->frameVisible);
        QVERIFY(seen->treeItems > 100);  // the default registry, loaded before the caution
        QCOMPARE(app.mainFrame()->windowTitle(), QString("Harnet"));

        app.OnAppAbout();
        QCOMPARE(seen->dialogs, 1);

        // A second copy in the same session is refused and brings the first to the front.
        SingleInstance second(QStringLiteral("Harnet"));
        QVERIFY(!second.acquire());
    }

    // A Wine prefix: the status line names it, and while Wine runs it the line says 読み取り専用,
    // the start says why once, after the caution, and writes are refused.
    void aPrefixShowsWhereItIsAndSaysOnceWhenItIsReadOnly() {
        const std::string prefix = home_.filePath("prefix").toStdString();
        wine_test::makeEmptyPrefix(prefix);
        tovik::RegistrySource source;
        source.kind = tovik::RegistrySource::Kind::WinePrefix;
        source.path = prefix;
        {
            CTovikApp app(source);
            const RecordingPrompts* seen = recordPrompts(app);
            QVERIFY(app.initInstance());
            QCOMPARE(seen->texts, QStringList({startupCautionText()}));
            QCOMPARE(app.mainFrame()->registryLocationText(), QString::fromStdString(prefix));
            QCOMPARE(app.mainFrame()->windowTitle(), QString("Harnet"));
        }
        {
            // Opened from the chooser with the game's name: the title and the status line say it.
            CTovikApp app(source);
            recordPrompts(app);
            app.setRegistryName(QStringLiteral("Half-Life 2"));
            QVERIFY(app.initInstance());
            QCOMPARE(app.mainFrame()->windowTitle(), QString("Half-Life 2 - Harnet"));
            QCOMPARE(app.mainFrame()->registryLocationText(),
                     QString::fromUtf16(u"Half-Life 2　") + QString::fromStdString(prefix));
        }
        wine_test::RunningWineserver server(prefix);
        QVERIFY(server.holding());
        CTovikApp app(source);
        const RecordingPrompts* seen = recordPrompts(app);
        QVERIFY(app.initInstance());
        const QString problem = readOnlyStartProblem(*seen, app, prefix, QStringLiteral("wineserver -k"));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        HKEY key = 0;
        QCOMPARE(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\X", 0, nullptr, 0, 0, nullptr, &key, nullptr),
                 static_cast<LONG>(ERROR_ACCESS_DENIED));
    }

#ifdef TOVIK_TEST_HIVES
    // A hive opened without --write: the status line names the file as read-only, the start says
    // why after the caution, and a write is refused.
    void aHiveOpenedReadOnlyShowsItAndSaysWhyOnce() {
        const std::string file = home_.filePath("SOFTWARE").toStdString();
        tovik::hive::testing::writeFile(file, tovik::hive::testing::emptyHiveBytes());
        tovik::RegistrySource source;
        source.kind = tovik::RegistrySource::Kind::Hive;
        source.path = file;
        source.mountAs = "HKLM\\SOFTWARE";
        CTovikApp app(source);
        const RecordingPrompts* seen = recordPrompts(app);
        QVERIFY(app.initInstance());
        const QString problem = readOnlyStartProblem(*seen, app, file, QStringLiteral("--write"));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        HKEY key = 0;
        QCOMPARE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\New", 0, nullptr, 0, 0, nullptr, &key, nullptr),
                 static_cast<LONG>(ERROR_ACCESS_DENIED));
    }

    // A Windows folder whose hives Windows left unfinished: after the caution, one message in the
    // window's language lists them and says why once; a file that is no hive is named in it too.
    // The hives speak the window's language, as they do when the window starts.
    void uncleanHivesOfAWindowsFolderAreListedInOneMessage() {
        tovik::setMessageLanguage(tovik::InterfaceLanguage::Japanese);
        const auto english = qScopeGuard([] { tovik::setMessageLanguage(tovik::InterfaceLanguage::English); });
        namespace hb = tovik::hive::testing;
        const QString config = home_.filePath("windows/System32/config");
        QVERIFY(QDir().mkpath(config));
        for (const char* name : {"SYSTEM", "SOFTWARE"})
            hb::writeFile((config + "/" + name).toStdString(), hb::emptyHiveBytes({.sequence1 = 5, .sequence2 = 4}));
        hb::writeFile((config + "/SAM").toStdString(), std::vector<std::uint8_t>(4096, 'x'));
        tovik::RegistrySource source;
        source.kind = tovik::RegistrySource::Kind::Windows;
        source.path = home_.filePath("windows").toStdString();
        source.writable = true;
        CTovikApp app(source);
        const RecordingPrompts* seen = recordPrompts(app);
        QVERIFY(app.initInstance());
        QCOMPARE(seen->texts.size(), 2);
        const QString message = seen->texts[1];
        QVERIFY2(message.startsWith(QString::fromUtf16(u"このレジストリは読み取り専用で開きました。")),
                 qPrintable(message));
        QVERIFY2(message.contains("\n  SOFTWARE\n  SYSTEM") || message.contains("\n  SYSTEM\n  SOFTWARE"),
                 qPrintable(message));
        QCOMPARE(message.count(QString::fromUtf16(u"Windowsが正しく終了していない")), 1);
        QVERIFY2(message.contains(QString::fromUtf16(u"はWindowsのレジストリハイブではないか、壊れています")),
                 qPrintable(message));
        QVERIFY2(!message.contains("Windows did not shut down") && !message.contains("is not a Windows registry hive"),
                 qPrintable(message));
    }
#endif

    void theUsersOwnStoreShowsNoStatusLineAndOtherRegistriesRunTheirOwnCopy() {
        CTovikDoc doc;
        CMainFrame frame(&doc);
        frame.showRegistryLocation(QString(), false);
        QCOMPARE(frame.registryLocationText(), QString());
        tovik::RegistrySource prefix;
        prefix.kind = tovik::RegistrySource::Kind::WinePrefix;
        prefix.path = "/home/u/.wine";
        tovik::RegistrySource same = prefix;
        same.path = "/home/u/./.wine";
        tovik::RegistrySource other = prefix;
        other.path = "/home/u/.wine-games";
        QCOMPARE(instanceNameOf({}), QString("Harnet"));
        QCOMPARE(instanceNameOf(prefix), instanceNameOf(same));
        QVERIFY(instanceNameOf(prefix) != instanceNameOf(other));
        QVERIFY(instanceNameOf(prefix) != instanceNameOf({}));
    }

    void secondCopyAsksTheFirstToComeForward() {
        SingleInstance first(QStringLiteral("TovikTestInstance"));
        QVERIFY(first.acquire());
        QSignalSpy activated(&first, &SingleInstance::activationRequested);
        SingleInstance second(QStringLiteral("TovikTestInstance"));
        QVERIFY(!second.acquire());
        QVERIFY(activated.count() > 0 || activated.wait(2000));
    }

    void secondProgramExitsAndLeavesTheFirstRunning() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess first, second;
        first.setProcessEnvironment(env);
        second.setProcessEnvironment(env);
        first.start(QStringLiteral(TOVIK_PATH), {});
        QVERIFY(first.waitForStarted());
        QTest::qWait(1500);  // the first copy waits at its caution
        QCOMPARE(first.state(), QProcess::Running);
        second.start(QStringLiteral(TOVIK_PATH), {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        first.waitForFinished();
    }

    // --help and --version print and end at once; anything Qt does not take is refused with
    // status 2 before a window or the caution could appear.
    void commandLineOptions() {
        struct Run {
            int exitCode;
            QString out, err;
        };
        auto run = [](const QStringList& args) {
            QProcess process;
            process.start(QStringLiteral(TOVIK_PATH), args);
            if (!process.waitForFinished(10000)) process.kill();
            return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                       QString::fromUtf8(process.readAllStandardError())};
        };
        const Run version = run({"--version"});
        QCOMPARE(version.exitCode, 0);
        QVERIFY2(QRegularExpression("^tovik \\d+\\.\\d+\\.\\d+\n$").match(version.out).hasMatch(),
                 qPrintable(version.out));

        const Run help = run({"--registry-less", "--help"});  // --help answers whatever else is given
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith("Usage: tovik"));
        QVERIFY(help.out.contains("--version"));
        QCOMPARE(help.err, QString());

        const Run unknown = run({"-reverse", "--bogus"});  // Qt's own -reverse is taken, --bogus is not
        QCOMPARE(unknown.exitCode, 2);
        QCOMPARE(unknown.out, QString());
        QVERIFY2(unknown.err.contains("tovik: unknown option: --bogus\n"), qPrintable(unknown.err));

        // One file is the file to import; a second is refused.
        const Run files = run({"--", "some.reg", "other.reg"});
        QCOMPARE(files.exitCode, 2);
        QVERIFY2(files.err.contains("tovik: unexpected argument: other.reg\n"), qPrintable(files.err));

        const Run conflicting = run({"--wine-prefix", "/a", "--hive", "/b", "--as", "HKLM\\X"});  // as tovik-reg
        QCOMPARE(conflicting.exitCode, 2);
        QVERIFY2(conflicting.err.contains("name one registry only"), qPrintable(conflicting.err));
        QVERIFY(help.out.contains("--wine-prefix [DIR]"));
        QVERIFY(help.out.contains("--steam-app APPID"));

        // A Steam game without a Proton prefix is named before any window could open.
        const Run nameless = run({"--name"});
        QCOMPARE(nameless.exitCode, 2);
        QVERIFY2(nameless.err.contains("tovik: --name needs a name."), qPrintable(nameless.err));
        const Run twoStores = run({"--registry=/a.db", "--wine-prefix", "/b"});
        QCOMPARE(twoStores.exitCode, 2);
        QVERIFY2(twoStores.err.contains("name one registry only"), qPrintable(twoStores.err));

        const Run noGame = run({"--steam-app", "4294967299"});
        QCOMPARE(noGame.exitCode, 1);
        QVERIFY2(noGame.err.contains("tovik: Steam app 4294967299 has no Proton prefix"), qPrintable(noGame.err));
    }

    // A file named on the command line (a .reg file opened from a file manager) opens its import
    // with the confirmation once the window is up.
    void aFileArgumentOpensItsImport() {
        const QString reg = writeRegFile(home_.filePath("fix.reg"), "FromFileManager");
        CTovikApp app;
        RecordingPrompts* seen = recordPrompts(app);
        app.setFileToImport(reg);
        QVERIFY(app.initInstance());
        QCOMPARE(seen->dialogs, 0);  // not before the event loop runs
        QTRY_COMPARE(seen->dialogs, 1);
        QVERIFY(seen->texts.contains(QString::fromUtf16(u"インポート終了、表示を初期化します")));
        QVERIFY(keyExists(u"Software\\FromFileManager"));
    }

    // A .reg file given to a second start while a copy runs: the running copy takes it and starts
    // its import with the confirmation, once the message it shows is answered; the second start
    // ends having handed it over.
    void aRunningCopyImportsTheFileASecondStartWasGiven() {
        writeRegFile(home_.filePath("handed.reg"), "HandedOver");
        CTovikApp first;
        RecordingPrompts* seen = recordPrompts(first);
        QVERIFY(first.initInstance());
        QMessageBox busy(QMessageBox::NoIcon, QString(), QStringLiteral("busy"), QMessageBox::Ok, first.mainFrame());
        busy.setModal(true);
        busy.show();

        const QString oldFolder = QDir::currentPath();
        QDir::setCurrent(home_.path());  // the second start names the file from its own folder
        CTovikApp second;
        second.setFileToImport(QStringLiteral("handed.reg"));
        const bool secondRuns = second.initInstance();
        QDir::setCurrent(oldFolder);
        QVERIFY(!secondRuns);
        QVERIFY(second.otherCopyRuns());
        QVERIFY(second.fileHandedOver());

        QTest::qWait(700);
        QCOMPARE(seen->dialogs, 0);  // the open message is answered first
        busy.close();
        QTRY_COMPARE(seen->dialogs, 1);
        QVERIFY(keyExists(u"Software\\HandedOver"));

        // With no dialog open the confirmation comes at once, and stays open while the second
        // start has long gone.
        seen->dialogMs = 500;
        CTovikApp third;
        third.setFileToImport(writeRegFile(home_.filePath("again.reg"), "HandedAgain"));
        QVERIFY(!third.initInstance());
        QVERIFY(third.fileHandedOver());
        QTRY_VERIFY(keyExists(u"Software\\HandedAgain"));
        QCOMPARE(seen->dialogs, 2);
    }

    void menuHoldsEveryCommandWithItsIdentifier() {
        CTovikDoc doc;
        CMainFrame frame(&doc);
        const QList<QAction*> menus = frame.menuBar()->actions();
        QStringList titles;
        for (QAction* menu : menus) titles << menu->text();
        QCOMPARE(titles,
                 QStringList({QString::fromUtf16(u"ﾂｰﾙ"), QString::fromUtf16(u"編集"), QString::fromUtf16(u"表示"),
                              QString::fromUtf16(u"お気に入り"), QString::fromUtf16(u"ﾍﾙﾌﾟ")}));
        const std::pair<int, const char16_t*> items[] = {{32781, u"エクスポート（書き出し）"},
                                                         {32782, u"インポート（取り込み）"},
                                                         {57665, u"アプリケーションの終了(&X)"},
                                                         {32775, u"値 削除"},
                                                         {32776, u"キー 削除"},
                                                         {32780, u"キーの追加"},
                                                         {32777, u"値REG_DWの追加"},
                                                         {32783, u"値REG_MULTI_SZの追加"},
                                                         {32778, u"値REG_SZの追加"},
                                                         {32779, u"その他の値の追加"},
                                                         {32772, u"キーのみ表示"},
                                                         {32773, u"値のみ表示"},
                                                         {32774, u"両方表示"},
                                                         {57664, u"Harnet のバージョン情報(&A)..."},
                                                         {32784, u"検索..."},
                                                         {32785, u"次を検索"},
                                                         {32786, u"前を検索"},
                                                         {32787, u"キーのパスをコピー"},
                                                         {32788, u"名前の変更"},
                                                         {32789, u"最新の情報に更新"},
                                                         {32790, u"アドレスバー"},
                                                         {32791, u"アドレスバーへ移動"},
                                                         {32792, u"お気に入りに追加"},
                                                         {32793, u"バイナリデータの変更"},
                                                         {32800, u"レジストリを開く..."}};
        for (const auto& [id, text] : items) {
            QAction* action = frame.commandAction(id);
            QVERIFY2(action, qPrintable(QString::number(id)));
            QCOMPARE(action->text(), QString::fromUtf16(text));
            QCOMPARE(action->data().toInt(), id);
        }
        QCOMPARE(frame.commandAction(32800)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
        frame.updateCommandUi();
        QVERIFY(frame.commandAction(32800)->isEnabled());
        QVERIFY(frame.commandAction(32772)->isEnabled());
        QVERIFY(frame.commandAction(57664)->isEnabled());
        QVERIFY(frame.commandAction(57665)->isEnabled());
    }

    void modifiedDocumentClosesWithoutAsking() {
        CTovikDoc doc;
        CMainFrame frame(&doc);
        frame.show();
        doc.setModifiedFlag();
        QVERIFY(doc.isModified());
        QVERIFY(frame.close());
        QVERIFY(doc.OnNewDocument());
        QVERIFY(!doc.isModified());
    }

    // The interface takes a Japanese-capable family but keeps the desktop's text size, whatever
    // it is; without any such family it keeps the desktop's font.
    void theInterfaceFontFollowsTheDesktopsSize() {
        const QFont before = QApplication::font();
        for (const qreal points : {9.0, 11.0, 14.0}) {
            QFont desktop(QStringLiteral("DejaVu Sans"));
            desktop.setPointSizeF(points);
            QApplication::setFont(desktop);
            applyInterfaceFont();
            QCOMPARE(QApplication::font().pointSizeF(), points);
            QCOMPARE(QApplication::font().family(), QString("Noto Sans CJK JP"));  // installed by the set-up
        }
        QApplication::setFont(before);

        QFont pixels(QStringLiteral("DejaVu Sans"));
        pixels.setPixelSize(20);
        const QFont fallback = interfaceFont(pixels, {"DejaVu Sans", "IPAGothic", "Noto Sans JP"});
        QCOMPARE(fallback.family(), QString("Noto Sans JP"));
        QCOMPARE(fallback.pixelSize(), 20);
        QCOMPARE(interfaceFont(pixels, {"DejaVu Sans"}).family(), QString("DejaVu Sans"));
    }

    void aboutBoxShowsTheVersion() {
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QString::fromUtf16(u"Tovik のバージョン情報"));
        auto* version = about.findChild<QLabel*>("version");
        QVERIFY(version);
        QCOMPARE(version->text(), QString("Harnet Version 1.02"));
    }
};

QTEST_MAIN(AppStartTest)
#include "app_start_test.moc"
