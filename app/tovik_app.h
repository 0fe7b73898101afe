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
    // Opens the registry source names (the user's own store by default); one copy runs per registry.
    explicit CTovikApp(tovik::RegistrySource source = {});
    ~CTovikApp() override;
    // Test seam: the prompts the view and the start-up caution use (before InitInstance).
    void SetPrompts(std::unique_ptr<ViewPrompts> prompts) { m_prompts = std::move(prompts); }

    // A file whose import starts once the window is up (before InitInstance). When another copy
    // runs this registry, that copy imports it instead.
    void SetFileToImport(const QString& fileName) { m_fileToImport = fileName; }
    // The registry's name (a game's or bottle's) for the title and the status line.
    void SetRegistryName(const QString& name) { m_registryName = name; }
    // Start-up. False ends the process at once: another copy runs, or the store cannot be used.
    bool InitInstance();
    bool OtherCopyRuns() const { return m_otherCopyRuns; }
    // After InitInstance found another copy: whether that copy took the file to import.
    bool FileHandedOver() const { return m_fileHandedOver; }
    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    CTovikDoc* Document() const { return m_pDocument.get(); }
    void OnAppAbout();

private:
    void bringToFront();
    // Starts the import of a file another start handed over, once no dialog is open here.
    void importWhenIdle(const QString& fileName);

    tovik::RegistrySource m_source;
    SingleInstance m_instance;
    bool m_otherCopyRuns = false;
    bool m_fileHandedOver = false;
    QString m_fileToImport;
    QString m_registryName;
    std::unique_ptr<ViewPrompts> m_prompts;
    std::unique_ptr<CTovikDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainWnd;
};

// The caution shown once the tree is painted, on every start.
QString StartupCautionText();

// Said once at start, after the caution, when the registry opened is read-only.
QString ReadOnlyNoticeText(const std::string& reason);
// The single-instance name of a registry: "Harnet" for the user's own store.
QString InstanceNameOf(const tovik::RegistrySource& source);

// Prefers a CJK font for the whole interface, so that every Japanese text renders.
void ApplyInterfaceFont();

// The main window's size at start: a small portrait screen.
constexpr int kFrameWidth = 360;
constexpr int kFrameHeight = 640;
