#include "view/rename_commands.h"

#include <QTreeView>

#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_view.h"

RenameCommands::RenameCommands(CTovikView& view) : QObject(&view), m_view(view) {
    connect(&view.treeModel(), &KeyTreeModel::renameRequested, this,
            [this](KeyTreeModel::ItemId item, const QString& name) { renameKeyItem(item, name); });
    // A value is renamed once its editor has closed: refilling the list while the editor commits
    // would destroy the editor under the view, taking the list's focus and selection with it.
    connect(&view.listModel(), &ValueListModel::renameRequested, this, [this](int row, const QString& name) {
        if (row < 0 || row >= m_view.listModel().valueCount()) return;
        const std::u16string oldName = m_view.listModel().rowAt(row).name;
        QMetaObject::invokeMethod(
            this, [this, oldName, name] { renameValue(oldName, name); }, Qt::QueuedConnection);
    });
}

void RenameCommands::OnRename() {
    const int row = m_view.selectedRow();
    QTreeView* list = m_view.valueList();
    if (m_view.focusWidget() == list && row >= 0) {
        list->setFocus();
        list->edit(m_view.listModel().index(row, 0));
        return;
    }
    const KeyTreeModel::ItemId item = m_view.selectedItem();
    if (item == KeyTreeModel::kNoItem) return;
    if (m_view.treeModel().itemData(item) != 0) {
        m_view.prompts().messageBox(&m_view, translated(kRootRenameMessage), MessageButtons::Ok);
        return;
    }
    m_view.keyTree()->setFocus();
    m_view.keyTree()->edit(m_view.treeModel().indexOf(item));
}

bool RenameCommands::OnUpdateRename() const {
    return m_view.selectedItem() != KeyTreeModel::kNoItem;
}

void RenameCommands::renameKeyItem(KeyTreeModel::ItemId item, const QString& newName) {
    KeyTreeModel& tree = m_view.treeModel();
    if (!tree.isValid(item) || newName == tree.itemText(item)) return;
    HKEY root = 0;
    std::u16string path;
    m_view.GetItemKeyPath(item, &root, &path);
    std::u16string_view refusal;
    if (path.empty())
        refusal = kRootRenameMessage;
    else if (newName.isEmpty())
        refusal = kEmptyNameMessage;
    else if (newName.contains(QLatin1Char('\\')))
        refusal = kBackslashMessage;
    if (refusal.empty()) {
        const LONG rc = RegRenameKey(root, path.c_str(), toU16(newName).c_str());
        if (rc == ERROR_ALREADY_EXISTS)
            refusal = kNameExistsMessage;
        else if (rc != ERROR_SUCCESS)
            refusal = kRenameFailedMessage;
    }
    if (!refusal.empty()) {
        m_view.prompts().messageBox(&m_view, translated(refusal), MessageButtons::Ok);
        return;
    }
    tree.setItemText(item, newName);
    tree.sortChildren(tree.parent(item));
    if (item == m_view.selectedItem()) {
        m_view.keyTree()->scrollTo(tree.indexOf(item));
        m_view.currentKeyRenamed();
    }
    m_view.setModified();
}

void RenameCommands::renameValue(const std::u16string& oldName, const QString& newName) {
    if (newName == shownValueName(oldName)) return;
    std::u16string_view refusal;
    // "@" is how the list shows the unnamed value: no named value can be shown so.
    if (newName.isEmpty() || newName == QStringLiteral("@")) refusal = kEmptyNameMessage;
    tovik::KeyHandle hKey;
    if (refusal.empty() &&
        RegOpenKeyExW(m_view.currentRoot(), m_view.currentKeyPath().c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS)
        refusal = kRenameFailedMessage;
    if (refusal.empty()) {
        const LONG rc = RegRenameValueW(hKey.get(), oldName.c_str(), toU16(newName).c_str());
        if (rc == ERROR_ALREADY_EXISTS)
            refusal = kNameExistsMessage;
        else if (rc != ERROR_SUCCESS)
            refusal = kRenameFailedMessage;
    }
    hKey.reset();
    if (!refusal.empty()) {
        m_view.prompts().messageBox(&m_view, translated(refusal), MessageButtons::Ok);
        return;
    }
    m_view.FillValueList();
    m_view.selectValueRow(toU16View(newName));
    m_view.setModified();
}
