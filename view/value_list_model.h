#pragma once
// The value list's rows: one per value of the current key, sorted by the name shown. Each row
// keeps the value's full name and data, so that commands never work from a cut display text.
#include <QAbstractTableModel>
#include <QIcon>
#include <array>
#include <string>
#include <vector>

#include "registry/value_types.h"

struct ValueRow {
    std::u16string name;  // as the registry holds it; empty for the default value
    DWORD type = 0;       // the row's item data
    Bytes data;
};

class ValueListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Longest data text shown in a row; longer texts end in "…" (the row keeps all the data).
    static constexpr std::size_t kMaxShownChars = 1024;

    explicit ValueListModel(QObject* parent = nullptr);

    void clear();
    // Replaces every row; the rows are sorted by their shown name.
    void setRows(std::vector<ValueRow> rows);
    const ValueRow& rowAt(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    int valueCount() const { return static_cast<int>(rows_.size()); }
    // Column texts as the list shows them: 0 name ("@" for the default value), 1 tag, 2 data.
    QString columnText(int row, int column) const;

    void setIcons(const std::array<QIcon, 3>& icons) { icons_ = icons; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The name column can be edited in place; an edit only asks for the rename (see KeyTreeModel).
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    void renameRequested(int row, const QString& newName);

private:
    std::vector<ValueRow> rows_;
    std::array<QIcon, 3> icons_;
};

// The name a row shows: "@" for the empty name.
QString shownValueName(std::u16string_view name);
