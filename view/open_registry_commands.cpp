#include "view/open_registry_commands.h"

#include <QCoreApplication>
#include <QProcess>

#include "discover/discovery.h"
#include "ui/translated.h"
#include "view/command_support.h"
#include "view/open_registry_dlg.h"
#include "view/tovik_view.h"
#include "view/view_settings.h"

bool launchThisProgram(const QStringList& arguments) {
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments);
}

OpenRegistryCommands::OpenRegistryCommands(CTovikView& view)
    : QObject(&view),
      m_view(view),
      m_discover(tovik::discover::discoverRegistries),
      m_folders(tovik::discover::UserFolders::fromEnvironment()),
      m_launch(launchThisProgram) {}

OpenRegistryCommands::~OpenRegistryCommands() = default;

void OpenRegistryCommands::setSettings(std::unique_ptr<ViewSettings> settings) {
    m_settings = std::move(settings);
}

ViewSettings& OpenRegistryCommands::settings() const {
    if (!m_settings) m_settings = std::make_unique<ViewSettings>();
    return *m_settings;
}

QList<RegistryRequest> OpenRegistryCommands::recentRegistries() const {
    QList<RegistryRequest> recent;
    for (const QString& entry : settings().recentRegistries())
        if (std::optional<RegistryRequest> request = decodeRequest(entry)) recent << *request;
    return recent;
}

void OpenRegistryCommands::OnOpenRegistry() {
    COpenRegistryDlg dialog(m_view.prompts(), &m_view);
    dialog.startDiscovery(m_discover, m_folders);
    dialog.setRecent(recentRegistries());
    if (m_view.prompts().DoModal(dialog) != IDOK || !dialog.chosen()) return;
    openRequest(*dialog.chosen());
}

bool OpenRegistryCommands::openRequest(const RegistryRequest& request) {
    if (!m_launch(launchArguments(request))) {
        showMessage(m_view, Tovik::tr("新しいウィンドウを開けませんでした。"));
        return false;
    }
    QStringList entries;
    for (const RegistryRequest& recent : withRecent(recentRegistries(), request)) entries << encodeRequest(recent);
    settings().setRecentRegistries(entries);
    settings().sync();
    return true;
}
