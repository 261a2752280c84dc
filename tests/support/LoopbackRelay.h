#pragma once

// A TCP relay on 127.0.0.1 in front of a loopback server, which a test takes
// down (connections refused, those under way cut) and brings back on the same
// port: a service that is away for a while, as its clients see it.

#include <QObject>
#include <QTcpServer>

class LoopbackRelay : public QObject
{
    Q_OBJECT

public:
    // Relays to localhost:targetPort; up on a free port once constructed.
    explicit LoopbackRelay(quint16 targetPort, QObject* parent = nullptr);

    bool isUp() const { return m_server.isListening(); }
    quint16 port() const { return m_port; }
    // False when the port could not be taken again.
    bool setUp(bool up);

private:
    void onConnection();

    quint16 m_targetPort;
    quint16 m_port = 0;
    QTcpServer m_server;
};
