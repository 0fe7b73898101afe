#include "app/editor_screenshots.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <cstdio>

#include "app/screenshot_support.h"
#include "editors/gui/binary_edit_dlg.h"
#include "editors/gui/number_edit_dlg.h"
#include "editors/gui/string_edit_dlg.h"
#include "ui/translated.h"

namespace {

void saveShown(QWidget& widget, const QString& outputDir, const QString& name) {
    saveGrab(widget, outputDir, name);
    widget.hide();
}

// Taps the keypad keys with these texts, in order.
void tapKeys(QWidget& dialog, const QStringList& keys) {
    for (const QString& text : keys)
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            if (button->text() == text) button->click();
}

}  // namespace

void saveEditorScreenshots(const QString& outputDir) {
    QDir().mkpath(outputDir);
    {
        CStringEditDlg dialog;
        dialog.m_strName = QStringLiteral("@");
        dialog.m_strData = QStringLiteral("\\Windows\\pictures.exe \"%1\"");
        dialog.m_strType = QStringLiteral("REG_SZ");
        dialog.show();
        saveShown(dialog, outputDir, QStringLiteral("string_edit"));
    }
    {
        CStringEditDlg dialog;
        dialog.m_bAdd = true;
        dialog.m_strType = QStringLiteral("REG_MULTI_SZ");
        dialog.show();
        dialog.m_editName->setText(QStringLiteral("Keyboards"));
        dialog.m_editData->setPlainText(QString::fromUtf16(u"英語|ひらがな|ｶﾀｶﾅ||"));
        dialog.m_editData->moveCursor(QTextCursor::End);
        saveShown(dialog, outputDir, QStringLiteral("string_add"));
    }
    {
        CNumberEditDlg dialog;
        dialog.m_strName = QStringLiteral("EditFlags");
        dialog.m_nValue = 65536;
        dialog.show();
        saveShown(dialog, outputDir, QStringLiteral("number_edit"));
    }
    {
        CNumberEditDlg dialog;
        dialog.m_bAdd = true;
        dialog.show();
        dialog.m_editName->setText(QStringLiteral("Timeout"));
        dialog.m_editDec->clear();
        tapKeys(dialog, {QStringLiteral("3"), QStringLiteral("000"), QStringLiteral("0")});
        saveShown(dialog, outputDir, QStringLiteral("number_add"));
    }
    {
        CBinaryEditDlg dialog;
        dialog.m_strName = QStringLiteral("MacAddress");
        dialog.m_strData = QStringLiteral("00 1B 44 11 3A B7 ");
        dialog.m_dwType = REG_BINARY;
        dialog.show();
        saveShown(dialog, outputDir, QStringLiteral("binary_edit"));
    }
    {
        CBinaryEditDlg dialog;
        dialog.m_bAdd = true;
        dialog.show();
        dialog.m_editName->setText(QStringLiteral("Signature"));
        dialog.m_comboType->setCurrentIndex(dialog.m_comboType->findText(QStringLiteral("REG_BINARY")));
        tapKeys(dialog, {QStringLiteral("8"), QStringLiteral("9"), Tovik::tr("空白(区切り)"), QStringLiteral("5"),
                         QStringLiteral("0"), Tovik::tr("空白(区切り)")});
        saveShown(dialog, outputDir, QStringLiteral("binary_add"));
    }
}
