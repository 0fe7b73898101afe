#include "view/find_dlg.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/dialog_template.h"
#include "ui/translated.h"

namespace {}

CFindDlg::CFindDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Tovik::tr("検索"));
    const DialogUnits du(font(), 122);
    placeLabel(this, Tovik::tr("検索する文字列:"), du.rect(3, 4, 116, 10));
    m_text = new QLineEdit(this);
    m_text->setGeometry(du.rect(3, 15, 116, 12));

    auto* look = new QGroupBox(Tovik::tr("検索対象"), this);
    look->setGeometry(du.rect(3, 31, 116, 48));
    auto* lookLayout = new QVBoxLayout(look);
    m_keys = new QCheckBox(Tovik::tr("キー名"), look);
    m_values = new QCheckBox(Tovik::tr("値の名前"), look);
    m_data = new QCheckBox(Tovik::tr("データ"), look);
    for (QCheckBox* box : {m_keys, m_values, m_data}) lookLayout->addWidget(box);

    m_case = new QCheckBox(Tovik::tr("大文字と小文字を区別"), this);
    m_case->setGeometry(du.rect(3, 82, 116, 10));
    m_whole = new QCheckBox(Tovik::tr("完全一致"), this);
    m_whole->setGeometry(du.rect(3, 93, 116, 10));

    // Keys changed between two days: what an installer touched.
    m_changed = new QCheckBox(Tovik::tr("更新日:"), this);
    m_changed->setGeometry(du.rect(3, 106, 116, 10));
    m_from = new QDateEdit(this);
    m_from->setGeometry(du.rect(3, 117, 54, 12));
    placeLabel(this, Tovik::tr("～"), du.rect(58, 118, 6, 10));
    m_until = new QDateEdit(this);
    m_until->setGeometry(du.rect(65, 117, 54, 12));
    for (QDateEdit* edit : {m_from, m_until}) {
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
        connect(m_changed, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    }

    auto* start = new QGroupBox(Tovik::tr("検索開始位置"), this);
    start->setGeometry(du.rect(3, 133, 116, 36));
    auto* startLayout = new QVBoxLayout(start);
    m_fromSelected = new QRadioButton(Tovik::tr("選択したキーから"), start);
    m_fromTop = new QRadioButton(Tovik::tr("先頭から"), start);
    startLayout->addWidget(m_fromSelected);
    startLayout->addWidget(m_fromTop);

    auto* next = new QPushButton(Tovik::tr("次を検索"), this);
    next->setDefault(true);
    next->setGeometry(du.rect(3, 174, 37, 14));
    auto* all = new QPushButton(Tovik::tr("すべて検索"), this);
    all->setGeometry(du.rect(43, 174, 37, 14));
    auto* cancel = new QPushButton(Tovik::tr("キャンセル"), this);
    cancel->setGeometry(du.rect(83, 174, 36, 14));
    connect(next, &QPushButton::clicked, this, [this] {
        m_bFindAll = false;
        accept();
    });
    connect(all, &QPushButton::clicked, this, [this] {
        m_bFindAll = true;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(du.size(122, 192));
}

void CFindDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        m_text->setText(m_strText);
        m_text->selectAll();
        m_keys->setChecked(m_bKeyNames);
        m_values->setChecked(m_bValueNames);
        m_data->setChecked(m_bData);
        m_case->setChecked(m_bMatchCase);
        m_whole->setChecked(m_bWholeMatch);
        (m_bFromTop ? m_fromTop : m_fromSelected)->setChecked(true);
        m_changed->setChecked(m_bChangedBetween);
        m_from->setDate(m_changedFrom);
        m_until->setDate(m_changedUntil);
        m_text->setFocus();
    }
    QDialog::showEvent(event);
}

void CFindDlg::takeAnswers() {
    m_strText = m_text->text();
    m_bKeyNames = m_keys->isChecked();
    m_bValueNames = m_values->isChecked();
    m_bData = m_data->isChecked();
    m_bMatchCase = m_case->isChecked();
    m_bWholeMatch = m_whole->isChecked();
    m_bFromTop = m_fromTop->isChecked();
    m_bChangedBetween = m_changed->isChecked();
    m_changedFrom = m_from->date();
    m_changedUntil = m_until->date();
}

void CFindDlg::accept() {
    takeAnswers();
    // Stays open without a text (unless keys are found by their time) or anything to look at.
    if ((m_strText.isEmpty() && !m_bChangedBetween) || !(m_bKeyNames || m_bValueNames || m_bData)) return;
    if (m_bChangedBetween && m_changedUntil < m_changedFrom) return;
    QDialog::accept();
}
