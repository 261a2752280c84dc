#pragma once

// The programs a test has the private session bus start, and ends again:
// they outlive the test unless stopped.

#include "programs/ProbeProcess.h"

#include <QDBusMetaType>
#include <QTest>
#include <signal.h>

namespace BusPrograms {

// Sets variables of the environment the bus starts programs with.
inline bool setActivationEnvironment(const QMap<QString, QString>& variables)
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const QDBusMessage reply = QDBusConnection::sessionBus().interface()->call(
        "UpdateActivationEnvironment", QVariant::fromValue(variables));
    return reply.type() == QDBusMessage::ReplyMessage;
}

// The bus's environment has no display: the programs it starts get the
// offscreen one.
inline bool useOffscreenDisplay()
{
    return setActivationEnvironment({ { "QT_QPA_PLATFORM", "offscreen" } });
}

inline bool isNameOwned(const QString& name)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

// Signals the program holding the name, if any, and waits until the name is free.
inline bool endProgramHolding(const QString& name, int signalNumber = SIGTERM)
{
    if (const pid_t pid = ownerPid(name); pid > 0)
        ::kill(pid, signalNumber);
    return QTest::qWaitFor([&] { return !isNameOwned(name); }, 20000);
}

} // namespace BusPrograms
