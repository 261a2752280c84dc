#include "platform/PrivilegedDuplication.h"

#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// pkexec's own statuses: the user dismissed the request, or the rights were
// not granted (refused, no authentication agent, no polkit at all).
constexpr int AuthorisationDismissed = 126;
constexpr int AuthorisationNotGranted = 127;

const QString ToolName = QStringLiteral("tarvendesk-duplicate");

QString quoted(const QString& text)
{
    return QStringLiteral("“%1”").arg(text);
}

QString firstLine(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

Error failure(qint64 code, const QString& description)
{
    return errorWithDescription(PrivilegedDuplication::ErrorDomain, code, description);
}

// The copy's path, or the error with a null one.
Error outcome(
    QProcess& process, const QString& itemPath, const QString& folderPath, QString* copyPath)
{
    using namespace PrivilegedDuplication;
    const QString output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    const QString errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const bool ended = process.exitStatus() == QProcess::NormalExit;
    if (ended && process.exitCode() == 0 && !output.isEmpty()) {
        *copyPath = output;
        return {};
    }
    if (ended
        && (process.exitCode() == AuthorisationDismissed
            || process.exitCode() == AuthorisationNotGranted)) {
        const QString why = process.exitCode() == AuthorisationDismissed
            ? QStringLiteral("the request was dismissed")
            : firstLine(errors);
        return failure(NotAuthorised,
            QStringLiteral("The item %1 couldn’t be copied into %2: administrator rights were "
                           "not given%3.")
                .arg(quoted(itemPath), quoted(folderPath),
                    why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why)));
    }
    if (ended && !errors.isEmpty())
        return failure(CopyFailed, errors);
    return failure(CopyFailed,
        QStringLiteral("The item %1 couldn’t be copied: the copy tool ended without an answer.")
            .arg(quoted(itemPath)));
}

} // namespace

namespace PrivilegedDuplication {

bool needsAdministratorRights(const QString& folderPath)
{
    if (::geteuid() == 0 || folderPath.isEmpty())
        return false;
    return ::faccessat(AT_FDCWD, QFile::encodeName(folderPath).constData(), W_OK | X_OK, AT_EACCESS)
        != 0
        && (errno == EACCES || errno == EPERM);
}

bool isTrustedTool(const QString& toolPath, Error* error)
{
    const auto untrusted
        = [error](const QString& why) { return reportError(error, failure(UntrustedTool, why)); };
    const QString tool = QFileInfo(toolPath).canonicalFilePath();
    if (tool.isEmpty())
        return untrusted(QStringLiteral("The copy tool %1 is not there.").arg(quoted(toolPath)));
    for (QString path = tool;; path = QFileInfo(path).path()) {
        struct stat info = {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
            return untrusted(
                QStringLiteral("The copy tool %1 can’t be checked.").arg(quoted(tool)));
        if (path == tool && !S_ISREG(info.st_mode))
            return untrusted(QStringLiteral("The copy tool %1 is not a file.").arg(quoted(tool)));
        if (info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            return untrusted(QStringLiteral("The copy tool %1 is not installed for administrators: "
                                            "%2 must belong to root and be writable by root alone.")
                                 .arg(quoted(tool), quoted(path)));
        if (path == QLatin1String("/"))
            return true;
    }
}

QStringList privilegedCommand()
{
    const QFileInfo executable(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    return { QStringLiteral("pkexec"), executable.absolutePath() + u'/' + ToolName };
}

void duplicateItem(const QString& itemPath, const QString& folderPath, QObject* context,
    Completion done, const QStringList& command, std::chrono::milliseconds timeLimit)
{
    QStringList arguments = command;
    const QString program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    Error untrusted;
    if (program == QLatin1String("pkexec") && !arguments.isEmpty()
        && !isTrustedTool(arguments.last(), &untrusted)) {
        QTimer::singleShot(0, context, [done, untrusted] { done({}, untrusted); });
        return;
    }
    arguments << itemPath << folderPath;

    auto* process = new QProcess(context);
    // Answers once, whichever comes first: the end, a failed start, the limit.
    auto answer = std::make_shared<Completion>(std::move(done));
    const auto finish = [answer](const QString& copyPath, const Error& why) {
        if (!*answer)
            return;
        const Completion call = std::move(*answer);
        *answer = {};
        call(copyPath, why);
    };
    // Deleted only once ended: QProcess waits for the end as it is destroyed.
    QObject::connect(process, &QProcess::finished, process, [=] {
        process->deleteLater();
        QString copyPath;
        const Error why = outcome(*process, itemPath, folderPath, &copyPath);
        finish(copyPath, why);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [=](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        finish({},
            failure(ToolNotStarted,
                QStringLiteral("The item %1 couldn’t be copied: administrator rights can’t be "
                               "asked for, as %2 can’t be started.")
                    .arg(quoted(itemPath), quoted(program))));
    });
    auto* limit = new QTimer(process);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, process, [=] {
        qCWarning(lcInstaller) << "The copy tool did not end in time; stopping it";
        // One that already runs as root cannot be signalled; it ends alone.
        process->kill();
        finish({},
            failure(TimedOut,
                QStringLiteral(
                    "The item %1 couldn’t be copied: the copy tool did not answer in time.")
                    .arg(quoted(itemPath))));
    });
    limit->start(timeLimit);
    process->start(program, arguments);
    process->closeWriteChannel();
}

} // namespace PrivilegedDuplication
