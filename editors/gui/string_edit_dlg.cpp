#include "editors/gui/string_edit_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

#include "editors/string_rules.h"
#include "ui/dialog_template.h"
#include "ui/prompts.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

namespace {

QString editCaptionText() {
    return Tovik::tr("文字編集");
}
QString addCaptionText() {
    return Tovik::tr("文字の追加（REG_SZ）");
}
// Every file: the lookup fills in any file's path.
QString fileFilterText() {
    return Tovik::tr("ﾌｧｲﾙ (*)");
}

}  // namespace

CStringEditDlg::CStringEditDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(editCaptionText());
    const DialogUnits units(font(), 139);
    setFixedSize(units.size(139, 150));

    // Template order is the tab order.
    m_editName = new QLineEdit(this);
    m_editName->setGeometry(units.rect(33, 4, 99, 10));
    m_editData = new QPlainTextEdit(this);
    m_editData->setGeometry(units.rect(9, 28, 123, 46));
    new DialogTextEditKeys(m_editData, [this] { accept(); });
    m_btnOk = new QPushButton(QStringLiteral("OK"), this);
    m_btnOk->setGeometry(units.rect(13, 129, 50, 14));
    m_btnOk->setDefault(true);
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setGeometry(units.rect(76, 129, 50, 14));
    placeLabel(this, Tovik::tr("名前："), units.rect(5, 4, 26, 9));
    placeLabel(this, Tovik::tr("データ："), units.rect(3, 17, 26, 9));
    m_btnBrowse = new QPushButton(Tovik::tr("ﾌｧｲﾙ名参照"), this);
    m_btnBrowse->setGeometry(units.rect(11, 78, 60, 13));
    m_btnBrowse->setAutoDefault(false);
    m_staticType = placeLabel(this, QStringLiteral("REG_SZ"), units.rect(35, 15, 97, 12));

    connect(m_btnOk, &QPushButton::clicked, this, &CStringEditDlg::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CStringEditDlg::reject);
    connect(m_btnBrowse, &QPushButton::clicked, this, &CStringEditDlg::OnBrowse);
}

int CStringEditDlg::DoModal() {
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CStringEditDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) OnInitDialog();
    QDialog::showEvent(event);
}

void CStringEditDlg::OnInitDialog() {
    UpdateData(false);
    m_opened = true;
    setWindowTitle(m_bAdd ? addCaptionText() : editCaptionText());
    // The unnamed value's data can be changed, its name cannot.
    m_editName->setReadOnly(isUnnamedValueName(toU16View(m_strName)));
    m_editName->setFocus();
}

void CStringEditDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strName = m_editName->text();
        m_strData = toQString(m_shownData.textFor(toU16View(m_editData->document()->toRawText())));
        m_strType = m_staticType->text();
    } else {
        m_editName->setText(m_strName);
        m_shownData = MultiLineText(toU16View(m_strData));
        m_editData->setPlainText(toQString(m_shownData.shown()));
        m_staticType->setText(m_strType);
    }
}

void CStringEditDlg::OnBrowse() {
    ViewPrompts defaultPrompts;
    ViewPrompts& prompts = m_pPrompts ? *m_pPrompts : defaultPrompts;
    const QString path = prompts.openFileName(this, fileFilterText());
    if (path.isEmpty()) return;
    UpdateData(true);
    m_strData = path;
    UpdateData(false);
}

void CStringEditDlg::accept() {
    if (m_opened) UpdateData(true);
    if (!nameAllowsOk(toU16View(m_strName))) return;
    QDialog::accept();
}
