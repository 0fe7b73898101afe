// Every keyboard shortcut of find and navigation, pressed on the real frame: each reaches its
// command through the menu's action.
#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>

#include "app/main_frame.h"
#include "history/recording_backend.h"
#include "registry/key_tree_ops.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "view/command_ids.h"
#include "view/find_commands.h"
#include "view/find_dlg.h"
#include "view/find_results_dlg.h"
#include "view/history_commands.h"
#include "view/navigation_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

using namespace testing_support;

namespace {

// The main frame with scripted prompts and settings of its own, shown and active.
struct ShownFrame {
    QTemporaryDir dir;
    CTovikDoc doc;
    CMainFrame frame{&doc, nullptr, std::make_unique<ViewSettings>(dir.filePath("view.conf"))};
    CTovikView* view = frame.view();
    ScriptedPrompts* prompts = nullptr;

    bool show() {
        auto scripted = std::make_unique<ScriptedPrompts>();
        prompts = scripted.get();
        view->setPrompts(std::move(scripted));
        frame.resize(360, 640);
        view->OnInitialUpdate();
        frame.show();
        frame.activateWindow();
        return QTest::qWaitForWindowActive(&frame);
    }
};

}  // namespace

class FrameShortcutsTest : public QObject {
    Q_OBJECT

private slots:
    void shortcutsReachTheirCommands() {
        FreshRegistry();
        MakeKey(HKEY_CURRENT_USER, u"Alpha\\Needle1");
        MakeKey(HKEY_CURRENT_USER, u"Beta\\Needle2");
        ShownFrame shown;
        QVERIFY(shown.show());
        CMainFrame& frame = shown.frame;
        CTovikView* view = shown.view;
        ScriptedPrompts* prompts = shown.prompts;
        view->keyTree()->setFocus();

        prompts->dialogs.push_back([](QDialog& dialog) {
            static_cast<CFindDlg&>(dialog).m_strText = "needle";
            static_cast<CFindDlg&>(dialog).m_bFromTop = true;
            return IDOK;
        });
        QSignalSpy finished(frame.find(), &FindCommands::searchFinished);
        QTest::keyClick(&frame, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(prompts->dialogCount, 1);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Alpha\\Needle1"));
        QTest::keyClick(&frame, Qt::Key_F3);
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Beta\\Needle2"));
        QTest::keyClick(&frame, Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(finished.size(), 3);
        QCOMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Alpha\\Needle1"));

        QTest::keyClick(&frame, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(frame.navigation()->favourites(), QStringList({"HKEY_CURRENT_USER\\Alpha\\Needle1"}));

        QTest::keyClick(&frame, Qt::Key_L, Qt::ControlModifier);
        QLineEdit* address = frame.navigation()->addressBar();
        QVERIFY(address->hasFocus());
        address->setText("HKCU\\Beta");
        QTest::keyClick(address, Qt::Key_Return);
        QCOMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Beta"));

        MakeKey(HKEY_CURRENT_USER, u"Beta\\Fresh");
        QTest::keyClick(&frame, Qt::Key_F5);
        QCOMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Beta"));
        QCOMPARE(view->treeModel().children(view->selectedItem()).size(), std::size_t(2));

        view->keyTree()->setFocus();
        QTest::keyClick(&frame, Qt::Key_F2);
        QLineEdit* editor = nullptr;
        for (QLineEdit* open : view->keyTree()->viewport()->findChildren<QLineEdit*>())
            if (open->isVisible()) editor = open;
        QVERIFY(editor);
        editor->setText("Gamma");
        QTest::keyClick(editor, Qt::Key_Return);
        // The editor commits from a queued call.
        QTRY_COMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Gamma"));
        QVERIFY(keyExists(HKEY_CURRENT_USER, u"Gamma\\Needle2"));

        // 表示 > アドレスバー hides and shows the line.
        QAction* toggle = frame.commandAction(ID_VIEW_ADDRESS_BAR);
        toggle->trigger();
        QVERIFY(!frame.addressToolBar()->isVisible());
        toggle->trigger();
        QVERIFY(frame.addressToolBar()->isVisible());
        QVERIFY(prompts->messages.isEmpty());
    }

    // After すべて検索 the results window has the focus: F3 and Shift+F3 go on from the hit last
    // opened there, and Ctrl+F opens the find dialog again.
    void findShortcutsWorkInTheResultsWindow() {
        FreshRegistry();
        MakeKey(HKEY_CURRENT_USER, u"Alpha\\Needle1");
        MakeKey(HKEY_CURRENT_USER, u"Beta\\Needle2");
        MakeKey(HKEY_CURRENT_USER, u"Gamma\\Needle3");
        ShownFrame shown;
        QVERIFY(shown.show());
        CMainFrame& frame = shown.frame;
        ScriptedPrompts* prompts = shown.prompts;

        const auto findAll = [](QDialog& dialog) {
            auto& find = static_cast<CFindDlg&>(dialog);
            find.m_strText = "needle";
            find.m_bKeyNames = true;
            find.m_bValueNames = find.m_bData = false;
            find.m_bFindAll = true;
            return IDOK;
        };
        prompts->dialogs.push_back(findAll);
        QSignalSpy finished(frame.find(), &FindCommands::searchFinished);
        QTest::keyClick(&frame, Qt::Key_F, Qt::ControlModifier);
        QTRY_COMPARE(finished.size(), 1);
        CFindResultsDlg* results = frame.find()->resultsDialog();
        QVERIFY(results);
        QTRY_VERIFY(results->isVisible());
        results->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(results));
        auto* list = results->findChild<QTreeWidget*>();
        QVERIFY(list);
        QCOMPARE(list->topLevelItemCount(), 3);
        list->setFocus();
        list->setCurrentItem(list->topLevelItem(1));
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Beta\\Needle2"));

        QTest::keyClick(list, Qt::Key_F3);
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Gamma\\Needle3"));
        QTest::keyClick(list, Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(finished.size(), 3);
        QCOMPARE(frame.navigation()->currentPath(), QString("HKEY_CURRENT_USER\\Beta\\Needle2"));
        prompts->dialogs.push_back(findAll);
        QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(prompts->dialogCount, 2);
        QTRY_COMPARE(finished.size(), 4);
        QVERIFY(prompts->messages.isEmpty());
    }

    // F2 in the list renames the selected value in place; afterwards the list keeps the focus
    // with the renamed value selected, so that Enter, Delete or F2 act on it next.
    // A change deep in the tree names a long path: the undo item is shortened to stay on the
    // portrait screen, and its tip holds the whole name.
    void theUndoItemStaysWithinTheWindowAndItsTipTellsAll() {
        FreshRegistry();
        ShownFrame shown;
        QVERIFY(shown.show());
        {
            // Named as tovik-reg names its entries: the command line.
            tovik::history::ChangeScope scope(u"set HKEY_CURRENT_USER\\Software\\A Vendor With A Long Name\\A "
                                              u"Product With A Long Name\\Settings \"Window placement\" DW 1");
            SetValue(HKEY_CURRENT_USER, u"Software\\A Vendor With A Long Name\\A Product With A Long Name\\Settings",
                     u"Window placement", REG_DWORD, {1, 0, 0, 0});
        }
        shown.frame.updateCommandUi();
        const QAction* undo = shown.frame.commandAction(ID_UNDO);
        QVERIFY(undo);
        QCOMPARE(undo->toolTip(), shown.view->commands().history().undoText());
        QVERIFY(undo->toolTip().contains("Window placement"));
        QVERIFY(QFontMetrics(shown.frame.menuBar()->font()).horizontalAdvance(undo->text()) <
                shown.frame.width() * 3 / 4);
    }

    void renamingAValueKeepsItSelectedInTheList() {
        FreshRegistry();
        SetValue(HKEY_CURRENT_USER, u"Colours", u"first", REG_SZ, stringToBytes(u"red"));
        SetValue(HKEY_CURRENT_USER, u"Colours", u"second", REG_SZ, stringToBytes(u"blue"));
        ShownFrame shown;
        QVERIFY(shown.show());
        CMainFrame& frame = shown.frame;
        CTovikView* view = shown.view;
        ScriptedPrompts* prompts = shown.prompts;
        QCoreApplication::processEvents();  // the list's first fill, queued by the start-up
        QVERIFY(view->goToKey(HKEY_CURRENT_USER, u"Colours", std::u16string(u"second")));
        view->valueList()->setFocus();
        QTRY_VERIFY(view->valueList()->hasFocus());

        QTest::keyClick(&frame, Qt::Key_F2);
        QLineEdit* editor = nullptr;
        for (QLineEdit* open : view->valueList()->viewport()->findChildren<QLineEdit*>())
            if (open->isVisible()) editor = open;
        QVERIFY(editor);
        QTRY_VERIFY(editor->hasFocus());
        editor->selectAll();
        QTest::keyClicks(editor, "third");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(view->selectedValueName(), std::optional<std::u16string>(u"third"));
        QVERIFY(keyExists(HKEY_CURRENT_USER, u"Colours"));
        QTRY_VERIFY(view->valueList()->hasFocus());
        // Queued refreshes have run by now and kept the selection.
        QTest::qWait(50);
        QCOMPARE(view->selectedValueName(), std::optional<std::u16string>(u"third"));
        QVERIFY(view->valueList()->hasFocus());
        QVERIFY(prompts->messages.isEmpty());
    }

    // The status line names the selected value's type, and the 編集 menu's バイナリデータの変更
    // is there for it exactly while a value is selected.
    void statusLineNamesTheSelectedValuesType() {
        FreshRegistry();
        SetValue(HKEY_CURRENT_USER, u"K", u"q", REG_QWORD, Bytes(8, 1));
        ShownFrame shown;
        QVERIFY(shown.show());
        CMainFrame& frame = shown.frame;
        CTovikView* view = shown.view;
        QVERIFY(view->goToKey(HKEY_CURRENT_USER, u"K"));
        frame.updateCommandUi();
        QVERIFY(!frame.commandAction(ID_EDIT_BINARY_DATA)->isEnabled());
        QCOMPARE(frame.valueTypeText(), QString());
        QVERIFY(view->selectValueRow(u"q"));
        QCOMPARE(frame.valueTypeText(), QString("REG_QWORD (11)"));
        QVERIFY(frame.commandAction(ID_EDIT_BINARY_DATA)->isEnabled());
        view->FillValueList();
        QCOMPARE(frame.valueTypeText(), QString());
        QVERIFY(!frame.commandAction(ID_EDIT_BINARY_DATA)->isEnabled());
    }

    // The status line says when the current key was last written, and follows a write to it.
    void statusLineSaysWhenTheCurrentKeyWasWritten() {
        FreshRegistry();
        SetValue(HKEY_CURRENT_USER, u"K", u"q", REG_QWORD, Bytes(8, 1));
        ShownFrame shown;
        QVERIFY(shown.show());
        CMainFrame& frame = shown.frame;
        QVERIFY(shown.view->goToKey(HKEY_CURRENT_USER, u"K"));
        const QString before = frame.keyWriteTimeText();
        QVERIFY2(before.startsWith(QString::fromUtf16(u"最終更新 ")), qPrintable(before));
        const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
        QVERIFY2(before.contains(today), qPrintable(before + " / " + today));
    }
};

QTEST_MAIN(FrameShortcutsTest)
#include "frame_shortcuts_test.moc"
