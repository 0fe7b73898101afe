#include "view/open_registry_commands.h"

#include <QCoreApplication>
#include <QProcess>

#include "discover/discovery.h"
#include "ui/translated.h"
#include "view/command_support.h"
#include "view/open_registry_dlg.h"
#include "view/tovik_view.h"
#include "view/view_settings.h"

bool LaunchThisProgram(const QStringList& arguments)
{
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments);
}

OpenRegistryCommands::OpenRegistryCommands(CTovikView& view)
    : QObject(&view),
      m_view(view),
      m_discover(tovik::discover::discoverRegistries),
      m_folders(tovik::discover::UserFolders::fromEnvironment()),
      m_launch(LaunchThisProgram)
{}

OpenRegistryCommands::~OpenRegistryCommands() = default;

void OpenRegistryCommands::SetSettings(std::unique_ptr<ViewSettings> settings)
{
    m_settings = std::move(settings);
}

ViewSettings& OpenRegistryCommands::settings() const
{
    if (!m_settings) m_settings = std::make_unique<ViewSettings>();
    return *m_settings;
}

QList<RegistryRequest> OpenRegistryCommands::RecentRegistries() const
{
    QList<RegistryRequest> recent;
    for (const QString& entry : settings().RecentRegistries())
        if (std::optional<RegistryRequest> request = DecodeRequest(entry)) recent << *request;
    return recent;
}

void OpenRegistryCommands::OnOpenRegistry()
{
    COpenRegistryDlg dialog(m_view.Prompts(), &m_view);
    dialog.StartDiscovery(m_discover, m_folders);
    dialog.SetRecent(RecentRegistries());
    if (m_view.Prompts().DoModal(dialog) != IDOK || !dialog.Chosen()) return;
    OpenRequest(*dialog.Chosen());
}

bool OpenRegistryCommands::OpenRequest(const RegistryRequest& request)
{
    if (!m_launch(LaunchArguments(request))) {
        ShowMessage(m_view, Tovik::tr("新しいウィンドウを開けませんでした。"));
        return false;
    }
    QStringList entries;
    for (const RegistryRequest& recent : WithRecent(RecentRegistries(), request))
        entries << EncodeRequest(recent);
    settings().SetRecentRegistries(entries);
    settings().Sync();
    return true;
}
