#pragma once

// How the programs act on processes: the single-instance guard that ends every
// older copy of a program, and the activation of another program by name. The
// programs' delegates carry one-line members that call these.

#include "platform/Workspace.h"

#include <QList>
#include <QString>

// Each is also the program's desktop entry ID and its name on the session bus.
inline const QString SignInBundleIdentifier = QStringLiteral("org.tarvendesk.TarvenDESK");
inline const QString StatusBarBundleIdentifier
    = QStringLiteral("org.tarvendesk.tarvenDESKStatusBar");
inline const QString InstallerBundleIdentifier = QStringLiteral("org.tarvendesk.installer");

namespace ProcessHelpers {

// Sends SIGKILL to every other running copy registered under exactly this
// identifier. Reports nothing, whatever happens.
void killAllOtherInstance(const QString& bundleIdentifier);

// The process numbers the guard signals, in the snapshot's order: entries whose
// identifier equals the given one exactly, without the own process, without
// numbers of 0 or below (kill would reach a whole group or every process), and
// without processes of another user.
QList<pid_t> instancesToKill(const QString& bundleIdentifier,
    const QList<RunningApplication>& runningApplications, pid_t ownProcessIdentifier,
    qint64 ownUserIdentifier);

// Brings the named application ("TarvenDESK.app") to the front, starting it
// when it is not running. Failures are dropped.
void launchApplication(const QString& applicationName);

// The script texts the suite hands to the scripting service. Inserted text is
// escaped for the script's string literal, so an ordinary name or path gives
// exactly the template with it in place, and no name or path can change what
// the script does.
QString activationScriptSource(const QString& applicationName);
QString launchAgentCopyScriptSource(const QString& launchAgentPath);
QString applicationCopyScriptSource(const QString& applicationPath);

QString escapedForScriptString(const QString& text);

} // namespace ProcessHelpers
