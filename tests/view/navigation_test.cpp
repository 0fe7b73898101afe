// Rename in place, refresh, the address line, copy path, last key and favourites, with scripted
// prompts and a settings file of the test's own.
#include <QApplication>
#include <QClipboard>
#include <QFile>
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
#include "view/rename_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

using namespace testing_support;

namespace {
QString q(std::u16string_view text) {
    return toQString(text);
}
}  // namespace

class NavigationTest : public QObject {
    Q_OBJECT
    CTovikDoc doc_;
    std::unique_ptr<CTovikView> view_;
    ScriptedPrompts* prompts_ = nullptr;
    NavigationCommands* nav_ = nullptr;
    std::unique_ptr<QTemporaryDir> dir_;

    QString settingsFile() const { return dir_->filePath("view.conf"); }
    void start() {
        view_ = startScriptedView(doc_, prompts_);
        nav_ = new NavigationCommands(*view_, std::make_unique<ViewSettings>(settingsFile()));
    }
    // Opens the in-place editor with F2's command, types text and presses Enter.
    void renameInPlace(QTreeView* control, const QString& text) {
        control->setFocus();  // F2 renames in the control that has the focus
        view_->commands().rename().OnRename();
        QLineEdit* editor = nullptr;
        for (QLineEdit* open : control->viewport()->findChildren<QLineEdit*>())
            if (open->isVisible()) editor = open;
        QVERIFY(editor);
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the closed editor goes
        QApplication::processEvents();                                        // the editor commits from a queued call,
        QApplication::processEvents();  // and a value is renamed from one queued after that
    }
    QString current() const { return nav_->currentPath(); }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        FreshRegistry();
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner", u"kept", REG_DWORD, {5, 0, 0, 0});
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"first", REG_DWORD, {1, 0, 0, 0});
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"second", REG_DWORD, {2, 0, 0, 0});
        MakeKey(HKEY_LOCAL_MACHINE, u"Software\\Taken");
        start();
    }
    void cleanup() {
        view_.reset();
        dir_.reset();
    }

    void renameKeyInPlaceTakesItsSubtreeAndRefusesWhatCannotBe() {
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"software\\sample"));
        renameInPlace(view_->keyTree(), "taken");
        QCOMPARE(prompts_->messages, QStringList({q(RenameCommands::kNameExistsMessage)}));
        renameInPlace(view_->keyTree(), "");
        renameInPlace(view_->keyTree(), "a\\b");
        QCOMPARE(prompts_->messages.mid(1),
                 QStringList({q(RenameCommands::kEmptyNameMessage), q(RenameCommands::kBackslashMessage)}));
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Sample"));

        renameInPlace(view_->keyTree(), "Renamed");
        QCOMPARE(prompts_->messages.size(), 3);
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"Software\\Sample"));
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Renamed\\Inner"));
        const auto software = itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "Software"});
        QCOMPARE(childTexts(view_->treeModel(), software), QStringList({"Renamed", "Taken"}));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Renamed"));
        QCOMPARE(nav_->addressBar()->text(), current());
        QVERIFY(doc_.isModified());

        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u""));
        view_->commands().rename().OnRename();
        QCOMPARE(prompts_->messages.last(), q(RenameCommands::kRootRenameMessage));
        QVERIFY(!view_->keyTree()->viewport()->findChild<QLineEdit*>() ||
                !view_->keyTree()->viewport()->findChild<QLineEdit*>()->isVisible());
    }

    void renameValueInPlaceKeepsTypeDataAndPlace() {
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"FIRST"));
        QCOMPARE(view_->selectedValueName(), std::optional<std::u16string>(u"first"));
        view_->valueList()->setFocus();
        renameInPlace(view_->valueList(), "Second");
        QCOMPARE(prompts_->messages, QStringList({q(RenameCommands::kNameExistsMessage)}));
        renameInPlace(view_->valueList(), "@");
        QCOMPARE(prompts_->messages.last(), q(RenameCommands::kEmptyNameMessage));
        renameInPlace(view_->valueList(), "zeta");
        QCOMPARE(prompts_->messages.size(), 2);
        QCOMPARE(view_->selectedValueName(), std::optional<std::u16string>(u"zeta"));
        HKEY key = 0;
        QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Sample", 0, 0, &key), ERROR_SUCCESS);
        WCHAR name[16];
        DWORD length = 16, type = 0, data = 0, size = sizeof data;
        QCOMPARE(RegEnumValueW(key, 0, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size),
                 ERROR_SUCCESS);
        RegCloseKey(key);
        QCOMPARE(QString::fromUtf16(name, length), QString("zeta"));  // still first in creation order
        QCOMPARE(type, DWORD(REG_DWORD));
        QCOMPARE(data, DWORD(1));
    }

    void refreshReadsWhatOthersWroteAndKeepsTheSelection() {
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"second"));
        MakeKey(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Written");
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"third", REG_DWORD, {3, 0, 0, 0});
        view_->OnRefresh();
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample"));
        QCOMPARE(view_->selectedValueName(), std::optional<std::u16string>(u"second"));
        QCOMPARE(view_->listModel().valueCount(), 3);
        QVERIFY(itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "Software", "Sample", "Written"}) !=
                KeyTreeModel::kNoItem);

        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner"));
        deleteKeyTree(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner");
        view_->OnRefresh();
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample"));  // the nearest key above
    }

    void addressLineGoesToTypedPathsAndSaysWhereAPathStops() {
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Software"));
        QCOMPARE(nav_->addressBar()->text(), QString("HKEY_LOCAL_MACHINE\\Software"));
        nav_->addressBar()->setText("  hklm\\SOFTWARE\\sample\\inner\\ ");
        QTest::keyClick(nav_->addressBar(), Qt::Key_Return);
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample\\Inner"));
        QCOMPARE(nav_->addressBar()->text(), current());
        QVERIFY(prompts_->messages.isEmpty());

        QVERIFY(!nav_->goToPath("HKLM\\Software\\Sample\\Nope\\Deeper"));
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(prompts_->messages[0].contains("Nope"));
        QVERIFY(prompts_->messages[0].contains("HKEY_LOCAL_MACHINE\\Software\\Sample"));
        QVERIFY(!nav_->goToPath("HKEY_NOWHERE\\x"));
        QCOMPARE(prompts_->messages.last(), q(NavigationCommands::kBadPathMessage));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample\\Inner"));  // a failed go moves nothing

        // What the command line reads is read here too: one parser.
        QVERIFY(nav_->goToPath("Computer\\HKEY_LOCAL_MACHINE\\Software\\Sample"));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample"));
        QVERIFY(nav_->goToPath(" HKLM:/software/sample/inner "));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample\\Inner"));

        // A key written after the tree was read is found too.
        MakeKey(HKEY_CURRENT_USER, u"Later\\Still");
        QVERIFY(nav_->goToPath("HKCU\\later\\still"));
        QCOMPARE(current(), QString("HKEY_CURRENT_USER\\Later\\Still"));

        nav_->OnCopyKeyPath();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("HKEY_CURRENT_USER\\Later\\Still"));
    }

    void lastKeyAndFavouritesAreKeptBetweenRuns() {
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample"));
        nav_->OnAddFavourite();
        nav_->OnAddFavourite();  // once only
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Software\\Taken"));
        nav_->OnAddFavourite();
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Inner"));
        QCOMPARE(nav_->favourites(),
                 QStringList({"HKEY_LOCAL_MACHINE\\Software\\Sample", "HKEY_LOCAL_MACHINE\\Software\\Taken"}));
        view_.reset();  // ends the run, and the navigation with it

        start();
        nav_->restoreLastKey();
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Sample\\Inner"));
        QCOMPARE(nav_->favourites().size(), 2);
        QVERIFY(nav_->goToFavourite(1));
        QCOMPARE(current(), QString("HKEY_LOCAL_MACHINE\\Software\\Taken"));
        nav_->removeFavourite(0);
        QCOMPARE(nav_->favourites(), QStringList({"HKEY_LOCAL_MACHINE\\Software\\Taken"}));
        QVERIFY(!nav_->goToFavourite(5));

        // A remembered key that no longer exists is ignored.
        deleteKeyTree(HKEY_LOCAL_MACHINE, u"Software\\Taken");
        view_.reset();
        start();
        nav_->restoreLastKey();
        QCOMPARE(current(), QString());
        QVERIFY(prompts_->messages.isEmpty());
    }

    // A FIFO where the settings file belongs is left alone: the window starts, and remembers for
    // this run only.
    void aFifoAsTheSettingsFileDoesNotBlockTheStart() {
        const QByteArray fifo = QFile::encodeName(dir_->filePath("fifo.conf"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(10);
            ViewSettings settings(QFile::decodeName(fifo));
            const bool empty = settings.lastKey().isEmpty() && settings.favourites().isEmpty();
            settings.setLastKey(QStringLiteral("HKEY_CURRENT_USER\\Software"));
            settings.sync();
            ::_exit(empty && settings.lastKey() == QStringLiteral("HKEY_CURRENT_USER\\Software") ? 0 : 1);
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
