#pragma once
// ﾂｰﾙ > レジストリを開く... beside the view: the chooser, then the chosen registry in a window of
// its own. Each registry runs in its own tovik process (one copy per registry), so opening one
// starts the program with the options that name it; a registry already open comes to the front.
// The search, the folders it looks in, the settings and the start are seams for tests.
#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

#include "discover/user_folders.h"
#include "view/found_registry_feed.h"
#include "view/registry_request.h"

class CTovikView;
class ViewSettings;

class OpenRegistryCommands : public QObject {
public:
    // Starts tovik with arguments; false when it could not be started.
    using Launcher = std::function<bool(const QStringList& arguments)>;

    explicit OpenRegistryCommands(CTovikView& view);
    ~OpenRegistryCommands() override;

    // By default the search does not ask Wine whether it runs a prefix; the application sets one
    // that does.
    void setDiscovery(DiscoverFunction discover) { m_discover = std::move(discover); }
    void setUserFolders(tovik::discover::UserFolders folders) { m_folders = std::move(folders); }
    void setLauncher(Launcher launcher) { m_launch = std::move(launcher); }
    // Where the recent list is kept (by default the view's settings file).
    void setSettings(std::unique_ptr<ViewSettings> settings);

    void OnOpenRegistry();
    // Starts the window of request and puts it first in the recent list; a message when it fails.
    bool openRequest(const RegistryRequest& request);
    QList<RegistryRequest> recentRegistries() const;

private:
    ViewSettings& settings() const;

    CTovikView& m_view;
    DiscoverFunction m_discover;
    tovik::discover::UserFolders m_folders;
    Launcher m_launch;
    mutable std::unique_ptr<ViewSettings> m_settings;  // made when first needed
};

// Starts this program again with arguments, detached from this process.
bool launchThisProgram(const QStringList& arguments);
