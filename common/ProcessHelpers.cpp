#include "common/ProcessHelpers.h"

#include "platform/Script.h"

#include <signal.h>

namespace {

const QString ActivationScriptTemplate
    = QStringLiteral("tell application \"%@\"\n\t activate\nend tell");

// The system's autostart and application folders stand where the original
// platform had its launch-agent and application folders.
const QString LaunchAgentCopyScriptTemplate = QStringLiteral(
    "property y : POSIX file \"%@\" as alias\n"
    "                        tell application \"Finder\"\n"
    "                        set x to POSIX file \"/etc/xdg/autostart/\" as alias\n"
    "                        duplicate y to x\n"
    "                        end tell");

const QString ApplicationCopyScriptTemplate
    = QStringLiteral("property y : POSIX file \"%@\" as alias\n"
                     "                        tell application \"Finder\"\n"
                     "                        set x to POSIX file \"/opt/\" as alias\n"
                     "                        duplicate y to x\n"
                     "                        end tell");

QString filledTemplate(QString scriptTemplate, const QString& text)
{
    // Not QString::arg: a "%1" inside the inserted text must stay as it is.
    return scriptTemplate.replace(
        QStringLiteral("%@"), ProcessHelpers::escapedForScriptString(text));
}

void runScript(const QString& source)
{
    Script script(source);
    QString errorDescription;
    script.executeAndReturnError(&errorDescription);
}

} // namespace

namespace ProcessHelpers {

void killAllOtherInstance(const QString& bundleIdentifier)
{
    const pid_t ownProcessIdentifier = Workspace::processIdentifier();
    const QList<RunningApplication> running = Workspace::runningApplications();
    for (const pid_t pid : instancesToKill(
             bundleIdentifier, running, ownProcessIdentifier, Workspace::userIdentifier()))
        ::kill(pid, SIGKILL);
}

QList<pid_t> instancesToKill(const QString& bundleIdentifier,
    const QList<RunningApplication>& runningApplications, pid_t ownProcessIdentifier,
    qint64 ownUserIdentifier)
{
    QList<pid_t> pids;
    for (const RunningApplication& application : runningApplications) {
        if (application.bundleIdentifier.isEmpty()
            || application.bundleIdentifier != bundleIdentifier)
            continue;
        const pid_t pid = application.processIdentifier;
        if (pid == ownProcessIdentifier || pid <= 0
            || application.userIdentifier != ownUserIdentifier)
            continue;
        pids.append(pid);
    }
    return pids;
}

void launchApplication(const QString& applicationName)
{
    runScript(activationScriptSource(applicationName));
}

QString activationScriptSource(const QString& applicationName)
{
    return filledTemplate(ActivationScriptTemplate, applicationName);
}

QString launchAgentCopyScriptSource(const QString& launchAgentPath)
{
    return filledTemplate(LaunchAgentCopyScriptTemplate, launchAgentPath);
}

QString applicationCopyScriptSource(const QString& applicationPath)
{
    return filledTemplate(ApplicationCopyScriptTemplate, applicationPath);
}

QString escapedForScriptString(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

} // namespace ProcessHelpers
