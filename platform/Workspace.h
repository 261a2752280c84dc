#pragma once

// The applications running in the user's desktop session, and this program's
// own identity there. A program's bundle identifier is its well-known name on
// the session bus, as GApplication and KDBusService programs do it.

#include <QList>
#include <QString>
#include <functional>
#include <sys/types.h>

struct RunningApplication
{
    QString bundleIdentifier;
    pid_t processIdentifier = -1;
    // The owner of the process as the bus saw it when it connected; -1 when
    // the bus did not say.
    qint64 userIdentifier = -1;
};

namespace Workspace {

// The applications registered under one identifier: the owner and the queued
// owners of that name on the session bus, in the bus's order, handed to done
// once the bus has answered (never before this returns). Entries whose
// process number the bus does not know are left out; empty without a bus.
void runningApplications(
    const QString& bundleIdentifier, std::function<void(const QList<RunningApplication>&)> done);

pid_t processIdentifier();
uid_t userIdentifier();

// Asks for the bundle identifier as this program's well-known name, queuing
// behind an older copy that holds it, so both are listed until one ends.
// False when there is no session bus or the bus refuses the name.
bool registerBundleIdentifier(const QString& bundleIdentifier);
// The same without waiting for the bus's answer; a refusal is logged. Calls
// made on the bus after this one are answered as if the name were already
// asked for, since the bus handles one connection's messages in order.
void requestBundleIdentifier(const QString& bundleIdentifier);

} // namespace Workspace
