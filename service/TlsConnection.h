#pragma once

// One accepted connection of the service, spoken over TLS without blocking so
// that every wait has an end. The handshake and the whole request head share
// one deadline, however slowly the bytes come, and the head is read into a
// buffer of bounded size before httplib sees any of it: httplib then parses
// the head from that buffer, and reads the body (each read with its own
// time-out) from the connection.

#include <QString>
#include <chrono>
#include <httplib.h>
#include <openssl/ssl.h>
#include <string>

class TlsConnection : public httplib::Stream
{
public:
    using Clock = std::chrono::steady_clock;

    enum class Head
    {
        Complete, // checked, and ready for httplib
        Lost, // the handshake failed, or the client went before its head was whole
        Late, // not whole by the deadline
        TooLarge,
        Malformed, // a header line httplib would read otherwise than its sender meant
    };

    // Takes over neither the socket nor the context; ioTimeout bounds each
    // read and write after the head.
    TlsConnection(int socket, SSL_CTX* context, std::chrono::milliseconds ioTimeout);
    ~TlsConnection() override;
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // The handshake and a head of at most maxSize bytes, both by the deadline.
    Head readHead(Clock::time_point deadline, std::size_t maxSize);
    SSL* ssl() const { return m_ssl; }
    // The request line, as far as it came: for the log of a refused head.
    std::string requestLine() const;

    // Answers a request that is not handed to httplib with a JSON message.
    // What the client is still sending is read and dropped for a moment
    // first, since closing with unread bytes makes the kernel send a reset
    // that can overtake the answer.
    void refuse(int status, const QString& text);
    // Ends the TLS session, with its closing alert when the exchange went well.
    void finish(bool graceful);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* data, size_t size) override;
    ssize_t write(const char* data, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return m_socket; }

private:
    bool handshake(Clock::time_point deadline);
    ssize_t receive(char* data, std::size_t size, Clock::time_point deadline);
    bool waitFor(short events, Clock::time_point deadline) const;
    Head checkHead(std::size_t size) const;

    const int m_socket;
    const std::chrono::milliseconds m_timeout;
    SSL* m_ssl = nullptr;
    bool m_encrypted = false;
    mutable bool m_timedOut = false;
    std::string m_ahead; // read ahead: the head, and perhaps the body's start
    std::size_t m_aheadRead = 0; // how much of it httplib has taken
};
