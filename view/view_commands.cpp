#include "view/view_commands.h"

#include <QShortcut>
#include <QTreeView>
#include <optional>

#include "history/recording_backend.h"
#include "registry/key_path.h"
#include "ui/qt_text.h"
#include "view/backup_commands.h"
#include "view/command_ids.h"
#include "view/compare_commands.h"
#include "view/find_commands.h"
#include "view/history_commands.h"
#include "view/key_commands.h"
#include "view/key_time_filter.h"
#include "view/navigation_commands.h"
#include "view/open_registry_commands.h"
#include "view/reg_file_commands.h"
#include "view/rename_commands.h"
#include "view/tovik_view.h"
#include "view/value_commands.h"

ViewCommands::ViewCommands(CTovikView& view)
    : QObject(&view),
      m_values(new ValueCommands(view)),
      m_keys(new KeyCommands(view)),
      m_rename(new RenameCommands(view)),
      m_regFiles(new RegFileCommands(view)),
      m_backup(new BackupCommands(view, *m_regFiles)),
      m_openRegistry(new OpenRegistryCommands(view)),
      m_compare(new CompareCommands(view)),
      m_history(new HistoryCommands(view)),
      m_timeFilter(new KeyTimeFilter(view)),
      m_view(view) {
    CTovikView* v = &view;
    ValueCommands* values = m_values;
    KeyCommands* keys = m_keys;
    RenameCommands* rename = m_rename;
    BackupCommands* backup = m_backup;
    const Rule always;
    // The find and navigation rows stay disabled while their class is not attached.
    auto find = [this](bool (FindCommands::*rule)() const) -> Rule {
        return [this, rule] { return m_find && (m_find->*rule)(); };
    };
    auto navigation = [this](bool (NavigationCommands::*rule)() const) -> Rule {
        return [this, rule] { return m_navigation && (m_navigation->*rule)(); };
    };
    auto onFind = [this](void (FindCommands::*handler)()) -> Handler {
        return [this, handler] {
            if (m_find) (m_find->*handler)();
        };
    };
    auto onNavigation = [this](void (NavigationCommands::*handler)()) -> Handler {
        return [this, handler] {
            if (m_navigation) (m_navigation->*handler)();
        };
    };
    m_table = {
        // The divider's three positions, from any state.
        {ID_VIEW_KEYS_ONLY, {[v] { v->OnViewKeysOnly(); }, always}},
        {ID_VIEW_VALUES_ONLY, {[v] { v->OnViewValuesOnly(); }, always}},
        {ID_VIEW_BOTH, {[v] { v->OnViewBoth(); }, always}},
        {ID_REFRESH, {[v] { v->OnRefresh(); }, always}},

        // Values: written to the current key, which a root is not.
        {ID_DELETE_VALUE, {[values] { values->OnDeleteValue(); }, [values] { return values->OnUpdateDeleteValue(); }}},
        // Any value's bytes, whatever its type (a QWORD, a type above 8): one must be selected.
        {ID_EDIT_BINARY_DATA,
         {[values] { values->OnEditBinaryData(); }, [values] { return values->OnUpdateEditBinaryData(); }}},
        {ID_ADD_DWORD_VALUE,
         {[values] { values->OnAddDwordValue(); }, [values] { return values->OnUpdateAddValue(); }}},
        {ID_ADD_STRING_VALUE,
         {[values] { values->OnAddStringValue(); }, [values] { return values->OnUpdateAddValue(); }}},
        {ID_ADD_OTHER_VALUE,
         {[values] { values->OnAddOtherValue(); }, [values] { return values->OnUpdateAddValue(); }}},
        // Deliberately without the rule of the other three: a REG_MULTI_SZ value can be added
        // with a root selected, and then goes to the root itself.
        {ID_ADD_MULTI_STRING_VALUE, {[values] { values->OnAddMultiStringValue(); }, always}},

        // Keys: one can be added anywhere; a root is never deleted.
        {ID_ADD_KEY, {[keys] { keys->OnAddKey(); }, [keys] { return keys->OnUpdateAddKey(); }}},
        {ID_DELETE_KEY, {[keys] { keys->OnDeleteKey(); }, [keys] { return keys->OnUpdateDeleteKey(); }}},
        {ID_RENAME, {[rename] { rename->OnRename(); }, [rename] { return rename->OnUpdateRename(); }}},

        // Files: export writes the current key (or all of a root); import asks for its file.
        {ID_EXPORT, {[backup] { backup->OnExport(); }, always}},
        {ID_IMPORT, {[backup] { backup->OnImport(); }, always}},
        // Undo and redo while the history has something for them; the history while there is one.
        {ID_UNDO, {[this] { m_history->OnUndo(); }, [this] { return m_history->OnUpdateUndo(); }}},
        {ID_REDO, {[this] { m_history->OnRedo(); }, [this] { return m_history->OnUpdateRedo(); }}},
        {ID_HISTORY, {[this] { m_history->OnHistory(); }, [this] { return m_history->OnUpdateHistory(); }}},
        // Another registry opens in a window of its own, whatever this one shows.
        {ID_OPEN_REGISTRY, {[this] { m_openRegistry->OnOpenRegistry(); }, always}},
        // The current key against another key, a file or another registry's key.
        {ID_COMPARE, {[this] { m_compare->OnCompare(); }, always}},
        // The tree by the day its keys were written; cleared while a filter is on.
        {ID_FILTER_BY_TIME, {[this] { m_timeFilter->OnFilterByTime(); }, always}},
        {ID_CLEAR_TIME_FILTER,
         {[this] { m_timeFilter->OnClearTimeFilter(); }, [this] { return m_timeFilter->OnUpdateClearTimeFilter(); }}},

        {ID_FIND, {onFind(&FindCommands::OnFind), find(&FindCommands::OnUpdateFind)}},
        {ID_FIND_NEXT, {onFind(&FindCommands::OnFindNext), find(&FindCommands::OnUpdateFindNext)}},
        {ID_FIND_PREVIOUS, {onFind(&FindCommands::OnFindPrevious), find(&FindCommands::OnUpdateFindNext)}},

        {ID_COPY_KEY_PATH,
         {onNavigation(&NavigationCommands::OnCopyKeyPath), navigation(&NavigationCommands::OnUpdateCopyKeyPath)}},
        {ID_ADD_FAVOURITE,
         {onNavigation(&NavigationCommands::OnAddFavourite), navigation(&NavigationCommands::OnUpdateCopyKeyPath)}},
        {ID_FOCUS_ADDRESS_BAR,
         {onNavigation(&NavigationCommands::OnFocusAddressBar), [this] { return !m_navigation.isNull(); }}},
    };

    // Desktop habits: Delete deletes the selected value in the list, and the key in the tree,
    // while that command is enabled.
    new QShortcut(
        QKeySequence(Qt::Key_Delete), view.valueList(), this, [this] { runIfEnabled(ID_DELETE_VALUE); },
        Qt::WidgetShortcut);
    new QShortcut(
        QKeySequence(Qt::Key_Delete), view.keyTree(), this, [this] { runIfEnabled(ID_DELETE_KEY); },
        Qt::WidgetShortcut);
}

ViewCommands::~ViewCommands() = default;

void ViewCommands::setFind(FindCommands* find) {
    m_find = find;
}

void ViewCommands::setNavigation(NavigationCommands* navigation) {
    m_navigation = navigation;
}

bool ViewCommands::isEnabled(int id) const {
    const auto it = m_table.find(id);
    if (it == m_table.end()) return false;
    return !it->second.enabled || it->second.enabled();
}

bool ViewCommands::run(int id) {
    const auto it = m_table.find(id);
    if (it == m_table.end()) return false;
    // One command, one entry of the change history, named as the menu names the command.
    std::optional<tovik::history::ChangeScope> scope;
    if (const QString name = HistoryCommands::commandName(id); !name.isEmpty())
        scope.emplace(toU16(name), m_view.currentRoot()
                                       ? tovik::fullKeyPath(m_view.currentRoot(), m_view.currentKeyPath())
                                       : std::u16string());
    it->second.run();
    return true;
}

void ViewCommands::runIfEnabled(int id) {
    if (isEnabled(id)) run(id);
}
