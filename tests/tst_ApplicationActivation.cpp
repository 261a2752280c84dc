// Activation by name: how names find desktop entries, how entries' command
// lines are read, and real programs started and brought forward on the
// private session bus.

#include "common/ProcessHelpers.h"
#include "platform/ApplicationActivation.h"
#include "platform/DesktopEntry.h"
#include "programs/ProbeProcess.h"
#include "support/BusPrograms.h"
#include "support/RecordingAlertPresenter.h"

#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString BusProbe = QStringLiteral("org.tarvendesk.test.ActivationProbe");
const QString ExecProbe = QStringLiteral("org.tarvendesk.test.ExecProbe");
const QString Partner = QStringLiteral("org.tarvendesk.test.ActivationPartner");
// Its bus service ends at once, as one started without a display does.
const QString SpawnFails = QStringLiteral("org.tarvendesk.test.SpawnFails");
const QString SpawnFailsService = QStringLiteral(
    TARVENDESK_TESTS_BINARY_DIR "/../share/dbus-1/services/org.tarvendesk.test.SpawnFails.service");

bool writeEntry(const QString& path, const QString& body, const QString& type = "Application")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly)
        && file.write(("[Desktop Entry]\nType=" + type + "\n" + body).toUtf8()) > 0;
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
        BusPrograms::isNameOwned(QStringLiteral("org.freedesktop.DBus"));
    }
    int count = 0;

private:
    QDBusServiceWatcher m_watcher;
};

// The activated entry's ID, or a null one with the reason in why; the outcome
// never comes before the call returns.
QString activated(const QString& applicationName, QString* why)
{
    std::optional<std::pair<QString, QString>> outcome;
    ApplicationActivation::activateApplication(
        applicationName, [&](const QString& id, const Error& error) {
            outcome = { id, error.isNull() ? QString() : error.localizedDescription() };
        });
    if (outcome)
        return QStringLiteral("(answered before returning)");
    if (!QTest::qWaitFor([&] { return outcome.has_value(); }, 60000))
        return QStringLiteral("(no answer)");
    *why = outcome->second;
    return outcome->first;
}

} // namespace

class tst_ApplicationActivation : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_system;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_system.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        qputenv(
            "XDG_DATA_DIRS", QFile::encodeName(TARVENDESK_BIN_DIR "/../share:" + m_system.path()));
        QVERIFY(BusPrograms::useOffscreenDisplay());
        // No bus service answers to it, so its command starts it.
        QVERIFY(writeEntry(m_home.filePath("applications/" + ExecProbe + ".desktop"),
            "Name=Exec Probe\nExec=\"" TARVENDESK_BIN_DIR "/app-probe\" --identity " + ExecProbe
                + " %U\nDBusActivatable=true\n"));
        QVERIFY(writeEntry(m_home.filePath("applications/" + SpawnFails + ".desktop"),
            "Name=Spawn Fails\nExec=\"" TARVENDESK_BIN_DIR "/app-probe\" --identity " + SpawnFails
                + "\nDBusActivatable=true\n"));
        QFile service(SpawnFailsService);
        QVERIFY(service.open(QIODevice::WriteOnly)
            && service.write(
                   ("[D-BUS Service]\nName=" + SpawnFails + "\nExec=/bin/false\n").toUtf8())
                > 0);
        service.close();
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall("org.freedesktop.DBus",
            "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReloadConfig"));
    }

    void cleanupTestCase() { QFile::remove(SpawnFailsService); }

    // Also after a failure: a program the bus started would outlive the bus.
    void cleanup()
    {
        for (const QString& name : { BusProbe, ExecProbe, Partner, SpawnFails })
            QVERIFY(BusPrograms::endProgramHolding(name));
    }

    void namesFindTheirDesktopEntries()
    {
        const QString home = m_home.filePath("applications/");
        const QString system = m_system.filePath("applications/");
        for (const QString& entry : { home + "org.tarvendesk.Resolve", home + "x.Suffix",
                 home + "Suffix", system + "org.tarvendesk.Suffix", home + "org.tarvendesk.Both",
                 system + "org.tarvendesk.Both", system + "org.tarvendesk.Masked",
                 system + "org.tarvendesk.dotted.Name" })
            QVERIFY(writeEntry(entry + ".desktop", "Name=N\nExec=n\n"));
        QVERIFY(
            writeEntry(home + "org.tarvendesk.Masked.desktop", "Name=M\nExec=m\nHidden=true\n"));
        QVERIFY(writeEntry(system + "org.tarvendesk.Link.desktop", "Name=L\nURL=x\n", "Link"));

        // Only the suite's own ID counts, wherever another ending in the name stands.
        const QList<std::pair<QString, QString>> found {
            { "Resolve.app", home + "org.tarvendesk.Resolve" },
            { "Resolve", home + "org.tarvendesk.Resolve" },
            { "Suffix.app", system + "org.tarvendesk.Suffix" },
            { "Both.app", home + "org.tarvendesk.Both" },
            { "dotted.Name.app", system + "org.tarvendesk.dotted.Name" },
        };
        for (const auto& [name, path] : found) {
            const auto entry = ApplicationActivation::desktopEntryForApplicationName(name);
            QVERIFY2(entry, qPrintable(name));
            QCOMPARE(entry->filePath, path + ".desktop");
            QCOMPARE(entry->id, QFileInfo(path).fileName());
        }
        // Hidden at home is hidden everywhere; letter case and whole parts count.
        for (const char* name : { "Masked.app", "Link.app", "resolve.app", "solve.app", "Name.app",
                 ".app", "../Resolve.app" }) {
            const auto entry = ApplicationActivation::desktopEntryForApplicationName(name);
            QVERIFY2(
                !entry, qPrintable(name + (" found " + (entry ? entry->filePath : QString()))));
        }
    }

    void entriesAreReadAndTheirCommandsSplitWithoutAShell()
    {
        const QString path = m_system.filePath("applications/org.tarvendesk.Escapes.desktop");
        QVERIFY(writeEntry(path,
            "# comment\nName[de]=Nein\nName = Two\\sWords\nExec=\"/a\\\\\\\\b\" x\n"
            "DBusActivatable=true\n[Desktop Action Other]\nExec=other\n"));
        const std::optional<DesktopEntry> read = DesktopEntry::read(path, "org.tarvendesk.Escapes");
        QVERIFY(read);
        QCOMPARE(read->type, QStringLiteral("Application"));
        QCOMPARE(read->name, QStringLiteral("Two Words"));
        QCOMPARE(read->execArguments(), (QStringList { "/a\\b", "x" }));
        QVERIFY(read->dbusActivatable);
        QCOMPARE(read->objectPath(), QStringLiteral("/org/tarvendesk/Escapes"));
        DesktopEntry entry;
        entry.id = QStringLiteral("org.example.my-app");
        QCOMPARE(entry.objectPath(), QStringLiteral("/org/example/my_app"));

        entry.name = QStringLiteral("Probe");
        entry.icon = QStringLiteral("probe-icon");
        const QList<std::pair<QString, QStringList>> commands { { "run %f %F %u %U", { "run" } },
            { "\"/a b/run\" \"x y\" \"\"", { "/a b/run", "x y", "" } },
            { "\"run\" \"a\\\"b\" \"c\\\\d\" \"\\$HOME\" \"\\`x\\`\"",
                { "run", "a\"b", "c\\d", "$HOME", "`x`" } },
            { "run ; rm -rf ~ && $(x)", { "run", ";", "rm", "-rf", "~", "&&", "$(x)" } },
            { "run 100%% --name=%c %i", { "run", "100%", "--name=Probe", "--icon", "probe-icon" } },
            { "run %z", {} }, { "run 5%", {} }, { "\"run", {} }, { "", {} }, { "%U", {} } };
        for (const auto& [exec, arguments] : commands) {
            entry.exec = exec;
            QVERIFY2(entry.execArguments() == arguments, qPrintable(exec));
        }
    }

    void aProgramIsStartedOnceThenBroughtForward_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("by the bus") << BusProbe;
        QTest::newRow("by its command") << ExecProbe;
        QTest::newRow("by its command, as the bus fails to") << SpawnFails;
    }

    void aProgramIsStartedOnceThenBroughtForward()
    {
        QFETCH(QString, name);
        const QString applicationName = name.mid(QStringLiteral("org.tarvendesk.").size()) + ".app";
        NameAcquisitions starts(name);
        QVERIFY(!BusPrograms::isNameOwned(name));
        QString why;
        QCOMPARE(activated(applicationName, &why), name);
        QTRY_VERIFY_WITH_TIMEOUT(ownerPid(name) > 0, 30000);
        const pid_t pid = ownerPid(name);
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(name, "launchCount"), 1, 20000);
        const int activations = probeCount(name, "activationCount");
        QVERIFY(activations >= 0);

        QCOMPARE(activated(applicationName, &why), name);
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(name, "activationCount"), activations + 1, 20000);
        QCOMPARE(ownerPid(name), pid);
        QCOMPARE(probeCount(name, "launchCount"), 1);
        QTRY_COMPARE(starts.count, 1);
    }

    void programsThatActivateEachOtherBothComeUp()
    {
        ProcessHelpers::launchApplication(QStringLiteral("test.ActivationProbe.app"));
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(BusProbe, "launchCount"), 1, 30000);
        const int activations = probeCount(BusProbe, "activationCount");

        // The probe starts its partner, which activates the probe as it launches.
        QDBusMessage call = QDBusMessage::createMethodCall(
            BusProbe, "/org/tarvendesk/test/Probe", "org.tarvendesk.test.Probe", "activate");
        call << QStringLiteral("test.ActivationPartner.app");
        const QDBusReply<void> reply = QDBusConnection::sessionBus().call(call);
        QVERIFY2(reply.isValid(), qPrintable(reply.error().message()));
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(Partner, "launchCount"), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(BusProbe, "activationCount"), activations + 1, 30000);
    }

    void unknownAndBrokenProgramsFailWithADescription()
    {
        QString why;
        QVERIFY(activated("NoSuchProgram.app", &why).isNull());
        QCOMPARE(why, QStringLiteral("Application “NoSuchProgram.app” can’t be found."));

        QVERIFY(writeEntry(m_home.filePath("applications/org.tarvendesk.Broken.desktop"),
            "Name=Broken\nExec=" + m_home.filePath("no-such-program") + "\n"));
        QVERIFY(activated("Broken.app", &why).isNull());
        QCOMPARE(why, QStringLiteral("Application “Broken.app” can’t be started."));

        // A person who asked is told; a program's own hand-over only logged.
        RecordingAlertPresenter alerts;
        int ended = 0;
        ProcessHelpers::launchApplication("Broken.app", nullptr, [&] { ++ended; });
        ProcessHelpers::launchApplication("Broken.app", &alerts, [&] { ++ended; });
        QTRY_COMPARE(ended, 2);
        QCOMPARE(alerts.alerts().size(), 1);
        QCOMPARE(alerts.alerts().front().messageText,
            QStringLiteral("“Broken.app” couldn’t be opened."));
        QCOMPARE(alerts.alerts().front().informativeText, why);
    }
};

QTEST_GUILESS_MAIN(tst_ApplicationActivation)
#include "tst_ApplicationActivation.moc"
