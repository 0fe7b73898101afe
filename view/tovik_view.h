#pragma once
// The browser view: the key tree above the value list, with the divider between them.
// The view holds no copy of the registry: the tree is read at start (and after an import), the
// list on every refresh. m_hRootKey and m_strKeyPath name the current key for the commands.
#include <QColor>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "backup/backup_format.h"
#include "registry/win_types.h"
#include "view/divider_layout.h"
#include "view/key_tree_model.h"
#include "view/value_list_model.h"
#include "ui/prompts.h"

class LongWorkProgress;
class QTreeView;
class CTovikDoc;
namespace tovik { class BackupExport; }

class CTovikView : public QWidget {
    Q_OBJECT
public:
    using ItemId = KeyTreeModel::ItemId;

    explicit CTovikView(QWidget* parent = nullptr);
    ~CTovikView() override;

    void SetDocument(CTovikDoc* doc) { m_pDocument = doc; }
    CTovikDoc* GetDocument() const { return m_pDocument; }
    // Replaces the dialogs' seam (tests script the answers); the view owns it.
    void SetPrompts(std::unique_ptr<ViewPrompts> prompts) { m_prompts = std::move(prompts); }
    ViewPrompts& Prompts() { return *m_prompts; }

    // Initial update: layout step every time, the one-time setup once per view.
    void OnInitialUpdate();

    // Tree
    void InsertRootKeys();
    void InsertSubKeys(ItemId parent, HKEY root, const std::u16string& path);
    void GetItemKeyPath(ItemId item, HKEY* root, std::u16string* path) const;
    void LoadSelectedSubKeys();
    // Expands the items above the key at path (and the root's) so that its item shows, as far as
    // the tree has the path's keys.
    void ExpandKeyPath(HKEY root, std::u16string_view path);
    ItemId SelectedItem() const;          // kNoItem when none
    void SelectItem(ItemId item);
    KeyTreeModel& TreeModel() { return m_treeModel; }

    // Value list
    void PostRefreshValues();             // the queued refresh: FillValueList after the caller returns
    void FillValueList();
    int SelectedRow() const;              // -1 when none
    ValueListModel& ListModel() { return m_listModel; }

    // Layout, divider and view modes
    void LayoutStep();
    void LayoutControls();
    void OnViewKeysOnly();
    void OnViewValuesOnly();
    void OnViewBoth();

    // Key commands
    void OnAddKey();
    void OnDeleteKey();
    bool OnUpdateAddKey() const { return true; }
    bool OnUpdateDeleteKey() const { return !m_strKeyPath.empty(); }
    // True when the walk went through; false when it stopped at a key inside itself (a damaged
    // store).
    bool DeleteSubkeys(HKEY root, const std::u16string& path);
    static QString DeleteKeyQuestion(const QString& keyName);

    // Value commands
    void OnDblClkValueList();
    void OnAddDwordValue();
    void OnAddStringValue();
    void OnAddMultiStringValue();
    void OnAddOtherValue();
    void OnDeleteValue();
    bool OnUpdateDeleteValue() const;
    bool OnUpdateAddValue() const { return !m_strKeyPath.empty(); }

    // Going to a key, for the classes beside the view (find, address bar, favourites): selects
    // root\path (names in any case), expanding the items above it and scrolling it into view,
    // and fills the value list at once; with valueName, selects that value's row too. Keys that
    // the tree does not show yet (written meanwhile) are read in. False when the key does not
    // exist (the selection then stays).
    bool GoToKey(HKEY root, std::u16string_view path, const std::optional<std::u16string>& valueName = std::nullopt);
    // The selected row's value name (as stored), if a row is selected.
    std::optional<std::u16string> SelectedValueName() const;
    bool SelectValueRow(std::u16string_view name);
    // Refresh: re-reads the tree and the list from the registry; the selected key and value stay
    // selected where they still exist, else the nearest key above.
    void OnRefresh();

    // Rename in place (F2): the value row when the list has the focus and a row is selected,
    // else the selected key. The edit's result is checked and made in the registry.
    void OnRename();
    bool OnUpdateRename() const { return SelectedItem() != KeyTreeModel::kNoItem; }
    void RenameKeyItem(ItemId item, const QString& newName);
    void RenameValue(const std::u16string& oldName, const QString& newName);
    static constexpr std::u16string_view kNameExistsMessage = u"既に存在します";
    static constexpr std::u16string_view kEmptyNameMessage = u"名前を入力してください。";
    static constexpr std::u16string_view kBackslashMessage = u"キーの名前に \\ は使えません。";
    static constexpr std::u16string_view kRootRenameMessage = u"ルートキーの名前は変更できません。";
    static constexpr std::u16string_view kRenameFailedMessage = u"名前を変更できませんでした。";

    // Export and import of backup files and .reg files
    void OnExport();
    void ExportKey(HKEY root, const std::u16string& path);
    void OnImport();
    // The import of a file already chosen (the file dialog's, or one named on the command line).
    void ImportFile(const QString& fileName);
    // The end of an import that wrote: the view starts again from the roots, after message.
    void ResetAfterImport(std::u16string_view message);
    void ResetAfterImport(const QString& message);
    // Marks the document changed, as every write from the view does.
    void SetModified();
    std::u16string TakeImportLine();
    void ImportKeys(HKEY root);
    // Set when the tree fill met a key inside itself (a damaged store); told once it is done.
    bool m_bTreeLoops = false;
    LongWorkProgress* m_pFillProgress = nullptr;   // during InsertRootKeys
    static constexpr std::u16string_view kTreeLoopsMessage =
        u"レジストリが壊れています。キーが自分自身の中にあるため、その先は表示しません。";
    static constexpr std::u16string_view kDeleteLoopsMessage =
        u"レジストリが壊れています。キーが自分自身の中にあるため、削除を途中で止めました。";
    tovik::BackupText m_importLines;   // the lines of the file being imported, in one buffer
    tovik::BackupExport* m_pExport = nullptr;    // the file ExportKey writes to, during OnExport

    // Command routing: the frame asks whether a command is handled and enabled, and runs it.
    // A command without a handler is disabled.
    using CommandHandler = std::function<void()>;
    using UpdateHandler = std::function<bool()>;
    void AddCommand(int id, CommandHandler handler, UpdateHandler enabled = {});
    bool IsCommandEnabled(int id) const;
    bool OnCommand(int id);

    // Shared state read by the commands.
    QTreeView* m_tree = nullptr;   // control 1000
    QTreeView* m_list = nullptr;   // control 1001
    HKEY m_hRootKey = 0;
    std::u16string m_strKeyPath;
    LayoutRect m_rcClient;
    int m_nDividerY = 0;

signals:
    void valuesRefreshed();
    // The selected key changed (m_hRootKey and m_strKeyPath name the new one), or was renamed.
    void currentKeyChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OneTimeSetup();
    void OnSelChanged();
    void OnDblClkTree();
    void ReadClientRect();
    void ReloadChildren(ItemId item);
    void PaintStrip(const QColor& colour);

    KeyTreeModel m_treeModel;
    ValueListModel m_listModel;
    CTovikDoc* m_pDocument = nullptr;
    std::unique_ptr<ViewPrompts> m_prompts;
    bool m_bSetupDone = false;
    bool m_bLaidOut = false;
    QColor m_stripColour;
    struct Command {
        CommandHandler run;
        UpdateHandler enabled;
    };
    std::map<int, Command> m_commands;
    bool m_bGoingToKey = false;
};
