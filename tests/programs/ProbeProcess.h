#pragma once

// Runs tests/programs/app-probe as a real process for a test and follows
// what it says on its standard output; and the bus calls that ask a probe or
// the bus about it.

#include <QByteArrayList>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <sys/types.h>

class ProbeProcess
{
public:
    explicit ProbeProcess(const QStringList& arguments)
    {
        m_process.setProgram(QStringLiteral(TARVENDESK_BIN_DIR "/app-probe"));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ProbeProcess(const ProbeProcess&) = delete;
    ProbeProcess& operator=(const ProbeProcess&) = delete;
    ~ProbeProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    bool start()
    {
        m_process.start();
        return m_process.waitForStarted(10000);
    }

    // Waits until the probe has said the line `count` times, or has ended.
    bool waitForLine(const QByteArray& line, int count = 1, int timeoutMs = 30000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            while (m_process.canReadLine())
                m_lines.append(m_process.readLine().trimmed());
            if (m_lines.count(line) >= count)
                return true;
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
        }
    }

    bool waitForEnd(int timeoutMs = 30000)
    {
        const bool ended
            = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
        while (m_process.canReadLine())
            m_lines.append(m_process.readLine().trimmed());
        return ended;
    }

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    pid_t pid() const { return pid_t(m_process.processId()); }
    const QByteArrayList& lines() const { return m_lines; }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QByteArrayList m_lines;
};

// The pid of the process that holds the name on the session bus, or 0.
inline pid_t ownerPid(const QString& name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetConnectionUnixProcessID"));
    call << name;
    const QDBusReply<uint> reply = QDBusConnection::sessionBus().call(call);
    return reply.isValid() ? pid_t(reply.value()) : 0;
}

// A call to the probe object of the program holding the name.
inline QDBusMessage probeCall(const QString& name, const QString& method)
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(name, QStringLiteral("/org/tarvendesk/test/Probe"),
            QStringLiteral("org.tarvendesk.test.Probe"), method);
    // Asking must never start a probe.
    call.setAutoStartService(false);
    return QDBusConnection::sessionBus().call(call);
}

inline int probeCount(const QString& name, const QString& method)
{
    const QDBusReply<int> reply = probeCall(name, method);
    return reply.isValid() ? reply.value() : -1;
}
