#pragma once
// The frame: title "Harnet", the menu bar with the command identifiers, and the view.
#include <QKeySequence>
#include <QMainWindow>
#include <map>
#include <memory>

#include "view/view_settings.h"

class CTovikView;
class FindCommands;
class NavigationCommands;
class QToolBar;
class CTovikDoc;
class QAction;
class QMenu;
class QLabel;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // settings: where the last key and the favourites are kept (null: the user's own file).
    CMainFrame(CTovikDoc* doc, QWidget* parent = nullptr, std::unique_ptr<ViewSettings> settings = nullptr);
    ~CMainFrame() override;
    CTovikView* view() const { return m_pView; }
    FindCommands* find() const { return m_pFind; }
    NavigationCommands* navigation() const { return m_pNavigation; }
    QToolBar* addressToolBar() const { return m_pAddressBar; }
    // The bar of the key tree's date filter, under the address line while the filter is on.
    QToolBar* timeFilterToolBar() const { return m_pTimeFilterBar; }
    QMenu* favouritesMenu() const { return m_pFavourites; }
    // The menu item of a command, for tests and for the enabling rules.
    QAction* commandAction(int id) const;
    // Sets every item's enabled state from the command handlers, as a menu does before it opens.
    void updateCommandUi();
    // The status line under the view: which registry is open (its name first, when it has one),
    // and 読み取り専用 when it is read-only. Shown only for a registry other than the user's own
    // store (location empty). A name is shown in the title as well.
    void showRegistryLocation(const QString& location, bool readOnly, const QString& name = {});
    // The status line's text; empty while none is shown.
    QString registryLocationText() const;
    // The selected value's type on the status line ("REG_QWORD (11)"); empty while none is shown.
    QString valueTypeText() const;
    // The current key's last write time as the status line shows it ("最終更新 ..."); empty when
    // the registry keeps no time for it or no key is current.
    QString keyWriteTimeText() const;

signals:
    void aboutRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct MenuItem {
        int id;  // 0: a separator
        QString text;
        QKeySequence shortcut = {};
    };
    QMenu* addMenu(const QString& title, std::initializer_list<MenuItem> items);
    void runCommand(int id);
    void fillFavouritesMenu();
    void showValueType();
    void showKeyTime();
    void showAtRight(QLabel*& label, const QString& name, const QString& text);
    void updateStatusBar();

    CTovikDoc* m_pDocument;
    CTovikView* m_pView;
    FindCommands* m_pFind;
    NavigationCommands* m_pNavigation;
    QToolBar* m_pAddressBar;
    QToolBar* m_pTimeFilterBar;
    QMenu* m_pFavourites;
    std::map<int, QAction*> m_actions;
    QLabel* m_location = nullptr;
    QLabel* m_valueType = nullptr;
    QLabel* m_keyTime = nullptr;
};
