#include "app/tovik_app.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLayout>
#include <QMessageBox>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "ui/prompts.h"
#include "stores/open_store.h"
#include "ui/translated.h"

CTovikApp::CTovikApp() : m_instance(QStringLiteral("Harnet")) {
    connect(&m_instance, &SingleInstance::activationRequested, this, &CTovikApp::bringToFront);
}

CTovikApp::~CTovikApp() = default;

bool CTovikApp::InitInstance() {
    if (!m_instance.Acquire()) return false;   // the running copy has been brought to the front

    const tovik::StoreOpenResult store = tovik::OpenUserRegistry();
    if (!store.ok) {
        QMessageBox::critical(nullptr, QStringLiteral("Harnet"), QString::fromStdString(store.error));
        return false;
    }

    m_pDocument = std::make_unique<CTovikDoc>();
    m_pDocument->OnNewDocument();
    m_pMainWnd = std::make_unique<CMainFrame>(m_pDocument.get());
    CTovikView* view = m_pMainWnd->View();
    if (m_prompts) view->SetPrompts(std::move(m_prompts));
    connect(m_pMainWnd.get(), &CMainFrame::aboutRequested, this, &CTovikApp::OnAppAbout);

    // The view lays its controls out from its client area, so the frame gets its size first.
    m_pMainWnd->resize(kFrameWidth, kFrameHeight);
    m_pMainWnd->layout()->activate();
    view->OnInitialUpdate();

    m_pMainWnd->show();
    m_pMainWnd->repaint();
    QApplication::processEvents();   // the tree is painted before the caution appears

    view->Prompts().MessageBox(m_pMainWnd.get(), StartupCautionText(), MessageButtons::Ok);
    return true;
}

void CTovikApp::OnAppAbout() {
    CAboutDlg dialog(m_pMainWnd.get());
    m_pMainWnd->View()->Prompts().DoModal(dialog);
}

void CTovikApp::bringToFront() {
    if (!m_pMainWnd) return;
    m_pMainWnd->showNormal();
    m_pMainWnd->raise();
    m_pMainWnd->activateWindow();
}

void ApplyInterfaceFont() {
    if (QFontDatabase::families().contains(QStringLiteral("Noto Sans CJK JP"))) {
        QFont font(QStringLiteral("Noto Sans CJK JP"));
        font.setPointSize(9);
        QApplication::setFont(font);
    }
}

QString StartupCautionText() {
    return Tovik::tr("十分注意して使用してください。キーを消す前にはエクスポートしておいてください。");
}
