#include "view/add_key_dlg.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "view/view_prompts.h"

namespace {
// Dialog units to pixels, from the dialog font's average character size.
struct DialogUnits {
    int baseX, baseY;
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        baseX = std::max(1, metrics.averageCharWidth());
        baseY = std::max(1, metrics.height());
    }
    QRect rect(int x, int y, int w, int h) const {
        return QRect(x * baseX / 4, y * baseY / 8, w * baseX / 4, h * baseY / 8);
    }
};
}  // namespace

CAddKeyDlg::CAddKeyDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf16(u"キーの追加"));
    const DialogUnits du(font());
    m_static = new QLabel(QStringLiteral("Static"), this);
    m_static->setObjectName(QStringLiteral("1003"));
    m_static->setWordWrap(true);
    m_static->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_static->setGeometry(du.rect(3, 4, 112, 56));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("1004"));
    m_edit->setGeometry(du.rect(3, 63, 114, 12));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(du.rect(7, 113, 50, 14));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setGeometry(du.rect(64, 113, 50, 14));
    connect(ok, &QPushButton::clicked, this, &CAddKeyDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(du.rect(0, 0, 122, 134).size());
}

void CAddKeyDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        m_edit->setText(m_strKeyName);
        m_static->setText(m_strParentPath);
        m_edit->setFocus();
    }
    QDialog::showEvent(event);
}

int CAddKeyDlg::DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

void CAddKeyDlg::accept() {
    m_strKeyName = m_edit->text();
    m_strParentPath = m_static->text();
    if (m_strKeyName.isEmpty()) return;   // stays open, without a message
    QDialog::accept();
}
