#include "view/find_results_dlg.h"

#include <QHeaderView>
#include <QLabel>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/qt_text.h"
#include "ui/translated.h"

namespace {}

CFindResultsDlg::CFindResultsDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Tovik::tr("検索結果"));
    auto* layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    m_list = new QTreeWidget(this);
    m_list->setColumnCount(3);
    m_list->setHeaderLabels({Tovik::tr("キー"), Tovik::tr("名前"), Tovik::tr("最終更新")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setTextElideMode(Qt::ElideLeft);  // the end of a long path tells most
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(1, QHeaderView::Interactive);
    m_list->header()->resizeSection(1, 110);
    m_list->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    layout->addWidget(m_summary);
    layout->addWidget(m_list);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { activateRow(m_list->indexOfTopLevelItem(item)); });
    for (const int key : {Qt::Key_Return, Qt::Key_Enter})
        new QShortcut(
            QKeySequence(key), m_list, this,
            [this] {
                if (QTreeWidgetItem* item = m_list->currentItem()) activateRow(m_list->indexOfTopLevelItem(item));
            },
            Qt::WidgetShortcut);
    resize(560, 360);
}

void CFindResultsDlg::setHits(std::vector<tovik::find::FindHit> hits, bool truncated) {
    m_hits = std::move(hits);
    m_list->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_hits.size()));
    for (const tovik::find::FindHit& hit : m_hits) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, toQString(hit.fullKeyPath()));
        item->setToolTip(0, item->text(0));
        if (hit.isValueHit()) item->setText(1, toQString(hit.shownValueName()));
        item->setText(2, keyTimeText(hit.keyWriteTime));
        items << item;
    }
    m_list->addTopLevelItems(items);
    QString summary = Tovik::tr("%1 件見つかりました。").arg(m_hits.size());
    if (truncated) summary += Tovik::tr("最初の %1 件だけを表示しています。").arg(m_hits.size());
    m_summary->setText(summary);
}

void CFindResultsDlg::activateRow(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_hits.size()) return;
    emit hitActivated(m_hits[static_cast<std::size_t>(row)]);
}
