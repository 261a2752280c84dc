#include "service/HttpsServer.h"

#include "service/JsonAnswer.h"
#include "service/TlsConnection.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

// The workers every listening socket hands its connections to. enqueue() is
// called on a listening thread right after accept(), and waits while
// maxConnections connections are taken: that thread then accepts nothing
// until a connection ends, so the backlog stays in the kernel and a flood of
// connections costs no memory here. Every connection ends its task, however
// it ends, so every end frees a place.
class ConnectionPool
{
public:
    explicit ConnectionPool(int size)
        : m_size(size)
    {
        for (int i = 0; i < size; ++i)
            m_threads.emplace_back([this] { work(); });
    }

    ~ConnectionPool()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_freed.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }

    void enqueue(std::function<void()> task)
    {
        std::unique_lock lock(m_mutex);
        m_freed.wait(lock, [this] { return m_stopping || m_busy + std::ssize(m_tasks) < m_size; });
        if (m_stopping)
            return;
        m_tasks.push_back(std::move(task));
        m_wake.notify_one();
    }

private:
    void work()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_stopping)
                return;
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            ++m_busy;
            lock.unlock();
            try {
                task();
            } catch (...) {
                // httplib answers a handler's exception itself; anything
                // else is one lost connection, not a lost worker.
            }
            lock.lock();
            --m_busy;
            m_freed.notify_one();
        }
    }

    const int m_size;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_freed;
    std::deque<std::function<void()>> m_tasks;
    int m_busy = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// How many connections each client address has open, so that no one client
// takes every worker: past its share, a connection is closed at once, before
// its handshake, and holds a worker for no time at all.
class ClientCount
{
public:
    // Nothing when the address is unknown (the client has already gone) or
    // has its share open.
    std::optional<std::string> take(int socket)
    {
        sockaddr_storage address {};
        socklen_t size = sizeof address;
        char host[NI_MAXHOST] = {};
        if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0
            || ::getnameinfo(reinterpret_cast<sockaddr*>(&address), size, host, sizeof host,
                   nullptr, 0, NI_NUMERICHOST)
                != 0)
            return std::nullopt;
        const std::lock_guard lock(m_mutex);
        int& open = m_open[host];
        if (open >= HttpsServer::maxConnectionsPerClient)
            return std::nullopt;
        ++open;
        return host;
    }

    void release(const std::string& client)
    {
        const std::lock_guard lock(m_mutex);
        if (--m_open[client] <= 0)
            m_open.erase(client);
    }

private:
    std::mutex m_mutex;
    std::unordered_map<std::string, int> m_open;
};

namespace {

// Reads each request's head itself, within its deadline and size, before
// handing the connection to httplib for one request.
class GuardedServer : public httplib::SSLServer
{
public:
    GuardedServer(const std::function<bool(SSL_CTX&)>& setUp, ClientCount& clients,
        const HttpsServer::AnswerLog& log)
        : httplib::SSLServer(setUp)
        , m_clients(clients)
        , m_log(log)
    {
    }

private:
    bool process_and_close_socket(socket_t socket) override
    {
        bool served = false;
        if (const std::optional<std::string> client = m_clients.take(socket)) {
            TlsConnection connection(socket, ssl_context(), HttpsServer::readTimeout);
            const auto deadline = TlsConnection::Clock::now() + HttpsServer::headTimeout;
            const TlsConnection::Head head
                = connection.readHead(deadline, HttpsServer::maxHeadSize);
            if (head == TlsConnection::Head::Complete) {
                bool closed = false;
                served = process_request(connection, true, closed,
                    [&connection](httplib::Request& request) { request.ssl = connection.ssl(); });
            } else if (head != TlsConnection::Head::Lost) {
                const int status = head == TlsConnection::Head::Late ? 408
                    : head == TlsConnection::Head::TooLarge          ? 431
                                                                     : 400;
                connection.refuse(status,
                    status == 400       ? QStringLiteral("A header line is malformed.")
                        : status == 431 ? QStringLiteral("The request head is larger than 16 KiB.")
                                        : JsonAnswer::refusalText(status));
                log(connection.requestLine(), status);
            }
            connection.finish(served);
            m_clients.release(*client);
        }
        ::shutdown(socket, SHUT_RDWR);
        ::close(socket);
        return served;
    }

    void log(const std::string& requestLine, int status) const
    {
        httplib::Request request;
        const std::size_t space = requestLine.find(' ');
        request.method = requestLine.substr(0, space);
        if (space != std::string::npos)
            request.path = requestLine.substr(
                space + 1, requestLine.find_first_of(" ?", space + 1) - space - 1);
        httplib::Response response;
        response.status = status;
        if (m_log)
            m_log(request, response);
    }

    ClientCount& m_clients;
    const HttpsServer::AnswerLog& m_log;
};

// httplib makes and deletes a task queue per listening socket; all of them
// hand over to the one pool.
class PoolQueue : public httplib::TaskQueue
{
public:
    explicit PoolQueue(ConnectionPool& pool)
        : m_pool(pool)
    {
    }
    void enqueue(std::function<void()> task) override { m_pool.enqueue(std::move(task)); }
    void shutdown() override { }

private:
    ConnectionPool& m_pool;
};

bool hasIpv6Loopback()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 address {};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Why a port could not be bound, in a person's terms: httplib says only that
// it failed, so the bind is tried again here to learn the reason.
QString bindFailure(const QHostAddress& address, int port)
{
    const QString place
        = QStringLiteral("cannot listen on %1 port %2").arg(address.toString()).arg(port);
    if (port == 0)
        return place;
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return place;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in6 address6 {};
    sockaddr_in address4 {};
    int result = 0;
    if (v6) {
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(static_cast<quint16>(port));
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&address6.sin6_addr, &bytes, sizeof address6.sin6_addr);
        result = ::bind(fd, reinterpret_cast<const sockaddr*>(&address6), sizeof address6);
    } else {
        address4.sin_family = AF_INET;
        address4.sin_port = htons(static_cast<quint16>(port));
        address4.sin_addr.s_addr = htonl(address.toIPv4Address());
        result = ::bind(fd, reinterpret_cast<const sockaddr*>(&address4), sizeof address4);
    }
    const int reason = result == 0 ? 0 : errno;
    ::close(fd);
    if (reason == EADDRINUSE)
        return place + QStringLiteral(": port %1 is in use by another program").arg(port);
    if (reason == EACCES)
        return place + QStringLiteral(": port %1 is reserved for administrators").arg(port);
    return place;
}

} // namespace

HttpsServer::HttpsServer(QString certificatePath, QString keyPath, Handler handler, AnswerLog log)
    : m_certificatePath(std::move(certificatePath))
    , m_keyPath(std::move(keyPath))
    , m_handler(std::move(handler))
    , m_log(std::move(log))
    , m_pool(std::make_unique<ConnectionPool>(maxConnections))
    , m_clients(std::make_unique<ClientCount>())
{
}

HttpsServer::~HttpsServer()
{
    for (const auto& server : m_servers)
        server->stop();
}

bool HttpsServer::listen(const QList<QHostAddress>& addresses, quint16 port, QString* why)
{
    QList<QHostAddress> usable;
    for (const QHostAddress& address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv6Protocol || addresses.size() == 1
            || hasIpv6Loopback())
            usable.append(address);
    }
    // With port 0 the first address picks the port; another program may hold
    // it on the next address, and then a fresh pick is tried.
    for (int attempt = 0; attempt < 20; ++attempt) {
        bool portTaken = false;
        if (listenOnce(usable, port, &portTaken, why))
            return true;
        if (port != 0 || !portTaken)
            return false;
    }
    return false;
}

bool HttpsServer::listenOnce(
    const QList<QHostAddress>& addresses, quint16 port, bool* portTaken, QString* why)
{
    m_servers.clear();
    int chosen = port;
    for (const QHostAddress& address : addresses) {
        auto server = makeServer(why);
        if (!server)
            return false;
        const std::string host = address.toString().toStdString();
        const bool bound = chosen == 0 ? (chosen = server->bind_to_any_port(host)) > 0
                                       : server->bind_to_port(host, chosen);
        if (!bound) {
            *portTaken = !m_servers.empty();
            if (why)
                *why = bindFailure(address, chosen);
            m_servers.clear();
            return false;
        }
        m_servers.push_back(std::move(server));
    }
    m_port = static_cast<quint16>(chosen);
    return !m_servers.empty();
}

std::unique_ptr<httplib::SSLServer> HttpsServer::makeServer(QString* why)
{
    const QByteArray certificate = m_certificatePath.toLocal8Bit();
    const QByteArray key = m_keyPath.toLocal8Bit();
    const auto setUp = [&](SSL_CTX& context) {
        return SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) == 1
            && SSL_CTX_use_certificate_chain_file(&context, certificate.constData()) == 1
            && SSL_CTX_use_PrivateKey_file(&context, key.constData(), SSL_FILETYPE_PEM) == 1
            && SSL_CTX_check_private_key(&context) == 1;
    };
    auto server = std::make_unique<GuardedServer>(setUp, *m_clients, m_log);
    if (!server->is_valid()) {
        if (why)
            *why = QStringLiteral("cannot use %1 and %2 for TLS").arg(m_certificatePath, m_keyPath);
        return nullptr;
    }
    // httplib's default also sets SO_REUSEPORT, which would let a second
    // service share a port taken by another instead of failing to listen.
    server->set_socket_options([](int socket) {
        const int on = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    ConnectionPool& pool = *m_pool;
    server->new_task_queue = [&pool] { return new PoolQueue(pool); };
    // GuardedServer serves one request a connection: every answer closes it,
    // so an idle client holds no worker.
    server->set_payload_max_length(maxBodySize);
    server->set_default_headers({ { "Cache-Control", "no-store" } });

    const auto withBody
        = [this](const httplib::Request& request, httplib::Response& response,
              const httplib::ContentReader& reader) { m_handler(request, response, &reader); };
    const auto withoutBody = [this](const httplib::Request& request, httplib::Response& response) {
        m_handler(request, response, nullptr);
    };
    const std::string any = ".*";
    server->Get(any, withoutBody)
        .Post(any, withoutBody)
        .Put(any, withoutBody)
        .Patch(any, withoutBody);
    server->Delete(any, withoutBody).Options(any, withoutBody);
    server->Post(any, withBody).Put(any, withBody).Patch(any, withBody).Delete(any, withBody);
    // Requests httplib refuses itself (malformed, too large) reach no
    // handler; they get the same kind of answer through this one.
    server->set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty())
            JsonAnswer::setMessage(
                response, response.status, JsonAnswer::refusalText(response.status));
    });
    server->set_logger(m_log);
    return server;
}

void HttpsServer::run()
{
    std::vector<std::thread> others;
    for (std::size_t i = 1; i < m_servers.size(); ++i)
        others.emplace_back([server = m_servers[i].get()] { server->listen_after_bind(); });
    if (!m_servers.empty())
        m_servers.front()->listen_after_bind();
    for (std::thread& thread : others)
        thread.join();
}
