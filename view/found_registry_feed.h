#pragma once
// Runs discovery on a thread of its own and hands each registry found to the GUI thread as it
// comes, so that a slow disk never freezes a window. Destroying the feed stops the search; a
// search still waiting on a slow disk ends on its own later, its results dropped.
#include <QObject>
#include <functional>
#include <memory>
#include <stop_token>

#include "discover/found_registry.h"
#include "discover/found_sink.h"
#include "discover/user_folders.h"

// discover/discovery.h's discoverRegistries, or one that adds whether Wine runs each prefix.
using DiscoverFunction =
    std::function<void(const tovik::discover::UserFolders&, const tovik::discover::FoundCallback&, std::stop_token)>;

class FoundRegistryFeed : public QObject {
    Q_OBJECT
public:
    explicit FoundRegistryFeed(QObject* parent = nullptr);
    ~FoundRegistryFeed() override;
    // Starts the search once; found and finished follow on this object's thread.
    void start(DiscoverFunction discover, tovik::discover::UserFolders folders);
    bool isFinished() const { return m_finished; }

signals:
    void found(const tovik::discover::FoundRegistry& registry);
    void finished();

private:
    struct Channel;
    std::shared_ptr<Channel> m_channel;
    bool m_finished = false;
};
