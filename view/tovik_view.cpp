#include "view/tovik_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QTreeView>

#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "find/key_path.h"
#include "registry/key_path.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/roots.h"
#include "registry/name_fold.h"
#include "ui/icons.h"
#include "ui/long_work_progress.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_doc.h"
#include "view/view_commands.h"

namespace {

KeyTreeModel::ItemId ChildNamed(const KeyTreeModel& model, KeyTreeModel::ItemId parent, std::u16string_view name) {
    for (const KeyTreeModel::ItemId child : model.Children(parent))
        if (CompareNames(ToU16View(model.ItemText(child)), name) == 0) return child;
    return KeyTreeModel::kNoItem;
}

}  // namespace

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
    // A refill drops the selection without a selection signal, so the reset counts as a change.
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CTovikView::selectedValueChanged);
    connect(&m_listModel, &QAbstractItemModel::modelReset, this, &CTovikView::selectedValueChanged);

    m_stripColour = palette().color(QPalette::Window);
    setCursor(Qt::SplitVCursor);   // only the divider strip and the edges show the view itself
    m_tree->setCursor(Qt::ArrowCursor);
    m_list->setCursor(Qt::ArrowCursor);

    m_pCommands = new ViewCommands(*this);
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

void CTovikView::ReloadChildren(ItemId item) {
    m_treeModel.DeleteChildren(item);
    HKEY root = 0;
    std::u16string path;
    GetItemKeyPath(item, &root, &path);
    InsertSubKeys(item, root, path);
}

void CTovikView::ReloadTree() {
    m_treeModel.DeleteItem(KeyTreeModel::kRootItem);
    InsertRootKeys();
}

void CTovikView::OnRefresh() {
    const HKEY root = m_hRootKey;
    const std::u16string path = m_strKeyPath;
    const std::optional<std::u16string> value = SelectedValueName();
    ReloadTree();
    if (root == 0) {
        FillValueList();
        return;
    }
    const tovik::find::ResolvedKeyPath resolved = tovik::find::ResolveKeyPath(root, path);
    GoToKey(root, resolved.existingPath, resolved.exists ? value : std::nullopt);
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

std::optional<std::u16string> CTovikView::SelectedValueName() const {
    const int row = SelectedRow();
    if (row < 0) return std::nullopt;
    return m_listModel.Row(row).name;
}

QString CTovikView::SelectedValueTypeText() const {
    const int row = SelectedRow();
    return row < 0 ? QString() : ToQString(tovik::TypeDescription(m_listModel.Row(row).type));
}

bool CTovikView::SelectValueRow(std::u16string_view name) {
    for (int row = 0; row < m_listModel.RowCount(); ++row) {
        if (CompareNames(m_listModel.Row(row).name, name) != 0) continue;
        const QModelIndex index = m_listModel.index(row, 0);
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_list->scrollTo(index);
        return true;
    }
    return false;
}


// ---- the current key ----

bool CTovikView::GoToKey(HKEY root, std::u16string_view path, const std::optional<std::u16string>& valueName) {
    ItemId item = KeyTreeModel::kNoItem;
    for (const ItemId top : m_treeModel.Children(KeyTreeModel::kRootItem))
        if (m_treeModel.ItemData(top) == root) item = top;
    if (item == KeyTreeModel::kNoItem) return false;
    for (const std::u16string_view name : tovik::SplitKeyPath(path)) {
        ItemId child = ChildNamed(m_treeModel, item, name);
        if (child == KeyTreeModel::kNoItem) {
            // Written since the tree was read (by tovik-reg, say): read this level again.
            ReloadChildren(item);
            child = ChildNamed(m_treeModel, item, name);
        }
        if (child == KeyTreeModel::kNoItem) return false;
        m_tree->expand(m_treeModel.IndexOf(item));
        item = child;
    }
    m_bGoingToKey = true;
    SelectItem(item);
    m_bGoingToKey = false;
    GetItemKeyPath(item, &m_hRootKey, &m_strKeyPath);
    FillValueList();
    if (valueName) SelectValueRow(*valueName);
    return true;
}

void CTovikView::CurrentKeyRenamed() {
    GetItemKeyPath(SelectedItem(), &m_hRootKey, &m_strKeyPath);
    emit currentKeyChanged();
}

void CTovikView::ClearCurrentKey() {
    m_strKeyPath.clear();
    m_hRootKey = 0;
    m_listModel.Clear();
}

void CTovikView::SetModified() {
    if (m_pDocument) m_pDocument->SetModifiedFlag(true);
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

bool CTovikView::IsCommandEnabled(int id) const { return m_pCommands->IsEnabled(id); }

bool CTovikView::OnCommand(int id) { return m_pCommands->Run(id); }
