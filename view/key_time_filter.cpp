#include "view/key_time_filter.h"

#include <QDateEdit>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <QToolButton>
#include <QTreeView>

#include "registry/key_handle.h"
#include "registry/key_time.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_view.h"

namespace {

// Past this many keys above the matches the tree is left as the user had it: expanding them all
// would bury the matches rather than show them.
constexpr std::size_t kExpandLimit = 200;

}  // namespace

KeyTimeFilter::KeyTimeFilter(CTovikView& view) : QObject(&view), m_view(view) {
    m_bar = new QWidget;
    m_bar->setObjectName(QStringLiteral("keyTimeFilterBar"));
    auto* layout = new QHBoxLayout(m_bar);
    layout->setContentsMargins(2, 0, 2, 0);
    // One sentence around the day, so that each language puts the day where it belongs.
    const QString sentence = Tovik::tr("%1 以降に更新");
    const qsizetype at = sentence.indexOf(QStringLiteral("%1"));
    const QString before = sentence.left(at).trimmed();
    const QString after = sentence.mid(at + 2).trimmed();
    if (!before.isEmpty()) layout->addWidget(new QLabel(before, m_bar));
    m_date = new QDateEdit(QDate::currentDate(), m_bar);
    m_date->setObjectName(QStringLiteral("keyTimeFilterDate"));
    m_date->setCalendarPopup(true);
    layout->addWidget(m_date);
    if (!after.isEmpty()) layout->addWidget(new QLabel(after, m_bar));
    auto* clear = new QToolButton(m_bar);
    clear->setObjectName(QStringLiteral("keyTimeFilterClear"));
    clear->setText(Tovik::tr("解除"));
    layout->addWidget(clear);
    layout->addStretch(1);

    connect(m_date, &QDateEdit::dateChanged, this, [this](const QDate& day) {
        if (m_since) filterSince(startOfLocalDay(day));
    });
    connect(clear, &QToolButton::clicked, this, &KeyTimeFilter::OnClearTimeFilter);
    new QShortcut(QKeySequence(Qt::Key_Escape), m_bar, this, &KeyTimeFilter::OnClearTimeFilter,
                  Qt::WidgetWithChildrenShortcut);

    // A reset (refresh, import) reads the tree anew and the control forgets its hidden rows.
    connect(&m_view.treeModel(), &QAbstractItemModel::modelReset, this, [this] {
        m_hidden.clear();
        if (m_since) apply();
    });
    connect(&m_view, &CTovikView::currentKeyChanged, this, [this] {
        if (m_since) reveal(m_view.selectedItem());
    });
}

KeyTimeFilter::~KeyTimeFilter() {
    if (m_bar && !m_bar->parent()) delete m_bar;  // never placed in a window
}

std::int64_t KeyTimeFilter::startOfLocalDay(const QDate& day) {
    const QDateTime start(day, QTime(0, 0));
    return start.toMSecsSinceEpoch() * (tovik::kFileTimeTicksPerSecond / 1000) + tovik::kFileTimeOfUnixEpoch;
}

void KeyTimeFilter::OnFilterByTime() {
    emit filterBarWanted();
    filterSince(startOfLocalDay(m_date->date()));
    m_date->setFocus();
}

void KeyTimeFilter::OnClearTimeFilter() {
    m_since.reset();
    showAll();
    emit filterCleared();
    m_view.keyTree()->setFocus();
}

void KeyTimeFilter::filterSince(std::int64_t fileTime) {
    m_since = fileTime;
    apply();
}

bool KeyTimeFilter::rowHidden(ItemId item) const {
    const QModelIndex index = m_view.treeModel().indexOf(item);
    return index.isValid() && m_view.keyTree()->isRowHidden(index.row(), index.parent());
}

void KeyTimeFilter::hideRow(ItemId item) {
    const QModelIndex index = m_view.treeModel().indexOf(item);
    m_view.keyTree()->setRowHidden(index.row(), index.parent(), true);
    m_hidden.push_back(item);
}

void KeyTimeFilter::showAll() {
    const KeyTreeModel& model = m_view.treeModel();
    for (const ItemId item : m_hidden) {
        if (!model.isValid(item)) continue;
        const QModelIndex index = model.indexOf(item);
        m_view.keyTree()->setRowHidden(index.row(), index.parent(), false);
    }
    m_hidden.clear();
}

void KeyTimeFilter::apply() {
    showAll();
    const KeyTreeModel& model = m_view.treeModel();
    const std::int64_t since = *m_since;
    const tovik::RegistryReadSnapshot snapshot;
    // Depth first beside the registry: each item's key opened below its parent's handle. Only the
    // highest keys of a subtree without a match are hidden; what lies below them goes with them.
    struct Frame {
        ItemId item;
        tovik::KeyHandle key;
        std::size_t next = 0;
        bool written = false;  // the key itself was written since
        bool childShown = false;
        std::vector<ItemId> hiddenChildren;
    };
    std::vector<Frame> stack;
    std::vector<ItemId> expand;  // the keys above the matches
    std::u16string name;
    for (const ItemId top : model.children(KeyTreeModel::kRootItem)) {
        stack.push_back({top, tovik::KeyHandle(model.itemData(top))});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            const std::vector<ItemId>& children = model.children(frame.item);
            if (frame.next < children.size()) {
                const ItemId child = children[frame.next++];
                name = toU16View(model.itemText(child));
                tovik::KeyHandle key;
                if (RegOpenKeyExW(frame.key.get(), name.c_str(), 0, 0, key.receive()) != ERROR_SUCCESS) {
                    frame.hiddenChildren.push_back(child);  // gone meanwhile
                    continue;
                }
                const bool written = tovik::keyWriteTime(key.get()) >= since;
                stack.push_back({child, std::move(key), 0, written});
                continue;
            }
            Frame done = std::move(frame);
            stack.pop_back();
            const bool shown = done.written || done.childShown || stack.empty();
            if (!shown) {
                stack.back().hiddenChildren.push_back(done.item);
                continue;
            }
            for (const ItemId hidden : done.hiddenChildren) hideRow(hidden);
            if (done.childShown) expand.push_back(done.item);
            if (!stack.empty()) stack.back().childShown = true;
        }
    }
    if (expand.size() <= kExpandLimit)
        for (const ItemId item : expand) m_view.keyTree()->expand(model.indexOf(item));
    if (const ItemId current = m_view.selectedItem(); current != KeyTreeModel::kNoItem) reveal(current);
}

void KeyTimeFilter::reveal(ItemId item) {
    const KeyTreeModel& model = m_view.treeModel();
    if (!model.isValid(item) || item == KeyTreeModel::kRootItem) return;
    std::vector<ItemId> chain;
    for (ItemId at = item; at != KeyTreeModel::kRootItem && at != KeyTreeModel::kNoItem; at = model.parent(at))
        chain.push_back(at);
    // Below the highest hidden key nothing matched: the path down to the item shows, its
    // neighbours stay hidden.
    bool belowHidden = false;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const ItemId at = *it;
        if (belowHidden) {
            for (const ItemId sibling : model.children(model.parent(at)))
                if (sibling != at && !rowHidden(sibling)) hideRow(sibling);
        }
        if (rowHidden(at)) {
            const QModelIndex index = model.indexOf(at);
            m_view.keyTree()->setRowHidden(index.row(), index.parent(), false);
            belowHidden = true;
        }
    }
}
