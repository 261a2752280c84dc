#include "common/ProcessHelpers.h"

#include "platform/Alert.h"
#include "platform/AlertPresenter.h"
#include "platform/ApplicationActivation.h"
#include "platform/Logging.h"

#include <QCoreApplication>
#include <QPointer>
#include <signal.h>

namespace {

ProcessHelpers::Launcher& installedLauncher()
{
    static ProcessHelpers::Launcher launcher;
    return launcher;
}

} // namespace

namespace ProcessHelpers {

void killAllOtherInstance(const QString& bundleIdentifier)
{
    const pid_t ownProcessIdentifier = Workspace::processIdentifier();
    const uid_t ownUserIdentifier = Workspace::userIdentifier();
    Workspace::runningApplications(bundleIdentifier,
        [bundleIdentifier, ownProcessIdentifier, ownUserIdentifier](
            const QList<RunningApplication>& running) {
            for (const pid_t pid :
                instancesToKill(bundleIdentifier, running, ownProcessIdentifier, ownUserIdentifier))
                ::kill(pid, SIGKILL);
        });
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

void launchApplication(const QString& applicationName, LaunchCompletion done)
{
    const auto report = [applicationName, done = std::move(done)](const Error& failure) {
        if (!failure.isNull())
            qCWarning(lcActivation).noquote()
                << "Activating" << applicationName << "failed:" << failure.localizedDescription();
        if (done)
            done(failure);
    };
    if (const Launcher& launcher = installedLauncher()) {
        Error failure;
        if (!launcher(applicationName, &failure) && failure.isNull())
            failure = errorWithDescription(ApplicationActivation::ErrorDomain,
                ApplicationActivation::NotActivated,
                QStringLiteral("“%1” was not launched.").arg(applicationName));
        report(failure);
        return;
    }
    ApplicationActivation::activateApplication(
        applicationName, [report](const QString&, const Error& error) { report(error); });
}

LaunchCompletion alertingFailure(const QString& applicationName, AlertPresenter* presenter,
    std::function<void()> then, const QString& messageText)
{
    return [applicationName, presenter = QPointer<AlertPresenter>(presenter),
               then = std::move(then), messageText](const Error& failure) {
        if (failure.isNull() || !presenter) {
            if (then)
                then();
            return;
        }
        presenter->runModal(Alert { messageText.isEmpty() ? QCoreApplication::translate(
                                        "ProcessHelpers", "“%1” couldn’t be opened.")
                                                                .arg(applicationName)
                                                          : messageText,
                                failure.localizedDescription(),
                                { QCoreApplication::translate("ProcessHelpers", "OK") } },
            [then](int) {
                if (then)
                    then();
            });
    };
}

void setLauncher(Launcher launcher)
{
    installedLauncher() = std::move(launcher);
}

} // namespace ProcessHelpers
