#include "editors/gui/binary_edit_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

#include "registry/value_types.h"
#include "ui/dialog_template.h"
#include "editors/keypad_logic.h"
#include "editors/gui/widget_edit_buffers.h"
#include "ui/qt_text.h"
#include "ui/prompts.h"
#include "ui/translated.h"

namespace {

QString EditCaptionText() { return Tovik::tr("バイナリ編集"); }
QString AddCaptionText() { return Tovik::tr("その他の値"); }

constexpr int kKeyWidth = 13;
constexpr int kKeyHeight = 12;
// Two rows of eight digits: "0" to "7" above "8" to "F".
constexpr int kDigitRowY[2] = {85, 100};
constexpr int kDigitColumnX[8] = {1, 18, 35, 52, 69, 86, 103, 120};

}  // namespace

CBinaryEditDlg::CBinaryEditDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(EditCaptionText());
    const DialogUnits units(font(), 139);
    setFixedSize(units.Size(139, 150));

    // Template order is the tab order.
    m_editName = new QLineEdit(this);
    m_editName->setGeometry(units.Rect(33, 3, 99, 11));
    m_comboType = new QComboBox(this);
    // The template's height is that of the dropped list; the closed box is one line high.
    QRect typeRect = units.Rect(47, 14, 87, 13);
    typeRect.setHeight(std::min(typeRect.height(), m_comboType->sizeHint().height()));
    m_comboType->setGeometry(typeRect);
    m_editData = new QPlainTextEdit(this);
    m_editData->setGeometry(units.Rect(1, 28, 135, 54));
    new DialogTextEditKeys(m_editData, [this] { accept(); });
    m_btnOk = new QPushButton(QStringLiteral("OK"), this);
    m_btnOk->setGeometry(units.Rect(13, 133, 50, 14));
    m_btnOk->setDefault(true);
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setGeometry(units.Rect(76, 133, 50, 14));
    PlaceLabel(this, Tovik::tr("名前："), units.Rect(5, 4, 26, 9));
    PlaceLabel(this, Tovik::tr("データ："), units.Rect(3, 17, 31, 9));

    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        const QString text(QChar::fromLatin1(kDigits[i]));
        QPushButton* key = PlaceKeypadKey(
            this, text, units.Rect(kDigitColumnX[i % 8], kDigitRowY[i / 8], kKeyWidth, kKeyHeight));
        connect(key, &QPushButton::clicked, this, [this, text] { OnKeypadKey(text); });
    }
    QPushButton* space = PlaceKeypadKey(this, Tovik::tr("空白(区切り)"), units.Rect(23, 116, 87, kKeyHeight));
    connect(space, &QPushButton::clicked, this, [this] { OnKeypadKey(QStringLiteral(" ")); });
    QPushButton* backspace = PlaceKeypadKey(this, QStringLiteral("BS"), units.Rect(113, 116, 20, kKeyHeight));
    connect(backspace, &QPushButton::clicked, this, &CBinaryEditDlg::OnKeypadBackspace);
    m_btnOver = new QCheckBox(QStringLiteral("Over"), this);
    // Text to the left of the box.
    m_btnOver->setLayoutDirection(Qt::RightToLeft);
    // A tap toggles it without taking the focus from the data edit; Tab still reaches it.
    m_btnOver->setFocusPolicy(Qt::TabFocus);
    m_btnOver->setGeometry(units.Rect(0, 116, 21, kKeyHeight));

    connect(m_btnOver, &QCheckBox::clicked, this, &CBinaryEditDlg::OnOver);
    connect(m_btnOk, &QPushButton::clicked, this, &CBinaryEditDlg::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CBinaryEditDlg::reject);
}

int CBinaryEditDlg::DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

void CBinaryEditDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) OnInitDialog();
    QDialog::showEvent(event);
}

void CBinaryEditDlg::OnInitDialog() {
    UpdateData(false);
    m_comboType->clear();
    const std::vector<BinaryTypeEntry> types = SortedBinaryTypeList();
    for (const BinaryTypeEntry& entry : types)
        m_comboType->addItem(ToQString(entry.name), QVariant::fromValue<uint>(entry.type));
    int position = FindTypePosition(types, m_dwType);
    if (position < 0 && !m_bAdd) {
        // A value of a type the list does not offer (its bytes edited as such) still shows its
        // type, by name where it has one.
        const tovik::ValueTypeInfo* info = tovik::FindValueType(m_dwType);
        m_comboType->addItem(ToQString(info ? std::u16string(info->platformName) : tovik::TypeDescription(m_dwType)),
                             QVariant::fromValue<uint>(m_dwType));
        position = m_comboType->count() - 1;
    }
    m_comboType->setCurrentIndex(position);
    // The type of an existing value cannot be changed here.
    m_comboType->setEnabled(m_bAdd);
    setWindowTitle(m_bAdd ? AddCaptionText() : EditCaptionText());
    // Every opening starts in insert mode.
    m_btnOver->setChecked(false);
    m_opened = true;
    m_editName->setFocus();
}

void CBinaryEditDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strName = m_editName->text();
        m_strData = ToQString(m_shownData.TextFor(ToU16View(m_editData->document()->toRawText())));
    } else {
        m_editName->setText(m_strName);
        m_shownData = MultiLineText(ToU16View(m_strData));
        m_editData->setPlainText(ToQString(m_shownData.Shown()));
    }
}

// The keys always type into the data edit, whichever control has the focus, and leave it there.
void CBinaryEditDlg::OnKeypadKey(const QString& text) {
    PlainTextEditBuffer data(m_editData);
    BinaryKeypadKey(data, m_btnOver->isChecked(), ToU16View(text));
    m_editData->setFocus();
}

void CBinaryEditDlg::OnKeypadBackspace() {
    PlainTextEditBuffer data(m_editData);
    KeypadBackspace(data);
    m_editData->setFocus();
}

void CBinaryEditDlg::OnOver() { m_editData->setFocus(); }

void CBinaryEditDlg::accept() {
    // Unshown, the dialog judges its members as they were set.
    int selected = FindTypePosition(SortedBinaryTypeList(), m_dwType);
    if (m_opened) {
        UpdateData(true);
        selected = m_comboType->currentIndex();
    }
    if (BinaryOkRule(ToU16View(m_strName), m_bAdd, selected) != BinaryOkVerdict::Accept) return;
    if (m_bAdd && m_opened) m_dwType = m_comboType->itemData(selected).toUInt();
    QDialog::accept();
}
