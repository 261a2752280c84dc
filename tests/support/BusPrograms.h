#pragma once

// The programs a test has the private session bus start, and ends again:
// they outlive the test unless stopped.

#include "programs/ProbeProcess.h"

#include <QDBusMetaType>
#include <QTest>
#include <signal.h>

namespace BusPrograms {

// The bus starts programs with its own environment, which has no display:
// they get the offscreen one.
inline bool useOffscreenDisplay()
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const QMap<QString, QString> environment { { "QT_QPA_PLATFORM", "offscreen" } };
    const QDBusMessage reply = QDBusConnection::sessionBus().interface()->call(
        "UpdateActivationEnvironment", QVariant::fromValue(environment));
    return reply.type() == QDBusMessage::ReplyMessage;
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
