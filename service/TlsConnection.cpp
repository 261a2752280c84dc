#include "service/TlsConnection.h"

#include "service/HttpsServer.h"
#include "service/JsonAnswer.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

// What a refused client goes on sending is dropped for at most this long, and
// only while it keeps coming.
constexpr std::chrono::seconds maxDrainTime { 1 };
constexpr std::chrono::milliseconds drainPause { 100 };

bool isTokenCharacter(char c)
{
    static constexpr std::string_view others = "!#$%&'*+-.^_`|~";
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
        || others.find(c) != std::string_view::npos;
}

const char* reason(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

void socketAddress(int socket, bool peer, std::string& ip, int& port)
{
    sockaddr_storage address {};
    socklen_t size = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if ((peer ? ::getpeername(socket, raw, &size) : ::getsockname(socket, raw, &size)) != 0
        || ::getnameinfo(raw, size, host, sizeof host, service, sizeof service,
               NI_NUMERICHOST | NI_NUMERICSERV)
            != 0)
        return;
    ip = host;
    port = std::atoi(service);
}

} // namespace

TlsConnection::TlsConnection(int socket, SSL_CTX* context, std::chrono::milliseconds ioTimeout)
    : m_socket(socket)
    , m_timeout(ioTimeout)
    , m_ssl(SSL_new(context))
{
    const int flags = ::fcntl(socket, F_GETFL);
    if (!m_ssl || flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0
        || SSL_set_fd(m_ssl, socket) != 1) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
}

TlsConnection::~TlsConnection()
{
    SSL_free(m_ssl);
}

TlsConnection::Head TlsConnection::readHead(Clock::time_point deadline, std::size_t maxSize)
{
    if (!handshake(deadline))
        return Head::Lost;
    char buffer[4096];
    for (;;) {
        const std::size_t end = m_ahead.find("\r\n\r\n");
        if (end != std::string::npos)
            return checkHead(end + 2);
        if (m_ahead.size() >= maxSize)
            return Head::TooLarge;
        const ssize_t size
            = receive(buffer, std::min(sizeof buffer, maxSize - m_ahead.size()), deadline);
        if (size <= 0)
            return m_timedOut ? Head::Late : Head::Lost;
        m_ahead.append(buffer, static_cast<std::size_t>(size));
    }
}

// httplib skips a line it cannot split and keeps white space in a name, so
// "Transfer-Encoding : chunked" or a folded value would reach the service as
// some other header than the one its sender (or a proxy in front) acted on.
// Such a head is refused whole instead. size ends after the last header line's
// line break.
TlsConnection::Head TlsConnection::checkHead(std::size_t size) const
{
    const std::string_view head = std::string_view(m_ahead).substr(0, size);
    std::size_t start = head.find("\r\n") + 2; // past the request line, which httplib checks
    for (std::size_t i = 0; i < size; ++i) {
        const bool lineBreak
            = head.substr(i, 2) == "\r\n" || (i > 0 && head.substr(i - 1, 2) == "\r\n");
        if ((head[i] == '\r' || head[i] == '\n') && !lineBreak)
            return Head::Malformed; // a carriage return or line feed alone
    }
    while (start < size) {
        const std::size_t end = head.find("\r\n", start);
        const std::string_view line = head.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos
            || !std::all_of(line.begin(), line.begin() + colon, isTokenCharacter))
            return Head::Malformed;
        start = end + 2;
    }
    return Head::Complete;
}

std::string TlsConnection::requestLine() const
{
    return m_ahead.substr(0, std::min(m_ahead.find("\r\n"), std::size_t(1024)));
}

void TlsConnection::refuse(int status, const QString& text)
{
    httplib::Response response;
    JsonAnswer::setMessage(response, status, text);
    const std::string answer = "HTTP/1.1 " + std::to_string(status) + ' ' + reason(status)
        + "\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Type: application/json"
          "\r\nContent-Length: "
        + std::to_string(response.body.size()) + "\r\n\r\n" + response.body;
    if (write(answer.data(), answer.size()) < 0)
        return;
    const Clock::time_point end = Clock::now() + maxDrainTime;
    char buffer[4096];
    std::size_t drained = 0;
    while (drained < HttpsServer::maxDrainSize) {
        const ssize_t size
            = receive(buffer, sizeof buffer, std::min(end, Clock::now() + drainPause));
        if (size <= 0)
            break;
        drained += static_cast<std::size_t>(size);
    }
}

void TlsConnection::finish(bool graceful)
{
    // One try at the closing alert: a client that does not read it loses nothing.
    if (m_ssl && m_encrypted && graceful)
        SSL_shutdown(m_ssl);
}

bool TlsConnection::handshake(Clock::time_point deadline)
{
    if (!m_ssl)
        return false;
    for (;;) {
        const int result = SSL_accept(m_ssl);
        if (result == 1)
            return m_encrypted = true;
        const int error = SSL_get_error(m_ssl, result);
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            || !waitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline))
            return false;
    }
}

ssize_t TlsConnection::receive(char* data, std::size_t size, Clock::time_point deadline)
{
    if (!m_encrypted)
        return -1;
    for (;;) {
        const int result
            = SSL_read(m_ssl, data, static_cast<int>(std::min(size, std::size_t(1) << 20)));
        if (result > 0)
            return result;
        const int error = SSL_get_error(m_ssl, result);
        if (error == SSL_ERROR_ZERO_RETURN)
            return 0;
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            || !waitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline))
            return -1;
    }
}

bool TlsConnection::waitFor(short events, Clock::time_point deadline) const
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            m_timedOut = true;
            return false;
        }
        pollfd watched { m_socket, events, 0 };
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        // An error or hang-up shows in the next TLS call.
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool TlsConnection::is_readable() const
{
    return m_aheadRead < m_ahead.size() || (m_ssl && SSL_pending(m_ssl) > 0)
        || waitFor(POLLIN, Clock::now() + m_timeout);
}

bool TlsConnection::is_writable() const
{
    return waitFor(POLLOUT, Clock::now() + m_timeout);
}

ssize_t TlsConnection::read(char* data, size_t size)
{
    if (m_aheadRead < m_ahead.size()) {
        const std::size_t taken = std::min(size, m_ahead.size() - m_aheadRead);
        std::copy_n(m_ahead.data() + m_aheadRead, taken, data);
        m_aheadRead += taken;
        return static_cast<ssize_t>(taken);
    }
    return receive(data, size, Clock::now() + m_timeout);
}

ssize_t TlsConnection::write(const char* data, size_t size)
{
    if (!m_encrypted)
        return -1;
    if (size == 0)
        return 0;
    const Clock::time_point deadline = Clock::now() + m_timeout;
    for (;;) {
        // Without partial writes, OpenSSL sends the whole buffer or reports why not.
        const int result
            = SSL_write(m_ssl, data, static_cast<int>(std::min(size, std::size_t(1) << 20)));
        if (result > 0)
            return result;
        const int error = SSL_get_error(m_ssl, result);
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            || !waitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline))
            return -1;
    }
}

void TlsConnection::get_remote_ip_and_port(std::string& ip, int& port) const
{
    socketAddress(m_socket, true, ip, port);
}

void TlsConnection::get_local_ip_and_port(std::string& ip, int& port) const
{
    socketAddress(m_socket, false, ip, port);
}
