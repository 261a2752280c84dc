#pragma once

// How the programs act on processes: the single-instance guard that ends every
// older copy of a program, and the activation of another program by name. The
// programs' delegates carry one-line members that call these.

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

// Brings the named application ("TarvenDESK.app") to the front, starting it
// when it is not running; returns at once. A failure is logged and, when a
// person asked for the activation, shown through their program's presenter.
// then, if given, runs once the activation has succeeded or failed (after the
// alert).
void launchApplication(const QString& applicationName, AlertPresenter* askedByPerson = nullptr,
    std::function<void()> then = {});

// Where launchApplication hands its names; empty puts the desktop's activation
// back. For tests that watch the hand-overs between the programs.
using Launcher = std::function<void(const QString& applicationName)>;
void setLauncher(Launcher launcher);

} // namespace ProcessHelpers
