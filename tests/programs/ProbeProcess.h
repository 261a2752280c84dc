#pragma once

// Runs tests/programs/app-probe as a real process for a test and reads what
// it said on its standard output; and the bus calls that ask a probe or the
// bus about it.

#include <QByteArrayList>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QProcess>
#include <sys/types.h>

// Started at once; the bus tells when it has launched.
class ProbeProcess : public QProcess
{
public:
    explicit ProbeProcess(const QStringList& arguments)
    {
        setProcessChannelMode(ForwardedErrorChannel);
        start(QStringLiteral(TARVENDESK_BIN_DIR "/app-probe"), arguments);
    }
    ~ProbeProcess() override
    {
        kill();
        waitForFinished(10000);
    }

    // Once it has ended: what its delegate was told, a line each.
    QByteArrayList said()
    {
        waitForFinished(30000);
        return readAllStandardOutput().trimmed().split('\n');
    }
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
