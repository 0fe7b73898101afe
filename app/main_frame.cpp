#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>

#include "app/compare_opener.h"
#include "registry/key_handle.h"
#include "registry/key_time.h"
#include "registry/registry_api.h"
#include "stores/registry_discovery.h"
#include "ui/icons.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/command_ids.h"
#include "view/compare_commands.h"
#include "view/find_commands.h"
#include "view/find_results_dlg.h"
#include "view/history_commands.h"
#include "view/key_time_filter.h"
#include "view/navigation_commands.h"
#include "view/open_registry_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"
#include "view/view_settings.h"

CMainFrame::CMainFrame(CTovikDoc* doc, QWidget* parent, std::unique_ptr<ViewSettings> settings)
    : QMainWindow(parent), m_pDocument(doc) {
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QStringLiteral("Harnet"));
    setWindowIcon(applicationIcon());
    m_pView = new CTovikView(this);
    m_pView->setDocument(doc);
    setCentralWidget(m_pView);

    // Find and navigation sit beside the view and reach it through its commands.
    m_pFind = new FindCommands(*m_pView);
    m_pNavigation = new NavigationCommands(*m_pView, settings ? std::move(settings) : std::make_unique<ViewSettings>());
    m_pView->commands().setFind(m_pFind);
    m_pView->commands().setNavigation(m_pNavigation);
    // The chooser's list says which prefixes Wine runs now: they open read-only.
    m_pView->commands().openRegistry().setDiscovery(tovik::discoverRegistries);
    m_pView->commands().compare().setOpener(openCompareTarget);

    // The address line above the tree.
    m_pAddressBar = new QToolBar(this);
    m_pAddressBar->setObjectName(QStringLiteral("AddressToolBar"));
    m_pAddressBar->setMovable(false);
    m_pAddressBar->setFloatable(false);
    m_pAddressBar->toggleViewAction()->setVisible(false);  // the 表示 menu toggles it
    m_pAddressBar->addWidget(m_pNavigation->addressBar());
    addToolBar(Qt::TopToolBarArea, m_pAddressBar);

    // The date filter's bar, on a row of its own under the address line, shown while it filters.
    KeyTimeFilter& timeFilter = m_pView->commands().timeFilter();
    m_pTimeFilterBar = new QToolBar(this);
    m_pTimeFilterBar->setObjectName(QStringLiteral("TimeFilterToolBar"));
    m_pTimeFilterBar->setMovable(false);
    m_pTimeFilterBar->setFloatable(false);
    m_pTimeFilterBar->toggleViewAction()->setVisible(false);
    m_pTimeFilterBar->addWidget(timeFilter.filterBar());
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_pTimeFilterBar);
    m_pTimeFilterBar->hide();
    connect(&timeFilter, &KeyTimeFilter::filterBarWanted, m_pTimeFilterBar, &QWidget::show);
    connect(&timeFilter, &KeyTimeFilter::filterCleared, this, [this] {
        m_pTimeFilterBar->hide();
        updateCommandUi();
    });

    // Zero stands for a separator.
    addMenu(Tovik::tr("ﾂｰﾙ"), {{ID_EXPORT, Tovik::tr("エクスポート（書き出し）")},
                               {ID_IMPORT, Tovik::tr("インポート（取り込み）")},
                               {0, {}},
                               {ID_OPEN_REGISTRY, Tovik::tr("レジストリを開く..."), QKeySequence(Qt::CTRL | Qt::Key_O)},
                               {ID_COMPARE, Tovik::tr("比較...")},
                               {0, {}},
                               {ID_APP_EXIT, Tovik::tr("アプリケーションの終了(&X)")}});
    addMenu(Tovik::tr("編集"), {{ID_UNDO, Tovik::tr("元に戻す"), QKeySequence(Qt::CTRL | Qt::Key_Z)},
                                {ID_REDO, Tovik::tr("やり直し"), QKeySequence(Qt::CTRL | Qt::Key_Y)},
                                {ID_HISTORY, Tovik::tr("変更履歴...")},
                                {0, {}},
                                {ID_DELETE_VALUE, Tovik::tr("値 削除")},
                                {ID_DELETE_KEY, Tovik::tr("キー 削除")},
                                {ID_RENAME, Tovik::tr("名前の変更"), QKeySequence(Qt::Key_F2)},
                                {ID_EDIT_BINARY_DATA, Tovik::tr("バイナリデータの変更")},
                                {0, {}},
                                {ID_ADD_KEY, Tovik::tr("キーの追加")},
                                {0, {}},
                                {ID_ADD_DWORD_VALUE, Tovik::tr("値REG_DWの追加")},
                                {ID_ADD_MULTI_STRING_VALUE, Tovik::tr("値REG_MULTI_SZの追加")},
                                {ID_ADD_STRING_VALUE, Tovik::tr("値REG_SZの追加")},
                                {ID_ADD_OTHER_VALUE, Tovik::tr("その他の値の追加")},
                                {0, {}},
                                {ID_COPY_KEY_PATH, Tovik::tr("キーのパスをコピー")},
                                {0, {}},
                                {ID_FIND, Tovik::tr("検索..."), QKeySequence(Qt::CTRL | Qt::Key_F)},
                                {ID_FIND_NEXT, Tovik::tr("次を検索"), QKeySequence(Qt::Key_F3)},
                                {ID_FIND_PREVIOUS, Tovik::tr("前を検索"), QKeySequence(Qt::SHIFT | Qt::Key_F3)}});
    addMenu(Tovik::tr("表示"),
            {{ID_VIEW_KEYS_ONLY, Tovik::tr("キーのみ表示")},
             {ID_VIEW_VALUES_ONLY, Tovik::tr("値のみ表示")},
             {ID_VIEW_BOTH, Tovik::tr("両方表示")},
             {0, {}},
             {ID_VIEW_ADDRESS_BAR, Tovik::tr("アドレスバー")},
             {ID_FOCUS_ADDRESS_BAR, Tovik::tr("アドレスバーへ移動"), QKeySequence(Qt::CTRL | Qt::Key_L)},
             {0, {}},
             {ID_FILTER_BY_TIME, Tovik::tr("更新日で絞り込み..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)},
             {ID_CLEAR_TIME_FILTER, Tovik::tr("絞り込みの解除")},
             {0, {}},
             {ID_REFRESH, Tovik::tr("最新の情報に更新"), QKeySequence(Qt::Key_F5)}});
    m_pFavourites = addMenu(Tovik::tr("お気に入り"), {});
    connect(m_pFavourites, &QMenu::aboutToShow, this, &CMainFrame::fillFavouritesMenu);
    fillFavouritesMenu();
    addMenu(Tovik::tr("ﾍﾙﾌﾟ"), {{ID_APP_ABOUT, Tovik::tr("Harnet のバージョン情報(&A)...")}});
    commandAction(ID_REDO)->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    QAction* addressBar = commandAction(ID_VIEW_ADDRESS_BAR);
    addressBar->setCheckable(true);
    addressBar->setChecked(true);
    // Going to the address line shows it first.
    connect(m_pNavigation, &NavigationCommands::addressBarWanted, this, [this, addressBar] {
        m_pAddressBar->show();
        addressBar->setChecked(true);
    });
    // Shortcuts act without a menu opening first, so the enabled states follow what changes them.
    connect(m_pView, &CTovikView::currentKeyChanged, this, [this] {
        showKeyTime();
        updateCommandUi();
    });
    // A write to the current key changes its time; every write refreshes the values after it.
    connect(m_pView, &CTovikView::valuesRefreshed, this, &CMainFrame::showKeyTime);
    connect(m_pView, &CTovikView::selectedValueChanged, this, [this] {
        showValueType();
        updateCommandUi();
    });
    connect(m_pFind, &FindCommands::searchFinished, this, [this] {
        updateCommandUi();
        // The 検索結果 window is a window of its own: Ctrl+F, F3 and Shift+F3 work there too, going
        // on from the hit last opened from it.
        if (CFindResultsDlg* results = m_pFind->resultsDialog())
            results->addActions({commandAction(ID_FIND), commandAction(ID_FIND_NEXT), commandAction(ID_FIND_PREVIOUS)});
    });
    updateCommandUi();
}

CMainFrame::~CMainFrame() = default;

QMenu* CMainFrame::addMenu(const QString& title, std::initializer_list<MenuItem> items) {
    QMenu* menu = menuBar()->addMenu(title);
    for (const MenuItem& item : items) {
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(item.text);
        action->setData(item.id);
        action->setShortcut(item.shortcut);
        m_actions[item.id] = action;
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
    }
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::updateCommandUi);
    return menu;
}

// お気に入り: add (Ctrl+D), a submenu to remove one, then one item per favourite.
void CMainFrame::fillFavouritesMenu() {
    QMenu* menu = m_pFavourites;
    for (QMenu* sub : menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) sub->deleteLater();
    for (QAction* action : menu->actions()) {
        if (action != commandAction(ID_ADD_FAVOURITE)) {
            menu->removeAction(action);
            action->deleteLater();
        }
    }
    if (!commandAction(ID_ADD_FAVOURITE)) {
        QAction* add = menu->addAction(Tovik::tr("お気に入りに追加"));
        add->setData(ID_ADD_FAVOURITE);
        add->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
        m_actions[ID_ADD_FAVOURITE] = add;
        connect(add, &QAction::triggered, this, [this] { runCommand(ID_ADD_FAVOURITE); });
    }
    const QStringList favourites = m_pNavigation->favourites();
    QMenu* remove = new QMenu(Tovik::tr("お気に入りの削除"), menu);
    remove->setEnabled(!favourites.isEmpty());
    menu->addMenu(remove);
    if (!favourites.isEmpty()) menu->addSeparator();
    for (int i = 0; i < favourites.size(); ++i) {
        QAction* go = menu->addAction(favourites[i]);
        connect(go, &QAction::triggered, this, [this, i] { m_pNavigation->goToFavourite(i); });
        QAction* drop = remove->addAction(favourites[i]);
        connect(drop, &QAction::triggered, this, [this, i] { m_pNavigation->removeFavourite(i); });
    }
}

void CMainFrame::showRegistryLocation(const QString& location, bool readOnly, const QString& name) {
    setWindowTitle(name.isEmpty() ? QStringLiteral("Harnet") : name + QStringLiteral(" - Harnet"));
    if (location.isEmpty()) {
        if (m_location) m_location->clear();
        updateStatusBar();
        return;
    }
    if (!m_location) {
        m_location = new QLabel(this);
        m_location->setObjectName(QStringLiteral("registryLocation"));
        m_location->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_location->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // never widens the frame
        statusBar()->addWidget(m_location, 1);
        statusBar()->setSizeGripEnabled(false);
    }
    // 読み取り専用 first: a long path is cut at the right on a narrow screen.
    const QString space = QString::fromUtf16(u"　");
    const QString named = name.isEmpty() ? location : name + space + location;
    const QString text = readOnly ? Tovik::tr("読み取り専用") + space + named : named;
    m_location->setText(text);
    m_location->setToolTip(text);
    updateStatusBar();
}

QString CMainFrame::registryLocationText() const {
    return m_location && !statusBar()->isHidden() ? m_location->text() : QString();
}

// The selected value's type, at the right of the status line: the list's "??" stands for every
// type above 8, so the line names the one it is.
void CMainFrame::showValueType() {
    showAtRight(m_valueType, QStringLiteral("valueType"), m_pView->selectedValueTypeText());
}

// A label at the right of the status line, made when it first has something to say.
void CMainFrame::showAtRight(QLabel*& label, const QString& name, const QString& text) {
    if (!label) {
        if (text.isEmpty()) return;
        label = new QLabel(this);
        label->setObjectName(name);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        statusBar()->addPermanentWidget(label);
        statusBar()->setSizeGripEnabled(false);
    }
    label->setText(text);
    label->setVisible(!text.isEmpty());
    updateStatusBar();
}

// When the current key was last written, at the right of the status line, in local time.
void CMainFrame::showKeyTime() {
    QString text;
    if (m_pView->currentRoot() != 0) {
        tovik::KeyHandle key;
        if (tovik::openKeyHandle(m_pView->currentRoot(), m_pView->currentKeyPath(), key) == ERROR_SUCCESS) {
            const QString when = keyTimeText(tovik::keyWriteTime(key.get()));
            if (!when.isEmpty()) text = Tovik::tr("最終更新 %1").arg(when);
        }
    }
    showAtRight(m_keyTime, QStringLiteral("keyWriteTime"), text);
}

QString CMainFrame::keyWriteTimeText() const {
    return m_keyTime && !statusBar()->isHidden() ? m_keyTime->text() : QString();
}

QString CMainFrame::valueTypeText() const {
    return m_valueType && !statusBar()->isHidden() ? m_valueType->text() : QString();
}

// The line shows while it has something to say.
void CMainFrame::updateStatusBar() {
    const bool location = m_location && !m_location->text().isEmpty();
    const bool valueType = m_valueType && !m_valueType->text().isEmpty();
    const bool keyTime = m_keyTime && !m_keyTime->text().isEmpty();
    if (location || valueType || keyTime)
        statusBar()->show();
    else if (m_location || m_valueType || m_keyTime)
        statusBar()->hide();
}

QAction* CMainFrame::commandAction(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::updateCommandUi() {
    for (const auto& [id, action] : m_actions) {
        const bool own = id == ID_APP_ABOUT || id == ID_APP_EXIT || id == ID_VIEW_ADDRESS_BAR;
        action->setEnabled(own || m_pView->isCommandEnabled(id));
    }
    // The undo items name what they would take back, shortened in the middle so that a long key
    // path keeps the menu on the portrait screen; the whole name is the item's tip.
    const auto name = [this](QAction* action, const QString& text) {
        const QFontMetrics metrics(menuBar()->font());
        action->setText(metrics.elidedText(text, Qt::ElideMiddle, std::max(width() * 2 / 3, 160)));
        action->setToolTip(text);
        action->setStatusTip(text);
    };
    if (QAction* undo = commandAction(ID_UNDO)) name(undo, m_pView->commands().history().undoText());
    if (QAction* redo = commandAction(ID_REDO)) name(redo, m_pView->commands().history().redoText());
}

void CMainFrame::runCommand(int id) {
    if (id == ID_APP_EXIT) {
        close();
    } else if (id == ID_APP_ABOUT) {
        emit aboutRequested();
    } else if (id == ID_VIEW_ADDRESS_BAR) {
        m_pAddressBar->setVisible(commandAction(ID_VIEW_ADDRESS_BAR)->isChecked());
    } else if (m_pView->isCommandEnabled(id)) {
        // Shortcuts reach here without the menu's update, so the rule is checked again.
        m_pView->OnCommand(id);
        updateCommandUi();
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The document's modified flag never leads to a prompt.
    if (m_pDocument->saveModified()) event->accept();
}
