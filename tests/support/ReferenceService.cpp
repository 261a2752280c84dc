#include "support/ReferenceService.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QRegularExpression>

namespace {

constexpr int toolTimeoutMs = 30000;

} // namespace

ReferenceService::ReferenceService()
{
    m_valid = m_dir.isValid()
        && succeeded(QStringLiteral("make-cert"),
            run({ QStringLiteral("make-cert"), QStringLiteral("--out"), pkiPath({}) }));
}

ReferenceService::~ReferenceService()
{
    stop();
}

bool ReferenceService::addUser(const QString& name, const QString& password)
{
    return succeeded(QStringLiteral("add-user"),
        run({ QStringLiteral("add-user"), QStringLiteral("--db"), databasePath(),
                QStringLiteral("--"), name },
            password.toUtf8() + '\n'));
}

bool ReferenceService::addDocument(const QString& user, const QString& title, QDate expiry)
{
    return succeeded(QStringLiteral("add-document"),
        run({ QStringLiteral("add-document"), QStringLiteral("--db"), databasePath(),
            QStringLiteral("--"), user, title, expiry.toString(Qt::ISODate) }));
}

bool ReferenceService::start(QDate today, const QStringList& serveOptions)
{
    stop();
    m_pending.clear();
    m_requestLines.clear();
    QStringList arguments { QStringLiteral("serve"), QStringLiteral("--listen"),
        QStringLiteral("localhost:0"), QStringLiteral("--db"), databasePath(),
        QStringLiteral("--cert"), pkiPath(QStringLiteral("cert.pem")), QStringLiteral("--key"),
        pkiPath(QStringLiteral("key.pem")) };
    if (today.isValid())
        arguments << QStringLiteral("--today") << today.toString(Qt::ISODate);
    arguments << serveOptions;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(TARVENDESK_SERVICE_PROGRAM), arguments);

    static const QRegularExpression listening(
        QStringLiteral("^listening on https://localhost:(\\d+)$"));
    const QDeadlineTimer deadline(toolTimeoutMs);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning
        && !deadline.hasExpired())
        m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const auto match = listening.match(line);
    if (!match.hasMatch()) {
        m_errorString = QStringLiteral("serve did not start listening (it said \"%1\")").arg(line);
        stop();
        return false;
    }
    m_port = quint16(match.captured(1).toUInt());
    return true;
}

void ReferenceService::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    m_port = 0;
}

QUrl ReferenceService::url() const
{
    return QUrl(QStringLiteral("https://localhost:%1/ex-libs/get-severity-count").arg(m_port));
}

QList<QSslCertificate> ReferenceService::caCertificates() const
{
    return QSslCertificate::fromPath(pkiPath(QStringLiteral("ca.pem")), QSsl::Pem);
}

QString ReferenceService::pkiPath(const QString& name) const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("pki/") + name);
}

QString ReferenceService::databasePath() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("service.sqlite"));
}

QStringList ReferenceService::requestLines()
{
    // The service logs an answer before it sends it, so by the time a client
    // has an answer its line is in the pipe: poll it without waiting.
    if (m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(0);
    m_pending += m_process.readAllStandardOutput();
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        m_requestLines.append(QString::fromUtf8(m_pending.left(end)));
        m_pending.remove(0, end + 1);
    }
    return m_requestLines;
}

ReferenceService::Run ReferenceService::run(
    const QStringList& arguments, const QByteArray& standardInput)
{
    QProcess process;
    process.start(QStringLiteral(TARVENDESK_SERVICE_PROGRAM), arguments);
    Run result;
    if (!process.waitForStarted(toolTimeoutMs))
        return result;
    process.write(standardInput);
    process.closeWriteChannel();
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    return result;
}

bool ReferenceService::succeeded(const QString& what, const Run& run)
{
    if (run.exitCode == 0)
        return true;
    m_errorString = QStringLiteral("%1 exited with %2: %3")
                        .arg(what)
                        .arg(run.exitCode)
                        .arg(QString::fromUtf8(run.standardError).trimmed());
    return false;
}
