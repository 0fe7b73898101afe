// Every keyboard shortcut of find and navigation, pressed on the real frame: each reaches its
// command through the menu's action.
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

#include "app/main_frame.h"
#include "registry/key_tree_ops.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "view/command_ids.h"
#include "view/find_commands.h"
#include "view/find_dlg.h"
#include "view/navigation_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"

using namespace testing_support;

class FrameShortcutsTest : public QObject {
    Q_OBJECT

private slots:
    void shortcutsReachTheirCommands() {
        FreshRegistry();
        MakeKey(HKEY_CURRENT_USER, u"Alpha\\Needle1");
        MakeKey(HKEY_CURRENT_USER, u"Beta\\Needle2");
        QTemporaryDir dir;
        CTovikDoc doc;
        CMainFrame frame(&doc, nullptr, std::make_unique<ViewSettings>(dir.filePath("view.conf")));
        auto scripted = std::make_unique<ScriptedPrompts>();
        ScriptedPrompts* prompts = scripted.get();
        CTovikView* view = frame.View();
        view->SetPrompts(std::move(scripted));
        frame.resize(360, 640);
        view->OnInitialUpdate();
        frame.show();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        view->m_tree->setFocus();

        prompts->dialogs.push_back([](QDialog& dialog) {
            static_cast<CFindDlg&>(dialog).m_strText = "needle";
            static_cast<CFindDlg&>(dialog).m_bFromTop = true;
            return IDOK;
        });
        QSignalSpy finished(frame.Find(), &FindCommands::searchFinished);
        QTest::keyClick(&frame, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(prompts->dialogCount, 1);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(frame.Navigation()->CurrentPath(), QString("HKEY_CURRENT_USER\\Alpha\\Needle1"));
        QTest::keyClick(&frame, Qt::Key_F3);
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(frame.Navigation()->CurrentPath(), QString("HKEY_CURRENT_USER\\Beta\\Needle2"));
        QTest::keyClick(&frame, Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(finished.size(), 3);
        QCOMPARE(frame.Navigation()->CurrentPath(), QString("HKEY_CURRENT_USER\\Alpha\\Needle1"));

        QTest::keyClick(&frame, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(frame.Navigation()->Favourites(), QStringList({"HKEY_CURRENT_USER\\Alpha\\Needle1"}));

        QTest::keyClick(&frame, Qt::Key_L, Qt::ControlModifier);
        QLineEdit* address = frame.Navigation()->AddressBar();
        QVERIFY(address->hasFocus());
        address->setText("HKCU\\Beta");
        QTest::keyClick(address, Qt::Key_Return);
        QCOMPARE(frame.Navigation()->CurrentPath(), QString("HKEY_CURRENT_USER\\Beta"));

        MakeKey(HKEY_CURRENT_USER, u"Beta\\Fresh");
        QTest::keyClick(&frame, Qt::Key_F5);
        QCOMPARE(frame.Navigation()->CurrentPath(), QString("HKEY_CURRENT_USER\\Beta"));
        QCOMPARE(view->TreeModel().Children(view->SelectedItem()).size(), std::size_t(2));

        view->m_tree->setFocus();
        QTest::keyClick(&frame, Qt::Key_F2);
        QLineEdit* editor = nullptr;
        for (QLineEdit* open : view->m_tree->viewport()->findChildren<QLineEdit*>())
            if (open->isVisible()) editor = open;
        QVERIFY(editor);
        editor->setText("Gamma");
        QTest::keyClick(editor, Qt::Key_Return);
        // The editor commits from a queued call.
        QTRY_COMPARE(frame.Navigation()->CurrentPath(), QString("HKEY_CURRENT_USER\\Gamma"));
        QVERIFY(KeyExists(HKEY_CURRENT_USER, u"Gamma\\Needle2"));

        // 表示 > アドレスバー hides and shows the line.
        QAction* toggle = frame.CommandAction(ID_VIEW_ADDRESS_BAR);
        toggle->trigger();
        QVERIFY(!frame.AddressToolBar()->isVisible());
        toggle->trigger();
        QVERIFY(frame.AddressToolBar()->isVisible());
        QVERIFY(prompts->messages.isEmpty());
    }
};

QTEST_MAIN(FrameShortcutsTest)
#include "frame_shortcuts_test.moc"
