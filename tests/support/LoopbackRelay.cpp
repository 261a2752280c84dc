#include "support/LoopbackRelay.h"

#include <QTcpSocket>

LoopbackRelay::LoopbackRelay(quint16 targetPort, QObject* parent)
    : QObject(parent)
    , m_targetPort(targetPort)
{
    connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, &LoopbackRelay::onConnection);
    if (m_server.listen(QHostAddress::LocalHost, 0))
        m_port = m_server.serverPort();
}

bool LoopbackRelay::setUp(bool up)
{
    if (!up) {
        m_server.close();
        // Each client socket owns the socket to the server it is relayed to.
        for (QTcpSocket* client : m_server.findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
            client->abort();
        return true;
    }
    return m_port != 0 && (isUp() || m_server.listen(QHostAddress::LocalHost, m_port));
}

void LoopbackRelay::onConnection()
{
    while (QTcpSocket* client = m_server.nextPendingConnection()) {
        client->setParent(&m_server);
        auto* server = new QTcpSocket(client);
        // The client's bytes wait in its socket until the other side is there.
        connect(server, &QTcpSocket::connected, client, [client, server] {
            connect(client, &QTcpSocket::readyRead, server,
                [client, server] { server->write(client->readAll()); });
            server->write(client->readAll());
        });
        connect(server, &QTcpSocket::readyRead, client,
            [client, server] { client->write(server->readAll()); });
        connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        connect(server, &QTcpSocket::errorOccurred, client, &QTcpSocket::disconnectFromHost);
        connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        server->connectToHost(QStringLiteral("localhost"), m_targetPort);
    }
}
