#pragma once

// Whether the machine has a network at all, as the system sees it. A machine
// whose system says nothing (no network manager to ask) counts as connected:
// only a known absence of every network holds anything back.

#include <QObject>
#include <memory>

class NetworkReachability : public QObject
{
    Q_OBJECT

public:
    // The system's view, through QNetworkInformation's default backend.
    static std::unique_ptr<NetworkReachability> systemReachability();

    bool isReachable() const { return m_reachable; }

signals:
    void reachabilityChanged(bool reachable);

protected:
    explicit NetworkReachability(QObject* parent = nullptr);
    void setReachable(bool reachable);

private:
    bool m_reachable = true;
};
