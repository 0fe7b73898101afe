#pragma once
// The key tree's items: a compact tree that QTreeView shows through QAbstractItemModel.
// It offers what the tree commands need of a tree control: items with a text and a 32-bit item
// data, appended under a parent, sorted per parent, deleted with their subtree, and walked up to
// their parent. Item 0 is the invisible root above the top-level items.
#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <vector>

class KeyTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    using ItemId = std::uint32_t;
    static constexpr ItemId kRootItem = 0;  // above the top-level items
    static constexpr ItemId kNoItem = 0xFFFFFFFFu;

    explicit KeyTreeModel(QObject* parent = nullptr);

    // Appends an item as the parent's last child; image 0, selected image 1, item data 0.
    ItemId insertItem(ItemId parent, const QString& text);
    void setItemData(ItemId item, std::uint32_t data);
    void setItemText(ItemId item, const QString& text);
    std::uint32_t itemData(ItemId item) const { return nodes_[item].data; }
    const QString& itemText(ItemId item) const { return nodes_[item].text; }
    ItemId parent(ItemId item) const { return nodes_[item].parent; }
    const std::vector<ItemId>& children(ItemId item) const { return nodes_[item].children; }
    bool hasChildren(ItemId item) const { return !nodes_[item].children.empty(); }
    // Sorts the item's children by text, case-insensitively (not recursive).
    void sortChildren(ItemId item);
    // Deletes the item with its subtree; kRootItem deletes every item.
    void deleteItem(ItemId item);
    // Deletes every child of the item, with their subtrees.
    void deleteChildren(ItemId item);
    bool isValid(ItemId item) const { return item < nodes_.size() && nodes_[item].live; }
    std::size_t itemCount() const { return liveCount_; }

    // Many insertions at once (start-up, import): views are told once at the end.
    void beginBulkInsert();
    void endBulkInsert();

    QModelIndex indexOf(ItemId item) const;
    ItemId itemOf(const QModelIndex& index) const;

    void setIcons(const QIcon& folder) { folderIcon_ = folder; }

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    // Names below the roots can be edited in place; an edit only asks for the rename, which the
    // view makes in the registry and then shows with SetItemText.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    void renameRequested(ItemId item, const QString& newName);

private:
    struct Node {
        QString text;
        std::vector<ItemId> children;
        ItemId parent = kNoItem;
        std::uint32_t data = 0;
        std::uint32_t row = 0;  // position among the parent's children
        bool live = true;
    };
    void freeSubtree(ItemId item);
    void renumber(ItemId parent, std::size_t from);

    std::vector<Node> nodes_;
    std::vector<ItemId> freeList_;
    std::size_t liveCount_ = 0;
    int bulkDepth_ = 0;
    QIcon folderIcon_;
};
