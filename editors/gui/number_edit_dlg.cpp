#include "editors/gui/number_edit_dlg.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "editors/gui/widget_edit_buffers.h"
#include "editors/string_rules.h"
#include "ui/dialog_template.h"
#include "ui/prompts.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

namespace {

QString editCaptionText() {
    return Tovik::tr("数値編集");
}
QString addCaptionText() {
    return Tovik::tr("数値の追加（DWORD)");
}

struct KeyPlace {
    const char* text;
    int x, y, width;
};
// The calculator block: 7 8 9 on top, 0 00 000 at the bottom, D E F above A B C to the right.
constexpr KeyPlace kKeys[] = {
    {"0", 34, 99, 13},  {"1", 34, 85, 13},  {"2", 51, 85, 13},   {"3", 68, 85, 13}, {"4", 34, 71, 13},
    {"5", 51, 71, 13},  {"6", 68, 71, 13},  {"7", 34, 57, 13},   {"8", 51, 57, 13}, {"9", 68, 57, 13},
    {"A", 85, 71, 13},  {"B", 101, 71, 13}, {"C", 117, 71, 13},  {"D", 85, 57, 13}, {"E", 101, 57, 13},
    {"F", 117, 57, 13}, {"00", 51, 99, 13}, {"000", 68, 99, 16},
};
constexpr int kKeyHeight = 12;

}  // namespace

class CNumberEditDlg::Host final : public NumberEditorHost {
public:
    explicit Host(CNumberEditDlg& dialog) : dialog_(dialog), decimal_(dialog.m_editDec), hex_(dialog.m_editHex) {}

    EditBuffer& field(NumberField field) override { return field == NumberField::Decimal ? decimal_ : hex_; }
    // The dialog's focus child: the edit that has the input focus while the dialog is active.
    bool hasFocus(NumberField field) const override { return dialog_.focusWidget() == dialog_.edit(field); }
    void SetFocus(NumberField field) override {
        dialog_.edit(field)->setFocus();
        // The focus event arrives only while the dialog is the active window.
        dialog_.m_logic->OnSetFocus(field);
        dialog_.followKeypadTarget();
    }
    void setMessage(std::u16string_view text) override { dialog_.m_staticMsg->setText(translated(text)); }

private:
    CNumberEditDlg& dialog_;
    LineEditBuffer decimal_;
    LineEditBuffer hex_;
};

CNumberEditDlg::CNumberEditDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(editCaptionText());
    const DialogUnits units(font(), 139);
    setFixedSize(units.size(139, 150));

    // Template order is the tab order.
    m_editName = new QLineEdit(this);
    m_editName->setGeometry(units.rect(33, 4, 99, 10));
    m_editDec = new QLineEdit(this);
    m_editDec->setGeometry(units.rect(42, 28, 90, 12));
    m_editHex = new QLineEdit(this);
    m_editHex->setGeometry(units.rect(42, 41, 90, 12));
    m_btnOk = new QPushButton(QStringLiteral("OK"), this);
    m_btnOk->setGeometry(units.rect(13, 129, 50, 14));
    m_btnOk->setDefault(true);
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setGeometry(units.rect(76, 129, 50, 14));
    placeLabel(this, Tovik::tr("名前："), units.rect(5, 4, 26, 9));
    placeLabel(this, Tovik::tr("データ："), units.rect(3, 17, 31, 9));
    placeLabel(this, Tovik::tr("10進"), units.rect(19, 30, 21, 9));
    placeLabel(this, Tovik::tr("16進"), units.rect(19, 43, 21, 9));
    m_staticMsg = placeLabel(this, QStringLiteral("Msg"), units.rect(11, 116, 114, 10));
    for (const KeyPlace& place : kKeys) {
        const QString text = QString::fromLatin1(place.text);
        QPushButton* key = placeKeypadKey(this, text, units.rect(place.x, place.y, place.width, kKeyHeight));
        connect(key, &QPushButton::clicked, this, [this, text] { OnKeypadKey(text); });
    }
    QPushButton* backspace = placeKeypadKey(this, QStringLiteral("BS"), units.rect(99, 87, 16, kKeyHeight));
    connect(backspace, &QPushButton::clicked, this, &CNumberEditDlg::OnKeypadBackspace);
    m_pKeypadTarget = m_editDec;

    m_host = std::make_unique<Host>(*this);
    m_logic = std::make_unique<NumberEditorLogic>(*m_host);
    connect(m_editDec, &QLineEdit::textChanged, this, [this] { m_logic->OnChange(NumberField::Decimal); });
    connect(m_editHex, &QLineEdit::textChanged, this, [this] { m_logic->OnChange(NumberField::Hex); });
    m_editDec->installEventFilter(this);
    m_editHex->installEventFilter(this);
    connect(m_btnOk, &QPushButton::clicked, this, &CNumberEditDlg::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CNumberEditDlg::reject);
}

CNumberEditDlg::~CNumberEditDlg() {
    // The edits go with QDialog's children; nothing may call the logic while they do.
    m_editDec->removeEventFilter(this);
    m_editHex->removeEventFilter(this);
    disconnect(m_editDec, nullptr, this, nullptr);
    disconnect(m_editHex, nullptr, this, nullptr);
}

int CNumberEditDlg::DoModal() {
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CNumberEditDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) OnInitDialog();
    QDialog::showEvent(event);
}

void CNumberEditDlg::OnInitDialog() {
    m_editName->setText(m_strName);
    m_logic->open(m_nValue);
    followKeypadTarget();
    setWindowTitle(m_bAdd ? addCaptionText() : editCaptionText());
    m_opened = true;
    m_editName->setFocus();
}

bool CNumberEditDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && (watched == m_editDec || watched == m_editHex)) {
        m_logic->OnSetFocus(watched == m_editDec ? NumberField::Decimal : NumberField::Hex);
        followKeypadTarget();
    }
    return QDialog::eventFilter(watched, event);
}

void CNumberEditDlg::followKeypadTarget() {
    m_pKeypadTarget = edit(m_logic->keypadTarget());
}

void CNumberEditDlg::OnKeypadKey(const QString& text) {
    m_logic->keypadKey(toU16View(text));
}

void CNumberEditDlg::OnKeypadBackspace() {
    m_logic->keypadBackspace();
}

void CNumberEditDlg::accept() {
    if (m_opened) {
        const NumberOkResult ok = numberOkRule(toU16View(m_editDec->text()), toU16View(m_editName->text()));
        if (ok.verdict == NumberOkVerdict::NotAnInteger) {
            ViewPrompts defaultPrompts;
            ViewPrompts& prompts = m_pPrompts ? *m_pPrompts : defaultPrompts;
            prompts.messageBox(this, translated(kNotAnIntegerMessage), MessageButtons::Ok);
            m_editDec->setFocus();
            m_editDec->selectAll();
            return;
        }
        m_nValue = ok.value;
        m_strName = m_editName->text();
    }
    if (!nameAllowsOk(toU16View(m_strName))) return;
    QDialog::accept();
}
