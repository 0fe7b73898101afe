#pragma once
// The application: single-copy start-up, the document, the frame with its view, the caution.
#include <QFont>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

#include "app/single_instance.h"
#include "stores/open_store.h"
#include "ui/prompts.h"

class CMainFrame;
class CTovikDoc;

class CTovikApp : public QObject {
    Q_OBJECT
public:
    // Opens the registry source names (the user's own store by default); one copy runs per registry.
    explicit CTovikApp(tovik::RegistrySource source = {});
    ~CTovikApp() override;
    // Test seam: the prompts the view and the start-up caution use (before InitInstance).
    void setPrompts(std::unique_ptr<ViewPrompts> prompts) { m_prompts = std::move(prompts); }

    // A file whose import starts once the window is up (before InitInstance). When another copy
    // runs this registry, that copy imports it instead.
    void setFileToImport(const QString& fileName) { m_fileToImport = fileName; }
    // The registry's name (a game's or bottle's) for the title and the status line.
    void setRegistryName(const QString& name) { m_registryName = name; }
    // Start-up. False ends the process at once: another copy runs, or the store cannot be used.
    bool initInstance();
    bool otherCopyRuns() const { return m_otherCopyRuns; }
    // After InitInstance found another copy: whether that copy took the file to import.
    bool fileHandedOver() const { return m_fileHandedOver; }
    CMainFrame* mainFrame() const { return m_pMainWnd.get(); }
    CTovikDoc* document() const { return m_pDocument.get(); }
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
QString startupCautionText();

// Said at start, after the caution, when the registry opened is read-only (and why, unless the
// reason is empty).
QString readOnlyNoticeText(const std::string& reason);
// The one message after the caution: that the registry is read-only and why, then what the
// store noticed as it opened (the hives that Windows left unfinished in one list); empty when
// there is nothing to say.
QString openNoticesText(const tovik::StoreOpenResult& store);
// The single-instance name of a registry: "Harnet" for the user's own store.
QString instanceNameOf(const tovik::RegistrySource& source);

// Families that render every Japanese text, most wanted first.
QStringList japaneseFontFamilies();
// The desktop's font in the first of JapaneseFontFamilies that is installed: its size stays the
// desktop's, and so follows the user's settings (a larger text for reading, say). The desktop's
// font itself when none of them is installed.
QFont interfaceFont(const QFont& desktop, const QStringList& installedFamilies);
// Makes InterfaceFont of the application's default font the font of the whole interface.
void applyInterfaceFont();

// The main window's size at start: a small portrait screen.
constexpr int kFrameWidth = 360;
constexpr int kFrameHeight = 640;
