// The notifier's tray item on an X display without any tray, and a StatusNotifierItem host
// (the benchmarks' own) coming up later in the session: the item must then register with it.

#include "../bench/TrayHost.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

class tst_StatusItemHost : public QObject
{
    Q_OBJECT

private slots:
    void theItemRegistersWithAHostThatComesLater()
    {
        QProcess notifier; // nothing stored: it checks nothing
        notifier.setProcessChannelMode(QProcess::MergedChannels);
        notifier.start(TARVENDESK_BIN_DIR "/tarvenDESKStatusBar");
        QByteArray output;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (output += notifier.readAll()).contains("No tray host"), output.constData(), 60000);
        TrayHost host;
        QVERIFY2(host.isRegistered(), "another tray host is on the bus");
        QSignalSpy registered(&host, &TrayHost::itemRegistered);
        QVERIFY(registered.wait(60000));
        QCOMPARE(registered.first().at(1).toLongLong(), notifier.processId());
        notifier.kill();
        notifier.waitForFinished();
    }
};

QTEST_MAIN(tst_StatusItemHost)
#include "tst_StatusItemHost.moc"
