#include "platform/NetworkReachability.h"

#include <QNetworkInformation>

namespace {

// Only "disconnected" is no network: a local or site-only network may well
// reach the service, and an unknown state is not an absent one.
bool reachable(QNetworkInformation::Reachability reachability)
{
    return reachability != QNetworkInformation::Reachability::Disconnected;
}

class SystemReachability : public NetworkReachability
{
public:
    SystemReachability()
    {
        // The default backend is the network manager's; others (glib's
        // netlink monitor) read routes, which say little in a container.
        if (!QNetworkInformation::loadDefaultBackend())
            return;
        QNetworkInformation* information = QNetworkInformation::instance();
        if (!information)
            return;
        setReachable(reachable(information->reachability()));
        connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                setReachable(reachable(reachability));
            });
    }
};

} // namespace

std::unique_ptr<NetworkReachability> NetworkReachability::systemReachability()
{
    return std::make_unique<SystemReachability>();
}

NetworkReachability::NetworkReachability(QObject* parent)
    : QObject(parent)
{
}

void NetworkReachability::setReachable(bool reachable)
{
    if (reachable == m_reachable)
        return;
    m_reachable = reachable;
    emit reachabilityChanged(reachable);
}
