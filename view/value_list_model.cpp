#include "view/value_list_model.h"

#include <algorithm>

#include "registry/name_fold.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

QString shownValueName(std::u16string_view name) {
    return name.empty() ? QStringLiteral("@") : toQString(name);
}

ValueListModel::ValueListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ValueListModel::clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void ValueListModel::setRows(std::vector<ValueRow> rows) {
    // The shown name decides the order, so the default value sorts as "@".
    static const std::u16string at = u"@";
    auto shown = [](const ValueRow& r) -> std::u16string_view { return r.name.empty() ? at : r.name; };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const ValueRow& a, const ValueRow& b) { return compareNames(shown(a), shown(b)) < 0; });
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

QString ValueListModel::columnText(int row, int column) const {
    const ValueRow& r = rowAt(row);
    switch (column) {
    case 0: return shownValueName(r.name);
    case 1: return toQString(typeTag(r.type));
    default: {
        std::u16string text = formatValueText(r.type, r.data.data(), r.data.size(), kMaxShownChars + 1);
        if (text.size() > kMaxShownChars) {
            text.resize(kMaxShownChars);
            text += u'…';
        }
        return toQString(text);
    }
    }
}

int ValueListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : valueCount();
}

int ValueListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant ValueListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= valueCount()) return {};
    switch (role) {
    case Qt::DisplayRole: return columnText(index.row(), index.column());
    case Qt::EditRole: return index.column() == 0 ? columnText(index.row(), 0) : QVariant();
    case Qt::DecorationRole:
        if (index.column() == 0) return icons_[static_cast<int>(typeIconClass(rowAt(index.row()).type))];
        return {};
    case Qt::ToolTipRole:  // the tag "??" stands for many types: the tip names the one it is
        return toQString(tovik::typeDescription(rowAt(index.row()).type));
    case Qt::UserRole:  // the row's item data: the type number
        return static_cast<uint>(rowAt(index.row()).type);
    default: return {};
    }
}

QVariant ValueListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case 0: return Tovik::tr("名前");
    case 1: return Tovik::tr("ﾀｲﾌﾟ");
    case 2: return Tovik::tr("値");
    default: return {};
    }
}

Qt::ItemFlags ValueListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0) flags |= Qt::ItemIsEditable;
    return flags;
}

bool ValueListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.column() != 0 || index.row() >= valueCount()) return false;
    emit renameRequested(index.row(), value.toString());
    return false;
}
