#include "view/tovik_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QTreeView>

#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/roots.h"
#include "registry/name_fold.h"
#include "ui/icons.h"
#include "view/command_ids.h"
#include "ui/long_work_progress.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

CTovikView::CTovikView(QWidget* parent) : QWidget(parent), m_prompts(std::make_unique<ViewPrompts>()) {
    setObjectName(QStringLiteral("CTovikView"));
    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("1000"));
    m_tree->setHeaderHidden(true);
    m_tree->setUniformRowHeights(true);
    m_tree->setRootIsDecorated(true);   // buttons and lines at the root
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setModel(&m_treeModel);

    m_list = new QTreeView(this);
    m_list->setObjectName(QStringLiteral("1001"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setItemsExpandable(false);
    m_list->setAllColumnsShowFocus(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setModel(&m_listModel);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);
    m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { OnSelChanged(); });
    connect(m_tree, &QTreeView::doubleClicked, this, [this] { OnDblClkTree(); });

    m_stripColour = palette().color(QPalette::Window);
    setCursor(Qt::SplitVCursor);   // only the divider strip and the edges show the view itself
    m_tree->setCursor(Qt::ArrowCursor);
    m_list->setCursor(Qt::ArrowCursor);

    AddCommand(32772, [this] { OnViewKeysOnly(); });
    AddCommand(32773, [this] { OnViewValuesOnly(); });
    AddCommand(32774, [this] { OnViewBoth(); });
    AddCommand(32775, [this] { OnDeleteValue(); }, [this] { return OnUpdateDeleteValue(); });
    AddCommand(32776, [this] { OnDeleteKey(); }, [this] { return OnUpdateDeleteKey(); });
    AddCommand(32777, [this] { OnAddDwordValue(); }, [this] { return OnUpdateAddValue(); });
    AddCommand(32778, [this] { OnAddStringValue(); }, [this] { return OnUpdateAddValue(); });
    AddCommand(32779, [this] { OnAddOtherValue(); }, [this] { return OnUpdateAddValue(); });
    AddCommand(32780, [this] { OnAddKey(); }, [this] { return OnUpdateAddKey(); });
    AddCommand(32781, [this] { OnExport(); });
    AddCommand(32782, [this] { OnImport(); });
    AddCommand(32783, [this] { OnAddMultiStringValue(); });
    AddCommand(ID_RENAME, [this] { OnRename(); }, [this] { return OnUpdateRename(); });
    AddCommand(ID_REFRESH, [this] { OnRefresh(); });
    connect(&m_treeModel, &KeyTreeModel::renameRequested, this,
            [this](ItemId item, const QString& name) { RenameKeyItem(item, name); });
    // A value is renamed once its editor has closed: refilling the list while the editor commits
    // would destroy the editor under the view, taking the list's focus and selection with it.
    connect(&m_listModel, &ValueListModel::renameRequested, this, [this](int row, const QString& name) {
        if (row < 0 || row >= m_listModel.RowCount()) return;
        const std::u16string oldName = m_listModel.Row(row).name;
        QMetaObject::invokeMethod(this, [this, oldName, name] { RenameValue(oldName, name); }, Qt::QueuedConnection);
    });
    connect(m_list, &QTreeView::doubleClicked, this, [this] { OnDblClkValueList(); });
    // Desktop habits: Enter edits the selected value, Delete deletes it; Delete in the tree
    // deletes the key while that command is enabled.
    auto runIfEnabled = [this](int id) {
        if (IsCommandEnabled(id)) OnCommand(id);
    };
    for (const int key : {Qt::Key_Return, Qt::Key_Enter})
        new QShortcut(QKeySequence(key), m_list, this, [this] { OnDblClkValueList(); }, Qt::WidgetShortcut);
    new QShortcut(QKeySequence(Qt::Key_Delete), m_list, this, [runIfEnabled] { runIfEnabled(32775); },
                  Qt::WidgetShortcut);
    new QShortcut(QKeySequence(Qt::Key_Delete), m_tree, this, [runIfEnabled] { runIfEnabled(32776); },
                  Qt::WidgetShortcut);
}

CTovikView::~CTovikView() = default;

void CTovikView::OnInitialUpdate() {
    LayoutStep();
    if (m_bSetupDone) return;
    m_bSetupDone = true;
    OneTimeSetup();
}

void CTovikView::OneTimeSetup() {
    // Report view with three left-aligned columns of fixed widths.
    m_list->header()->resizeSection(0, 100);
    m_list->header()->resizeSection(1, 50);
    m_list->header()->resizeSection(2, 240);
    m_treeModel.SetIcons(FolderIcon());
    m_listModel.SetIcons({BinaryValueIcon(), StringValueIcon(), NumberValueIcon()});
    m_tree->setIconSize(QSize(16, 16));
    m_list->setIconSize(QSize(16, 16));
    InsertRootKeys();
}

// ---- tree ----

void CTovikView::InsertRootKeys() {
    const tovik::RegistryReadSnapshot snapshot;   // one read transaction for the whole walk
    // A large registry takes a while: progress, without 中止 (a half-read tree would mislead).
    // The tree itself is not painted while it fills.
    LongWorkProgress progress(this, Tovik::tr("レジストリを読み込んでいます… %1 キー"), 0, false);
    m_pFillProgress = &progress;
    m_tree->setUpdatesEnabled(false);
    m_treeModel.BeginBulkInsert();
    for (const tovik::RootInfo& held : tovik::HeldRoots()) {
        const HKEY root = held.handle;
        const ItemId item = m_treeModel.InsertItem(KeyTreeModel::kRootItem, ToQString(RootKeyName(root)));
        m_treeModel.SetItemData(item, root);
        InsertSubKeys(item, root, std::u16string());
    }
    m_treeModel.EndBulkInsert();
    m_tree->setUpdatesEnabled(true);
    m_pFillProgress = nullptr;
    progress.Close();
    if (m_bTreeLoops) {
        m_bTreeLoops = false;
        Prompts().MessageBox(this, Translated(kTreeLoopsMessage), MessageButtons::Ok);
    }
}

void CTovikView::InsertSubKeys(ItemId parent, HKEY root, const std::u16string& path) {
    tovik::KeyHandle hKey;
    if (const LONG rc = RegOpenKeyExW(root, path.c_str(), 0, 0, hKey.receive()); rc != ERROR_SUCCESS) {
        // A key that lies inside itself (a damaged store): its item stays without children.
        if (rc == ERROR_BADDB) m_bTreeLoops = true;
        return;
    }
    tovik::EnumBuffers buffers;
    std::u16string childPath;
    for (DWORD index = 0;; ++index) {
        std::u16string_view child;
        if (tovik::EnumSubkeyName(hKey.get(), index, buffers, child) != ERROR_SUCCESS) break;
        const ItemId item = m_treeModel.InsertItem(parent, ToQString(child));
        if (m_pFillProgress != nullptr) m_pFillProgress->Step(m_treeModel.ItemCount());
        childPath = path;
        if (!childPath.empty()) childPath += u'\\';
        childPath += child;
        InsertSubKeys(item, root, childPath);
    }
    m_treeModel.SortChildren(parent);
}

void CTovikView::GetItemKeyPath(ItemId item, HKEY* root, std::u16string* path) const {
    *root = 0;
    path->clear();
    if (!m_treeModel.IsValid(item) || item == KeyTreeModel::kRootItem) return;
    if (m_treeModel.ItemData(item) != 0) {
        *root = m_treeModel.ItemData(item);
        return;
    }
    // Collect the names upward, then join them root first.
    std::vector<ItemId> chain{item};
    ItemId parent = m_treeModel.Parent(item);
    while (parent != KeyTreeModel::kRootItem && parent != KeyTreeModel::kNoItem && m_treeModel.ItemData(parent) == 0) {
        chain.push_back(parent);
        parent = m_treeModel.Parent(parent);
    }
    if (parent == KeyTreeModel::kRootItem || parent == KeyTreeModel::kNoItem) return;   // no root above
    *root = m_treeModel.ItemData(parent);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path->empty()) *path += u'\\';
        *path += ToU16View(m_treeModel.ItemText(*it));
    }
}

CTovikView::ItemId CTovikView::SelectedItem() const {
    const QModelIndex current = m_tree->selectionModel()->currentIndex();
    return current.isValid() ? m_treeModel.ItemOf(current) : KeyTreeModel::kNoItem;
}

void CTovikView::SelectItem(ItemId item) {
    const QModelIndex index = m_treeModel.IndexOf(item);
    m_tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_tree->scrollTo(index);
}

void CTovikView::OnSelChanged() {
    const ItemId item = SelectedItem();
    if (item == KeyTreeModel::kNoItem) return;
    GetItemKeyPath(item, &m_hRootKey, &m_strKeyPath);
    if (!m_bGoingToKey) PostRefreshValues();   // GoToKey fills the list itself
    emit currentKeyChanged();
}

void CTovikView::OnDblClkTree() { LoadSelectedSubKeys(); }

void CTovikView::ExpandKeyPath(HKEY root, std::u16string_view path) {
    ItemId item = KeyTreeModel::kNoItem;
    for (ItemId top : m_treeModel.Children(KeyTreeModel::kRootItem))
        if (m_treeModel.ItemData(top) == root) item = top;
    if (item == KeyTreeModel::kNoItem) return;
    while (!path.empty()) {
        const std::size_t cut = path.find(u'\\');
        const std::u16string_view name = path.substr(0, cut);
        path = cut == std::u16string_view::npos ? std::u16string_view() : path.substr(cut + 1);
        ItemId next = KeyTreeModel::kNoItem;
        for (ItemId child : m_treeModel.Children(item))
            if (CompareNames(ToU16View(m_treeModel.ItemText(child)), name) == 0) next = child;
        if (next == KeyTreeModel::kNoItem) break;
        m_tree->expand(m_treeModel.IndexOf(item));
        item = next;
    }
    m_tree->scrollTo(m_treeModel.IndexOf(item));
}

void CTovikView::LoadSelectedSubKeys() {
    const ItemId item = SelectedItem();
    if (item == KeyTreeModel::kNoItem) return;
    if (m_treeModel.ItemData(item) != 0) {
        m_hRootKey = m_treeModel.ItemData(item);
        m_strKeyPath.clear();
        return;
    }
    if (!m_treeModel.HasChildren(item)) {
        HKEY root = 0;
        std::u16string path;
        GetItemKeyPath(item, &root, &path);
        InsertSubKeys(item, root, path);
    }
    m_treeModel.SortChildren(item);
}

// ---- value list ----

void CTovikView::PostRefreshValues() {
    QMetaObject::invokeMethod(this, &CTovikView::FillValueList, Qt::QueuedConnection);
}

void CTovikView::FillValueList() {
    m_listModel.Clear();
    tovik::KeyHandle hKey;
    if (RegOpenKeyExW(m_hRootKey, m_strKeyPath.c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS) {
        emit valuesRefreshed();
        return;
    }
    const tovik::RegistryReadSnapshot snapshot;
    std::vector<ValueRow> rows;
    tovik::EnumBuffers buffers;
    tovik::EnumeratedValue value;
    for (DWORD index = 0; tovik::EnumValue(hKey.get(), index, buffers, value) == ERROR_SUCCESS; ++index)
        rows.push_back({std::u16string(value.name), value.type, Bytes(value.data, value.data + value.size)});
    hKey.reset();
    m_listModel.SetRows(std::move(rows));
    emit valuesRefreshed();
}

int CTovikView::SelectedRow() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

// ---- layout and divider ----

void CTovikView::ReadClientRect() {
    m_rcClient = {0, 0, width() - 1, height() - 1};
}

void CTovikView::LayoutStep() {
    ReadClientRect();
    m_nDividerY = DividerBoth(m_rcClient);
    m_bLaidOut = true;
    LayoutControls();
}

void CTovikView::LayoutControls() {
    // A control given a negative height is shown empty.
    const ControlPlacement tree = TreePlacement(m_rcClient, m_nDividerY);
    const ControlPlacement list = ListPlacement(m_rcClient, m_nDividerY);
    m_tree->setGeometry(tree.x, tree.y, std::max(tree.width, 0), std::max(tree.height, 0));
    m_list->setGeometry(list.x, list.y, std::max(list.width, 0), std::max(list.height, 0));
    update();
}

void CTovikView::OnViewKeysOnly() {
    m_nDividerY = DividerKeysOnly(m_rcClient);
    LayoutControls();
}

void CTovikView::OnViewValuesOnly() {
    m_nDividerY = DividerValuesOnly(m_rcClient);
    LayoutControls();
}

void CTovikView::OnViewBoth() {
    m_nDividerY = DividerBoth(m_rcClient);
    LayoutControls();
}

void CTovikView::PaintStrip(const QColor& colour) {
    m_stripColour = colour;
    update();
}

void CTovikView::mousePressEvent(QMouseEvent* event) {
    grabMouse(Qt::SplitVCursor);
    QWidget::mousePressEvent(event);
}

void CTovikView::mouseMoveEvent(QMouseEvent* event) {
    if (QWidget::mouseGrabber() == this) {
        PaintStrip(Qt::black);
        m_nDividerY = static_cast<int>(event->position().y());
        LayoutControls();
    }
    QWidget::mouseMoveEvent(event);
}

void CTovikView::mouseReleaseEvent(QMouseEvent* event) {
    PaintStrip(palette().color(QPalette::Window));
    releaseMouse();
    QWidget::mouseReleaseEvent(event);
}

void CTovikView::paintEvent(QPaintEvent*) {
    // The children cover all but the strip and the edge pixels, which take the strip's colour.
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, m_rcClient.Width(), m_rcClient.Height()), m_stripColour);
}

void CTovikView::resizeEvent(QResizeEvent* event) {
    // On a desktop the window can be resized: the controls follow the new size, the divider stays.
    QWidget::resizeEvent(event);
    if (!m_bLaidOut) return;
    ReadClientRect();
    LayoutControls();
}

// ---- commands ----

void CTovikView::AddCommand(int id, CommandHandler handler, UpdateHandler enabled) {
    m_commands[id] = {std::move(handler), std::move(enabled)};
}

bool CTovikView::IsCommandEnabled(int id) const {
    const auto it = m_commands.find(id);
    if (it == m_commands.end()) return false;
    return !it->second.enabled || it->second.enabled();
}

bool CTovikView::OnCommand(int id) {
    const auto it = m_commands.find(id);
    if (it == m_commands.end()) return false;
    it->second.run();
    return true;
}
