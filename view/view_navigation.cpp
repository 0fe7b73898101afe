// Going to a key by its path, selecting a value by its name, and refreshing the tree and list.
#include <QItemSelectionModel>
#include <QTreeView>

#include "find/key_path.h"
#include "registry/name_fold.h"
#include "ui/qt_text.h"
#include "view/tovik_view.h"

namespace {

KeyTreeModel::ItemId ChildNamed(const KeyTreeModel& model, KeyTreeModel::ItemId parent, std::u16string_view name) {
    for (const KeyTreeModel::ItemId child : model.Children(parent))
        if (CompareNames(ToU16View(model.ItemText(child)), name) == 0) return child;
    return KeyTreeModel::kNoItem;
}

}  // namespace

bool CTovikView::GoToKey(HKEY root, std::u16string_view path, const std::optional<std::u16string>& valueName) {
    ItemId item = KeyTreeModel::kNoItem;
    for (const ItemId top : m_treeModel.Children(KeyTreeModel::kRootItem))
        if (m_treeModel.ItemData(top) == root) item = top;
    if (item == KeyTreeModel::kNoItem) return false;
    for (const std::u16string_view name : tovik::SplitKeyPath(path)) {
        ItemId child = ChildNamed(m_treeModel, item, name);
        if (child == KeyTreeModel::kNoItem) {
            // Written since the tree was read (by tovik-reg, say): read this level again.
            ReloadChildren(item);
            child = ChildNamed(m_treeModel, item, name);
        }
        if (child == KeyTreeModel::kNoItem) return false;
        m_tree->expand(m_treeModel.IndexOf(item));
        item = child;
    }
    m_bGoingToKey = true;
    SelectItem(item);
    m_bGoingToKey = false;
    GetItemKeyPath(item, &m_hRootKey, &m_strKeyPath);
    FillValueList();
    if (valueName) SelectValueRow(*valueName);
    return true;
}

std::optional<std::u16string> CTovikView::SelectedValueName() const {
    const int row = SelectedRow();
    if (row < 0) return std::nullopt;
    return m_listModel.Row(row).name;
}

bool CTovikView::SelectValueRow(std::u16string_view name) {
    for (int row = 0; row < m_listModel.RowCount(); ++row) {
        if (CompareNames(m_listModel.Row(row).name, name) != 0) continue;
        const QModelIndex index = m_listModel.index(row, 0);
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_list->scrollTo(index);
        return true;
    }
    return false;
}

void CTovikView::OnRefresh() {
    const HKEY root = m_hRootKey;
    const std::u16string path = m_strKeyPath;
    const std::optional<std::u16string> value = SelectedValueName();
    m_treeModel.DeleteItem(KeyTreeModel::kRootItem);
    InsertRootKeys();
    if (root == 0) {
        FillValueList();
        return;
    }
    const tovik::find::ResolvedKeyPath resolved = tovik::find::ResolveKeyPath(root, path);
    GoToKey(root, resolved.existingPath, resolved.exists ? value : std::nullopt);
}
