// The single-instance guard on real processes of a private session bus, and
// the script texts of activation and of the installer's copies.

#include "common/ProcessHelpers.h"
#include "platform/ScriptCompiler.h"
#include "platform/Workspace.h"
#include "programs/ProbeProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>
#include <unistd.h>

namespace {

QList<pid_t> listedPids(const QString& bundleIdentifier)
{
    QList<pid_t> pids;
    for (const RunningApplication& application : Workspace::runningApplications())
        if (application.bundleIdentifier == bundleIdentifier)
            pids.append(application.processIdentifier);
    return pids;
}

} // namespace

class tst_ProcessHelpers : public QObject
{
    Q_OBJECT

private slots:
    void guardPicksOnlyOtherCopiesOfThisUser_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<int>("pid");
        QTest::addColumn<qint64>("uid");
        QTest::addColumn<bool>("signalled");
        const QString id = StatusBarBundleIdentifier;
        QTest::newRow("other copy") << id << 4242 << qint64(1000) << true;
        QTest::newRow("own process") << id << 100 << qint64(1000) << false;
        QTest::newRow("differs in case") << id.toLower() << 4242 << qint64(1000) << false;
        QTest::newRow("trailing blank") << id + QLatin1Char(' ') << 4242 << qint64(1000) << false;
        QTest::newRow("no identifier") << QString() << 4242 << qint64(1000) << false;
        QTest::newRow("no process") << id << -1 << qint64(1000) << false;
        QTest::newRow("process group 0") << id << 0 << qint64(1000) << false;
        QTest::newRow("negative") << id << -4242 << qint64(1000) << false;
        QTest::newRow("another user") << id << 4242 << qint64(0) << false;
        QTest::newRow("user unknown") << id << 4242 << qint64(-1) << false;
    }

    void guardPicksOnlyOtherCopiesOfThisUser()
    {
        QFETCH(QString, identifier);
        QFETCH(int, pid);
        QFETCH(qint64, uid);
        QFETCH(bool, signalled);
        const QList<RunningApplication> running
            = { { QStringLiteral("org.example.Other"), 77, 1000 }, { identifier, pid_t(pid), uid },
                  { StatusBarBundleIdentifier, 100, 1000 } };
        const QList<pid_t> expected = signalled ? QList<pid_t> { pid_t(pid) } : QList<pid_t> {};
        QCOMPARE(ProcessHelpers::instancesToKill(StatusBarBundleIdentifier, running, 100, 1000),
            expected);
    }

    void guardKillsEveryOlderCopyInSnapshotOrder()
    {
        const QList<RunningApplication> running
            = { { SignInBundleIdentifier, 30, 5 }, { SignInBundleIdentifier, 10, 5 },
                  { SignInBundleIdentifier, 20, 5 }, { StatusBarBundleIdentifier, 40, 5 } };
        QCOMPARE(ProcessHelpers::instancesToKill(SignInBundleIdentifier, running, 10, 5),
            (QList<pid_t> { 30, 20 }));
    }

    void olderCopiesDieAndTheNewestLives()
    {
        const QString id = QStringLiteral("org.tarvendesk.test.Guard%1").arg(::getpid());
        ProbeProcess older { { QStringLiteral("--identity"), id } };
        ProbeProcess old { { QStringLiteral("--identity"), id } };
        ProbeProcess otherCase { { QStringLiteral("--identity"), id.toLower() } };
        for (ProbeProcess* probe : { &older, &old, &otherCase }) {
            QVERIFY(probe->start());
            QVERIFY2(probe->waitForLine("launched"), "a probe did not finish launching");
        }
        // Both older copies are listed, the second queued behind the first.
        QTRY_COMPARE_WITH_TIMEOUT(listedPids(id), (QList<pid_t> { older.pid(), old.pid() }), 20000);
        QCOMPARE(listedPids(id.toLower()), QList<pid_t> { otherCase.pid() });

        ProbeProcess newest { { QStringLiteral("--identity"), id,
            QStringLiteral("--kill-others") } };
        QVERIFY(newest.start());
        QVERIFY2(
            newest.waitForLine("launched"), "the newest copy did not live through its own guard");
        QVERIFY2(older.waitForEnd() && old.waitForEnd(), "an older copy is still running");
        QCOMPARE(older.process().exitStatus(), QProcess::CrashExit);
        QCOMPARE(old.process().exitStatus(), QProcess::CrashExit);
        QVERIFY2(!older.lines().contains("will-terminate"),
            "an older copy was asked to end instead of killed");
        QVERIFY(newest.isRunning());
        QVERIFY2(otherCase.isRunning(), "a copy whose identifier differs only in case was killed");
        QTRY_COMPARE_WITH_TIMEOUT(ownerPid(id), newest.pid(), 20000);
    }

    void guardWithNoOtherCopyLeavesItsOwnProcessAlone()
    {
        // The test process holds the identifier itself, as a program does.
        const QString id = QStringLiteral("org.tarvendesk.test.Alone%1").arg(::getpid());
        QVERIFY(Workspace::registerBundleIdentifier(id));
        QCOMPARE(listedPids(id), QList<pid_t> { ::getpid() });
        ProcessHelpers::killAllOtherInstance(id);
        QVERIFY(QDBusConnection::sessionBus().interface()->unregisterService(id));
    }

    void activationScriptIsTheTemplateWithTheName()
    {
        const QString script
            = ProcessHelpers::activationScriptSource(QStringLiteral("tarvenDESKStatusBar.app"));
        QCOMPARE(script,
            QStringLiteral("tell application \"tarvenDESKStatusBar.app\"\n\t activate\nend tell"));
        QCOMPARE(script.size(), 41 - 2 + 23);
        QCOMPARE(script.split(QLatin1Char('\n')),
            (QStringList {
                "tell application \"tarvenDESKStatusBar.app\"", "\t activate", "end tell" }));
        QCOMPARE(ProcessHelpers::activationScriptSource(QStringLiteral("%@")).size(), 41);
    }

    void copyScriptsAreTheTemplatesWithThePath()
    {
        const QString indent(24, QLatin1Char(' '));
        const QString path = QStringLiteral(
            "/usr/share/tarvendesk/installer/org.tarvendesk.TarvenDeskChecker.desktop");
        const QString launchAgent = ProcessHelpers::launchAgentCopyScriptSource(path);
        QCOMPARE(launchAgent.split(QLatin1Char('\n')),
            (QStringList { "property y : POSIX file \"" + path + "\" as alias",
                indent + "tell application \"Finder\"",
                indent + "set x to POSIX file \"/etc/xdg/autostart/\" as alias",
                indent + "duplicate y to x", indent + "end tell" }));
        QCOMPARE(ProcessHelpers::launchAgentCopyScriptSource(QStringLiteral("%@")).size(),
            239 - 22 + 19);

        const QString application = ProcessHelpers::applicationCopyScriptSource(
            QStringLiteral("/tmp/app folder/tarvenDESK"));
        QCOMPARE(application,
            "property y : POSIX file \"/tmp/app folder/tarvenDESK\" as alias\n" + indent
                + "tell application \"Finder\"\n" + indent
                + "set x to POSIX file \"/opt/\" as alias\n" + indent + "duplicate y to x\n"
                + indent + "end tell");
        QCOMPARE(
            ProcessHelpers::applicationCopyScriptSource(QStringLiteral("%@")).size(), 231 - 14 + 5);
    }

    void insertedTextCannotChangeTheScript_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quote") << "Evil\".app";
        QTest::newRow("backslash") << "back\\slash.app";
        QTest::newRow("escaped quote") << "a\\\"b";
        QTest::newRow("trailing backslash") << "name\\";
        QTest::newRow("a second statement") << "x\"\n\t activate\nend tell\ntell application \"y";
        QTest::newRow("placeholders") << "%@ %1 %2";
        QTest::newRow("line break") << "two\nlines";
    }

    void insertedTextCannotChangeTheScript()
    {
        QFETCH(QString, text);
        QString why;
        const auto activation
            = ScriptCompiler::compile(ProcessHelpers::activationScriptSource(text), &why);
        QVERIFY2(activation, qPrintable(why));
        QCOMPARE(std::get<ActivateApplication>(*activation).applicationName, text);

        const auto launchAgent
            = ScriptCompiler::compile(ProcessHelpers::launchAgentCopyScriptSource(text), &why);
        QVERIFY2(launchAgent, qPrintable(why));
        QCOMPARE(std::get<DuplicateItem>(*launchAgent),
            (DuplicateItem { text, QStringLiteral("/etc/xdg/autostart/") }));
        const auto application
            = ScriptCompiler::compile(ProcessHelpers::applicationCopyScriptSource(text), &why);
        QVERIFY2(application, qPrintable(why));
        QCOMPARE(std::get<DuplicateItem>(*application),
            (DuplicateItem { text, QStringLiteral("/opt/") }));
    }
};

QTEST_GUILESS_MAIN(tst_ProcessHelpers)
#include "tst_ProcessHelpers.moc"
