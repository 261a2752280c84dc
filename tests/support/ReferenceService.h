#pragma once

// Runs the suite's reference service, tarvendesk-service, for a test: its own
// certificates and database in a temporary folder, and a server on a free
// loopback port. Users are added with their password on the tool's standard
// input, never on its command line. The server is stopped when the fixture goes.

#include <QDate>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>
#include <QUrl>
#include <optional>

class ReferenceService
{
public:
    struct Run
    {
        int exitCode = -1; // -1 when the tool did not run to its end
        QByteArray standardError;
    };

    ReferenceService();
    ~ReferenceService() { stop(); }

    // False when the certificates could not be made; errorString() says why.
    bool isValid() const { return QFile::exists(path(QStringLiteral("pki/key.pem"))); }
    // Why the last call that failed did so.
    QString errorString() const { return m_errorString; }

    bool addUser(const QString& name, const QString& password);
    bool addDocument(const QString& user, const QString& title, QDate expiry);

    // Serves on a free port, counting from today (the real date when null),
    // and returns once the service accepts connections.
    bool start(QDate today = {}, const QStringList& serveOptions = {});
    void stop();

    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    // https://localhost:PORT/ex-libs/get-severity-count
    QUrl url() const
    {
        return QUrl(QStringLiteral("https://localhost:%1/ex-libs/get-severity-count").arg(m_port));
    }
    // The authority that issued the service's certificate: a QList<QSslCertificate>.
    auto caCertificates() const { return QSslCertificate::fromPath(path("pki/ca.pem")); }
    // ca.pem, cert.pem and key.pem are in the folder of pki/.
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString databasePath() const { return path(QStringLiteral("service.sqlite")); }

    // Requests the service has answered so far, in all its runs.
    int requestCount();

    // Runs the tool once with these arguments and this standard input.
    static Run run(const QStringList& arguments, const QByteArray& input = {});

private:
    bool tool(const QStringList& arguments, const QByteArray& standardInput = {});

    QTemporaryDir m_dir;
    QString m_errorString;
    QProcess m_process;
    int m_requestCount = 0;
    quint16 m_port = 0;
};

// A certificate authority, and a certificate it issued for the loopback names
// with its key: for TLS servers of the test's own.
struct TestCertificates
{
    QSslCertificate authority;
    QSslCertificate server;
    QSslKey serverKey;

    static std::optional<TestCertificates> make(QString* why);
};
