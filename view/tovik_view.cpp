#include "view/tovik_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QTreeView>

#include "find/key_path.h"
#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/key_path.h"
#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/roots.h"
#include "ui/icons.h"
#include "ui/long_work_progress.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_doc.h"
#include "view/view_commands.h"

namespace {

KeyTreeModel::ItemId childNamed(const KeyTreeModel& model, KeyTreeModel::ItemId parent, std::u16string_view name) {
    for (const KeyTreeModel::ItemId child : model.children(parent))
        if (compareNames(toU16View(model.itemText(child)), name) == 0) return child;
    return KeyTreeModel::kNoItem;
}

}  // namespace

CTovikView::CTovikView(QWidget* parent) : QWidget(parent), m_prompts(std::make_unique<ViewPrompts>()) {
    setObjectName(QStringLiteral("CTovikView"));
    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("1000"));
    m_tree->setHeaderHidden(true);
    m_tree->setUniformRowHeights(true);
    m_tree->setRootIsDecorated(true);  // buttons and lines at the root
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
    setCursor(Qt::SplitVCursor);  // only the divider strip and the edges show the view itself
    m_tree->setCursor(Qt::ArrowCursor);
    m_list->setCursor(Qt::ArrowCursor);

    m_pCommands = new ViewCommands(*this);
}

CTovikView::~CTovikView() = default;

void CTovikView::OnInitialUpdate() {
    layoutStep();
    if (m_bSetupDone) return;
    m_bSetupDone = true;
    oneTimeSetup();
}

void CTovikView::oneTimeSetup() {
    // Report view with three left-aligned columns of fixed widths.
    m_list->header()->resizeSection(0, 100);
    m_list->header()->resizeSection(1, 50);
    m_list->header()->resizeSection(2, 240);
    m_treeModel.setIcons(folderIcon());
    m_listModel.setIcons({binaryValueIcon(), stringValueIcon(), numberValueIcon()});
    m_tree->setIconSize(QSize(16, 16));
    m_list->setIconSize(QSize(16, 16));
    InsertRootKeys();
}

// ---- tree ----

void CTovikView::InsertRootKeys() {
    const tovik::RegistryReadSnapshot snapshot;  // one read transaction for the whole walk
    // A large registry takes a while: progress, without 中止 (a half-read tree would mislead).
    // The tree itself is not painted while it fills.
    LongWorkProgress progress(this, Tovik::tr("レジストリを読み込んでいます… %1 キー"), 0, false);
    m_pFillProgress = &progress;
    m_tree->setUpdatesEnabled(false);
    m_treeModel.beginBulkInsert();
    for (const tovik::RootInfo& held : tovik::heldRoots()) {
        const HKEY root = held.handle;
        const ItemId item = m_treeModel.insertItem(KeyTreeModel::kRootItem, toQString(rootKeyName(root)));
        m_treeModel.setItemData(item, root);
        InsertSubKeys(item, root, std::u16string());
    }
    m_treeModel.endBulkInsert();
    m_tree->setUpdatesEnabled(true);
    m_pFillProgress = nullptr;
    progress.close();
    if (m_bTreeLoops) {
        m_bTreeLoops = false;
        prompts().messageBox(this, translated(kTreeLoopsMessage), MessageButtons::Ok);
    }
}

void CTovikView::InsertSubKeys(ItemId parent, HKEY root, const std::u16string& path) {
    tovik::KeyHandle hKey;
    if (const LONG rc = RegOpenKeyExW(root, path.c_str(), 0, 0, hKey.receive()); rc != ERROR_SUCCESS) {
        // A key that lies inside itself (a damaged store): its item stays without children.
        if (rc == ERROR_BADDB) m_bTreeLoops = true;
        return;
    }
    insertChildren(parent, hKey.get());
}

void CTovikView::insertChildren(ItemId parent, HKEY key) {
    tovik::EnumBuffers buffers;
    for (DWORD index = 0;; ++index) {
        std::u16string_view child;
        if (tovik::enumSubkeyName(key, index, buffers, child) != ERROR_SUCCESS) break;
        const ItemId item = m_treeModel.insertItem(parent, toQString(child));
        if (m_pFillProgress != nullptr) m_pFillProgress->step(m_treeModel.itemCount());
        // Opened by its name below the key just enumerated (the buffer holds it with its
        // terminator): the registry layer knows it from the enumeration, where a path from the
        // root would be looked up again at every level.
        tovik::KeyHandle hChild;
        if (const LONG rc = RegOpenKeyExW(key, child.data(), 0, 0, hChild.receive()); rc != ERROR_SUCCESS) {
            if (rc == ERROR_BADDB) m_bTreeLoops = true;
            continue;
        }
        insertChildren(item, hChild.get());
    }
    m_treeModel.sortChildren(parent);
}

void CTovikView::GetItemKeyPath(ItemId item, HKEY* root, std::u16string* path) const {
    *root = 0;
    path->clear();
    if (!m_treeModel.isValid(item) || item == KeyTreeModel::kRootItem) return;
    if (m_treeModel.itemData(item) != 0) {
        *root = m_treeModel.itemData(item);
        return;
    }
    // Collect the names upward, then join them root first.
    std::vector<ItemId> chain{item};
    ItemId parent = m_treeModel.parent(item);
    while (parent != KeyTreeModel::kRootItem && parent != KeyTreeModel::kNoItem && m_treeModel.itemData(parent) == 0) {
        chain.push_back(parent);
        parent = m_treeModel.parent(parent);
    }
    if (parent == KeyTreeModel::kRootItem || parent == KeyTreeModel::kNoItem) return;  // no root above
    *root = m_treeModel.itemData(parent);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path->empty()) *path += u'\\';
        *path += toU16View(m_treeModel.itemText(*it));
    }
}

CTovikView::ItemId CTovikView::selectedItem() const {
    const QModelIndex current = m_tree->selectionModel()->currentIndex();
    return current.isValid() ? m_treeModel.itemOf(current) : KeyTreeModel::kNoItem;
}

void CTovikView::selectItem(ItemId item) {
    const QModelIndex index = m_treeModel.indexOf(item);
    m_tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_tree->scrollTo(index);
}

void CTovikView::OnSelChanged() {
    const ItemId item = selectedItem();
    if (item == KeyTreeModel::kNoItem) return;
    GetItemKeyPath(item, &m_hRootKey, &m_strKeyPath);
    if (!m_bGoingToKey) postRefreshValues();  // GoToKey fills the list itself
    emit currentKeyChanged();
}

void CTovikView::OnDblClkTree() {
    LoadSelectedSubKeys();
}

void CTovikView::expandKeyPath(HKEY root, std::u16string_view path) {
    ItemId item = KeyTreeModel::kNoItem;
    for (ItemId top : m_treeModel.children(KeyTreeModel::kRootItem))
        if (m_treeModel.itemData(top) == root) item = top;
    if (item == KeyTreeModel::kNoItem) return;
    while (!path.empty()) {
        const std::size_t cut = path.find(u'\\');
        const std::u16string_view name = path.substr(0, cut);
        path = cut == std::u16string_view::npos ? std::u16string_view() : path.substr(cut + 1);
        ItemId next = KeyTreeModel::kNoItem;
        for (ItemId child : m_treeModel.children(item))
            if (compareNames(toU16View(m_treeModel.itemText(child)), name) == 0) next = child;
        if (next == KeyTreeModel::kNoItem) break;
        m_tree->expand(m_treeModel.indexOf(item));
        item = next;
    }
    m_tree->scrollTo(m_treeModel.indexOf(item));
}

void CTovikView::LoadSelectedSubKeys() {
    const ItemId item = selectedItem();
    if (item == KeyTreeModel::kNoItem) return;
    if (m_treeModel.itemData(item) != 0) {
        m_hRootKey = m_treeModel.itemData(item);
        m_strKeyPath.clear();
        return;
    }
    if (!m_treeModel.hasChildren(item)) {
        HKEY root = 0;
        std::u16string path;
        GetItemKeyPath(item, &root, &path);
        InsertSubKeys(item, root, path);
    }
    m_treeModel.sortChildren(item);
}

void CTovikView::reloadChildren(ItemId item) {
    m_treeModel.deleteChildren(item);
    HKEY root = 0;
    std::u16string path;
    GetItemKeyPath(item, &root, &path);
    InsertSubKeys(item, root, path);
}

void CTovikView::reloadTree() {
    m_treeModel.deleteItem(KeyTreeModel::kRootItem);
    InsertRootKeys();
}

void CTovikView::OnRefresh() {
    const HKEY root = m_hRootKey;
    const std::u16string path = m_strKeyPath;
    const std::optional<std::u16string> value = selectedValueName();
    reloadTree();
    if (root == 0) {
        FillValueList();
        return;
    }
    const tovik::find::ResolvedKeyPath resolved = tovik::find::resolveKeyPath(root, path);
    goToKey(root, resolved.existingPath, resolved.exists ? value : std::nullopt);
}

// ---- value list ----

void CTovikView::postRefreshValues() {
    QMetaObject::invokeMethod(this, &CTovikView::FillValueList, Qt::QueuedConnection);
}

void CTovikView::FillValueList() {
    m_listModel.clear();
    tovik::KeyHandle hKey;
    if (RegOpenKeyExW(m_hRootKey, m_strKeyPath.c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS) {
        emit valuesRefreshed();
        return;
    }
    const tovik::RegistryReadSnapshot snapshot;
    std::vector<ValueRow> rows;
    tovik::EnumBuffers buffers;
    tovik::EnumeratedValue value;
    for (DWORD index = 0; tovik::enumValue(hKey.get(), index, buffers, value) == ERROR_SUCCESS; ++index)
        rows.push_back({std::u16string(value.name), value.type, Bytes(value.data, value.data + value.size)});
    hKey.reset();
    m_listModel.setRows(std::move(rows));
    emit valuesRefreshed();
}

int CTovikView::selectedRow() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

std::optional<std::u16string> CTovikView::selectedValueName() const {
    const int row = selectedRow();
    if (row < 0) return std::nullopt;
    return m_listModel.rowAt(row).name;
}

QString CTovikView::selectedValueTypeText() const {
    const int row = selectedRow();
    return row < 0 ? QString() : toQString(tovik::typeDescription(m_listModel.rowAt(row).type));
}

bool CTovikView::selectValueRow(std::u16string_view name) {
    for (int row = 0; row < m_listModel.valueCount(); ++row) {
        if (compareNames(m_listModel.rowAt(row).name, name) != 0) continue;
        const QModelIndex index = m_listModel.index(row, 0);
        m_list->selectionModel()->setCurrentIndex(index,
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_list->scrollTo(index);
        return true;
    }
    return false;
}

// ---- the current key ----

bool CTovikView::goToKey(HKEY root, std::u16string_view path, const std::optional<std::u16string>& valueName) {
    ItemId item = KeyTreeModel::kNoItem;
    for (const ItemId top : m_treeModel.children(KeyTreeModel::kRootItem))
        if (m_treeModel.itemData(top) == root) item = top;
    if (item == KeyTreeModel::kNoItem) return false;
    for (const std::u16string_view name : tovik::splitKeyPath(path)) {
        ItemId child = childNamed(m_treeModel, item, name);
        if (child == KeyTreeModel::kNoItem) {
            // Written since the tree was read (by tovik-reg, say): read this level again.
            reloadChildren(item);
            child = childNamed(m_treeModel, item, name);
        }
        if (child == KeyTreeModel::kNoItem) return false;
        m_tree->expand(m_treeModel.indexOf(item));
        item = child;
    }
    m_bGoingToKey = true;
    selectItem(item);
    m_bGoingToKey = false;
    GetItemKeyPath(item, &m_hRootKey, &m_strKeyPath);
    FillValueList();
    if (valueName) selectValueRow(*valueName);
    return true;
}

void CTovikView::currentKeyRenamed() {
    GetItemKeyPath(selectedItem(), &m_hRootKey, &m_strKeyPath);
    emit currentKeyChanged();
}

void CTovikView::clearCurrentKey() {
    m_strKeyPath.clear();
    m_hRootKey = 0;
    m_listModel.clear();
}

void CTovikView::setModified() {
    if (m_pDocument) m_pDocument->setModifiedFlag(true);
}

// ---- layout and divider ----

void CTovikView::readClientRect() {
    m_rcClient = {0, 0, width() - 1, height() - 1};
}

void CTovikView::layoutStep() {
    readClientRect();
    m_nDividerY = dividerBoth(m_rcClient);
    m_bLaidOut = true;
    LayoutControls();
}

void CTovikView::LayoutControls() {
    // A control given a negative height is shown empty.
    const ControlPlacement tree = treePlacement(m_rcClient, m_nDividerY);
    const ControlPlacement list = listPlacement(m_rcClient, m_nDividerY);
    m_tree->setGeometry(tree.x, tree.y, std::max(tree.width, 0), std::max(tree.height, 0));
    m_list->setGeometry(list.x, list.y, std::max(list.width, 0), std::max(list.height, 0));
    update();
}

void CTovikView::OnViewKeysOnly() {
    m_nDividerY = dividerKeysOnly(m_rcClient);
    LayoutControls();
}

void CTovikView::OnViewValuesOnly() {
    m_nDividerY = dividerValuesOnly(m_rcClient);
    LayoutControls();
}

void CTovikView::OnViewBoth() {
    m_nDividerY = dividerBoth(m_rcClient);
    LayoutControls();
}

void CTovikView::paintStrip(const QColor& colour) {
    m_stripColour = colour;
    update();
}

void CTovikView::mousePressEvent(QMouseEvent* event) {
    grabMouse(Qt::SplitVCursor);
    QWidget::mousePressEvent(event);
}

void CTovikView::mouseMoveEvent(QMouseEvent* event) {
    if (QWidget::mouseGrabber() == this) {
        paintStrip(Qt::black);
        m_nDividerY = static_cast<int>(event->position().y());
        LayoutControls();
    }
    QWidget::mouseMoveEvent(event);
}

void CTovikView::mouseReleaseEvent(QMouseEvent* event) {
    paintStrip(palette().color(QPalette::Window));
    releaseMouse();
    QWidget::mouseReleaseEvent(event);
}

void CTovikView::paintEvent(QPaintEvent*) {
    // The children cover all but the strip and the edge pixels, which take the strip's colour.
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, m_rcClient.width(), m_rcClient.height()), m_stripColour);
}

void CTovikView::resizeEvent(QResizeEvent* event) {
    // On a desktop the window can be resized: the controls follow the new size, the divider stays.
    QWidget::resizeEvent(event);
    if (!m_bLaidOut) return;
    readClientRect();
    LayoutControls();
}

// ---- commands ----

bool CTovikView::isCommandEnabled(int id) const {
    return m_pCommands->isEnabled(id);
}

bool CTovikView::OnCommand(int id) {
    return m_pCommands->run(id);
}
