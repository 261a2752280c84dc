// The programs' shared entry on real processes of the private session bus:
// identity, the delegate's calls and the ways a program ends, the
// single-instance guard and the command line; activation by name, from the
// desktop entries to programs started and brought forward; and where the
// programs find their service.

#include "common/ProcessHelpers.h"
#include "common/ServiceConfiguration.h"
#include "common/SeverityCountRequest.h"
#include "platform/ApplicationActivation.h"
#include "support/BusPrograms.h"
#include "support/RecordingAlertPresenter.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString BusProbe = QStringLiteral("org.tarvendesk.test.ActivationProbe");
const QString Partner = QStringLiteral("org.tarvendesk.test.ActivationPartner");
const QString ExecProbe = QStringLiteral("org.tarvendesk.test.ExecProbe");
const QString SpawnFails = QStringLiteral("org.tarvendesk.test.SpawnFails");

// The prefix of identities no other process uses.
const QString Own = QStringLiteral("org.tarvendesk.test.P%1.").arg(::getpid());

bool writeFile(const QString& path,
    const QByteArray& text = "[Desktop Entry]\nType=Application\nExec=/nonexistent\n")
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(text) == text.size();
}

// The activated entry's ID, or a null one with the reason in why; the outcome
// never comes before the call returns.
QString activated(const QString& applicationName, QString* why = nullptr)
{
    std::optional<std::pair<QString, QString>> outcome;
    ApplicationActivation::activateApplication(
        applicationName, [&](const QString& id, const Error& error) {
            outcome.emplace(id, error.isNull() ? QString() : error.localizedDescription());
        });
    if (outcome || !QTest::qWaitFor([&] { return outcome.has_value(); }, 60000))
        return QStringLiteral("(answered before returning, or never)");
    if (why)
        *why = outcome->second;
    return outcome->first;
}

// The copies the bus lists under the identifier, once it has answered.
QList<pid_t> listedPids(const QString& bundleIdentifier)
{
    std::optional<QList<pid_t>> pids;
    Workspace::runningApplications(bundleIdentifier, [&](const QList<RunningApplication>& running) {
        pids.emplace();
        for (const RunningApplication& application : running)
            pids->append(application.processIdentifier);
    });
    return QTest::qWaitFor([&] { return pids.has_value(); }, 20000) ? *pids : QList<pid_t> { -2 };
}

} // namespace

class tst_ApplicationMain : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home, m_system;

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        // The probes' entries that the bus cannot start come first.
        const QString folders = QStringLiteral(
            TARVENDESK_TESTS_BINARY_DIR "/programs/share:" TARVENDESK_BIN_DIR "/../share:");
        qputenv("XDG_DATA_DIRS", QFile::encodeName(folders + m_system.path()));
        QVERIFY(BusPrograms::useOffscreenDisplay());
    }

    // Also after a failure: a program the bus started would outlive the bus.
    void cleanup()
    {
        for (const QString& name : { BusProbe, ExecProbe, Partner, SpawnFails })
            QVERIFY(BusPrograms::endProgramHolding(name));
    }

    void aProgramAnswersUnderItsIdentityAndEndsThroughItsDelegate()
    {
        const QString id = Own + "Ends";
        const QString staying = Own + "Stays";
        const QString quitting = Own + "Quits";
        // Qt's own options pass the program's command line.
        ProbeProcess probe { { "-platform", "offscreen", "--identity", id } };
        ProbeProcess stays { { "--identity", staying } };
        ProbeProcess quits { { "--identity", quitting, "--quit-on-last-window-closed" } };
        // The bus has the names soon after: taking one never holds a program up.
        QTRY_VERIFY_WITH_TIMEOUT(askProbe(id, "launchCount") == 1
                && askProbe(staying, "launchCount") == 1 && askProbe(quitting, "launchCount") == 1,
            30000);
        QCOMPARE(askProbe(id, "dumpable"), 0);

        // The delegate decides whether the last window ends the program;
        // terminate() and SIGTERM end it through the delegate.
        askProbe(staying, "closeWindow");
        askProbe(quitting, "closeWindow");
        askProbe(id, "terminate");
        const QByteArrayList closed { "launched", "last-window-closed", "will-terminate" };
        QCOMPARE(quits.said(), closed);
        QCOMPARE(probe.said(), (QByteArrayList { "launched", "will-terminate" }));
        QCOMPARE(askProbe(staying, "launchCount"), 1);
        QVERIFY(BusPrograms::endProgramHolding(staying));
        QCOMPARE(stays.said(), closed);
    }

    void olderCopiesOfThisUserDieAndTheNewestLives()
    {
        const QString id = Own + "Guard";
        // This process is 100 of user 1000; 0 and below would reach groups.
        const QList<RunningApplication> running { { id, 30, 1000 }, { id, 100, 1000 },
            { id.toLower(), 41, 1000 }, { id + ' ', 42, 1000 }, { id, 0, 1000 },
            { id, -4242, 1000 }, { id, 44, 0 }, { id, 20, 1000 } };
        QCOMPARE(
            ProcessHelpers::instancesToKill(id, running, 100, 1000), (QList<pid_t> { 30, 20 }));

        ProbeProcess older { { "--identity", id } };
        QTRY_COMPARE_WITH_TIMEOUT(askProbe(id, "launchCount"), 1, 30000);
        ProbeProcess old { { "--identity", id } };
        // Both older copies are listed, the second queued behind the first.
        QTRY_COMPARE_WITH_TIMEOUT(listedPids(id), (QList<pid_t> { older.pid(), old.pid() }), 20000);
        ProbeProcess newest { { "--identity", id, "--kill-others" } };
        QTRY_COMPARE_WITH_TIMEOUT(ownerPid(id), newest.pid(), 20000);
        // Killed, never asked to end: SIGTERM would end them through the delegate.
        QVERIFY(old.waitForFinished(30000) || old.state() == QProcess::NotRunning);
        QVERIFY(older.waitForFinished(30000) || older.state() == QProcess::NotRunning);
        QCOMPARE(old.exitStatus(), QProcess::CrashExit);
        QCOMPARE(older.exitStatus(), QProcess::CrashExit);

        // The test process holds an identifier itself, as a program does.
        const QString alone = Own + "Alone";
        QVERIFY(Workspace::registerBundleIdentifier(alone));
        ProcessHelpers::killAllOtherInstance(alone);
        // Asked after the guard, so answered after it: this process is still here.
        QCOMPARE(listedPids(alone), QList<pid_t> { ::getpid() });
    }

    // One parser serves all the programs, before any display or bus; the
    // service and the copy tool answer an unknown option in the same form,
    // and every option a --help lists is in the program's manual page.
    void theCommandLineIsAnsweredWithoutDisplayOrBus_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output"); // how standard output starts
        QTest::addColumn<QByteArray>("errors");
        const auto unknown = [](const QByteArray& program, const QByteArray& option) {
            return program + ": unknown option '" + option + "'\nTry '" + program
                + " --help' for more information.\n";
        };
        const QByteArray version = " " TARVENDESK_VERSION "\n";
        for (const char* program : { "TarvenDESK", "tarvenDESKStatusBar", "installer",
                 "tarvendesk-service", "tarvendesk-duplicate" }) {
            QTest::addRow("%s --help", program)
                << program << QStringList { "--help" } << 0 << QByteArray("Usage:") << QByteArray();
            QTest::addRow("%s --version", program)
                << program << QStringList { "--version" } << 0 << program + version << QByteArray();
            QTest::addRow("%s --bogus", program) << program << QStringList { "--bogus=1" } << 2
                                                 << QByteArray() << unknown(program, "--bogus");
        }
        QTest::newRow("single dash") << "tarvenDESKStatusBar" << QStringList { "-frob" } << 2
                                     << QByteArray() << unknown("tarvenDESKStatusBar", "-frob");
        QTest::newRow("service command")
            << "tarvendesk-service" << QStringList { "serve", "--bogus" } << 2 << QByteArray()
            << unknown("tarvendesk-service", "--bogus");
        QTest::newRow("copy tool, one item")
            << "tarvendesk-duplicate" << QStringList { "/x" } << 2 << QByteArray()
            << QByteArray("usage: tarvendesk-duplicate ITEM FOLDER (see --help)\n");
    }

    void theCommandLineIsAnsweredWithoutDisplayOrBus()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, errors);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // A program that went on to start would fail on either.
        environment.remove("DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        process.setProcessEnvironment(environment);
        process.start(TARVENDESK_BIN_DIR "/" + program, arguments);
        QVERIFY(process.waitForFinished(30000));
        const QByteArray said = process.readAllStandardOutput();
        QCOMPARE(process.readAllStandardError(), errors);
        QVERIFY2(said.startsWith(output), said.constData());
        QCOMPARE(process.exitCode(), exitCode);

        QFile page(TARVENDESK_SOURCE_DIR "/man/" + program + ".1");
        if (arguments != QStringList { "--help" } || !page.open(QIODevice::ReadOnly))
            return;
        const QByteArray manual = page.read(1024 * 1024).replace("\\-", "-");
        static const QRegularExpression option(QStringLiteral("--[a-z][a-z-]*"));
        for (const auto& match : option.globalMatch(QString::fromUtf8(said)))
            QVERIFY2(manual.contains(match.captured().toUtf8()),
                qPrintable(match.captured() + " is not in its page"));
    }

    void namesFindOnlyTheSuitesOwnEntriesAndTheirCommandsAreSplitWithoutAShell()
    {
        const QString home = m_home.filePath("applications/");
        const QString system = m_system.filePath("applications/");
        for (const QString& entry : { home + "x.Suffix", home + "Suffix",
                 system + "org.tarvendesk.Suffix", home + "org.tarvendesk.Both",
                 system + "org.tarvendesk.Both", system + "org.tarvendesk.Masked" })
            QVERIFY(writeFile(entry + ".desktop"));
        QVERIFY(
            writeFile(home + "org.tarvendesk.Masked.desktop", "[Desktop Entry]\nHidden=true\n"));
        QVERIFY(writeFile(system + "org.tarvendesk.Link.desktop", "[Desktop Entry]\nType=Link\n"));
        // Only the suite's own ID counts, in the most important folder holding it.
        for (const auto& [name, path] :
            { std::pair { "Suffix.app", system + "org.tarvendesk.Suffix" },
                { "Both", home + "org.tarvendesk.Both" } }) {
            const auto entry = ApplicationActivation::desktopEntryForApplicationName(name);
            QCOMPARE(entry ? entry->filePath : name, path + ".desktop");
            QCOMPARE(entry->id, QFileInfo(path).fileName());
        }
        // Hidden at home is hidden everywhere; letter case and whole parts count.
        for (const char* name : { "Masked.app", "Link.app", "both.app", "oth.app", "../Both.app" })
            QVERIFY2(!ApplicationActivation::desktopEntryForApplicationName(name), name);

        // An entry's keys end with its group; its command's escapes are undone twice.
        const QString path = system + "org.tarvendesk.Escapes.desktop";
        QVERIFY(writeFile(path,
            "# comment\n[Desktop Entry]\nName[de]=Nein\nName = Two\\sWords\n"
            "Exec=\"/a\\\\\\\\b\" x\n[Desktop Action Other]\nExec=other\n"));
        std::optional<DesktopEntry> entry = DesktopEntry::read(path, "org.example.my-app");
        QVERIFY(entry);
        QCOMPARE(entry->name, "Two Words");
        QCOMPARE(entry->execArguments(), QStringList({ "/a\\b", "x" }));
        QCOMPARE(entry->objectPath(), QStringLiteral("/org/example/my_app"));
        entry->icon = QStringLiteral("probe-icon");
        const QList<std::pair<QString, QStringList>> commands {
            { "\"/a b/run\" \"a\\\"b\" \"\\$HOME\" \"\\`x\\`\" \"\"",
                { "/a b/run", "a\"b", "$HOME", "`x`", "" } },
            { "run ; rm -rf ~ && $(x) %f %U", { "run", ";", "rm", "-rf", "~", "&&", "$(x)" } },
            { "run 100%% --name=%c %i",
                { "run", "100%", "--name=Two Words", "--icon", "probe-icon" } },
            { "run %z", {} }, { "run 5%", {} }, { "\"run", {} }, { "%U", {} }
        };
        for (const auto& [exec, arguments] : commands) {
            entry->exec = exec;
            QVERIFY2(entry->execArguments() == arguments, qPrintable(exec));
        }
    }

    // By the bus, by its command, and by its command as the bus fails to.
    void aProgramIsStartedOnceThenBroughtForwardOrTheFailureDescribed()
    {
        for (const QString& name : { BusProbe, ExecProbe, SpawnFails }) {
            const QString applicationName = name.mid(15) + ".app";
            QCOMPARE(activated(applicationName), name);
            QTRY_VERIFY_WITH_TIMEOUT(askProbe(name, "launchCount") == 1, 30000);
            const pid_t pid = ownerPid(name);
            const int activations = askProbe(name, "activationCount");
            QCOMPARE(activated(applicationName), name);
            QTRY_COMPARE_WITH_TIMEOUT(askProbe(name, "activationCount"), activations + 1, 20000);
            QCOMPARE(ownerPid(name), pid);
            QCOMPARE(askProbe(name, "launchCount"), 1);
        }
        // The probe starts its partner, which activates the probe as it launches.
        const int activations = askProbe(BusProbe, "activationCount");
        askProbe(BusProbe, "activate", { "test.ActivationPartner.app" });
        QTRY_COMPARE_WITH_TIMEOUT(askProbe(Partner, "launchCount"), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(askProbe(BusProbe, "activationCount"), activations + 1, 30000);

        // Unknown and broken programs fail with a description.
        QString why;
        QVERIFY(activated("NoSuchProgram.app", &why).isNull());
        QCOMPARE(why, QStringLiteral("Application “NoSuchProgram.app” can’t be found."));
        QVERIFY(writeFile(m_home.filePath("applications/org.tarvendesk.Broken.desktop")));
        QVERIFY(activated("Broken.app", &why).isNull());
        QCOMPARE(why, QStringLiteral("Application “Broken.app” can’t be started."));

        // A person who asked is told; a program's own hand-over only logged.
        RecordingAlertPresenter alerts;
        int ended = 0;
        ProcessHelpers::launchApplication("Broken.app", [&](const Error&) { ++ended; });
        ProcessHelpers::launchApplication(
            "Broken.app", ProcessHelpers::alertingFailure("Broken.app", &alerts, [&] { ++ended; }));
        QTRY_COMPARE(ended, 2);
        QCOMPARE(alerts.alerts().size(), 1);
        QCOMPARE(alerts.alerts().front().messageText, "“Broken.app” couldn’t be opened.");
        QCOMPARE(alerts.alerts().front().informativeText, why);
    }

    void theServiceComesFromTheFirstUsableConfiguration_data()
    {
        QTest::addColumn<QString>("ca");
        QTest::addColumn<int>("padding");
        QTest::newRow("no such file") << "/nonexistent.pem" << 0;
        QTest::newRow("a device") << "/dev/zero" << 0;
        QTest::newRow("a FIFO") << "fifo" << 0;
        QTest::newRow("a folder") << "." << 0;
        QTest::newRow("a certificate over 1 MiB") << "large.pem" << 0;
        QTest::newRow("a settings file over 1 MiB") << "ca.pem" << 1024 * 1024;
    }

    // A file or CA that cannot be used is passed over for the next, or the build's.
    void theServiceComesFromTheFirstUsableConfiguration()
    {
        QFETCH(QString, ca);
        QFETCH(int, padding);
        QTemporaryDir folders;
        const QString pki = QStringLiteral(TARVENDESK_BIN_DIR "/../pki/");
        const QString user = folders.filePath("user/tarvenDESK/");
        QVERIFY(writeFile(user + "tarvenDESK.conf",
            "[Service]\nURL=http://a.org/x\nCA=" + ca.toUtf8() + "\n#" + QByteArray(padding, '#')
                + "\n"));
        QVERIFY(writeFile(folders.filePath("system/tarvenDESK/tarvenDESK.conf"),
            "[Service]\nURL=https://a.org/x\nCA=cert.pem\n"));
        QVERIFY(QFile::copy(pki + "cert.pem", folders.filePath("system/tarvenDESK/cert.pem")));
        QVERIFY(QFile::copy(pki + "ca.pem", user + "ca.pem"));
        QVERIFY(QFile::copy(pki + "ca.pem", user + "large.pem"));
        QVERIFY(QFile::resize(user + "large.pem", 1024 * 1024 + 1));
        QCOMPARE(::mkfifo(QFile::encodeName(user + "fifo").constData(), 0600), 0);
        const ServiceConfiguration configuration
            = readServiceConfiguration({ folders.filePath("user"), folders.filePath("system") });
        QCOMPARE(configuration.url, QUrl("https://a.org/x"));
        QFile certificate(pki + "cert.pem");
        QVERIFY(certificate.open(QIODevice::ReadOnly));
        QCOMPARE(configuration.certificates, certificate.readAll());
        QCOMPARE(readServiceConfiguration({ folders.filePath("none") }).url, SeverityCountURL());
    }
};

QTEST_GUILESS_MAIN(tst_ApplicationMain)
#include "tst_ApplicationMain.moc"
