#pragma once

// How the programs act on processes: the single-instance guard that ends every
// older copy of a program, and the activation of another program by name. The
// programs' delegates carry one-line members that call these.

#include "platform/Error.h"
#include "platform/Workspace.h"

#include <QList>
#include <QString>
#include <functional>

class AlertPresenter;

// Each is also the program's desktop entry ID and its name on the session bus.
inline const QString SignInBundleIdentifier = QStringLiteral("org.tarvendesk.TarvenDESK");
inline const QString StatusBarBundleIdentifier
    = QStringLiteral("org.tarvendesk.tarvenDESKStatusBar");
inline const QString InstallerBundleIdentifier = QStringLiteral("org.tarvendesk.installer");

namespace ProcessHelpers {

// Sends SIGKILL to every other running copy registered under exactly this
// identifier, once the bus has said which they are; returns at once. Reports
// nothing, whatever happens.
void killAllOtherInstance(const QString& bundleIdentifier);

// The process numbers the guard signals, in the bus's order: entries whose
// identifier equals the given one exactly, without the own process, without
// numbers of 0 or below (kill would reach a whole group or every process), and
// without processes of another user.
QList<pid_t> instancesToKill(const QString& bundleIdentifier,
    const QList<RunningApplication>& runningApplications, pid_t ownProcessIdentifier,
    qint64 ownUserIdentifier);

// Why an activation failed; null when the application was brought forward or
// started.
using LaunchCompletion = std::function<void(const Error& failure)>;

// Brings the named application ("TarvenDESK.app") to the front, starting it
// when it is not running; returns at once. A failure is logged. done, if
// given, runs once, later, with the outcome.
void launchApplication(const QString& applicationName, LaunchCompletion done = {});

// The completion of an activation a person asked for: a failure is shown
// through their presenter, while it lives, under messageText ("“name”
// couldn’t be opened." when empty); then, if given, runs once the activation
// has succeeded or failed (after the alert).
LaunchCompletion alertingFailure(const QString& applicationName, AlertPresenter* presenter,
    std::function<void()> then = {}, const QString& messageText = {});

// Where launchApplication hands its names instead of the desktop's activation,
// answering whether it launched, with the error set when not; empty puts the
// desktop's activation back. For tests that watch the hand-overs between the
// programs.
using Launcher = std::function<bool(const QString& applicationName, Error* error)>;
void setLauncher(Launcher launcher);

} // namespace ProcessHelpers
