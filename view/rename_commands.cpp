#include "view/rename_commands.h"

#include <QTreeView>

#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_view.h"

RenameCommands::RenameCommands(CTovikView& view) : QObject(&view), m_view(view) {
    connect(&view.TreeModel(), &KeyTreeModel::renameRequested, this,
            [this](KeyTreeModel::ItemId item, const QString& name) { RenameKeyItem(item, name); });
    // A value is renamed once its editor has closed: refilling the list while the editor commits
    // would destroy the editor under the view, taking the list's focus and selection with it.
    connect(&view.ListModel(), &ValueListModel::renameRequested, this, [this](int row, const QString& name) {
        if (row < 0 || row >= m_view.ListModel().RowCount()) return;
        const std::u16string oldName = m_view.ListModel().Row(row).name;
        QMetaObject::invokeMethod(this, [this, oldName, name] { RenameValue(oldName, name); }, Qt::QueuedConnection);
    });
}

void RenameCommands::OnRename() {
    const int row = m_view.SelectedRow();
    QTreeView* list = m_view.ValueList();
    if (m_view.focusWidget() == list && row >= 0) {
        list->setFocus();
        list->edit(m_view.ListModel().index(row, 0));
        return;
    }
    const KeyTreeModel::ItemId item = m_view.SelectedItem();
    if (item == KeyTreeModel::kNoItem) return;
    if (m_view.TreeModel().ItemData(item) != 0) {
        m_view.Prompts().MessageBox(&m_view, Translated(kRootRenameMessage), MessageButtons::Ok);
        return;
    }
    m_view.KeyTree()->setFocus();
    m_view.KeyTree()->edit(m_view.TreeModel().IndexOf(item));
}

bool RenameCommands::OnUpdateRename() const { return m_view.SelectedItem() != KeyTreeModel::kNoItem; }

void RenameCommands::RenameKeyItem(KeyTreeModel::ItemId item, const QString& newName) {
    KeyTreeModel& tree = m_view.TreeModel();
    if (!tree.IsValid(item) || newName == tree.ItemText(item)) return;
    HKEY root = 0;
    std::u16string path;
    m_view.GetItemKeyPath(item, &root, &path);
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
        m_view.Prompts().MessageBox(&m_view, Translated(refusal), MessageButtons::Ok);
        return;
    }
    tree.SetItemText(item, newName);
    tree.SortChildren(tree.Parent(item));
    if (item == m_view.SelectedItem()) {
        m_view.KeyTree()->scrollTo(tree.IndexOf(item));
        m_view.CurrentKeyRenamed();
    }
    m_view.SetModified();
}

void RenameCommands::RenameValue(const std::u16string& oldName, const QString& newName) {
    if (newName == ShownValueName(oldName)) return;
    std::u16string_view refusal;
    // "@" is how the list shows the unnamed value: no named value can be shown so.
    if (newName.isEmpty() || newName == QStringLiteral("@")) refusal = kEmptyNameMessage;
    tovik::KeyHandle hKey;
    if (refusal.empty() &&
        RegOpenKeyExW(m_view.CurrentRoot(), m_view.CurrentKeyPath().c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS)
        refusal = kRenameFailedMessage;
    if (refusal.empty()) {
        const LONG rc = RegRenameValueW(hKey.get(), oldName.c_str(), ToU16(newName).c_str());
        if (rc == ERROR_ALREADY_EXISTS) refusal = kNameExistsMessage;
        else if (rc != ERROR_SUCCESS) refusal = kRenameFailedMessage;
    }
    hKey.reset();
    if (!refusal.empty()) {
        m_view.Prompts().MessageBox(&m_view, Translated(refusal), MessageButtons::Ok);
        return;
    }
    m_view.FillValueList();
    m_view.SelectValueRow(ToU16View(newName));
    m_view.SetModified();
}
