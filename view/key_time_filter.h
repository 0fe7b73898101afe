#pragma once
// 表示 > 更新日で絞り込み: the key tree shows only the keys written since a day, with the keys
// above them so that the tree holds together; the roots always stay. A small bar (the day and
// 解除) says the filter is on; clearing it shows the whole tree again.
//
// The filter hides rows of the tree control and leaves the tree's items as they are, so every
// command that walks the items works unchanged. It is applied again whenever the tree is read
// anew (refresh, import), and a key the user goes to is shown even when it is older.
#include <QDate>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "view/key_tree_model.h"

class CTovikView;
class QDateEdit;
class QWidget;

class KeyTimeFilter : public QObject {
    Q_OBJECT
public:
    using ItemId = KeyTreeModel::ItemId;

    explicit KeyTimeFilter(CTovikView& view);
    ~KeyTimeFilter() override;

    // The bar that holds the day and 解除; whoever holds it (the frame) shows it on filterBarWanted.
    QWidget* filterBar() const { return m_bar; }
    QDateEdit* dateEdit() const { return m_date; }

    // Filters by the bar's day (today until one is chosen) and puts the focus on it.
    void OnFilterByTime();
    void OnClearTimeFilter();
    bool OnUpdateClearTimeFilter() const { return m_since.has_value(); }

    // Shows only the keys written at or after fileTime (a FILETIME) and the keys above them.
    void filterSince(std::int64_t fileTime);
    std::optional<std::int64_t> since() const { return m_since; }
    // The start of a day in this machine's local time, as a FILETIME.
    static std::int64_t startOfLocalDay(const QDate& day);

signals:
    void filterBarWanted();
    void filterCleared();

private:
    void apply();
    void showAll();
    void hideRow(ItemId item);
    // Shows the item and the keys above it; the other keys of a subtree shown this way stay hidden.
    void reveal(ItemId item);
    bool rowHidden(ItemId item) const;

    CTovikView& m_view;
    QPointer<QWidget> m_bar;
    QDateEdit* m_date = nullptr;
    std::optional<std::int64_t> m_since;
    std::vector<ItemId> m_hidden;  // the rows hidden, so that clearing touches only those
};
