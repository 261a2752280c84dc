#include "service/HttpsServer.h"

#include <QSslServer>
#include <QSslSocket>

HttpsServer::HttpsServer(const QSslConfiguration& tls, HttpConnection::Handler handler, QObject* parent)
    : QObject(parent)
    , m_tls(tls)
    , m_handler(std::move(handler))
{
}

HttpsServer::~HttpsServer() = default;

bool HttpsServer::listen(const QList<QHostAddress>& addresses, quint16 port, QString* why)
{
    // With port 0 the first address picks the port; another program may hold
    // it on the next address, and then a fresh pick is tried.
    for (int attempt = 0; attempt < 20; ++attempt) {
        bool portTaken = false;
        if (listenOnce(addresses, port, &portTaken, why))
            return true;
        if (port != 0 || !portTaken)
            return false;
    }
    return false;
}

bool HttpsServer::listenOnce(const QList<QHostAddress>& addresses, quint16 port, bool* portTaken, QString* why)
{
    m_servers.clear();
    quint16 chosen = port;
    for (const QHostAddress& address : addresses) {
        auto server = std::make_unique<QSslServer>();
        server->setSslConfiguration(m_tls);
        server->setHandshakeTimeout(static_cast<int>(readTimeout.count()));
        server->setMaxPendingConnections(maxConnections);
        if (!server->listen(address, chosen)) {
            const auto error = server->serverError();
            const bool noSuchAddress = error == QAbstractSocket::SocketAddressNotAvailableError
                || error == QAbstractSocket::UnsupportedSocketOperationError;
            if (noSuchAddress && address.protocol() == QAbstractSocket::IPv6Protocol && addresses.size() > 1)
                continue;
            *portTaken = error == QAbstractSocket::AddressInUseError && !m_servers.empty();
            if (why)
                *why = QStringLiteral("cannot listen on %1 port %2: %3")
                           .arg(address.toString())
                           .arg(chosen)
                           .arg(server->errorString());
            m_servers.clear();
            return false;
        }
        chosen = server->serverPort();
        QSslServer* raw = server.get();
        connect(raw, &QSslServer::pendingConnectionAvailable, this, [this, raw] { takeConnections(raw); });
        m_servers.push_back(std::move(server));
    }
    return !m_servers.empty();
}

quint16 HttpsServer::port() const
{
    return m_servers.empty() ? 0 : m_servers.front()->serverPort();
}

void HttpsServer::takeConnections(QSslServer* server)
{
    while (m_connections < maxConnections && server->hasPendingConnections()) {
        auto* socket = qobject_cast<QSslSocket*>(server->nextPendingConnection());
        if (!socket)
            continue;
        auto* connection = new HttpConnection(socket, m_handler, readTimeout, this);
        ++m_connections;
        connect(connection, &HttpConnection::answered, this, &HttpsServer::answered);
        connect(connection, &HttpConnection::finished, this,
            [this, connection] { onConnectionFinished(connection); });
    }
    updateAccepting();
}

void HttpsServer::onConnectionFinished(HttpConnection* connection)
{
    connection->deleteLater();
    --m_connections;
    updateAccepting();
    for (const auto& server : m_servers)
        takeConnections(server.get());
}

void HttpsServer::updateAccepting()
{
    for (const auto& server : m_servers) {
        if (m_connections >= maxConnections)
            server->pauseAccepting();
        else
            server->resumeAccepting();
    }
}
