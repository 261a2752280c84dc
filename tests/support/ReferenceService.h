#pragma once

// Runs the suite's reference service, tarvendesk-service, for a test: its own
// certificates and database in a temporary folder, and a server on a free
// loopback port. Users are added with their password on the tool's standard
// input, never on its command line. The server is stopped when the fixture goes.

#include <QDate>
#include <QList>
#include <QProcess>
#include <QSslCertificate>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

class ReferenceService
{
public:
    struct Run
    {
        int exitCode = -1; // -1 when the tool did not run to its end
        QByteArray standardOutput;
        QByteArray standardError;
    };

    ReferenceService();
    ~ReferenceService();
    ReferenceService(const ReferenceService&) = delete;
    ReferenceService& operator=(const ReferenceService&) = delete;

    // False when the certificates could not be made; errorString() says why.
    bool isValid() const { return m_valid; }
    // Why the last call that failed did so.
    QString errorString() const { return m_errorString; }

    bool addUser(const QString& name, const QString& password);
    bool addDocument(const QString& user, const QString& title, QDate expiry);

    // Serves on a free port, counting from today (the real date when null),
    // and returns once the service accepts connections.
    bool start(QDate today = {}, const QStringList& serveOptions = {});
    void stop();

    quint16 port() const { return m_port; }
    // https://localhost:PORT/ex-libs/get-severity-count
    QUrl url() const;
    QList<QSslCertificate> caCertificates() const;
    // In the folder of ca.pem, cert.pem and key.pem.
    QString pkiPath(const QString& name) const;
    QString databasePath() const;

    // Answers the running service has logged so far ("POST /path 200").
    QStringList requestLines();
    int requestCount() { return int(requestLines().size()); }

    // Runs the tool once with these arguments and this standard input.
    static Run run(const QStringList& arguments, const QByteArray& standardInput = {});

private:
    bool succeeded(const QString& what, const Run& run);

    QTemporaryDir m_dir;
    QString m_errorString;
    bool m_valid = true;
    QProcess m_process;
    QByteArray m_pending;
    QStringList m_requestLines;
    quint16 m_port = 0;
};
