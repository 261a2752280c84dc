// Activation by name: how names find desktop entries, how entries' command
// lines are read, and real programs started and brought forward on the
// private session bus.

#include "common/ProcessHelpers.h"
#include "platform/ApplicationActivation.h"
#include "platform/DesktopEntry.h"
#include "platform/Script.h"
#include "programs/ProbeProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <signal.h>

namespace {

const QString BuildShare = QStringLiteral(TARVENDESK_BIN_DIR "/../share");
const QString BusProbe = QStringLiteral("org.tarvendesk.test.ActivationProbe");
const QString ExecProbe = QStringLiteral("org.tarvendesk.test.ExecProbe");
const QString Partner = QStringLiteral("org.tarvendesk.test.ActivationPartner");

bool writeEntry(const QString& path, const QString& body)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(("[Desktop Entry]\n" + body).toUtf8()) > 0;
}

// Counts how often a name was taken by a program on the bus: each start once.
class NameAcquisitions
{
public:
    explicit NameAcquisitions(const QString& name)
        : m_watcher(name, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration)
    {
        QObject::connect(
            &m_watcher, &QDBusServiceWatcher::serviceRegistered, &m_watcher, [this] { ++count; });
        // A round trip: the bus has the watcher's match rule once it answers.
        QDBusConnection::sessionBus().interface()->serviceOwner(
            QStringLiteral("org.freedesktop.DBus"));
    }
    int count = 0;

private:
    QDBusServiceWatcher m_watcher;
};

void endProgramHolding(const QString& name)
{
    const pid_t pid = ownerPid(name);
    if (pid > 0)
        ::kill(pid, SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(
        !QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value(), 20000);
}

} // namespace

class tst_ApplicationActivation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(BuildShare + ":" + m_system.path()));
        // The bus starts the programs it activates with its own environment,
        // which the test session gave no display.
        QDBusMessage update = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("UpdateActivationEnvironment"));
        qDBusRegisterMetaType<QMap<QString, QString>>();
        update << QVariant::fromValue(
            QMap<QString, QString> { { "QT_QPA_PLATFORM", "offscreen" } });
        QCOMPARE(QDBusConnection::sessionBus().call(update).type(), QDBusMessage::ReplyMessage);
        QVERIFY(writeEntry(m_home.filePath("applications/" + ExecProbe + ".desktop"),
            "Type=Application\nName=Exec Probe\nExec=\"" TARVENDESK_BIN_DIR
            "/app-probe\" --identity "
                + ExecProbe
                + " %U\n"
                  // No bus service answers to it, so its command starts it.
                  "DBusActivatable=true\n"));
    }

    // Also after a failure: a program the bus started would outlive the bus.
    void cleanup()
    {
        endProgramHolding(BusProbe);
        endProgramHolding(ExecProbe);
        endProgramHolding(Partner);
    }

    void namesFindTheirDesktopEntries_data()
    {
        QTest::addColumn<QString>("applicationName");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("folder");
        QTest::newRow("last part of the ID") << "Resolve.app"
                                             << "org.tarvendesk.Resolve"
                                             << "home";
        QTest::newRow("without .app") << "Resolve"
                                      << "org.tarvendesk.Resolve"
                                      << "home";
        QTest::newRow("the whole ID") << "plain.app"
                                      << "plain"
                                      << "system";
        QTest::newRow("home before system") << "Both.app"
                                            << "org.tarvendesk.Both"
                                            << "home";
        QTest::newRow("first ID in a folder") << "Twice.app"
                                              << "com.example.Twice"
                                              << "system";
        QTest::newRow("hidden at home, hidden everywhere") << "Masked.app"
                                                           << ""
                                                           << "";
        QTest::newRow("not an application") << "Link.app"
                                            << ""
                                            << "";
        QTest::newRow("letter case counts") << "resolve.app"
                                            << ""
                                            << "";
        QTest::newRow("a whole last part") << "solve.app"
                                           << ""
                                           << "";
        QTest::newRow("no name") << ".app"
                                 << ""
                                 << "";
        QTest::newRow("a path") << "../Resolve.app"
                                << ""
                                << "";
    }

    void namesFindTheirDesktopEntries()
    {
        QFETCH(QString, applicationName);
        QFETCH(QString, id);
        QFETCH(QString, folder);
        const QString home = m_home.filePath("applications/");
        const QString system = m_system.filePath("applications/");
        QVERIFY(writeEntry(
            home + "org.tarvendesk.Resolve.desktop", "Type=Application\nName=R\nExec=r\n"));
        QVERIFY(writeEntry(system + "plain.desktop", "Type=Application\nName=P\nExec=p\n"));
        QVERIFY(
            writeEntry(home + "org.tarvendesk.Both.desktop", "Type=Application\nName=B\nExec=b\n"));
        QVERIFY(writeEntry(
            system + "org.tarvendesk.Both.desktop", "Type=Application\nName=B\nExec=b\n"));
        QVERIFY(writeEntry(
            system + "org.tarvendesk.Twice.desktop", "Type=Application\nName=T\nExec=t\n"));
        QVERIFY(
            writeEntry(system + "com.example.Twice.desktop", "Type=Application\nName=T\nExec=t\n"));
        QVERIFY(writeEntry(home + "org.tarvendesk.Masked.desktop",
            "Type=Application\nName=M\nExec=m\nHidden=true\n"));
        QVERIFY(writeEntry(
            system + "org.tarvendesk.Masked.desktop", "Type=Application\nName=M\nExec=m\n"));
        QVERIFY(writeEntry(
            system + "org.tarvendesk.Link.desktop", "Type=Link\nName=L\nURL=https://localhost/\n"));

        const std::optional<DesktopEntry> entry
            = ApplicationActivation::desktopEntryForApplicationName(applicationName);
        if (id.isEmpty()) {
            QVERIFY2(!entry, qPrintable("found " + (entry ? entry->filePath : QString())));
            return;
        }
        QVERIFY(entry);
        QCOMPARE(entry->id, id);
        QCOMPARE(entry->filePath, (folder == "home" ? home : system) + id + ".desktop");
    }

    void commandLinesAreSplitWithoutAShell_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("plain") << "/opt/x/bin/run --flag"
                               << QStringList { "/opt/x/bin/run", "--flag" };
        QTest::newRow("files and URLs dropped") << "run %f %F %u %U" << QStringList { "run" };
        QTest::newRow("quoted") << "\"/a b/run\" \"x y\" \"\""
                                << QStringList { "/a b/run", "x y", "" };
        QTest::newRow("quoted escapes") << "\"run\" \"a\\\"b\" \"c\\\\d\" \"\\$HOME\" \"\\`x\\`\""
                                        << QStringList { "run", "a\"b", "c\\d", "$HOME", "`x`" };
        QTest::newRow("no shell") << "run ; rm -rf ~ && $(x)"
                                  << QStringList { "run", ";", "rm", "-rf", "~", "&&", "$(x)" };
        QTest::newRow("percent") << "run 100%% --name=%c"
                                 << QStringList { "run", "100%", "--name=Probe" };
        QTest::newRow("icon") << "run %i" << QStringList { "run", "--icon", "probe-icon" };
        QTest::newRow("unknown code") << "run %z" << QStringList {};
        QTest::newRow("lone percent") << "run 5%" << QStringList {};
        QTest::newRow("open quote") << "\"run" << QStringList {};
        QTest::newRow("empty") << "" << QStringList {};
        QTest::newRow("only a field code") << "%U" << QStringList {};
    }

    void commandLinesAreSplitWithoutAShell()
    {
        QFETCH(QString, exec);
        QFETCH(QStringList, arguments);
        DesktopEntry entry;
        entry.name = QStringLiteral("Probe");
        entry.icon = QStringLiteral("probe-icon");
        entry.exec = exec;
        QCOMPARE(entry.execArguments(), arguments);
    }

    void entryValuesAreUnescaped()
    {
        const QString path = m_system.filePath("applications/org.tarvendesk.Escapes.desktop");
        QVERIFY(writeEntry(path,
            "# comment\nType = Application\nName[de]=Nein\nName=Two\\sWords\nExec=\"/a\\\\\\\\b\" "
            "x\n"
            "DBusActivatable=true\n[Desktop Action Other]\nExec=other\n"));
        const std::optional<DesktopEntry> entry
            = DesktopEntry::read(path, "org.tarvendesk.Escapes");
        QVERIFY(entry);
        QCOMPARE(entry->type, QStringLiteral("Application"));
        QCOMPARE(entry->name, QStringLiteral("Two Words"));
        QCOMPARE(entry->execArguments(), (QStringList { "/a\\b", "x" }));
        QVERIFY(entry->dbusActivatable);
        QCOMPARE(entry->objectPath(), QStringLiteral("/org/tarvendesk/Escapes"));
        DesktopEntry dashed;
        dashed.id = QStringLiteral("org.example.my-app");
        QCOMPARE(dashed.objectPath(), QStringLiteral("/org/example/my_app"));
    }

    void aBusActivatableProgramIsStartedOnceThenBroughtForward()
    {
        NameAcquisitions starts(BusProbe);
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(BusProbe).value());

        ProcessHelpers::launchApplication(QStringLiteral("ActivationProbe.app"));
        QTRY_VERIFY_WITH_TIMEOUT(ownerPid(BusProbe) > 0, 30000);
        const pid_t pid = ownerPid(BusProbe);
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(BusProbe, "launchCount"), 1, 20000);
        const int activations = probeCount(BusProbe, "activationCount");
        QVERIFY(activations >= 0);

        ProcessHelpers::launchApplication(QStringLiteral("ActivationProbe.app"));
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(BusProbe, "activationCount"), activations + 1, 20000);
        QCOMPARE(ownerPid(BusProbe), pid);
        QCOMPARE(probeCount(BusProbe, "launchCount"), 1);
        QTRY_COMPARE(starts.count, 1);
    }

    void aProgramWithoutBusServiceIsStartedByItsCommand()
    {
        NameAcquisitions starts(ExecProbe);
        QString why;
        QCOMPARE(Script(ProcessHelpers::activationScriptSource("ExecProbe.app"))
                     .executeAndReturnError(&why),
            QVariant(ExecProbe));
        QTRY_VERIFY_WITH_TIMEOUT(ownerPid(ExecProbe) > 0, 30000);
        const pid_t pid = ownerPid(ExecProbe);
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(ExecProbe, "launchCount"), 1, 20000);
        QCOMPARE(probeCount(ExecProbe, "activationCount"), 0);

        QCOMPARE(Script(ProcessHelpers::activationScriptSource("ExecProbe.app"))
                     .executeAndReturnError(&why),
            QVariant(ExecProbe));
        QCOMPARE(probeCount(ExecProbe, "activationCount"), 1);
        QCOMPARE(ownerPid(ExecProbe), pid);
        QCOMPARE(probeCount(ExecProbe, "launchCount"), 1);
        QTRY_COMPARE(starts.count, 1);
    }

    void programsThatActivateEachOtherDoNotWaitForEachOther()
    {
        ProcessHelpers::launchApplication(QStringLiteral("ActivationProbe.app"));
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(BusProbe, "launchCount"), 1, 30000);
        const int activations = probeCount(BusProbe, "activationCount");

        // The probe starts its partner, which activates the probe while the
        // probe still waits for the partner's answer.
        QDBusMessage call = QDBusMessage::createMethodCall(
            BusProbe, "/org/tarvendesk/test/Probe", "org.tarvendesk.test.Probe", "activate");
        call << QStringLiteral("ActivationPartner.app");
        const QDBusReply<QString> why
            = QDBusConnection::sessionBus().call(call, QDBus::Block, 120000);
        QVERIFY2(why.isValid(), qPrintable(why.error().message()));
        QCOMPARE(why.value(), QString());
        QCOMPARE(probeCount(Partner, "launchCount"), 1);
        QCOMPARE(probeCount(BusProbe, "activationCount"), activations + 1);
    }

    void anUnknownNameFailsWithADescription()
    {
        QString why;
        const QVariant result = Script(ProcessHelpers::activationScriptSource("NoSuchProgram.app"))
                                    .executeAndReturnError(&why);
        QVERIFY(result.isNull());
        QCOMPARE(why, QStringLiteral("Application “NoSuchProgram.app” can’t be found."));
        ProcessHelpers::launchApplication(QStringLiteral("NoSuchProgram.app"));
    }

    void aProgramThatCannotStartFailsWithADescription()
    {
        QVERIFY(writeEntry(m_home.filePath("applications/org.tarvendesk.Broken.desktop"),
            "Type=Application\nName=Broken\nExec=" + m_home.filePath("no-such-program") + "\n"));
        QString why;
        QVERIFY(ApplicationActivation::activateApplication("Broken.app", &why).isNull());
        QCOMPARE(why, QStringLiteral("Application “Broken.app” can’t be started."));
    }

private:
    QTemporaryDir m_home;
    QTemporaryDir m_system;
};

QTEST_GUILESS_MAIN(tst_ApplicationActivation)
#include "tst_ApplicationActivation.moc"
