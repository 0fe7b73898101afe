#pragma once
// The chooser of ﾂｰﾙ > レジストリを開く...: the registries found on this machine (filled while the
// search runs), those opened recently, and another folder or file named by the user. OK closes
// it only with a registry chosen; Chosen() then says which.
#include <QDialog>
#include <QList>
#include <optional>
#include <vector>

#include "discover/found_registry.h"
#include "view/found_registry_feed.h"
#include "view/registry_request.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class ViewPrompts;

class COpenRegistryDlg : public QDialog {
    Q_OBJECT
public:
    // The tabs, in order.
    enum Page { FoundPage, RecentPage, OtherPage };
    // What "another folder or file" can be, in the order of its list.
    enum OtherKind { OtherWinePrefix, OtherWindows, OtherHive, OtherStore };

    // prompts: the file and folder dialogs, and the message when OK lacks something.
    explicit COpenRegistryDlg(ViewPrompts& prompts, QWidget* parent = nullptr);

    // Shown with the home folder as ~ once StartDiscovery has named it.
    void setRecent(const QList<RegistryRequest>& recent);
    // Starts the search; rows are added as it finds them, folders under the home folder shown
    // with ~ for it.
    void startDiscovery(DiscoverFunction discover, tovik::discover::UserFolders folders);
    void addFound(const tovik::discover::FoundRegistry& found);
    bool discoveryFinished() const;

    // OK with the chosen registry: the selected row, or the folder or file of the third tab.
    void accept() override;
    const std::optional<RegistryRequest>& chosen() const { return m_chosen; }

    QTabWidget* tabs() const { return m_tabs; }
    QTreeWidget* foundList() const { return m_foundList; }
    QTreeWidget* recentList() const { return m_recentList; }
    QPushButton* openButton() const { return m_open; }
    // The third tab's controls.
    QComboBox* otherKindBox() const { return m_otherKind; }
    QLineEdit* otherPath() const { return m_otherPath; }
    QLineEdit* otherUserHive() const { return m_otherUser; }
    QLineEdit* otherKey() const { return m_otherKey; }
    QCheckBox* otherWritable() const { return m_otherWrite; }

private:
    QWidget* makeFoundPage();
    QWidget* makeRecentPage();
    QWidget* makeOtherPage();
    void showOtherKind();
    void browseOtherPath();
    void browseUserHive();
    void showFoundState();
    std::optional<RegistryRequest> otherRequest();

    ViewPrompts& m_prompts;
    FoundRegistryFeed* m_feed;
    std::vector<RegistryRequest> m_found;  // by the row's index in FoundList
    QList<RegistryRequest> m_recent;
    std::optional<RegistryRequest> m_chosen;
    bool m_searching = false;
    QString m_home;  // shown as ~

    QTabWidget* m_tabs;
    QTreeWidget* m_foundList = nullptr;
    QLabel* m_foundState = nullptr;
    QTreeWidget* m_recentList = nullptr;
    QComboBox* m_otherKind = nullptr;
    QLineEdit* m_otherPath = nullptr;
    QLabel* m_otherUserLabel = nullptr;
    QLineEdit* m_otherUser = nullptr;
    QPushButton* m_otherUserBrowse = nullptr;
    QLabel* m_otherKeyLabel = nullptr;
    QLineEdit* m_otherKey = nullptr;
    QCheckBox* m_otherWrite = nullptr;
    QPushButton* m_open;
};
