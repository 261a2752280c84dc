#include "support/ReferenceService.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int toolTimeoutMs = 30000;

} // namespace

ReferenceService::ReferenceService(const QString& pkiDir)
    : m_pkiDir(pkiDir.isEmpty() ? QDir(m_dir.path()).filePath(QStringLiteral("pki")) : pkiDir)
{
    if (!m_dir.isValid()) {
        m_errorString = QStringLiteral("cannot make a temporary folder: %1").arg(m_dir.errorString());
        m_valid = false;
        return;
    }
    const QDir pki(m_pkiDir);
    for (const char* name : { "ca.pem", "cert.pem", "key.pem" }) {
        if (!pki.exists(QString::fromLatin1(name))) {
            m_valid = succeeded(QStringLiteral("make-cert"),
                run({ QStringLiteral("make-cert"), QStringLiteral("--out"), m_pkiDir }));
            break;
        }
    }
}

ReferenceService::~ReferenceService()
{
    stop();
}

bool ReferenceService::addUser(const QString& name, const QString& password)
{
    return succeeded(QStringLiteral("add-user"),
        run({ QStringLiteral("add-user"), QStringLiteral("--db"), databasePath(), QStringLiteral("--"), name },
            password.toUtf8() + '\n'));
}

bool ReferenceService::addDocument(const QString& user, const QString& title, QDate expiry)
{
    return succeeded(QStringLiteral("add-document"),
        run({ QStringLiteral("add-document"), QStringLiteral("--db"), databasePath(), QStringLiteral("--"), user,
            title, expiry.toString(Qt::ISODate) }));
}

bool ReferenceService::start(QDate today)
{
    stop();
    m_pending.clear();
    m_requestLines.clear();
    QStringList arguments { QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("localhost:0"),
        QStringLiteral("--db"), databasePath(), QStringLiteral("--cert"),
        QDir(m_pkiDir).filePath(QStringLiteral("cert.pem")), QStringLiteral("--key"),
        QDir(m_pkiDir).filePath(QStringLiteral("key.pem")) };
    if (today.isValid())
        arguments << QStringLiteral("--today") << today.toString(Qt::ISODate);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(programPath(), arguments);

    static const QRegularExpression listening(QStringLiteral("^listening on https://localhost:(\\d+)$"));
    const QDeadlineTimer deadline(toolTimeoutMs);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const auto match = listening.match(line);
    if (!match.hasMatch()) {
        m_errorString = QStringLiteral("serve did not start listening (it said \"%1\")").arg(line);
        stop();
        return false;
    }
    m_port = static_cast<quint16>(match.captured(1).toUInt());
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

bool ReferenceService::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

QUrl ReferenceService::url() const
{
    return QUrl(QStringLiteral("https://localhost:%1/ex-libs/get-severity-count").arg(m_port));
}

QList<QSslCertificate> ReferenceService::caCertificates() const
{
    return QSslCertificate::fromPath(caPath(), QSsl::Pem);
}

QString ReferenceService::caPath() const
{
    return QDir(m_pkiDir).filePath(QStringLiteral("ca.pem"));
}

QString ReferenceService::databasePath() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("service.sqlite"));
}

int ReferenceService::requestCount()
{
    return static_cast<int>(requestLines().size());
}

QStringList ReferenceService::requestLines()
{
    readOutput();
    return m_requestLines;
}

void ReferenceService::readOutput()
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
}

ReferenceService::Run ReferenceService::run(const QStringList& arguments, const QByteArray& standardInput)
{
    QProcess process;
    process.start(programPath(), arguments);
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

QString ReferenceService::programPath()
{
    return QStringLiteral(TARVENDESK_SERVICE_PROGRAM);
}

bool ReferenceService::succeeded(const QString& what, const Run& run)
{
    if (run.exitCode == 0)
        return true;
    m_errorString = QStringLiteral("%1 exited with %2: %3").arg(what).arg(run.exitCode)
                        .arg(QString::fromUtf8(run.standardError).trimmed());
    return false;
}
