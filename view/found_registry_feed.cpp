#include "view/found_registry_feed.h"

#include <mutex>
#include <thread>

// What the search thread shares with the feed: the feed while it lives, and the stop request.
struct FoundRegistryFeed::Channel {
    std::mutex mutex;
    FoundRegistryFeed* receiver = nullptr;
    std::stop_source stop;

    // Queues call on the feed's thread, unless the feed is gone. The lock keeps the feed alive
    // while the call is posted; a call posted to a feed destroyed later is dropped by Qt.
    template <typename Call>
    void post(Call call) {
        const std::lock_guard lock(mutex);
        if (receiver == nullptr) return;
        FoundRegistryFeed* feed = receiver;
        QMetaObject::invokeMethod(
            feed, [feed, call = std::move(call)] { call(*feed); }, Qt::QueuedConnection);
    }
};

FoundRegistryFeed::FoundRegistryFeed(QObject* parent) : QObject(parent) {}

FoundRegistryFeed::~FoundRegistryFeed() {
    if (!m_channel) return;
    const std::lock_guard lock(m_channel->mutex);
    m_channel->receiver = nullptr;
    m_channel->stop.request_stop();
}

void FoundRegistryFeed::start(DiscoverFunction discover, tovik::discover::UserFolders folders) {
    if (m_channel) return;
    m_channel = std::make_shared<Channel>();
    m_channel->receiver = this;
    // Detached: joining here could wait on a disk that does not answer.
    std::thread([channel = m_channel, discover = std::move(discover), folders = std::move(folders)] {
        try {
            discover(
                folders,
                [&channel](const tovik::discover::FoundRegistry& registry) {
                    channel->post([registry](FoundRegistryFeed& feed) { emit feed.found(registry); });
                },
                channel->stop.get_token());
        } catch (...) {
            // Whatever was found is shown; the list simply ends here.
        }
        channel->post([](FoundRegistryFeed& feed) {
            feed.m_finished = true;
            emit feed.finished();
        });
    }).detach();
}
