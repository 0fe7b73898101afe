// The string editor as a user drives it: opening forms, the protected "@" name, the file-name
// lookup through a scripted file dialog, OK and Cancel.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "editor_test_support.h"
#include "editors/gui/string_edit_dlg.h"

namespace {
const QString kBrowse = QString::fromUtf16(u"ﾌｧｲﾙ名参照");
}

class StringEditDlgTest : public QObject {
    Q_OBJECT

private slots:
    void opensWithTheMembers_data() {
        QTest::addColumn<bool>("add");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("caption");
        const QString addCaption = QString::fromUtf16(u"文字の追加（REG_SZ）");
        QTest::newRow("add string") << true << "REG_SZ" << addCaption;
        QTest::newRow("add multi-string") << true << "REG_MULTI_SZ" << addCaption;
        QTest::newRow("edit") << false << "REG_EXPAND_SZ" << QString::fromUtf16(u"文字編集");
    }
    void opensWithTheMembers() {
        QFETCH(bool, add);
        CStringEditDlg dialog;
        dialog.m_bAdd = add;
        QFETCH(QString, type);
        dialog.m_strType = type;
        if (!add) {
            dialog.m_strName = "Path";
            dialog.m_strData = "%WINDIR%\\fonts";
        }
        QVERIFY(showActive(dialog));
        QTEST(dialog.windowTitle(), "caption");
        QCOMPARE(dialog.m_staticType->text(), type);
        QCOMPARE(dialog.m_editName->text(), dialog.m_strName);
        QCOMPARE(dialog.m_editData->toPlainText(), dialog.m_strData);
        QVERIFY(dialog.m_editName->hasFocus());
    }

    void onlyTheExactUnnamedNameIsReadOnly_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("@") << "@" << true;
        QTest::newRow("@@") << "@@" << false;
        QTest::newRow(" @") << " @" << false;
        QTest::newRow("a@") << "a@" << false;
    }
    void onlyTheExactUnnamedNameIsReadOnly() {
        QFETCH(QString, name);
        QFETCH(bool, readOnly);
        CStringEditDlg dialog;
        dialog.m_strName = name;
        dialog.m_strData = "old";
        bool shownReadOnly = !readOnly;
        whenShown(dialog, [&] {
            shownReadOnly = dialog.m_editName->isReadOnly();
            QTest::keyClick(dialog.m_editName, Qt::Key_End);
            QTest::keyClicks(dialog.m_editName, "x");
            typeOver(dialog.m_editData, "new");
            tap(dialog.m_btnOk);
        });
        QCOMPARE(dialog.DoModal(), IDOK);
        QCOMPARE(shownReadOnly, readOnly);
        QCOMPARE(dialog.m_strName, readOnly ? name : name + "x");
        QCOMPARE(dialog.m_strData, "new");
    }

    void okNeedsANameButNoData() {
        CStringEditDlg dialog;
        dialog.m_bAdd = true;
        QVERIFY(showActive(dialog));
        QTest::keyClicks(dialog.m_editData, "data");
        tap(dialog.m_btnOk);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.m_editData->toPlainText(), "data");
        QTest::keyClicks(dialog.m_editName, "v");
        typeOver(dialog.m_editData, "");
        tap(dialog.m_btnOk);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_strData, QString());
    }

    void dataComesBackExactlyWhenOnlyOkIsPressed_data() {
        QTest::addColumn<QString>("data");
        QTest::newRow("multi-string") << "one|two||";
        QTest::newRow("line breaks") << "a\r\nb\nc\rd";
        QTest::newRow("separators") << QString::fromUtf16(u"x\u2028y\u2029z\u00A0 \t");
    }
    void dataComesBackExactlyWhenOnlyOkIsPressed() {
        QFETCH(QString, data);
        CStringEditDlg dialog;
        dialog.m_strName = "v";
        dialog.m_strData = data;
        whenShown(dialog, [&] { tap(dialog.m_btnOk); });
        QCOMPARE(dialog.DoModal(), IDOK);
        QCOMPARE(dialog.m_strData, data);
    }

    void typedLinesKeepTheOtherBreaksAndEnterConfirms() {
        CStringEditDlg dialog;
        dialog.m_strName = "v";
        dialog.m_strData = "one\ntwo";
        QVERIFY(showActive(dialog));
        tap(dialog.m_editData);
        QTest::keyClick(dialog.m_editData, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(dialog.m_editData, Qt::Key_Return, Qt::ControlModifier);
        QTest::keyClicks(dialog.m_editData, "three");
        QVERIFY(dialog.isVisible());
        QTest::keyClick(dialog.m_editData, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_strData, "one\ntwo\r\nthree");
    }

    void browseReplacesTheDataAndKeepsTheTypedName() {
        RecordingPrompts prompts;
        prompts.fileAnswers << QString() << "/home/user/Documents/report 1.txt";
        CStringEditDlg dialog;
        dialog.m_pPrompts = &prompts;
        dialog.m_strName = "old";
        dialog.m_strData = "one|two||";
        dialog.m_strType = "REG_MULTI_SZ";
        QVERIFY(showActive(dialog));
        typeOver(dialog.m_editName, "Target");
        typeOver(dialog.m_editData, "typed");
        tap(buttonWithText(dialog, kBrowse));  // cancelled: nothing changes
        QCOMPARE(dialog.m_editName->text(), "Target");
        QCOMPARE(dialog.m_editData->toPlainText(), "typed");
        tap(buttonWithText(dialog, kBrowse));
        QCOMPARE(prompts.fileFilters.size(), 2);
        QVERIFY(prompts.fileFilters[0].contains("(*)"));
        QCOMPARE(dialog.m_editName->text(), "Target");
        QCOMPARE(dialog.m_editData->toPlainText(), "/home/user/Documents/report 1.txt");
        QCOMPARE(dialog.m_staticType->text(), "REG_MULTI_SZ");
        tap(dialog.m_btnOk);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_strName, "Target");
        QCOMPARE(dialog.m_strData, "/home/user/Documents/report 1.txt");
    }

    void cancelThroughThePromptsSeamLeavesTheMembers() {
        CStringEditDlg dialog;
        dialog.m_strName = "v";
        dialog.m_strData = "keep";
        whenShown(dialog, [&] {
            typeOver(dialog.m_editData, "changed");
            tap(dialog.m_btnCancel);
        });
        ViewPrompts prompts;
        QCOMPARE(prompts.DoModal(dialog), IDCANCEL);
        QCOMPARE(dialog.m_strData, "keep");
    }

    void controlsStandAsTheTemplatePlacesThem() {
        CStringEditDlg dialog;
        dialog.m_strType = "REG_EXPAND_SZ";
        QVERIFY(showActive(dialog));
        const QRect data = dialog.m_editData->geometry();
        const QRect browse = buttonWithText(dialog, kBrowse)->geometry();
        QVERIFY(dialog.m_editName->geometry().bottom() < data.top());
        QVERIFY(dialog.m_staticType->geometry().bottom() < data.top());
        QVERIFY(dialog.m_staticType->width() >= dialog.m_staticType->sizeHint().width());
        QVERIFY(data.bottom() < browse.top() && browse.bottom() < dialog.m_btnOk->y());
        QCOMPARE(dialog.m_btnOk->y(), dialog.m_btnCancel->y());
        QVERIFY(dialog.rect().contains(dialog.m_btnCancel->geometry()));
    }
};

QTEST_MAIN(StringEditDlgTest)
#include "string_edit_dlg_test.moc"
