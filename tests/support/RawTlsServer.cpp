#include "support/RawTlsServer.h"

#include <QRegularExpression>
#include <QSslSocket>
#include <QTimer>

namespace {

// The size of the whole request once its head and its Content-Length of body
// have come; 0 until then.
qsizetype requestSize(const QByteArray& received)
{
    static const QRegularExpression length(QStringLiteral("^content-length:\\s*(\\d+)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    const QString head = QString::fromLatin1(received.left(headEnd));
    const qsizetype size = headEnd + 4 + length.match(head).captured(1).toLongLong();
    return headEnd >= 0 && received.size() >= size ? size : 0;
}

} // namespace

RawTlsServer::Answer RawTlsServer::Answer::http(int status, const QByteArray& body)
{
    return { "HTTP/1.1 " + QByteArray::number(status) + (status < 400 ? " OK" : " Failed")
        + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body };
}

RawTlsServer::RawTlsServer(const QSslCertificate& certificate, const QSslKey& key)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    m_server.setSslConfiguration(configuration);
    QObject::connect(&m_server, &QSslServer::pendingConnectionAvailable, &m_server, [this] {
        while (auto* socket = qobject_cast<QSslSocket*>(m_server.nextPendingConnection())) {
            QObject::connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
            auto* timer = new QTimer(socket); // sends the answer, a chunk at each tick
            QObject::connect(socket, &QSslSocket::readyRead, timer,
                [this, socket, timer, received = QByteArray()]() mutable {
                    received += socket->readAll();
                    const qsizetype size = requestSize(received);
                    if (size == 0)
                        return;
                    m_requests.append(received.left(size));
                    received.remove(0, size);
                    if (m_answer.silent)
                        return;
                    QObject::connect(timer, &QTimer::timeout, timer,
                        [socket, answer = m_answer, sent = qsizetype(0)]() mutable {
                            if (socket->state() != QAbstractSocket::ConnectedState
                                || socket->bytesToWrite() + socket->encryptedBytesToWrite()
                                    > 256 * 1024)
                                return; // never faster than the client takes it
                            const QByteArray chunk = answer.bytes.mid(
                                sent, answer.chunkSize > 0 ? answer.chunkSize : -1);
                            sent += chunk.size();
                            socket->write(chunk.isEmpty() && answer.endless
                                    ? QByteArray(64 * 1024, ' ')
                                    : chunk);
                            if (chunk.isEmpty() && !answer.endless)
                                socket->disconnectFromHost();
                        });
                    timer->start(
                        m_answer.chunkSize > 0 ? m_answer.interval : std::chrono::milliseconds(1));
                });
            emit socket->readyRead(); // for what came with the end of the handshake
        }
    });
}
