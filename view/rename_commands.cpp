// Renaming a key or a value in place: the edit asks, the registry decides, the view shows it.
#include <QTreeView>

#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"

void CTovikView::OnRename() {
    const int row = SelectedRow();
    if (focusWidget() == m_list && row >= 0) {
        m_list->setFocus();
        m_list->edit(m_listModel.index(row, 0));
        return;
    }
    const ItemId item = SelectedItem();
    if (item == KeyTreeModel::kNoItem) return;
    if (m_treeModel.ItemData(item) != 0) {
        Prompts().MessageBox(this, Translated(kRootRenameMessage), MessageButtons::Ok);
        return;
    }
    m_tree->setFocus();
    m_tree->edit(m_treeModel.IndexOf(item));
}

void CTovikView::RenameKeyItem(ItemId item, const QString& newName) {
    if (!m_treeModel.IsValid(item) || newName == m_treeModel.ItemText(item)) return;
    HKEY root = 0;
    std::u16string path;
    GetItemKeyPath(item, &root, &path);
    std::u16string_view refusal;
    if (path.empty()) refusal = kRootRenameMessage;
    else if (newName.isEmpty()) refusal = kEmptyNameMessage;
    else if (newName.contains(QLatin1Char('\\'))) refusal = kBackslashMessage;
    if (refusal.empty()) {
        const LONG rc = RegRenameKey(root, path.c_str(), ToU16(newName).c_str());
        if (rc == ERROR_ALREADY_EXISTS) refusal = kNameExistsMessage;
        else if (rc != ERROR_SUCCESS) refusal = kRenameFailedMessage;
    }
    if (!refusal.empty()) {
        Prompts().MessageBox(this, Translated(refusal), MessageButtons::Ok);
        return;
    }
    m_treeModel.SetItemText(item, newName);
    m_treeModel.SortChildren(m_treeModel.Parent(item));
    if (item == SelectedItem()) {
        GetItemKeyPath(item, &m_hRootKey, &m_strKeyPath);
        m_tree->scrollTo(m_treeModel.IndexOf(item));
        emit currentKeyChanged();
    }
    if (m_pDocument) m_pDocument->SetModifiedFlag(true);
}

void CTovikView::RenameValue(const std::u16string& oldName, const QString& newName) {
    if (newName == ShownValueName(oldName)) return;
    std::u16string_view refusal;
    // "@" is how the list shows the unnamed value: no named value can be shown so.
    if (newName.isEmpty() || newName == QStringLiteral("@")) refusal = kEmptyNameMessage;
    tovik::KeyHandle hKey;
    if (refusal.empty() && RegOpenKeyExW(m_hRootKey, m_strKeyPath.c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS)
        refusal = kRenameFailedMessage;
    if (refusal.empty()) {
        const LONG rc = RegRenameValueW(hKey.get(), oldName.c_str(), ToU16(newName).c_str());
        if (rc == ERROR_ALREADY_EXISTS) refusal = kNameExistsMessage;
        else if (rc != ERROR_SUCCESS) refusal = kRenameFailedMessage;
    }
    hKey.reset();
    if (!refusal.empty()) {
        Prompts().MessageBox(this, Translated(refusal), MessageButtons::Ok);
        return;
    }
    FillValueList();
    SelectValueRow(ToU16View(newName));
    if (m_pDocument) m_pDocument->SetModifiedFlag(true);
}
