// The binary editor as a user drives it: the type list, the keypad in insert and overwrite mode,
// OK and Cancel.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "editor_test_support.h"
#include "editors/gui/binary_edit_dlg.h"

namespace {

void selectData(QPlainTextEdit* edit, int start, int end) {
    QTextCursor cursor = edit->textCursor();
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    edit->setTextCursor(cursor);
}

const QString kSpace = QString::fromUtf16(u"空白(区切り)");

}  // namespace

class BinaryEditDlgTest : public QObject {
    Q_OBJECT

    static void setUpEditing(CBinaryEditDlg& dialog) {
        dialog.m_strName = "Data";
        dialog.m_strData = "0A FF ";
        dialog.m_dwType = REG_BINARY;
    }

private slots:
    void editingShowsTheTypeDisabledAndHandsTheTextBack() {
        CBinaryEditDlg dialog;
        setUpEditing(dialog);
        QVERIFY(showActive(dialog));
        QCOMPARE(dialog.windowTitle(), QString::fromUtf16(u"バイナリ編集"));
        QCOMPARE(dialog.m_editData->toPlainText(), "0A FF ");
        QVERIFY(!dialog.m_comboType->isEnabled());
        QCOMPARE(dialog.m_comboType->currentText(), "REG_BINARY");
        QVERIFY(!dialog.m_btnOver->isChecked());
        QVERIFY(dialog.m_editName->hasFocus());
        tap(dialog.m_btnOk);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_strData, "0A FF ");
        QCOMPARE(dialog.m_dwType, REG_BINARY);
    }

    void addingOffersTheSortedTypesAndNeedsANameAndAType() {
        CBinaryEditDlg dialog;
        dialog.m_bAdd = true;
        QVERIFY(showActive(dialog));
        QCOMPARE(dialog.windowTitle(), QString::fromUtf16(u"その他の値"));
        QVERIFY(dialog.m_comboType->isEnabled());
        QCOMPARE(dialog.m_comboType->currentIndex(), -1);
        QStringList names;
        QList<uint> types;
        for (int i = 0; i < dialog.m_comboType->count(); ++i) {
            names << dialog.m_comboType->itemText(i);
            types << dialog.m_comboType->itemData(i).toUInt();
        }
        QCOMPARE(names, QStringList({"REG_BINARY", "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ", "REG_NONE",
                                     "REG_RESOURCE_LIST"}));
        QCOMPARE(types, QList<uint>({3, 5, 6, 7, 0, 8}));

        tap(dialog.m_btnOk);
        QVERIFY(dialog.isVisible());
        QTest::keyClicks(dialog.m_editName, "Blob");
        tap(dialog.m_btnOk);
        QVERIFY(dialog.isVisible());
        dialog.m_comboType->setCurrentIndex(dialog.m_comboType->findText("REG_MULTI_SZ"));
        for (const QString& key : QStringList{"4", "1", kSpace}) tap(buttonWithText(dialog, key));
        tap(dialog.m_btnOk);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_strName, "Blob");
        QCOMPARE(dialog.m_strData, "41 ");
        QCOMPARE(dialog.m_dwType, REG_MULTI_SZ);
    }

    void keypadTypesIntoTheDataInInsertAndOverwriteMode() {
        CBinaryEditDlg dialog;
        setUpEditing(dialog);
        QVERIFY(showActive(dialog));
        selectData(dialog.m_editData, 2, 2);
        // The name edit has the focus; the keys still type into the data edit and focus it.
        tap(buttonWithText(dialog, "1"));
        tap(buttonWithText(dialog, "2"));
        QCOMPARE(dialog.m_editData->toPlainText(), "0A12 FF ");
        QVERIFY(dialog.m_editData->hasFocus());
        QCOMPARE(dialog.m_editName->text(), "Data");

        selectData(dialog.m_editData, 0, 0);
        tap(dialog.m_btnOver);
        QVERIFY(dialog.m_btnOver->isChecked());
        QVERIFY(dialog.m_editData->hasFocus());
        QCOMPARE(dialog.m_editData->textCursor().position(), 0);
        for (const QString& key : QStringList{"1", "B", kSpace}) tap(buttonWithText(dialog, key));
        QCOMPARE(dialog.m_editData->toPlainText(), "1B 2 FF ");
        QCOMPARE(dialog.m_editData->textCursor().position(), 3);
        tap(buttonWithText(dialog, "BS"));  // before the caret, in either mode
        QCOMPARE(dialog.m_editData->toPlainText(), "1B2 FF ");
        selectData(dialog.m_editData, 0, 0);
        tap(buttonWithText(dialog, "BS"));
        QCOMPARE(dialog.m_editData->toPlainText(), "1B2 FF ");
        QVERIFY(dialog.m_editData->hasFocus());
    }

    void everyOpeningStartsInInsertModeAndCancelLeavesTheMembers() {
        CBinaryEditDlg dialog;
        setUpEditing(dialog);
        whenShown(dialog, [&] {
            tap(dialog.m_btnOver);
            tap(buttonWithText(dialog, "7"));
            QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        QCOMPARE(dialog.DoModal(), IDCANCEL);
        QCOMPARE(dialog.m_strData, "0A FF ");
        bool overChecked = true;
        QString data;
        whenShown(dialog, [&] {
            overChecked = dialog.m_btnOver->isChecked();
            data = dialog.m_editData->toPlainText();
            tap(dialog.m_btnCancel);
        });
        QCOMPARE(dialog.DoModal(), IDCANCEL);
        QVERIFY(!overChecked);
        QCOMPARE(data, "0A FF ");
    }

    void enterConfirmsAndUntouchedLineBreaksComeBackExactly() {
        CBinaryEditDlg dialog;
        dialog.m_strName = "x";
        dialog.m_strData = "0A\r\n0B\n0C";
        dialog.m_dwType = REG_NONE;
        whenShown(dialog, [&] { QTest::keyClick(dialog.m_editData, Qt::Key_Return); });
        ViewPrompts prompts;
        QCOMPARE(prompts.DoModal(dialog), IDOK);
        QCOMPARE(dialog.m_strData, "0A\r\n0B\n0C");
    }

    void keypadStandsInTwoRowsOfEightAboveOverSpaceAndBackspace() {
        CBinaryEditDlg dialog;
        QVERIFY(showActive(dialog));
        const QString digits = "0123456789ABCDEF";
        for (int i = 0; i < 16; ++i) {
            QPushButton* key = buttonWithText(dialog, digits.mid(i, 1));
            QVERIFY(key && key->focusPolicy() == Qt::NoFocus);
            QVERIFY(key->width() >= 28 && key->height() >= 28);
            QCOMPARE(key->y(), buttonWithText(dialog, digits.mid(i / 8 * 8, 1))->y());
            if (i % 8) QVERIFY(key->x() > buttonWithText(dialog, digits.mid(i - 1, 1))->geometry().right());
        }
        QPushButton* space = buttonWithText(dialog, kSpace);
        QPushButton* backspace = buttonWithText(dialog, "BS");
        QVERIFY(buttonWithText(dialog, "8")->y() > buttonWithText(dialog, "0")->geometry().bottom());
        QVERIFY(space->y() > buttonWithText(dialog, "8")->geometry().bottom());
        QCOMPARE(backspace->y(), space->y());
        QVERIFY(dialog.m_btnOver->geometry().right() < space->x());
        QVERIFY(space->geometry().right() < backspace->x());
        QVERIFY(dialog.m_editData->geometry().bottom() < buttonWithText(dialog, "0")->y());
        QVERIFY(dialog.rect().contains(dialog.m_btnCancel->geometry()));
    }
};

QTEST_MAIN(BinaryEditDlgTest)
#include "binary_edit_dlg_test.moc"
