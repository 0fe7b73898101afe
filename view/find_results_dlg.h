#pragma once
// The 検索結果 list: every hit of a find-all search with its key path and value name. A double
// click (or Enter) on a row asks to go to that hit; the list stays open beside the window.
#include <QDialog>
#include <vector>

#include "find/registry_find.h"

class QLabel;
class QTreeWidget;

class CFindResultsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFindResultsDlg(QWidget* parent = nullptr);

    // truncated: the search stopped collecting at its limit.
    void setHits(std::vector<tovik::find::FindHit> hits, bool truncated);
    const std::vector<tovik::find::FindHit>& hits() const { return m_hits; }
    QTreeWidget* list() const { return m_list; }
    QLabel* summary() const { return m_summary; }
    // Goes to row, as a double click on it does.
    void activateRow(int row);

signals:
    void hitActivated(const tovik::find::FindHit& hit);

private:
    std::vector<tovik::find::FindHit> m_hits;
    QTreeWidget* m_list;
    QLabel* m_summary;
};
