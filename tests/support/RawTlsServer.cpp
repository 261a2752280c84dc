#include "support/RawTlsServer.h"

#include "support/ReferenceService.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

std::optional<RawTlsServer::Request> parsedRequest(const QByteArray& received)
{
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return std::nullopt;
    const QList<QByteArray> lines = received.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    RawTlsServer::Request request { requestLine.value(0), requestLine.value(1), {}, {} };
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(
                line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length").toLongLong();
    if (received.size() - (headEnd + 4) < length)
        return std::nullopt;
    request.body = received.mid(headEnd + 4, length);
    return request;
}

// One client connection: reads its request, then sends the answer chosen for it.
class Session : public QObject
{
public:
    Session(QSslSocket* socket, const RawTlsServer::Answerer& answerer,
        QList<RawTlsServer::Request>& requests)
        : QObject(socket)
        , m_socket(socket)
        , m_answerer(answerer)
        , m_requests(requests)
    {
        connect(socket, &QSslSocket::readyRead, this, &Session::onReadyRead);
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(&m_timer, &QTimer::timeout, this, &Session::sendMore);
        onReadyRead();
    }

private:
    void onReadyRead()
    {
        m_received.append(m_socket->readAll());
        const std::optional<RawTlsServer::Request> request
            = m_answered ? std::nullopt : parsedRequest(m_received);
        if (!request)
            return;
        m_answered = true;
        m_requests.append(*request);
        m_answer = m_answerer(*request);
        if (m_answer.silent)
            return;
        m_timer.start(m_answer.chunkSize > 0 ? m_answer.interval : 1ms);
        sendMore();
    }

    void sendMore()
    {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            m_timer.stop();
        } else if (m_sent < m_answer.bytes.size()) {
            const qsizetype size
                = m_answer.chunkSize > 0 ? m_answer.chunkSize : m_answer.bytes.size();
            m_socket->write(m_answer.bytes.mid(m_sent, size));
            m_sent += size;
        } else if (!m_answer.endless) {
            m_timer.stop();
            m_socket->disconnectFromHost();
        } else if (m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() < 256 * 1024) {
            // Without end, but never faster than the client takes it.
            m_socket->write(QByteArray(64 * 1024, ' '));
        }
    }

    QSslSocket* m_socket;
    const RawTlsServer::Answerer& m_answerer;
    QList<RawTlsServer::Request>& m_requests;
    QByteArray m_received;
    bool m_answered = false;
    RawTlsServer::Answer m_answer;
    qsizetype m_sent = 0;
    QTimer m_timer;
};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

std::optional<TestCertificates> TestCertificates::make(QString* why)
{
    // Two authorities made by the reference service: the second one's
    // certificate is the stranger.
    QTemporaryDir directory;
    for (const char* name : { "trusted", "stranger" }) {
        const ReferenceService::Run run = ReferenceService::run(
            { QStringLiteral("make-cert"), QStringLiteral("--out"), directory.filePath(name) });
        if (run.exitCode != 0) {
            *why = QStringLiteral("make-cert failed: %1").arg(QString::fromUtf8(run.standardError));
            return std::nullopt;
        }
    }
    TestCertificates made {
        QSslCertificate(contents(directory.filePath("trusted/ca.pem"))),
        QSslCertificate(contents(directory.filePath("trusted/cert.pem"))),
        QSslKey(contents(directory.filePath("trusted/key.pem")), QSsl::Ec),
        QSslCertificate(contents(directory.filePath("stranger/cert.pem"))),
        QSslKey(contents(directory.filePath("stranger/key.pem")), QSsl::Ec),
    };
    if (made.authority.isNull() || made.server.isNull() || made.serverKey.isNull()
        || made.stranger.isNull() || made.strangerKey.isNull()) {
        *why = QStringLiteral("make-cert wrote certificates or keys that Qt cannot read");
        return std::nullopt;
    }
    return made;
}

RawTlsServer::Answer RawTlsServer::Answer::http(
    int status, const QByteArray& body, const QByteArray& contentType)
{
    QByteArray bytes
        = "HTTP/1.1 " + QByteArray::number(status) + (status < 400 ? " OK" : " Failed") + "\r\n";
    if (!contentType.isEmpty())
        bytes += "Content-Type: " + contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"
        + body;
    return Answer { bytes };
}

RawTlsServer::RawTlsServer(const QSslCertificate& certificate, const QSslKey& key, QObject* parent)
    : QObject(parent)
    , m_server(std::make_unique<QSslServer>())
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server->setSslConfiguration(configuration);
    connect(
        m_server.get(), &QSslServer::pendingConnectionAvailable, this, &RawTlsServer::onConnection);
    setAnswer(Answer::http(200, "{}"));
}

RawTlsServer::~RawTlsServer() = default;

bool RawTlsServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QUrl RawTlsServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(m_server->serverPort()).arg(path));
}

void RawTlsServer::setAnswer(const Answer& answer)
{
    m_answerer = [answer](const Request&) { return answer; };
}

void RawTlsServer::onConnection()
{
    while (m_server->hasPendingConnections())
        if (auto* socket = qobject_cast<QSslSocket*>(m_server->nextPendingConnection()))
            new Session(socket, m_answerer, m_requests);
}
