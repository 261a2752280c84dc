// Activation by name: how names find desktop entries, how entries' command
// lines are read, and real programs started and brought forward on the
// private session bus.

#include "common/ProcessHelpers.h"
#include "platform/ApplicationActivation.h"
#include "platform/DesktopEntry.h"
#include "platform/Script.h"
#include "programs/ProbeProcess.h"
#include "support/BusPrograms.h"

#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString BusProbe = QStringLiteral("org.tarvendesk.test.ActivationProbe");
const QString ExecProbe = QStringLiteral("org.tarvendesk.test.ExecProbe");
const QString Partner = QStringLiteral("org.tarvendesk.test.ActivationPartner");

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
    }

    // Also after a failure: a program the bus started would outlive the bus.
    void cleanup()
    {
        for (const QString& name : { BusProbe, ExecProbe, Partner })
            QVERIFY(BusPrograms::endProgramHolding(name));
    }

    void namesFindTheirDesktopEntries()
    {
        const QString home = m_home.filePath("applications/");
        const QString system = m_system.filePath("applications/");
        for (const QString& entry :
            { home + "org.tarvendesk.Resolve", system + "plain", home + "org.tarvendesk.Both",
                system + "org.tarvendesk.Both", system + "org.tarvendesk.Twice",
                system + "com.example.Twice", system + "org.tarvendesk.Masked" })
            QVERIFY(writeEntry(entry + ".desktop", "Name=N\nExec=n\n"));
        QVERIFY(
            writeEntry(home + "org.tarvendesk.Masked.desktop", "Name=M\nExec=m\nHidden=true\n"));
        QVERIFY(writeEntry(system + "org.tarvendesk.Link.desktop", "Name=L\nURL=x\n", "Link"));

        const QList<std::pair<QString, QString>> found { { "Resolve.app",
                                                             home + "org.tarvendesk.Resolve" },
            { "Resolve", home + "org.tarvendesk.Resolve" }, { "plain.app", system + "plain" },
            { "Both.app", home + "org.tarvendesk.Both" },
            { "Twice.app", system + "com.example.Twice" } }; // the first ID in a folder
        for (const auto& [name, path] : found) {
            const auto entry = ApplicationActivation::desktopEntryForApplicationName(name);
            QVERIFY2(entry, qPrintable(name));
            QCOMPARE(entry->filePath, path + ".desktop");
            QCOMPARE(entry->id, QFileInfo(path).fileName());
        }
        // Hidden at home is hidden everywhere; letter case and whole parts count.
        for (const char* name :
            { "Masked.app", "Link.app", "resolve.app", "solve.app", ".app", "../Resolve.app" }) {
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
    }

    void aProgramIsStartedOnceThenBroughtForward()
    {
        QFETCH(QString, name);
        const QString script
            = ProcessHelpers::activationScriptSource(name.section('.', -1) + ".app");
        NameAcquisitions starts(name);
        QVERIFY(!BusPrograms::isNameOwned(name));
        QString why;
        QCOMPARE(Script(script).executeAndReturnError(&why), QVariant(name));
        QTRY_VERIFY_WITH_TIMEOUT(ownerPid(name) > 0, 30000);
        const pid_t pid = ownerPid(name);
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(name, "launchCount"), 1, 20000);
        const int activations = probeCount(name, "activationCount");
        QVERIFY(activations >= 0);

        QCOMPARE(Script(script).executeAndReturnError(&why), QVariant(name));
        QTRY_COMPARE_WITH_TIMEOUT(probeCount(name, "activationCount"), activations + 1, 20000);
        QCOMPARE(ownerPid(name), pid);
        QCOMPARE(probeCount(name, "launchCount"), 1);
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

    void unknownAndBrokenProgramsFailWithADescription()
    {
        QString why;
        QVERIFY(Script(ProcessHelpers::activationScriptSource("NoSuchProgram.app"))
                    .executeAndReturnError(&why)
                    .isNull());
        QCOMPARE(why, QStringLiteral("Application “NoSuchProgram.app” can’t be found."));
        ProcessHelpers::launchApplication(QStringLiteral("NoSuchProgram.app"));

        QVERIFY(writeEntry(m_home.filePath("applications/org.tarvendesk.Broken.desktop"),
            "Name=Broken\nExec=" + m_home.filePath("no-such-program") + "\n"));
        QVERIFY(ApplicationActivation::activateApplication("Broken.app", &why).isNull());
        QCOMPARE(why, QStringLiteral("Application “Broken.app” can’t be started."));
    }
};

QTEST_GUILESS_MAIN(tst_ApplicationActivation)
#include "tst_ApplicationActivation.moc"
