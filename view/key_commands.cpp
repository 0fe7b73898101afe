// The key commands of the view: add a key below the current key, delete the current key with
// everything below it.
#include <QTreeView>

#include "registry/key_tree_ops.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "view/add_key_dlg.h"
#include "ui/qt_text.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "ui/translated.h"

void CTovikView::OnAddKey() {
    CAddKeyDlg dialog(this);
    dialog.m_strParentPath = ToQString(m_strKeyPath);
    if (Prompts().DoModal(dialog) != IDOK) return;

    HKEY hKey = 0;
    if (RegOpenKeyExW(m_hRootKey, m_strKeyPath.c_str(), 0, 0, &hKey) != ERROR_SUCCESS) return;
    const std::u16string name = ToU16(dialog.m_strKeyName);
    WCHAR emptyClass[] = u"";
    HKEY hNewKey = 0;
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExW(hKey, name.c_str(), 0, emptyClass, 0, 0, nullptr, &hNewKey, &disposition);
    if (rc == ERROR_SUCCESS && disposition == REG_OPENED_EXISTING_KEY)
        Prompts().MessageBox(this, Tovik::tr("既に存在します"), MessageButtons::Ok);
    if (rc == ERROR_SUCCESS) RegCloseKey(hNewKey);
    RegCloseKey(hKey);

    const ItemId selected = SelectedItem();
    if (selected == KeyTreeModel::kNoItem) return;
    if (m_strKeyPath.empty()) {
        if (rc == ERROR_SUCCESS && disposition != REG_OPENED_EXISTING_KEY) {
            // A typed path ("A\B") creates several keys: the root gains an item for the first of
            // them only, with what lies below it read from the registry.
            const std::u16string first = name.substr(0, name.find(u'\\'));
            bool present = false;
            for (ItemId child : m_treeModel.Children(selected))
                present = present || CompareNames(ToU16View(m_treeModel.ItemText(child)), first) == 0;
            if (!present) {
                const ItemId item = m_treeModel.InsertItem(selected, ToQString(first));
                if (first != name) InsertSubKeys(item, m_hRootKey, first);
                m_treeModel.SortChildren(selected);
            }
        }
    } else {
        m_treeModel.DeleteChildren(selected);
    }
    LoadSelectedSubKeys();
    // The new key shows: its parent is open.
    if (rc == ERROR_SUCCESS) m_tree->expand(m_treeModel.IndexOf(selected));
}

void CTovikView::OnDeleteKey() {
    ItemId selected = SelectedItem();
    if (selected == KeyTreeModel::kNoItem || m_strKeyPath.empty()) return;   // a root is never deleted
    if (!TreeDeleteRefusal(m_hRootKey, m_strKeyPath, false).empty()) {
        Prompts().MessageBox(this, Tovik::tr("このキーはハイブの始まるキーか、ルートやハイブを配下に持つため、"
                                             "削除できません。何も削除していません。"),
                             MessageButtons::Ok);
        return;
    }
    if (Prompts().MessageBox(this, DeleteKeyQuestion(m_treeModel.ItemText(selected)), MessageButtons::YesNo) == IDNO)
        return;

    const bool walked = DeleteSubkeys(m_hRootKey, m_strKeyPath);
    RegDeleteKeyW(m_hRootKey, m_strKeyPath.c_str());

    selected = SelectedItem();
    if (selected != KeyTreeModel::kNoItem) {
        if (KeyExists(m_hRootKey, m_strKeyPath)) {
            // Something stayed: show what the registry still holds below the key.
            ReloadChildren(selected);
        } else {
            const ItemId parent = m_treeModel.Parent(selected);
            m_treeModel.DeleteItem(selected);
            SelectItem(parent);
        }
    }
    PostRefreshValues();
    SetModified();
    // What stayed is in the tree; that it stayed because the store is damaged is not.
    if (!walked) Prompts().MessageBox(this, ToQString(kDeleteLoopsMessage), MessageButtons::Ok);
}

QString CTovikView::DeleteKeyQuestion(const QString& keyName) {
    return keyName + Tovik::tr("キーを削除します。配下のキーも消えます。\nよろしいですか？");
}

bool CTovikView::DeleteSubkeys(HKEY root, const std::u16string& path) {
    return ::DeleteSubkeys(root, path).error != ERROR_BADDB;
}

void CTovikView::ReloadChildren(ItemId item) {
    m_treeModel.DeleteChildren(item);
    HKEY root = 0;
    std::u16string path;
    GetItemKeyPath(item, &root, &path);
    InsertSubKeys(item, root, path);
}

void CTovikView::SetModified() {
    if (m_pDocument) m_pDocument->SetModifiedFlag(true);
}
