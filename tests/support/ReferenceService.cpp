#include "support/ReferenceService.h"

ReferenceService::ReferenceService()
{
    tool({ "make-cert", "--out", path("pki") });
}

bool ReferenceService::addUser(const QString& name, const QString& password)
{
    return tool({ "add-user", "--db", databasePath(), "--", name }, password.toUtf8() + '\n');
}

bool ReferenceService::addDocument(const QString& user, const QString& title, QDate expiry)
{
    return tool({ "add-document", "--db", databasePath(), "--", user, title,
        expiry.toString(Qt::ISODate) });
}

bool ReferenceService::start(QDate today, const QStringList& serveOptions)
{
    stop();
    QStringList arguments { "serve", "--listen", "localhost:0", "--db", databasePath(), "--cert",
        path("pki/cert.pem"), "--key", path("pki/key.pem") };
    if (today.isValid())
        arguments << "--today" << today.toString(Qt::ISODate);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(TARVENDESK_SERVICE_PROGRAM), arguments + serveOptions);

    while (!m_process.canReadLine() && m_process.waitForReadyRead(30000)) { }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const QString listening = QStringLiteral("listening on https://localhost:");
    m_port = line.startsWith(listening) ? line.mid(listening.size()).toUShort() : 0;
    if (m_port == 0)
        m_errorString = QStringLiteral("serve did not start listening (it said \"%1\")").arg(line);
    return m_port != 0;
}

void ReferenceService::stop()
{
    // Both do nothing once it has ended; should it outlast the wait, it is
    // killed when the fixture goes.
    m_process.terminate();
    m_process.waitForFinished(10000);
}

int ReferenceService::requestCount()
{
    // The service logs one line for each answer before it sends it, so by the
    // time a client has an answer its line is in the pipe: poll it without waiting.
    m_process.waitForReadyRead(0);
    return m_requestCount += int(m_process.readAllStandardOutput().count('\n'));
}

ReferenceService::Run ReferenceService::run(const QStringList& arguments, const QByteArray& input)
{
    QProcess process; // killed when it goes, should it still run
    process.start(QStringLiteral(TARVENDESK_SERVICE_PROGRAM), arguments);
    process.write(input); // kept until the tool has started
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return { process.exitCode(), process.readAllStandardError() };
}

bool ReferenceService::tool(const QStringList& arguments, const QByteArray& standardInput)
{
    const Run result = run(arguments, standardInput);
    if (result.exitCode != 0)
        m_errorString = arguments.first() + " failed: " + QString::fromUtf8(result.standardError);
    return result.exitCode == 0;
}

std::optional<TestCertificates> TestCertificates::make(QString* why)
{
    const ReferenceService pki; // for its certificates alone
    QFile key(pki.path(QStringLiteral("pki/key.pem")));
    key.open(QIODevice::ReadOnly);
    const TestCertificates made { pki.caCertificates().value(0),
        QSslCertificate::fromPath(pki.path(QStringLiteral("pki/cert.pem"))).value(0),
        QSslKey(&key, QSsl::Ec) };
    *why = pki.errorString();
    return made.serverKey.isNull() ? std::nullopt : std::make_optional(made);
}
