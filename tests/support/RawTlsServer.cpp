#include "support/RawTlsServer.h"

#include <QProcess>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

const char* const openSslConfiguration = R"(
[req]
distinguished_name = name
prompt = no
[name]
CN = localhost
[authority]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
)";

bool runOpenSsl(const QTemporaryDir& directory, QStringList arguments, QString* why)
{
    const QString command = arguments.first();
    if (command == QLatin1String("req"))
        arguments << QStringLiteral("-config") << directory.filePath(QStringLiteral("openssl.cnf"))
                  << QStringLiteral("-newkey") << QStringLiteral("ec") << QStringLiteral("-pkeyopt")
                  << QStringLiteral("ec_paramgen_curve:prime256v1") << QStringLiteral("-nodes");
    QProcess openssl;
    openssl.setWorkingDirectory(directory.path());
    openssl.start(QStringLiteral("openssl"), arguments);
    if (openssl.waitForFinished(60000) && openssl.exitStatus() == QProcess::NormalExit
        && openssl.exitCode() == 0)
        return true;
    *why = QStringLiteral("openssl %1 failed: %2")
               .arg(command, QString::fromLocal8Bit(openssl.readAllStandardError()));
    return false;
}

QByteArray contents(const QTemporaryDir& directory, const QString& name)
{
    QFile file(directory.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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
        if (m_answered)
            return;
        const std::optional<RawTlsServer::Request> request = parsedRequest(m_received);
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
            return;
        }
        if (m_sent < m_answer.bytes.size()) {
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

} // namespace

std::optional<TestCertificates> TestCertificates::make(QString* why)
{
    QTemporaryDir directory;
    QFile configuration(directory.filePath(QStringLiteral("openssl.cnf")));
    if (!directory.isValid() || !configuration.open(QIODevice::WriteOnly)
        || configuration.write(openSslConfiguration) < 0 || !configuration.flush()) {
        *why = QStringLiteral("cannot write the openssl configuration in a temporary folder");
        return std::nullopt;
    }
    const QStringList valid = { QStringLiteral("-days"), QStringLiteral("2") };
    if (!runOpenSsl(directory,
            QStringList { "req", "-x509", "-subj", "/CN=tarvenDESK test authority", "-extensions",
                "authority", "-keyout", "authority.key", "-out", "authority.crt" }
                + valid,
            why)
        || !runOpenSsl(
            directory, { "req", "-new", "-keyout", "server.key", "-out", "server.csr" }, why)
        || !runOpenSsl(directory,
            QStringList { "x509", "-req", "-in", "server.csr", "-CA", "authority.crt", "-CAkey",
                "authority.key", "-set_serial", "2", "-extfile", "openssl.cnf", "-extensions",
                "server", "-out", "server.crt" }
                + valid,
            why)
        || !runOpenSsl(directory,
            QStringList { "req", "-x509", "-extensions", "server", "-keyout", "stranger.key",
                "-out", "stranger.crt" }
                + valid,
            why))
        return std::nullopt;

    TestCertificates certificates {
        QSslCertificate(contents(directory, QStringLiteral("authority.crt"))),
        QSslCertificate(contents(directory, QStringLiteral("server.crt"))),
        QSslKey(contents(directory, QStringLiteral("server.key")), QSsl::Ec),
        QSslCertificate(contents(directory, QStringLiteral("stranger.crt"))),
        QSslKey(contents(directory, QStringLiteral("stranger.key")), QSsl::Ec),
    };
    if (certificates.authority.isNull() || certificates.server.isNull()
        || certificates.serverKey.isNull() || certificates.stranger.isNull()
        || certificates.strangerKey.isNull()) {
        *why = QStringLiteral("openssl made certificates or keys that Qt cannot read");
        return std::nullopt;
    }
    return certificates;
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
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_server->serverPort());
    url.setPath(path);
    return url;
}

void RawTlsServer::setAnswer(const Answer& answer)
{
    m_answerer = [answer](const Request&) { return answer; };
}

void RawTlsServer::onConnection()
{
    while (m_server->hasPendingConnections()) {
        if (auto* socket = qobject_cast<QSslSocket*>(m_server->nextPendingConnection()))
            new Session(socket, m_answerer, m_requests);
    }
}
