// The number editor as a user drives it: keypad taps, typing, focus changes, OK and Cancel.
#include <QLabel>
#include <QLineEdit>
#include <climits>

#include "editor_test_support.h"
#include "editors/gui/number_edit_dlg.h"
#include "ui/qt_text.h"

class NumberEditDlgTest : public QObject {
    Q_OBJECT

private slots:
    void opensWithTheMembers_data() {
        QTest::addColumn<bool>("add");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("decimal");
        QTest::addColumn<QString>("hex");
        QTest::newRow("edit -1") << false << -1 << QString::fromUtf16(u"数値編集") << "-1"
                                 << "ffffffff";
        QTest::newRow("edit min") << false << INT_MIN << QString::fromUtf16(u"数値編集") << "-2147483648"
                                  << "80000000";
        QTest::newRow("add") << true << 0 << QString::fromUtf16(u"数値の追加（DWORD)") << "0"
                             << "00000000";
    }
    void opensWithTheMembers() {
        QFETCH(bool, add);
        QFETCH(int, value);
        CNumberEditDlg dialog;
        dialog.m_bAdd = add;
        dialog.m_strName = add ? QString() : "@";
        dialog.m_nValue = value;
        QVERIFY(showActive(dialog));
        QTEST(dialog.windowTitle(), "caption");
        QTEST(dialog.m_editDec->text(), "decimal");
        QTEST(dialog.m_editHex->text(), "hex");
        QCOMPARE(dialog.m_editName->text(), dialog.m_strName);
        QVERIFY(!dialog.m_editName->isReadOnly());
        QCOMPARE(dialog.m_staticMsg->text(), QString());
        QVERIFY(dialog.m_editName->hasFocus());
        QCOMPARE(dialog.m_pKeypadTarget, dialog.m_editDec);
    }

    void keypadTypesIntoTheEditThatLastHadTheFocus() {
        CNumberEditDlg dialog;
        dialog.m_nValue = 255;
        QVERIFY(showActive(dialog));
        tap(buttonWithText(dialog, "5"));  // the name edit has the focus
        QCOMPARE(dialog.m_editDec->text(), "2555");
        QCOMPARE(dialog.m_editHex->text(), "000009fb");
        QVERIFY(dialog.m_editDec->hasFocus());
        tap(buttonWithText(dialog, "BS"));

        tap(dialog.m_editHex);
        QTest::keyClick(dialog.m_editHex, Qt::Key_End);
        tap(buttonWithText(dialog, "1"));
        QCOMPARE(dialog.m_editHex->text(), "000000ff1");
        QCOMPARE(dialog.m_staticMsg->text(), toQString(kHexTooLongMessage));
        QCOMPARE(dialog.m_editDec->text(), "255");
        tap(buttonWithText(dialog, "BS"));
        QCOMPARE(dialog.m_staticMsg->text(), QString());
        QCOMPARE(dialog.m_editDec->text(), "255");
        tap(dialog.m_editName);
        QCOMPARE(dialog.m_pKeypadTarget, dialog.m_editHex);
        dialog.m_editHex->setSelection(0, 6);
        tap(buttonWithText(dialog, "000"));
        QCOMPARE(dialog.m_editHex->text(), "000ff");
        QCOMPARE(dialog.m_editDec->text(), "255");
        QVERIFY(dialog.m_editHex->hasFocus());
        QCOMPARE(dialog.m_editName->text(), QString());
    }

    void okNeedsAnIntegerThenANameAndHandsOverTheDecimalReading() {
        RecordingPrompts prompts;
        CNumberEditDlg dialog;
        dialog.m_pPrompts = &prompts;
        dialog.m_nValue = 12;
        QVERIFY(showActive(dialog));
        tap(buttonWithText(dialog, "A"));
        tap(buttonWithText(dialog, "1"));
        QCOMPARE(dialog.m_editHex->text(), "0000000c");
        tap(dialog.m_btnOk);
        QVERIFY(dialog.isVisible());
        QCOMPARE(prompts.messages, QStringList{toQString(kNotAnIntegerMessage)});
        QVERIFY(dialog.m_editDec->hasFocus());
        QCOMPARE(dialog.m_editDec->selectedText(), "12A1");

        typeOver(dialog.m_editDec, "9999999999");
        QCOMPARE(dialog.m_editHex->text(), "7fffffff");
        tap(dialog.m_btnOk);  // no name: refused without a word
        QVERIFY(dialog.isVisible());
        QCOMPARE(prompts.messages.size(), 1);
        typeOver(dialog.m_editName, "a");
        tap(dialog.m_btnOk);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_strName, "a");
        QCOMPARE(dialog.m_nValue, INT_MAX);
    }

    void doModalAndThePromptsSeamRunTheDialog() {
        CNumberEditDlg dialog;
        dialog.m_strName = "count";
        dialog.m_nValue = 41;
        whenShown(dialog, [&] {
            tap(buttonWithText(dialog, "BS"));
            tap(buttonWithText(dialog, "2"));
            QTest::keyClick(dialog.m_editDec, Qt::Key_Return);
        });
        ViewPrompts prompts;
        QCOMPARE(prompts.DoModal(dialog), IDOK);
        QCOMPARE(dialog.m_nValue, 42);

        CNumberEditDlg cancelled;
        cancelled.m_strName = "v";
        cancelled.m_nValue = 3;
        whenShown(cancelled, [&] {
            typeOver(cancelled.m_editName, "w");
            tap(buttonWithText(cancelled, "9"));
            tap(cancelled.m_btnCancel);
        });
        QCOMPARE(cancelled.DoModal(), IDCANCEL);
        QCOMPARE(cancelled.m_nValue, 3);
        QCOMPARE(cancelled.m_strName, "v");
    }

    void keypadKeysAreTappableAndTakeNoFocus() {
        CNumberEditDlg dialog;
        QVERIFY(showActive(dialog));
        for (const QString text :
             {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E", "F", "00", "000", "BS"}) {
            QPushButton* key = buttonWithText(dialog, text);
            QVERIFY2(key && key->focusPolicy() == Qt::NoFocus, qPrintable(text));
            QVERIFY2(key->width() >= 28 && key->height() >= 28, qPrintable(text));
            QVERIFY(key->y() > dialog.m_editHex->geometry().bottom());
            QVERIFY(key->geometry().bottom() < dialog.m_staticMsg->y());
        }
        QVERIFY(dialog.m_staticMsg->geometry().bottom() < dialog.m_btnOk->y());
        QVERIFY(dialog.rect().contains(dialog.m_btnCancel->geometry()));
    }
};

QTEST_MAIN(NumberEditDlgTest)
#include "number_edit_dlg_test.moc"
