// The program entry on a real process: identity on the bus, the delegate's
// calls, the ways a program ends, its command line; and where the programs
// find their service.

#include "common/ServiceConfiguration.h"
#include "common/SeverityCountRequest.h"
#include "programs/ProbeProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTemporaryDir>
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
        // Qt's own options pass the program's command line.
        ProbeProcess probe { { "-platform", "offscreen", "--identity", identity } };
        QVERIFY(probe.start());
        QVERIFY(probe.waitForLine("launched"));
        QCOMPARE(ownerPid(identity), probe.pid());
        QCOMPARE(probeCount(identity, "dumpable"), 0);
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

    void theCommandLineIsAnsweredWithoutDisplayOrBus_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("errors");
        for (const char* program : { "TarvenDESK", "tarvenDESKStatusBar", "installer" }) {
            const QString name = QString::fromLatin1(program);
            QTest::addRow("%s --help", program)
                << name << QStringList { "--help" } << 0 << "Usage: " << QString();
            QTest::addRow("%s --version", program) << name << QStringList { "--version" } << 0
                                                   << name + " " TARVENDESK_VERSION "\n" << QString();
            QTest::addRow("%s --bogus", program) << name << QStringList { "--bogus" } << 2
                                                 << QString() << "Unknown option 'bogus'";
        }
    }

    void theCommandLineIsAnsweredWithoutDisplayOrBus()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // A program that went on to start would fail on either.
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.remove("DISPLAY");
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TARVENDESK_BIN_DIR "/") + program, arguments);
        QVERIFY(process.waitForFinished(30000));
        const QString said = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString complained = QString::fromLocal8Bit(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == exitCode, qPrintable(said + complained));
        QFETCH(QString, output);
        QFETCH(QString, errors);
        // Each text where it belongs, and the other stream empty.
        QVERIFY2(output.isEmpty() ? said.isEmpty() : said.contains(output),
            qPrintable(said));
        QVERIFY2(errors.isEmpty() ? complained.isEmpty() : complained.contains(errors),
            qPrintable(complained));
    }

    void theServiceComesFromTheFirstUsableConfiguration_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("system");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("ownCA");
        const QString builtIn = SeverityCountURL().toString();
        const QString other = QStringLiteral("https://docs.example.org/ex-libs/get-severity-count");
        const QByteArray set = "[Service]\nURL=" + other.toUtf8() + "\nCA=cert.pem\n";
        QTest::newRow("no file") << QByteArray() << QByteArray() << builtIn << false;
        QTest::newRow("system file") << QByteArray() << set << other << true;
        QTest::newRow("user over system")
            << QByteArray("[Service]\nURL=https://user.example.org/x\n") << set
            << "https://user.example.org/x" << true;
        QTest::newRow("http passed over for the next file")
            << QByteArray("[Service]\nURL=http://docs.example.org/x\n") << set << other << true;
        QTest::newRow("no host") << QByteArray("[Service]\nURL=https:///x\n") << QByteArray()
                                 << builtIn << false;
        QTest::newRow("missing CA") << QByteArray("[Service]\nCA=/nonexistent.pem\n")
                                    << QByteArray() << builtIn << false;
        QTest::newRow("CA without a certificate")
            << QByteArray("[Service]\nCA=tarvenDESK.conf\n") << QByteArray() << builtIn << false;
        QTest::newRow("binary garbage") << QByteArray("\0\xff[\x01=\n\xfe]]", 9) << QByteArray()
                                        << builtIn << false;
    }

    void theServiceComesFromTheFirstUsableConfiguration()
    {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, system);
        QFETCH(bool, ownCA);
        QTemporaryDir folders;
        const QString pem = QStringLiteral(TARVENDESK_BIN_DIR "/../pki/cert.pem");
        for (const auto& [folder, text] : { std::pair { "user", user }, { "system", system } }) {
            QDir(folders.path()).mkpath(QString("%1/tarvenDESK").arg(folder));
            if (text.isNull())
                continue;
            QFile file(folders.filePath(QString("%1/tarvenDESK/tarvenDESK.conf").arg(folder)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
            QVERIFY(QFile::copy(pem, folders.filePath(QString("%1/tarvenDESK/cert.pem").arg(folder))));
        }
        const ServiceConfiguration configuration = readServiceConfiguration(
            { folders.filePath("user"), folders.filePath("system") });
        QTEST(configuration.url.toString(), "url");
        QCOMPARE(configuration.certificates,
            ownCA ? QSslCertificate::fromPath(pem) : SeverityCountTrustedCertificates());
    }
};

QTEST_GUILESS_MAIN(tst_ApplicationMain)
#include "tst_ApplicationMain.moc"
