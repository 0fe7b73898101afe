#pragma once
// The frame: title "Harnet", the menu bar with the command identifiers, and the view.
#include <QMainWindow>
#include <map>

class CTovikView;
class CTovikDoc;
class QAction;
class QMenu;
class QLabel;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(CTovikDoc* doc, QWidget* parent = nullptr);
    CTovikView* View() const { return m_pView; }
    // The menu item of a command, for tests and for the enabling rules.
    QAction* CommandAction(int id) const;
    // Sets every item's enabled state from the command handlers, as a menu does before it opens.
    void UpdateCommandUI();
    // The status line under the view: which registry is open, and 読み取り専用 when it is
    // read-only. Shown only for a registry other than the user's own store (location empty).
    void ShowRegistryLocation(const QString& location, bool readOnly);
    // The status line's text; empty while none is shown.
    QString RegistryLocationText() const;

signals:
    void aboutRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QMenu* addMenu(const QString& title, std::initializer_list<std::pair<int, QString>> items);
    void runCommand(int id);

    CTovikDoc* m_pDocument;
    CTovikView* m_pView;
    std::map<int, QAction*> m_actions;
    QLabel* m_location = nullptr;
};
