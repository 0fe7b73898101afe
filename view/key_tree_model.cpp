#include "view/key_tree_model.h"

#include <algorithm>

#include "registry/name_fold.h"
#include "ui/qt_text.h"

KeyTreeModel::KeyTreeModel(QObject* parent) : QAbstractItemModel(parent) {
    nodes_.emplace_back();  // the invisible root
    nodes_[0].parent = kNoItem;
}

KeyTreeModel::ItemId KeyTreeModel::insertItem(ItemId parent, const QString& text) {
    ItemId id;
    if (!freeList_.empty()) {
        id = freeList_.back();
        freeList_.pop_back();
        nodes_[id] = Node{};
    } else {
        id = static_cast<ItemId>(nodes_.size());
        nodes_.emplace_back();
    }
    Node& parentNode = nodes_[parent];
    const int row = static_cast<int>(parentNode.children.size());
    if (bulkDepth_ == 0) beginInsertRows(indexOf(parent), row, row);
    Node& node = nodes_[id];
    node.text = text;
    node.parent = parent;
    node.row = static_cast<std::uint32_t>(row);
    nodes_[parent].children.push_back(id);
    ++liveCount_;
    if (bulkDepth_ == 0) endInsertRows();
    return id;
}

void KeyTreeModel::setItemData(ItemId item, std::uint32_t data) {
    nodes_[item].data = data;
}

void KeyTreeModel::sortChildren(ItemId item) {
    std::vector<ItemId>& children = nodes_[item].children;
    auto less = [this](ItemId a, ItemId b) {
        return compareNames(toU16View(nodes_[a].text), toU16View(nodes_[b].text)) < 0;
    };
    if (std::is_sorted(children.begin(), children.end(), less)) return;
    const bool notify = bulkDepth_ == 0;
    const QModelIndex parentIndex = indexOf(item);
    if (notify) emit layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)});
    std::stable_sort(children.begin(), children.end(), less);
    renumber(item, 0);
    if (notify) {
        // Selections and expanded states follow their items to the new rows.
        const QModelIndexList persistent = persistentIndexList();
        QModelIndexList from, to;
        for (const QModelIndex& index : persistent) {
            const ItemId id = static_cast<ItemId>(index.internalId());
            if (index.parent() == parentIndex && isValid(id)) {
                from.append(index);
                to.append(createIndex(static_cast<int>(nodes_[id].row), index.column(), id));
            }
        }
        changePersistentIndexList(from, to);
        emit layoutChanged({QPersistentModelIndex(parentIndex)});
    }
}

void KeyTreeModel::deleteItem(ItemId item) {
    if (!isValid(item)) return;
    if (item == kRootItem) {
        beginResetModel();
        nodes_.resize(1);
        nodes_[0].children.clear();
        freeList_.clear();
        liveCount_ = 0;
        endResetModel();
        return;
    }
    const ItemId parent = nodes_[item].parent;
    const int row = static_cast<int>(nodes_[item].row);
    if (bulkDepth_ == 0) beginRemoveRows(indexOf(parent), row, row);
    std::vector<ItemId>& siblings = nodes_[parent].children;
    siblings.erase(siblings.begin() + row);
    renumber(parent, static_cast<std::size_t>(row));
    freeSubtree(item);
    if (bulkDepth_ == 0) endRemoveRows();
}

void KeyTreeModel::deleteChildren(ItemId item) {
    if (!isValid(item) || nodes_[item].children.empty()) return;
    if (item == kRootItem) {
        deleteItem(kRootItem);
        return;
    }
    const int last = static_cast<int>(nodes_[item].children.size()) - 1;
    if (bulkDepth_ == 0) beginRemoveRows(indexOf(item), 0, last);
    const std::vector<ItemId> children = std::move(nodes_[item].children);
    nodes_[item].children.clear();
    for (ItemId child : children) freeSubtree(child);
    if (bulkDepth_ == 0) endRemoveRows();
}

void KeyTreeModel::freeSubtree(ItemId item) {
    // Iterative, so that a tree 512 levels deep needs no deep stack.
    std::vector<ItemId> pending{item};
    while (!pending.empty()) {
        const ItemId id = pending.back();
        pending.pop_back();
        Node& node = nodes_[id];
        pending.insert(pending.end(), node.children.begin(), node.children.end());
        node = Node{};
        node.live = false;
        freeList_.push_back(id);
        --liveCount_;
    }
}

void KeyTreeModel::renumber(ItemId parent, std::size_t from) {
    const std::vector<ItemId>& children = nodes_[parent].children;
    for (std::size_t i = from; i < children.size(); ++i) nodes_[children[i]].row = static_cast<std::uint32_t>(i);
}

void KeyTreeModel::beginBulkInsert() {
    if (bulkDepth_++ == 0) beginResetModel();
}

void KeyTreeModel::endBulkInsert() {
    if (--bulkDepth_ == 0) endResetModel();
}

QModelIndex KeyTreeModel::indexOf(ItemId item) const {
    if (item == kRootItem || !isValid(item)) return {};
    return createIndex(static_cast<int>(nodes_[item].row), 0, static_cast<quintptr>(item));
}

KeyTreeModel::ItemId KeyTreeModel::itemOf(const QModelIndex& index) const {
    if (!index.isValid()) return kRootItem;
    return static_cast<ItemId>(index.internalId());
}

QModelIndex KeyTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const ItemId parentId = itemOf(parent);
    if (column != 0 || row < 0 || !isValid(parentId)) return {};
    const std::vector<ItemId>& children = nodes_[parentId].children;
    if (static_cast<std::size_t>(row) >= children.size()) return {};
    return createIndex(row, 0, static_cast<quintptr>(children[row]));
}

QModelIndex KeyTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    return indexOf(nodes_[itemOf(child)].parent);
}

int KeyTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    const ItemId id = itemOf(parent);
    return isValid(id) ? static_cast<int>(nodes_[id].children.size()) : 0;
}

int KeyTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool KeyTreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant KeyTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const Node& node = nodes_[itemOf(index)];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole: return node.text;
    case Qt::DecorationRole: return folderIcon_;
    default: return {};
    }
}

void KeyTreeModel::setItemText(ItemId item, const QString& text) {
    nodes_[item].text = text;
    const QModelIndex index = indexOf(item);
    emit dataChanged(index, index);
}

Qt::ItemFlags KeyTreeModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractItemModel::flags(index);
    if (index.isValid() && parent(itemOf(index)) != kRootItem) flags |= Qt::ItemIsEditable;
    return flags;
}

bool KeyTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    emit renameRequested(itemOf(index), value.toString());
    return false;
}
