#include "view/key_commands.h"

#include <QTreeView>

#include "registry/key_handle.h"
#include "registry/key_tree_ops.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/add_key_dlg.h"
#include "view/tovik_view.h"

KeyCommands::KeyCommands(CTovikView& view) : QObject(&view), m_view(view) {}

void KeyCommands::OnAddKey() {
    CAddKeyDlg dialog(&m_view);
    dialog.m_strParentPath = toQString(m_view.currentKeyPath());
    if (m_view.prompts().DoModal(dialog) != IDOK) return;

    const HKEY root = m_view.currentRoot();
    const std::u16string path = m_view.currentKeyPath();
    KeyTreeModel& tree = m_view.treeModel();
    tovik::KeyHandle hKey;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS) return;
    const std::u16string name = toU16(dialog.m_strKeyName);
    WCHAR emptyClass[] = u"";
    tovik::KeyHandle hNewKey;
    DWORD disposition = 0;
    const LONG rc =
        RegCreateKeyExW(hKey.get(), name.c_str(), 0, emptyClass, 0, 0, nullptr, hNewKey.receive(), &disposition);
    if (rc == ERROR_SUCCESS && disposition == REG_OPENED_EXISTING_KEY)
        m_view.prompts().messageBox(&m_view, Tovik::tr("既に存在します"), MessageButtons::Ok);
    hNewKey.reset();
    hKey.reset();

    const KeyTreeModel::ItemId selected = m_view.selectedItem();
    if (selected == KeyTreeModel::kNoItem) return;
    if (m_view.currentKeyPath().empty()) {
        if (rc == ERROR_SUCCESS && disposition != REG_OPENED_EXISTING_KEY) {
            // A typed path ("A\B") creates several keys: the root gains an item for the first of
            // them only, with what lies below it read from the registry.
            const std::u16string first = name.substr(0, name.find(u'\\'));
            bool present = false;
            for (KeyTreeModel::ItemId child : tree.children(selected))
                present = present || compareNames(toU16View(tree.itemText(child)), first) == 0;
            if (!present) {
                const KeyTreeModel::ItemId item = tree.insertItem(selected, toQString(first));
                if (first != name) m_view.InsertSubKeys(item, root, first);
                tree.sortChildren(selected);
            }
        }
    } else {
        tree.deleteChildren(selected);
    }
    m_view.LoadSelectedSubKeys();
    // The new key shows: its parent is open.
    if (rc == ERROR_SUCCESS) m_view.keyTree()->expand(tree.indexOf(selected));
}

void KeyCommands::OnDeleteKey() {
    KeyTreeModel& tree = m_view.treeModel();
    KeyTreeModel::ItemId selected = m_view.selectedItem();
    if (selected == KeyTreeModel::kNoItem || m_view.currentKeyPath().empty()) return;  // a root is never deleted
    if (!treeDeleteRefusal(m_view.currentRoot(), m_view.currentKeyPath(), false).empty()) {
        m_view.prompts().messageBox(&m_view,
                                    Tovik::tr("このキーはハイブの始まるキーか、ルートやハイブを配下に持つため、"
                                              "削除できません。何も削除していません。"),
                                    MessageButtons::Ok);
        return;
    }
    if (m_view.prompts().messageBox(&m_view, deleteKeyQuestion(tree.itemText(selected)), MessageButtons::YesNo) == IDNO)
        return;

    const HKEY root = m_view.currentRoot();
    const std::u16string path = m_view.currentKeyPath();

    bool walked = true;
    {
        // The key goes in the same step as its subkeys: a store that saves whole files saves once.
        tovik::RegistryBatch batch;
        walked = DeleteSubkeys(root, path);
        RegDeleteKeyW(root, path.c_str());
    }

    selected = m_view.selectedItem();
    if (selected != KeyTreeModel::kNoItem) {
        if (keyExists(root, path)) {
            // Something stayed: show what the registry still holds below the key.
            m_view.reloadChildren(selected);
        } else {
            const KeyTreeModel::ItemId parent = tree.parent(selected);
            tree.deleteItem(selected);
            m_view.selectItem(parent);
        }
    }
    m_view.postRefreshValues();
    m_view.setModified();
    // What stayed is in the tree; that it stayed because the store is damaged is not.
    if (!walked) m_view.prompts().messageBox(&m_view, translated(kDeleteLoopsMessage), MessageButtons::Ok);
}

QString KeyCommands::deleteKeyQuestion(const QString& keyName) {
    return keyName + Tovik::tr("キーを削除します。配下のキーも消えます。\nよろしいですか？");
}

bool KeyCommands::DeleteSubkeys(HKEY root, const std::u16string& path) {
    return ::DeleteSubkeys(root, path).error != ERROR_BADDB;
}

bool KeyCommands::OnUpdateDeleteKey() const {
    return !m_view.currentKeyPath().empty();
}
