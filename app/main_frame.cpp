#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>

#include "view/tovik_doc.h"
#include "view/command_ids.h"
#include "ui/icons.h"
#include "view/tovik_view.h"
#include "ui/translated.h"

CMainFrame::CMainFrame(CTovikDoc* doc, QWidget* parent) : QMainWindow(parent), m_pDocument(doc) {
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QStringLiteral("Harnet"));
    setWindowIcon(ApplicationIcon());
    m_pView = new CTovikView(this);
    m_pView->SetDocument(doc);
    setCentralWidget(m_pView);

    // Zero stands for a separator.
    addMenu(Tovik::tr("ﾂｰﾙ"), {{ID_EXPORT, Tovik::tr("エクスポート（書き出し）")},
                        {ID_IMPORT, Tovik::tr("インポート（取り込み）")},
                        {0, {}},
                        {ID_APP_EXIT, Tovik::tr("アプリケーションの終了(&X)")}});
    addMenu(Tovik::tr("編集"), {{ID_DELETE_VALUE, Tovik::tr("値 削除")},
                         {ID_DELETE_KEY, Tovik::tr("キー 削除")},
                         {0, {}},
                         {ID_ADD_KEY, Tovik::tr("キーの追加")},
                         {0, {}},
                         {ID_ADD_DWORD_VALUE, Tovik::tr("値REG_DWの追加")},
                         {ID_ADD_MULTI_STRING_VALUE, Tovik::tr("値REG_MULTI_SZの追加")},
                         {ID_ADD_STRING_VALUE, Tovik::tr("値REG_SZの追加")},
                         {ID_ADD_OTHER_VALUE, Tovik::tr("その他の値の追加")}});
    addMenu(Tovik::tr("表示"), {{ID_VIEW_KEYS_ONLY, Tovik::tr("キーのみ表示")},
                         {ID_VIEW_VALUES_ONLY, Tovik::tr("値のみ表示")},
                         {ID_VIEW_BOTH, Tovik::tr("両方表示")}});
    addMenu(Tovik::tr("ﾍﾙﾌﾟ"), {{ID_APP_ABOUT, Tovik::tr("Harnet のバージョン情報(&A)...")}});
    UpdateCommandUI();
}

QMenu* CMainFrame::addMenu(const QString& title, std::initializer_list<std::pair<int, QString>> items) {
    QMenu* menu = menuBar()->addMenu(title);
    for (const auto& [id, text] : items) {
        if (id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(text);
        action->setData(id);
        m_actions[id] = action;
        connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
    }
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    return menu;
}

QAction* CMainFrame::CommandAction(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommandUI() {
    for (const auto& [id, action] : m_actions) {
        const bool own = id == ID_APP_ABOUT || id == ID_APP_EXIT;
        action->setEnabled(own || m_pView->IsCommandEnabled(id));
    }
}

void CMainFrame::runCommand(int id) {
    if (id == ID_APP_EXIT) {
        close();
    } else if (id == ID_APP_ABOUT) {
        emit aboutRequested();
    } else if (m_pView->IsCommandEnabled(id)) {
        // Shortcuts reach here without the menu's update, so the rule is checked again.
        m_pView->OnCommand(id);
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The document's modified flag never leads to a prompt.
    if (m_pDocument->SaveModified()) event->accept();
}
