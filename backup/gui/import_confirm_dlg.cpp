#include "backup/gui/import_confirm_dlg.h"

#include <QColor>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "ui/dialog_template.h"
#include "ui/prompts.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

namespace {

constexpr int kTemplateWidth = 131;
constexpr int kTemplateHeight = 95;

// Rows show no focus frame: nothing in this list can be selected, so a marked row would mislead.
class PlainRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
    }
};

}  // namespace

void ImportLinesModel::setLines(const tovik::BackupText* lines) {
    beginResetModel();
    lines_ = lines;
    regLines_ = nullptr;
    endResetModel();
}

void ImportLinesModel::setLines(const tovik::RegFileLineIndex* lines) {
    beginResetModel();
    lines_ = nullptr;
    regLines_ = lines;
    endResetModel();
}

std::size_t ImportLinesModel::lineCount() const {
    return lines_ != nullptr ? lines_->size() : regLines_ != nullptr ? regLines_->size() : 0;
}

std::u16string_view ImportLinesModel::line(std::size_t i) const {
    return lines_ != nullptr ? (*lines_)[i] : regLines_->line(i);
}

int ImportLinesModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(std::min<std::size_t>(lineCount(), static_cast<std::size_t>(INT_MAX)));
}

QVariant ImportLinesModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || static_cast<std::size_t>(index.row()) >= lineCount()) return {};
    const std::u16string_view text = line(static_cast<std::size_t>(index.row()));
    if (text.size() <= kMaxShownChars) return toQString(text);
    return toQString(text.substr(0, kMaxShownChars)) + QChar(0x2026);
}

Qt::ItemFlags ImportLinesModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;  // rows are shown, never selected
}

CImportConfirmDlg::CImportConfirmDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Tovik::tr("インポート確認"));
    const DialogUnits units(font(), kTemplateWidth);
    setFixedSize(units.size(kTemplateWidth, kTemplateHeight));

    m_listLines = new QListView(this);
    m_listLines->setObjectName(QStringLiteral("1001"));
    m_listLines->setGeometry(units.rect(1, 4, 127, 62));
    m_listLines->setUniformItemSizes(true);  // row positions are computed, not laid out one by one
    m_listLines->setSelectionMode(QAbstractItemView::NoSelection);
    m_listLines->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listLines->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_listLines->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listLines->setTextElideMode(Qt::ElideNone);
    m_listLines->setWordWrap(false);
    m_listLines->setModel(&m_lineModel);
    m_listLines->setItemDelegate(new PlainRowDelegate(m_listLines));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(units.rect(8, 74, 50, 14));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setGeometry(units.rect(65, 74, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CImportConfirmDlg::DoModal() {
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CImportConfirmDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) OnInitDialog();
    QDialog::showEvent(event);
}

QDialog* CImportConfirmDlg::showPreview() {
    if (!m_preview) return nullptr;
    if (m_previewDlg == nullptr) {
        m_previewDlg = new QDialog(this);
        m_previewDlg->setWindowTitle(Tovik::tr("インポートによる変更点"));
        auto* layout = new QVBoxLayout(m_previewDlg);
        auto* list = new QListWidget(m_previewDlg);
        list->setObjectName(QStringLiteral("preview"));
        list->setSelectionMode(QAbstractItemView::NoSelection);
        list->setFocusPolicy(Qt::NoFocus);  // nothing to select: no row framed as current
        for (const QString& line : m_preview()) {
            auto* item = new QListWidgetItem(line, list);
            // The sign says it without colour; the colour as in the 比較結果 window.
            const QChar sign = line.trimmed().isEmpty() ? QChar() : line.trimmed().front();
            if (sign == u'+')
                item->setForeground(QColor(0, 128, 0));
            else if (sign == u'−')
                item->setForeground(QColor(192, 0, 0));
            else if (sign == u'≠')
                item->setForeground(QColor(176, 96, 0));
        }
        // Long lines wrap rather than scroll sideways: the window may be as narrow as the main one.
        list->setWordWrap(true);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setResizeMode(QListView::Adjust);
        layout->addWidget(list);
        // No wider than the main window on the portrait screen; wider where there is room.
        const QWidget* main = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
        m_previewDlg->resize(main != nullptr ? std::min(560, std::max(main->width(), 360)) : 560, 360);
    }
    m_previewDlg->show();
    m_previewDlg->raise();
    return m_previewDlg;
}

void CImportConfirmDlg::OnInitDialog() {
    if (m_preview && findChild<QPushButton*>(QStringLiteral("preview")) == nullptr) {
        // Below the template's buttons, so that the dialog is as it was without a preview.
        const DialogUnits units(font(), kTemplateWidth);
        setFixedSize(units.size(kTemplateWidth, kTemplateHeight + 18));
        auto* preview = new QPushButton(Tovik::tr("変更点..."), this);
        preview->setObjectName(QStringLiteral("preview"));
        preview->setGeometry(units.rect(8, 92, 107, 14));
        preview->show();
        connect(preview, &QPushButton::clicked, this, [this] { showPreview(); });
    }
    // Every line of the caller's list, in order, replacing whatever was shown.
    if (m_pRegLines != nullptr) {
        m_lineModel.setLines(m_pRegLines);
    } else {
        m_lineModel.setLines(m_pLines);
    }
    m_listLines->scrollToTop();
}
