#pragma once
// The frame: title "Harnet", the menu bar with the command identifiers, and the view.
#include <QMainWindow>
#include <map>

class CTovikView;
class CTovikDoc;
class QAction;
class QMenu;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(CTovikDoc* doc, QWidget* parent = nullptr);
    CTovikView* View() const { return m_pView; }
    // The menu item of a command, for tests and for the enabling rules.
    QAction* CommandAction(int id) const;
    // Sets every item's enabled state from the command handlers, as a menu does before it opens.
    void UpdateCommandUI();

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
};
