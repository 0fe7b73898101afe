#pragma once
// The browser view: the key tree above the value list, with the divider between them. The view
// owns the two controls, the divider and the current key; the commands are classes beside it
// (view_commands.h holds their table) and reach the view through the interface below.
// The view holds no copy of the registry: the tree is read at start (and after an import), the
// list on every refresh.
#include <QColor>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "registry/win_types.h"
#include "ui/prompts.h"
#include "view/divider_layout.h"
#include "view/key_tree_model.h"
#include "view/value_list_model.h"

class LongWorkProgress;
class QTreeView;
class CTovikDoc;
class ViewCommands;

class CTovikView : public QWidget {
    Q_OBJECT
public:
    using ItemId = KeyTreeModel::ItemId;

    explicit CTovikView(QWidget* parent = nullptr);
    ~CTovikView() override;

    void setDocument(CTovikDoc* doc) { m_pDocument = doc; }
    CTovikDoc* getDocument() const { return m_pDocument; }
    // Marks the document changed, as every write from the view does.
    void setModified();
    // Replaces the dialogs' seam (tests script the answers); the view owns it.
    void setPrompts(std::unique_ptr<ViewPrompts> prompts) { m_prompts = std::move(prompts); }
    ViewPrompts& prompts() { return *m_prompts; }

    // Initial update: layout step every time, the one-time setup once per view.
    void OnInitialUpdate();

    // ---- the current key: the selected key's root and path (empty for a root itself); no root
    // (0) before any key is selected and after an import.
    HKEY currentRoot() const { return m_hRootKey; }
    const std::u16string& currentKeyPath() const { return m_strKeyPath; }
    // Going to a key, for the classes beside the view (find, address bar, favourites): selects
    // root\path (names in any case), expanding the items above it and scrolling it into view,
    // and fills the value list at once; with valueName, selects that value's row too. Keys that
    // the tree does not show yet (written meanwhile) are read in. False when the key does not
    // exist (the selection then stays).
    bool goToKey(HKEY root, std::u16string_view path, const std::optional<std::u16string>& valueName = std::nullopt);
    // The selected item's key becomes the current key again, after the item was renamed.
    void currentKeyRenamed();
    // No current key, and an empty list, until a key is selected again.
    void clearCurrentKey();

    // ---- the key tree
    QTreeView* keyTree() const { return m_tree; }  // control 1000
    KeyTreeModel& treeModel() { return m_treeModel; }
    const KeyTreeModel& treeModel() const { return m_treeModel; }
    ItemId selectedItem() const;  // kNoItem when none
    void selectItem(ItemId item);
    void GetItemKeyPath(ItemId item, HKEY* root, std::u16string* path) const;
    // Reads the keys below root\path into the tree below parent.
    void InsertSubKeys(ItemId parent, HKEY root, const std::u16string& path);
    // Reads an item's children again from the registry.
    void reloadChildren(ItemId item);
    void LoadSelectedSubKeys();
    // Expands the items above the key at path (and the root's) so that its item shows, as far as
    // the tree has the path's keys.
    void expandKeyPath(HKEY root, std::u16string_view path);
    // Reads the whole tree again from the roots; nothing is selected afterward.
    void reloadTree();
    // Refresh: re-reads the tree and the list from the registry; the selected key and value stay
    // selected where they still exist, else the nearest key above.
    void OnRefresh();

    // ---- the value list
    QTreeView* valueList() const { return m_list; }  // control 1001
    ValueListModel& listModel() { return m_listModel; }
    const ValueListModel& listModel() const { return m_listModel; }
    void postRefreshValues();  // the queued refresh: FillValueList after the caller returns
    void FillValueList();
    int selectedRow() const;  // -1 when none
    // The selected row's value name (as stored), if a row is selected.
    std::optional<std::u16string> selectedValueName() const;
    bool selectValueRow(std::u16string_view name);
    // The selected value's type as the line under the view shows it, by its platform name and
    // number ("REG_QWORD (11)"); empty while no value is selected.
    QString selectedValueTypeText() const;

    // ---- layout, divider and view modes
    void layoutStep();
    void OnViewKeysOnly();
    void OnViewValuesOnly();
    void OnViewBoth();
    const LayoutRect& clientRect() const { return m_rcClient; }
    int dividerY() const { return m_nDividerY; }

    // ---- commands: the frame asks whether a command is enabled, and runs it, through the one
    // table of the commands beside the view.
    ViewCommands& commands() { return *m_pCommands; }
    bool isCommandEnabled(int id) const;
    bool OnCommand(int id);

    static constexpr std::u16string_view kTreeLoopsMessage =
        u"レジストリが壊れています。キーが自分自身の中にあるため、その先は表示しません。";

signals:
    void valuesRefreshed();
    // The current key changed (CurrentRoot and CurrentKeyPath name the new one), or was renamed.
    void currentKeyChanged();
    // A value was selected, or the selection went (SelectedValueTypeText says which).
    void selectedValueChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void oneTimeSetup();
    void InsertRootKeys();
    // Reads the keys below the open key into the tree below parent, depth first.
    void insertChildren(ItemId parent, HKEY key);
    void OnSelChanged();
    void OnDblClkTree();
    void readClientRect();
    void LayoutControls();
    void paintStrip(const QColor& colour);

    QTreeView* m_tree = nullptr;
    QTreeView* m_list = nullptr;
    HKEY m_hRootKey = 0;
    std::u16string m_strKeyPath;
    LayoutRect m_rcClient;
    int m_nDividerY = 0;
    KeyTreeModel m_treeModel;
    ValueListModel m_listModel;
    CTovikDoc* m_pDocument = nullptr;
    std::unique_ptr<ViewPrompts> m_prompts;
    bool m_bSetupDone = false;
    bool m_bLaidOut = false;
    bool m_bGoingToKey = false;
    // Set when the tree fill met a key inside itself (a damaged store); told once it is done.
    bool m_bTreeLoops = false;
    LongWorkProgress* m_pFillProgress = nullptr;  // during InsertRootKeys
    QColor m_stripColour;
    ViewCommands* m_pCommands = nullptr;  // a child of the view
};
