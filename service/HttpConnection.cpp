#include "service/HttpConnection.h"

#include <QSslSocket>

namespace {

// What is read and dropped, at most, of a refused request's body before
// closing. Closing with unread bytes makes the kernel send a reset, and a
// client that is still sending might then lose the answer.
constexpr qint64 maxDrainBytes = 1024 * 1024;
constexpr qint64 readChunk = 16 * 1024;
constexpr std::chrono::milliseconds closeGrace { 2000 };

} // namespace

HttpConnection::HttpConnection(QSslSocket* socket, Handler handler, std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_handler(std::move(handler))
{
    m_socket->setParent(this);
    m_socket->setReadBufferSize(HttpRequestParser::maxBodySize);
    connect(m_socket, &QSslSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QSslSocket::disconnected, this, &HttpConnection::finish);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &HttpConnection::onDeadline);
    m_deadline.start(timeout);
    // Bytes may have come with the end of the handshake.
    QMetaObject::invokeMethod(this, &HttpConnection::onReadyRead, Qt::QueuedConnection);
}

void HttpConnection::onReadyRead()
{
    while (m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->read(readChunk);
        if (m_answered) {
            m_drainLeft -= bytes.size();
            if (m_drainLeft <= 0 && !m_closing)
                close();
            continue;
        }
        switch (m_parser.feed(bytes)) {
        case HttpRequestParser::State::Incomplete:
            break;
        case HttpRequestParser::State::Complete:
            answer(m_handler(m_parser.request()));
            break;
        case HttpRequestParser::State::Failed:
            // A body too large to drain is cut off: that client asked for it.
            m_drainLeft = m_parser.unreadBodyBytes() <= maxDrainBytes ? m_parser.unreadBodyBytes() : 0;
            answer(HttpResponse::message(m_parser.failureStatus(), m_parser.failureMessage()));
            break;
        }
    }
}

void HttpConnection::onDeadline()
{
    if (m_answered || m_closing) {
        m_socket->abort();
        finish();
        return;
    }
    m_drainLeft = 0;
    answer(HttpResponse::message(408, QStringLiteral("The request did not arrive in time.")));
}

void HttpConnection::answer(const HttpResponse& response)
{
    m_answered = true;
    const HttpRequest& request = m_parser.request();
    // Only the path: a query string might carry what a client should never
    // have put in an address, and it is no business of the log.
    emit answered(request.method.isEmpty() ? QByteArray("-") : request.method,
        request.target.isEmpty() ? QByteArray("-") : request.path(), response.status);
    m_socket->write(response.serialized());
    if (m_drainLeft <= 0)
        close();
}

void HttpConnection::close()
{
    m_closing = true;
    // Whatever happens now, the connection is gone soon: a client that reads
    // nothing cannot keep the answer in flight.
    m_deadline.start(closeGrace);
    m_socket->disconnectFromHost();
}

void HttpConnection::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    emit finished();
}
