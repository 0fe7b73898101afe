#include "view/history_dlg.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/history_commands.h"

CHistoryDlg::CHistoryDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Tovik::tr("変更履歴"));
    auto* layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    m_list = new QTreeWidget(this);
    m_list->setColumnCount(3);
    m_list->setHeaderLabels({Tovik::tr("時刻"), Tovik::tr("操作"), Tovik::tr("キー")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    // The command's word and the end of its key both tell which entry it is; the tooltip has all.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->header()->resizeSection(1, 140);
    auto* buttons = new QDialogButtonBox(this);
    m_undo = buttons->addButton(Tovik::tr("ここまで元に戻す"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(m_summary);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::currentItemChanged, this, [this] { updateButton(); });
    connect(m_undo, &QPushButton::clicked, this, [this] {
        const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
        if (row >= 0 && static_cast<std::size_t>(row) < m_entries.size())
            emit undoThroughRequested(m_entries[static_cast<std::size_t>(row)].id);
    });
    // No wider than the window it belongs to: the portrait screen has no room beside it.
    const int width = parent != nullptr ? std::min(560, parent->window()->width()) : 560;
    resize(width, 380);
}

void CHistoryDlg::setEntries(std::vector<tovik::history::EntryInfo> entries, const std::vector<std::int64_t>& undoable,
                             const tovik::history::DroppedEntries& dropped) {
    m_entries = std::move(entries);
    m_undoable = undoable;
    m_list->clear();
    QList<QTreeWidgetItem*> items;
    for (const tovik::history::EntryInfo& entry : m_entries) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, QDateTime::fromSecsSinceEpoch(entry.time).toString(QStringLiteral("MM-dd HH:mm:ss")));
        QString what = HistoryCommands::entryName(entry);
        if (entry.undone) what += Tovik::tr(" (元に戻し済み)");
        item->setText(1, what);
        item->setText(2, toQString(entry.key));
        item->setToolTip(1, what);
        item->setToolTip(2, item->text(2));
        items << item;
    }
    m_list->addTopLevelItems(items);
    QString summary =
        m_entries.empty() ? Tovik::tr("変更はまだありません。") : Tovik::tr("%1 件の変更").arg(m_entries.size());
    if (dropped.count > 0) summary += Tovik::tr("（古い %1 件は履歴から削除されました）").arg(dropped.count);
    m_summary->setText(summary);
    if (!items.isEmpty()) m_list->setCurrentItem(items.front());
    updateButton();
}

void CHistoryDlg::updateButton() {
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    const bool reachable = row >= 0 && static_cast<std::size_t>(row) < m_entries.size() &&
                           std::find(m_undoable.begin(), m_undoable.end(),
                                     m_entries[static_cast<std::size_t>(row)].id) != m_undoable.end();
    m_undo->setEnabled(reachable);
}
