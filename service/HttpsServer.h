#pragma once

// Serves HTTPS on loopback addresses through cpp-httplib: one SSLServer per
// address, all on the same port, sharing one pool of connection workers. At
// most maxConnections connections are taken at a time, counted from accept to
// close whatever ends them (a failed handshake included); past that, new
// ones wait in the kernel's queue until one ends. Each client address has a
// share of them, and each request head a deadline and a size, so that slow or
// many connections of one client leave the others served.

#include <QHostAddress>
#include <QList>
#include <QString>
#include <chrono>
#include <functional>
#include <httplib.h>
#include <memory>
#include <vector>

class ClientCount;
class ConnectionPool;

class HttpsServer
{
public:
    static constexpr int maxConnections = 32;
    // A quarter of the workers: a client past it is not served, and others are.
    static constexpr int maxConnectionsPerClient = 8;
    // From the worker's start to the head's end, handshake included, however
    // the bytes come; then each read and write of the body and the answer.
    static constexpr std::chrono::seconds headTimeout { 5 };
    static constexpr std::chrono::seconds readTimeout { 10 };
    static constexpr std::size_t maxHeadSize = 16 * 1024;
    static constexpr std::size_t maxBodySize = 64 * 1024;
    // At most this much of what a refused client goes on sending is read and
    // dropped before the answer: closing with unread bytes makes the kernel
    // send a reset, and a client still sending might then lose the answer.
    static constexpr std::size_t maxDrainSize = 1024 * 1024;

    // Called on a connection's worker for every request. The reader is null
    // when the request declares no body; the handler decides whether to read it.
    using Handler = std::function<void(
        const httplib::Request&, httplib::Response&, const httplib::ContentReader*)>;
    // Once per answer, from a worker, after it has been sent.
    using AnswerLog = std::function<void(const httplib::Request&, const httplib::Response&)>;

    HttpsServer(QString certificatePath, QString keyPath, Handler handler, AnswerLog log);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    // Port 0 picks a free port, the same one on every address. An IPv6
    // address is skipped, when others are given, on a machine without IPv6.
    bool listen(const QList<QHostAddress>& addresses, quint16 port, QString* why = nullptr);
    quint16 port() const { return m_port; }

    // Serves until the process ends.
    void run();

private:
    bool listenOnce(
        const QList<QHostAddress>& addresses, quint16 port, bool* portTaken, QString* why);
    std::unique_ptr<httplib::SSLServer> makeServer(QString* why);

    QString m_certificatePath;
    QString m_keyPath;
    Handler m_handler;
    AnswerLog m_log;
    std::unique_ptr<ConnectionPool> m_pool;
    std::unique_ptr<ClientCount> m_clients;
    std::vector<std::unique_ptr<httplib::SSLServer>> m_servers;
    quint16 m_port = 0;
};
