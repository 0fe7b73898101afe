#pragma once
// The application: single-copy start-up, the document, the frame with its view, the caution.
#include <QObject>
#include <QString>
#include <memory>

#include "app/single_instance.h"
#include "ui/prompts.h"
#include "stores/open_store.h"

class CMainFrame;
class CTovikDoc;

class CTovikApp : public QObject {
    Q_OBJECT
public:
    CTovikApp();
    ~CTovikApp() override;
    // Test seam: the prompts the view and the start-up caution use (before InitInstance).
    void SetPrompts(std::unique_ptr<ViewPrompts> prompts) { m_prompts = std::move(prompts); }
    // The registry to open (before InitInstance); the user's own by default.
    void SetRegistrySource(const tovik::RegistrySource& source) { m_source = source; }

    // A file whose import starts once the window is up (before InitInstance).
    void SetFileToImport(const QString& fileName) { m_fileToImport = fileName; }
    // Start-up. False ends the process at once: another copy runs, or the store cannot be used.
    bool InitInstance();
    bool OtherCopyRuns() const { return m_otherCopyRuns; }
    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    CTovikDoc* Document() const { return m_pDocument.get(); }
    void OnAppAbout();

private:
    void bringToFront();

    tovik::RegistrySource m_source;
    SingleInstance m_instance;
    bool m_otherCopyRuns = false;
    QString m_fileToImport;
    std::unique_ptr<ViewPrompts> m_prompts;
    std::unique_ptr<CTovikDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainWnd;
};

// The caution shown once the tree is painted, on every start.
QString StartupCautionText();

// The status line under the view when the registry is not the user's own: where it is, and
// 読み取り専用 when it cannot be written.
QString RegistryLocationText(const tovik::StoreOpenResult& store);

// Prefers a CJK font for the whole interface, so that every Japanese text renders.
void ApplyInterfaceFont();

// The main window's size at start: a small portrait screen.
constexpr int kFrameWidth = 360;
constexpr int kFrameHeight = 640;
