#include "platform/PrivilegedDuplication.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// pkexec's own statuses: the user dismissed the request, or the rights were
// not granted (refused, no authentication agent, no polkit at all).
constexpr int AuthorisationDismissed = 126;
constexpr int AuthorisationNotGranted = 127;

QString fail(QString* errorDescription, const QString& description)
{
    if (errorDescription)
        *errorDescription = description;
    return {};
}

QString quoted(const QString& text)
{
    return QStringLiteral("“%1”").arg(text);
}

QString firstLine(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
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

QStringList privilegedCommand()
{
    const QFileInfo executable(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    return { QStringLiteral("pkexec"),
        executable.absolutePath() + QStringLiteral("/tarvendesk-duplicate") };
}

QString duplicateItem(const QString& itemPath, const QString& folderPath, QString* errorDescription,
    const QStringList& command)
{
    QStringList arguments = command;
    const QString program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    arguments << itemPath << folderPath;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        return fail(errorDescription,
            QStringLiteral("The item %1 couldn’t be copied: administrator rights can’t be asked "
                           "for, as %2 can’t be started.")
                .arg(quoted(itemPath), quoted(program)));
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const QString output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    const QString errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const bool ended = process.exitStatus() == QProcess::NormalExit;

    if (ended && process.exitCode() == 0 && !output.isEmpty())
        return output;
    if (ended
        && (process.exitCode() == AuthorisationDismissed
            || process.exitCode() == AuthorisationNotGranted)) {
        const QString why = process.exitCode() == AuthorisationDismissed
            ? QStringLiteral("the request was dismissed")
            : firstLine(errors);
        return fail(errorDescription,
            QStringLiteral("The item %1 couldn’t be copied into %2: administrator rights were not "
                           "given%3.")
                .arg(quoted(itemPath), quoted(folderPath),
                    why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why)));
    }
    if (ended && !errors.isEmpty())
        return fail(errorDescription, errors);
    return fail(errorDescription,
        QStringLiteral("The item %1 couldn’t be copied: the copy tool ended without an answer.")
            .arg(quoted(itemPath)));
}

} // namespace PrivilegedDuplication
