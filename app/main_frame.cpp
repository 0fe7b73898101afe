#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>

#include "view/tovik_doc.h"
#include "view/command_ids.h"
#include "ui/icons.h"
#include "view/tovik_view.h"

namespace {
QString U(const char16_t* text) { return QString::fromUtf16(text); }
}

CMainFrame::CMainFrame(CTovikDoc* doc, QWidget* parent) : QMainWindow(parent), m_pDocument(doc) {
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QStringLiteral("Harnet"));
    setWindowIcon(ApplicationIcon());
    m_pView = new CTovikView(this);
    m_pView->SetDocument(doc);
    setCentralWidget(m_pView);

    // Zero stands for a separator.
    addMenu(U(u"ﾂｰﾙ"), {{ID_EXPORT, U(u"エクスポート（書き出し）")},
                        {ID_IMPORT, U(u"インポート（取り込み）")},
                        {0, {}},
                        {ID_APP_EXIT, U(u"アプリケーションの終了(&X)")}});
    addMenu(U(u"編集"), {{ID_DELETE_VALUE, U(u"値 削除")},
                         {ID_DELETE_KEY, U(u"キー 削除")},
                         {0, {}},
                         {ID_ADD_KEY, U(u"キーの追加")},
                         {0, {}},
                         {ID_ADD_DWORD_VALUE, U(u"値REG_DWの追加")},
                         {ID_ADD_MULTI_STRING_VALUE, U(u"値REG_MULTI_SZの追加")},
                         {ID_ADD_STRING_VALUE, U(u"値REG_SZの追加")},
                         {ID_ADD_OTHER_VALUE, U(u"その他の値の追加")}});
    addMenu(U(u"表示"), {{ID_VIEW_KEYS_ONLY, U(u"キーのみ表示")},
                         {ID_VIEW_VALUES_ONLY, U(u"値のみ表示")},
                         {ID_VIEW_BOTH, U(u"両方表示")}});
    addMenu(U(u"ﾍﾙﾌﾟ"), {{ID_APP_ABOUT, U(u"Harnet のバージョン情報(&A)...")}});
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

void CMainFrame::ShowRegistryLocation(const QString& location, bool readOnly) {
    if (location.isEmpty()) {
        if (m_location) statusBar()->hide();
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
    const QString text = readOnly ? U(u"読み取り専用　") + location : location;
    m_location->setText(text);
    m_location->setToolTip(text);
    statusBar()->show();
}

QString CMainFrame::RegistryLocationText() const {
    return m_location && !statusBar()->isHidden() ? m_location->text() : QString();
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
