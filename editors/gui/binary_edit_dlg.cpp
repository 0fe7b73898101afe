#include "editors/gui/binary_edit_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

#include "editors/gui/widget_edit_buffers.h"
#include "editors/keypad_logic.h"
#include "registry/value_types.h"
#include "ui/dialog_template.h"
#include "ui/prompts.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

namespace {

QString editCaptionText() {
    return Tovik::tr("バイナリ編集");
}
QString addCaptionText() {
    return Tovik::tr("その他の値");
}

constexpr int kKeyWidth = 13;
constexpr int kKeyHeight = 12;
// Two rows of eight digits: "0" to "7" above "8" to "F".
constexpr int kDigitRowY[2] = {85, 100};
constexpr int kDigitColumnX[8] = {1, 18, 35, 52, 69, 86, 103, 120};

}  // namespace

CBinaryEditDlg::CBinaryEditDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(editCaptionText());
    const DialogUnits units(font(), 139);
    setFixedSize(units.size(139, 150));

    // Template order is the tab order.
    m_editName = new QLineEdit(this);
    m_editName->setGeometry(units.rect(33, 3, 99, 11));
    m_comboType = new QComboBox(this);
    // The template's height is that of the dropped list; the closed box is one line high.
    QRect typeRect = units.rect(47, 14, 87, 13);
    typeRect.setHeight(std::min(typeRect.height(), m_comboType->sizeHint().height()));
    m_comboType->setGeometry(typeRect);
    m_editData = new QPlainTextEdit(this);
    m_editData->setGeometry(units.rect(1, 28, 135, 54));
    new DialogTextEditKeys(m_editData, [this] { accept(); });
    m_btnOk = new QPushButton(QStringLiteral("OK"), this);
    m_btnOk->setGeometry(units.rect(13, 133, 50, 14));
    m_btnOk->setDefault(true);
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setGeometry(units.rect(76, 133, 50, 14));
    placeLabel(this, Tovik::tr("名前："), units.rect(5, 4, 26, 9));
    placeLabel(this, Tovik::tr("データ："), units.rect(3, 17, 31, 9));

    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        const QString text(QChar::fromLatin1(kDigits[i]));
        QPushButton* key =
            placeKeypadKey(this, text, units.rect(kDigitColumnX[i % 8], kDigitRowY[i / 8], kKeyWidth, kKeyHeight));
        connect(key, &QPushButton::clicked, this, [this, text] { OnKeypadKey(text); });
    }
    QPushButton* space = placeKeypadKey(this, Tovik::tr("空白(区切り)"), units.rect(23, 116, 87, kKeyHeight));
    connect(space, &QPushButton::clicked, this, [this] { OnKeypadKey(QStringLiteral(" ")); });
    QPushButton* backspace = placeKeypadKey(this, QStringLiteral("BS"), units.rect(113, 116, 20, kKeyHeight));
    connect(backspace, &QPushButton::clicked, this, &CBinaryEditDlg::OnKeypadBackspace);
    m_btnOver = new QCheckBox(QStringLiteral("Over"), this);
    // Text to the left of the box.
    m_btnOver->setLayoutDirection(Qt::RightToLeft);
    // A tap toggles it without taking the focus from the data edit; Tab still reaches it.
    m_btnOver->setFocusPolicy(Qt::TabFocus);
    m_btnOver->setGeometry(units.rect(0, 116, 21, kKeyHeight));

    connect(m_btnOver, &QCheckBox::clicked, this, &CBinaryEditDlg::OnOver);
    connect(m_btnOk, &QPushButton::clicked, this, &CBinaryEditDlg::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CBinaryEditDlg::reject);
}

int CBinaryEditDlg::DoModal() {
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CBinaryEditDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) OnInitDialog();
    QDialog::showEvent(event);
}

void CBinaryEditDlg::OnInitDialog() {
    UpdateData(false);
    m_comboType->clear();
    const std::vector<BinaryTypeEntry> types = sortedBinaryTypeList();
    for (const BinaryTypeEntry& entry : types)
        m_comboType->addItem(toQString(entry.name), QVariant::fromValue<uint>(entry.type));
    int position = findTypePosition(types, m_dwType);
    if (position < 0 && !m_bAdd) {
        // A value of a type the list does not offer (its bytes edited as such) still shows its
        // type, by name where it has one.
        const tovik::ValueTypeInfo* info = tovik::findValueType(m_dwType);
        m_comboType->addItem(toQString(info ? std::u16string(info->platformName) : tovik::typeDescription(m_dwType)),
                             QVariant::fromValue<uint>(m_dwType));
        position = m_comboType->count() - 1;
    }
    m_comboType->setCurrentIndex(position);
    // The type of an existing value cannot be changed here.
    m_comboType->setEnabled(m_bAdd);
    setWindowTitle(m_bAdd ? addCaptionText() : editCaptionText());
    // Every opening starts in insert mode.
    m_btnOver->setChecked(false);
    m_opened = true;
    m_editName->setFocus();
}

void CBinaryEditDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strName = m_editName->text();
        m_strData = toQString(m_shownData.textFor(toU16View(m_editData->document()->toRawText())));
    } else {
        m_editName->setText(m_strName);
        m_shownData = MultiLineText(toU16View(m_strData));
        m_editData->setPlainText(toQString(m_shownData.shown()));
    }
}

// The keys always type into the data edit, whichever control has the focus, and leave it there.
void CBinaryEditDlg::OnKeypadKey(const QString& text) {
    PlainTextEditBuffer data(m_editData);
    binaryKeypadKey(data, m_btnOver->isChecked(), toU16View(text));
    m_editData->setFocus();
}

void CBinaryEditDlg::OnKeypadBackspace() {
    PlainTextEditBuffer data(m_editData);
    keypadBackspace(data);
    m_editData->setFocus();
}

void CBinaryEditDlg::OnOver() {
    m_editData->setFocus();
}

void CBinaryEditDlg::accept() {
    // Unshown, the dialog judges its members as they were set.
    int selected = findTypePosition(sortedBinaryTypeList(), m_dwType);
    if (m_opened) {
        UpdateData(true);
        selected = m_comboType->currentIndex();
    }
    if (binaryOkRule(toU16View(m_strName), m_bAdd, selected) != BinaryOkVerdict::Accept) return;
    if (m_bAdd && m_opened) m_dwType = m_comboType->itemData(selected).toUInt();
    QDialog::accept();
}
