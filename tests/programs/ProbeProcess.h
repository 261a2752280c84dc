#pragma once

// Runs tests/programs/app-probe as a real process for a test and follows
// what it says on its standard output; and the bus calls that ask a probe or
// the bus about it.

#include <QByteArrayList>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QProcess>
#include <sys/types.h>

class ProbeProcess : public QProcess
{
public:
    explicit ProbeProcess(const QStringList& arguments)
    {
        setProgram(QStringLiteral(TARVENDESK_BIN_DIR "/app-probe"));
        setArguments(arguments);
        setProcessChannelMode(ForwardedErrorChannel);
    }
    ~ProbeProcess() override
    {
        kill();
        waitForFinished(10000);
    }

    // Started, and its delegate told that launching has finished.
    bool launch()
    {
        start();
        return waitForLine("launched");
    }

    // What it has said so far, a line each.
    QByteArrayList lines() { return peek(bytesAvailable()).trimmed().split('\n'); }

    // Waits until the probe has said the line, or has ended.
    bool waitForLine(const QByteArray& line)
    {
        for (QDeadlineTimer deadline(30000); !lines().contains(line); waitForReadyRead(100))
            if (state() == NotRunning || deadline.hasExpired())
                return false;
        return true;
    }

    bool ended() { return state() == NotRunning || waitForFinished(30000); }
    pid_t pid() const { return pid_t(processId()); }
};

// The pid of the process that holds the name on the session bus, or 0.
inline pid_t ownerPid(const QString& name)
{
    return pid_t(QDBusConnection::sessionBus().interface()->servicePid(name).value());
}

// Asks the probe object of the program holding the name, never starting a
// probe; -1 unless it answers with a number.
inline int askProbe(const QString& name, const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(name, QStringLiteral("/org/tarvendesk/test/Probe"),
            QStringLiteral("org.tarvendesk.test.Probe"), method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    const QDBusReply<int> reply = QDBusConnection::sessionBus().call(call);
    return reply.isValid() ? reply.value() : -1;
}
