#pragma once
// Every command of the view in one table: its identifier, what it runs and when it is enabled.
// The frame's menus and shortcuts and the view's own keys all go through this table. The
// commands themselves are classes beside the view, one per group; a new capability adds a class
// and rows here.
#include <QObject>
#include <QPointer>
#include <functional>
#include <map>

class BackupCommands;
class CompareCommands;
class CTovikView;
class FindCommands;
class HistoryCommands;
class KeyCommands;
class KeyTimeFilter;
class NavigationCommands;
class OpenRegistryCommands;
class RegFileCommands;
class RenameCommands;
class ValueCommands;

class ViewCommands : public QObject {
    Q_OBJECT
public:
    explicit ViewCommands(CTovikView& view);
    ~ViewCommands() override;

    ValueCommands& values() const { return *m_values; }
    KeyCommands& keys() const { return *m_keys; }
    RenameCommands& rename() const { return *m_rename; }
    BackupCommands& backup() const { return *m_backup; }
    RegFileCommands& regFiles() const { return *m_regFiles; }
    OpenRegistryCommands& openRegistry() const { return *m_openRegistry; }
    CompareCommands& compare() const { return *m_compare; }
    HistoryCommands& history() const { return *m_history; }
    KeyTimeFilter& timeFilter() const { return *m_timeFilter; }

    // Find and navigation are made beside the view by whoever holds their settings (the frame);
    // their commands are disabled until they are attached.
    void setFind(FindCommands* find);
    void setNavigation(NavigationCommands* navigation);

    // A command without a row, or whose rule says no, is disabled.
    bool isEnabled(int id) const;
    // Runs the command whatever its rule; false when there is no such command.
    bool run(int id);
    // Runs the command only while its rule allows it (the view's own keys).
    void runIfEnabled(int id);

private:
    using Handler = std::function<void()>;
    using Rule = std::function<bool()>;
    struct Command {
        Handler run;
        Rule enabled;  // empty: always enabled
    };

    // Children of the view, as the view's own widgets are.
    ValueCommands* m_values;
    KeyCommands* m_keys;
    RenameCommands* m_rename;
    RegFileCommands* m_regFiles;
    BackupCommands* m_backup;
    OpenRegistryCommands* m_openRegistry;
    CompareCommands* m_compare;
    HistoryCommands* m_history;
    KeyTimeFilter* m_timeFilter;
    QPointer<FindCommands> m_find;
    QPointer<NavigationCommands> m_navigation;
    std::map<int, Command> m_table;
    CTovikView& m_view;
};
