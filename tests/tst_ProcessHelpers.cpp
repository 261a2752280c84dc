// The single-instance guard on real processes of a private session bus.

#include "common/ProcessHelpers.h"
#include "platform/Workspace.h"
#include "programs/ProbeProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>
#include <unistd.h>

namespace {

QList<pid_t> listedPids(const QString& bundleIdentifier)
{
    std::optional<QList<pid_t>> pids;
    Workspace::runningApplications(bundleIdentifier, [&](const QList<RunningApplication>& running) {
        pids.emplace();
        for (const RunningApplication& application : running)
            pids->append(application.processIdentifier);
    });
    if (!QTest::qWaitFor([&] { return pids.has_value(); }, 20000))
        return QList<pid_t> { -2 };
    return *pids;
}

} // namespace

class tst_ProcessHelpers : public QObject
{
    Q_OBJECT

private slots:
    void guardPicksEveryOtherCopyOfThisUserInSnapshotOrder()
    {
        const QString id = StatusBarBundleIdentifier;
        // This process is 100 of user 1000.
        const QList<RunningApplication> running { { id, 30, 1000 },
            { "org.example.Other", 77, 1000 }, { id, 100, 1000 }, { id.toLower(), 41, 1000 },
            { id + ' ', 42, 1000 }, { {}, 43, 1000 }, { id, -1, 1000 }, { id, 0, 1000 },
            { id, -4242, 1000 }, { id, 44, 0 }, { id, 45, -1 }, { id, 20, 1000 } };
        QCOMPARE(
            ProcessHelpers::instancesToKill(id, running, 100, 1000), (QList<pid_t> { 30, 20 }));
    }

    void olderCopiesDieAndTheNewestLives()
    {
        const QString id = QStringLiteral("org.tarvendesk.test.Guard%1").arg(::getpid());
        ProbeProcess older { { "--identity", id } };
        ProbeProcess old { { "--identity", id } };
        ProbeProcess otherCase { { "--identity", id.toLower() } };
        for (ProbeProcess* probe : { &older, &old, &otherCase })
            QVERIFY2(probe->start() && probe->waitForLine("launched"), "a probe did not launch");
        // Both older copies are listed, the second queued behind the first.
        QTRY_COMPARE_WITH_TIMEOUT(listedPids(id), (QList<pid_t> { older.pid(), old.pid() }), 20000);

        ProbeProcess newest { { "--identity", id, "--kill-others" } };
        QVERIFY(newest.start());
        QVERIFY2(newest.waitForLine("launched"), "the newest copy did not live through its guard");
        QVERIFY2(older.waitForEnd() && old.waitForEnd(), "an older copy is still running");
        QCOMPARE(older.process().exitStatus(), QProcess::CrashExit);
        QCOMPARE(old.process().exitStatus(), QProcess::CrashExit);
        QVERIFY2(!older.lines().contains("will-terminate"), "an older copy was asked to end");
        QVERIFY2(otherCase.isRunning(), "a copy whose identifier differs only in case was killed");
        QTRY_COMPARE_WITH_TIMEOUT(ownerPid(id), newest.pid(), 20000);

        // The test process holds an identifier itself, as a program does.
        const QString alone = QStringLiteral("org.tarvendesk.test.Alone%1").arg(::getpid());
        QVERIFY(Workspace::registerBundleIdentifier(alone));
        ProcessHelpers::killAllOtherInstance(alone);
        // Asked after the guard, so answered after it: this process is still here.
        QCOMPARE(listedPids(alone), QList<pid_t> { ::getpid() });
        QVERIFY(QDBusConnection::sessionBus().interface()->unregisterService(alone));
    }
};

QTEST_GUILESS_MAIN(tst_ProcessHelpers)
#include "tst_ProcessHelpers.moc"
