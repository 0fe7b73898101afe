// Rename in place, refresh, the address line, copy path, last key and favourites, with scripted
// prompts and a settings file of the test's own.
#include <QApplication>
#include <QFile>
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "support/tree_helpers.h"
#include "ui/qt_text.h"
#include "view/navigation_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/rename_commands.h"
#include "view/view_commands.h"

using namespace testing_support;

namespace {
QString Q(std::u16string_view text) { return ToQString(text); }
}

class NavigationTest : public QObject {
    Q_OBJECT
    CTovikDoc doc;
    std::unique_ptr<CTovikView> view;
    ScriptedPrompts* prompts = nullptr;
    NavigationCommands* nav = nullptr;
    std::unique_ptr<QTemporaryDir> dir;

    QString settingsFile() const { return dir->filePath("view.conf"); }
    void start() {
        view = startScriptedView(doc, prompts);
        nav = new NavigationCommands(*view, std::make_unique<ViewSettings>(settingsFile()));
    }
    // Opens the in-place editor with F2's command, types text and presses Enter.
    void renameInPlace(QTreeView* control, const QString& text) {
        control->setFocus();   // F2 renames in the control that has the focus
        view->Commands().Rename().OnRename();
        QLineEdit* editor = nullptr;
        for (QLineEdit* open : control->viewport()->findChildren<QLineEdit*>())
            if (open->isVisible()) editor = open;
        QVERIFY(editor);
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);   // the closed editor goes
        QApplication::processEvents();   // the editor commits from a queued call,
        QApplication::processEvents();   // and a value is renamed from one queued after that
    }
    QString current() const { return nav->CurrentPath(); }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        FreshRegistry();
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner", u"kept", REG_DWORD, {5, 0, 0, 0});
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"first", REG_DWORD, {1, 0, 0, 0});
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"second", REG_DWORD, {2, 0, 0, 0});
        MakeKey(HKEY_LOCAL_MACHINE, u"Software\\Taken");
        start();
    }
    void cleanup() {
        view.reset();
        dir.reset();
    }

    void renameKeyInPlaceTakesItsSubtreeAndRefusesWhatCannotBe() {
        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u"software\\sample"));
        renameInPlace(view->KeyTree(), "taken");
        QCOMPARE(prompts->messages, QStringList({Q(RenameCommands::kNameExistsMessage)}));
        renameInPlace(view->KeyTree(), "");
        renameInPlace(view->KeyTree(), "a\\b");
        QCOMPARE(prompts->messages.mid(1), QStringList({Q(RenameCommands::kEmptyNameMessage), Q(RenameCommands::kBackslashMessage)}));
        QVERIFY(KeyExists(HKEY_LOCAL_MACHINE, u"Software\\Sample"));

        renameInPlace(view->KeyTree(), "Renamed");
        QCOMPARE(prompts->messages.size(), 3);
        QVERIFY(!KeyExists(HKEY_LOCAL_MACHINE, u"Software\\Sample"));
        QVERIFY(KeyExists(HKEY_LOCAL_MACHINE, u"Software\\Renamed\\Inner"));
        const auto software = itemAt(view->TreeModel(), {"HKEY_LOCAL_MACHINE", "Software"});
        QCOMPARE(childTexts(view->TreeModel(), software), QStringList({"Renamed", "Taken"}));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Renamed"));
        QCOMPARE(nav->AddressBar()->text(), current());
        QVERIFY(doc.IsModified());

        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u""));
        view->Commands().Rename().OnRename();
        QCOMPARE(prompts->messages.last(), Q(RenameCommands::kRootRenameMessage));
        QVERIFY(!view->KeyTree()->viewport()->findChild<QLineEdit*>() || !view->KeyTree()->viewport()->findChild<QLineEdit*>()->isVisible());
    }

    void renameValueInPlaceKeepsTypeDataAndPlace() {
        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"FIRST"));
        QCOMPARE(view->SelectedValueName(), std::optional<std::u16string>(u"first"));
        view->ValueList()->setFocus();
        renameInPlace(view->ValueList(), "Second");
        QCOMPARE(prompts->messages, QStringList({Q(RenameCommands::kNameExistsMessage)}));
        renameInPlace(view->ValueList(), "@");
        QCOMPARE(prompts->messages.last(), Q(RenameCommands::kEmptyNameMessage));
        renameInPlace(view->ValueList(), "zeta");
        QCOMPARE(prompts->messages.size(), 2);
        QCOMPARE(view->SelectedValueName(), std::optional<std::u16string>(u"zeta"));
        HKEY key = 0;
        QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Sample", 0, 0, &key), ERROR_SUCCESS);
        WCHAR name[16];
        DWORD length = 16, type = 0, data = 0, size = sizeof data;
        QCOMPARE(RegEnumValueW(key, 0, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size), ERROR_SUCCESS);
        RegCloseKey(key);
        QCOMPARE(QString::fromUtf16(name, length), QString("zeta"));   // still first in creation order
        QCOMPARE(type, DWORD(REG_DWORD));
        QCOMPARE(data, DWORD(1));
    }

    void refreshReadsWhatOthersWroteAndKeepsTheSelection() {
        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"second"));
        MakeKey(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Written");
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"third", REG_DWORD, {3, 0, 0, 0});
        view->OnRefresh();
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample"));
        QCOMPARE(view->SelectedValueName(), std::optional<std::u16string>(u"second"));
        QCOMPARE(view->ListModel().RowCount(), 3);
        QVERIFY(itemAt(view->TreeModel(), {"HKEY_LOCAL_MACHINE", "Software", "Sample", "Written"}) != KeyTreeModel::kNoItem);

        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner"));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner");
        view->OnRefresh();
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample"));  // the nearest key above
    }

    void addressLineGoesToTypedPathsAndSaysWhereAPathStops() {
        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u"Software"));
        QCOMPARE(nav->AddressBar()->text(), QString("HKEY_LOCAL_MACHINE\\Software"));
        nav->AddressBar()->setText("  hklm\\SOFTWARE\\sample\\inner\\ ");
        QTest::keyClick(nav->AddressBar(), Qt::Key_Return);
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample\\Inner"));
        QCOMPARE(nav->AddressBar()->text(), current());
        QVERIFY(prompts->messages.isEmpty());

        QVERIFY(!nav->GoToPath("HKLM\\Software\\Sample\\Nope\\Deeper"));
        QCOMPARE(prompts->messages.size(), 1);
        QVERIFY(prompts->messages[0].contains("Nope"));
        QVERIFY(prompts->messages[0].contains("HKEY_LOCAL_MACHINE\\Software\\Sample"));
        QVERIFY(!nav->GoToPath("HKEY_NOWHERE\\x"));
        QCOMPARE(prompts->messages.last(), Q(NavigationCommands::kBadPathMessage));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample\\Inner"));  // a failed go moves nothing

        // What the command line reads is read here too: one parser.
        QVERIFY(nav->GoToPath("Computer\\HKEY_LOCAL_MACHINE\\Software\\Sample"));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample"));
        QVERIFY(nav->GoToPath(" HKLM:/software/sample/inner "));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample\\Inner"));

        // A key written after the tree was read is found too.
        MakeKey(HKEY_CURRENT_USER, u"Later\\Still");
        QVERIFY(nav->GoToPath("HKCU\\later\\still"));
        QCOMPARE(current(), QString("HKEY_CURRENT_USER\\Later\\Still"));

        nav->OnCopyKeyPath();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("HKEY_CURRENT_USER\\Later\\Still"));
    }

    void lastKeyAndFavouritesAreKeptBetweenRuns() {
        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample"));
        nav->OnAddFavourite();
        nav->OnAddFavourite();   // once only
        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u"Software\\Taken"));
        nav->OnAddFavourite();
        QVERIFY(view->GoToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner"));
        QCOMPARE(nav->Favourites(), QStringList({"HKEY_LOCAL_MACHINE\\Software\\Sample", "HKEY_LOCAL_MACHINE\\Software\\Taken"}));
        view.reset();   // ends the run, and the navigation with it

        start();
        nav->RestoreLastKey();
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample\\Inner"));
        QCOMPARE(nav->Favourites().size(), 2);
        QVERIFY(nav->GoToFavourite(1));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Taken"));
        nav->RemoveFavourite(0);
        QCOMPARE(nav->Favourites(), QStringList({"HKEY_LOCAL_MACHINE\\Software\\Taken"}));
        QVERIFY(!nav->GoToFavourite(5));

        // A remembered key that no longer exists is ignored.
        DeleteKeyTree(HKEY_LOCAL_MACHINE, u"Software\\Taken");
        view.reset();
        start();
        nav->RestoreLastKey();
        QCOMPARE(current(), QString());
        QVERIFY(prompts->messages.isEmpty());
    }

    // A FIFO where the settings file belongs is left alone: the window starts, and remembers for
    // this run only.
    void aFifoAsTheSettingsFileDoesNotBlockTheStart() {
        const QByteArray fifo = QFile::encodeName(dir->filePath("fifo.conf"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(10);
            ViewSettings settings(QFile::decodeName(fifo));
            const bool empty = settings.LastKey().isEmpty() && settings.Favourites().isEmpty();
            settings.SetLastKey(QStringLiteral("HKEY_CURRENT_USER\\Software"));
            settings.Sync();
            ::_exit(empty && settings.LastKey() == QStringLiteral("HKEY_CURRENT_USER\\Software") ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY2(WIFEXITED(status), "reading the settings blocked");
        QCOMPARE(WEXITSTATUS(status), 0);
        struct stat st {};
        QCOMPARE(::stat(fifo.constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }
};

QTEST_MAIN(NavigationTest)
#include "navigation_test.moc"
