#pragma once

// Serves HTTPS on loopback addresses: one QSslServer per address, all on the
// same port, each connection handled by an HttpConnection. The number of open
// connections is bounded; past it, new ones wait in the kernel's queue.

#include "service/HttpConnection.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslConfiguration>

#include <chrono>
#include <memory>
#include <vector>

class QSslServer;

class HttpsServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxConnections = 32;
    static constexpr std::chrono::milliseconds readTimeout { 10000 };

    HttpsServer(const QSslConfiguration& tls, HttpConnection::Handler handler, QObject* parent = nullptr);
    ~HttpsServer() override;

    // Port 0 picks a free port, the same one on every address. An IPv6
    // address is skipped, when others are given, on a machine without IPv6.
    bool listen(const QList<QHostAddress>& addresses, quint16 port, QString* why = nullptr);
    quint16 port() const;

signals:
    void answered(const QByteArray& method, const QByteArray& path, int status);

private:
    bool listenOnce(const QList<QHostAddress>& addresses, quint16 port, bool* portTaken, QString* why);
    void takeConnections(QSslServer* server);
    void onConnectionFinished(HttpConnection* connection);
    void updateAccepting();

    QSslConfiguration m_tls;
    HttpConnection::Handler m_handler;
    std::vector<std::unique_ptr<QSslServer>> m_servers;
    int m_connections = 0;
};
