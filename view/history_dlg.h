#pragma once
// 変更履歴: the entries of the registry's change history, newest first (time, what, key), and
// a button that undoes every change back to and including the chosen one.
#include <QDialog>
#include <cstdint>
#include <vector>

#include "history/history_file.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class CHistoryDlg : public QDialog {
    Q_OBJECT
public:
    explicit CHistoryDlg(QWidget* parent = nullptr);

    // entries newest first; undoable: the ids the next undos reach; dropped: what trimming removed.
    void setEntries(std::vector<tovik::history::EntryInfo> entries, const std::vector<std::int64_t>& undoable,
                    const tovik::history::DroppedEntries& dropped);
    QTreeWidget* list() const { return m_list; }
    QPushButton* undoButton() const { return m_undo; }
    QLabel* summary() const { return m_summary; }
    const std::vector<tovik::history::EntryInfo>& entries() const { return m_entries; }

signals:
    void undoThroughRequested(std::int64_t id);

private:
    void updateButton();
    std::vector<tovik::history::EntryInfo> m_entries;
    std::vector<std::int64_t> m_undoable;
    QTreeWidget* m_list;
    QLabel* m_summary;
    QPushButton* m_undo;
};
