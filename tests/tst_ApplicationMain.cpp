// The program entry on a real process: identity on the bus, the delegate's
// calls, and the ways a program ends.

#include "programs/ProbeProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTest>
#include <signal.h>
#include <unistd.h>

namespace {

QString uniqueIdentity(const char* what)
{
    return QStringLiteral("org.tarvendesk.test.%1%2").arg(QLatin1String(what)).arg(::getpid());
}

QDBusMessage applicationCall(
    const QString& identity, const QString& method, const QVariantList& arguments)
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(identity, "/" + QString(identity).replace('.', '/'),
            QStringLiteral("org.freedesktop.Application"), method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    return QDBusConnection::sessionBus().call(call);
}

} // namespace

class tst_ApplicationMain : public QObject
{
    Q_OBJECT

private slots:
    void theProgramAnswersActivationUnderItsIdentity()
    {
        const QString identity = uniqueIdentity("Activate");
        ProbeProcess probe { { "--identity", identity } };
        QVERIFY(probe.start());
        QVERIFY(probe.waitForLine("launched"));
        QCOMPARE(ownerPid(identity), probe.pid());
        QCOMPARE(QDBusReply<QString>(probeCall(identity, "desktopFileName")).value(), identity);
        QCOMPARE(applicationCall(identity, "Activate", { QVariantMap() }).type(),
            QDBusMessage::ReplyMessage);
        QCOMPARE(
            applicationCall(identity, "Open", { QStringList { "file:///tmp/x" }, QVariantMap() })
                .type(),
            QDBusMessage::ReplyMessage);
        QCOMPARE(probeCount(identity, "activationCount"), 2);
        QCOMPARE(
            applicationCall(identity, "ActivateAction", { "quit", QVariantList(), QVariantMap() })
                .type(),
            QDBusMessage::ErrorMessage);
        QCOMPARE(probeCount(identity, "launchCount"), 1);
    }

    void theProgramEndsThroughItsDelegate_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("terminate()") << 0;
    }

    void theProgramEndsThroughItsDelegate()
    {
        QFETCH(int, signalNumber);
        const QString identity = uniqueIdentity("Ends");
        ProbeProcess probe { { "--identity", identity } };
        QVERIFY(probe.start());
        QVERIFY(probe.waitForLine("launched"));
        if (signalNumber)
            QCOMPARE(::kill(probe.pid(), signalNumber), 0);
        else
            probeCall(identity, "terminate");
        QVERIFY(probe.waitForEnd());
        QCOMPARE(probe.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.process().exitCode(), 0);
        QCOMPARE(probe.lines(), (QByteArrayList { "launched", "will-terminate" }));
    }

    void theDelegateDecidesWhetherTheLastWindowEndsTheProgram()
    {
        const QString staying = uniqueIdentity("Stays");
        ProbeProcess stays { { "--identity", staying } };
        const QString quitting = uniqueIdentity("Quits");
        ProbeProcess quits { { "--identity", quitting, "--quit-on-last-window-closed" } };
        for (ProbeProcess* probe : { &stays, &quits }) {
            QVERIFY(probe->start());
            QVERIFY(probe->waitForLine("launched"));
        }
        probeCall(staying, "closeWindow");
        probeCall(quitting, "closeWindow");
        QVERIFY(quits.waitForEnd());
        QCOMPARE(
            quits.lines(), (QByteArrayList { "launched", "last-window-closed", "will-terminate" }));
        QVERIFY(stays.waitForLine("last-window-closed"));
        QCOMPARE(probeCount(staying, "launchCount"), 1);
        QVERIFY(stays.isRunning());
    }
};

QTEST_GUILESS_MAIN(tst_ApplicationMain)
#include "tst_ApplicationMain.moc"
