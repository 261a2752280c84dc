// The repeating timer on the kernel's boot-time clock, with real firings.

#include "platform/Timer.h"

#include <QTest>
#include <thread>

class tst_Timer : public QObject
{
    Q_OBJECT

private slots:
    // fire() runs the action now and leaves the schedule as it was; invalidate() is for good.
    // A zero in the kernel's timer would disarm it instead of firing it. The event loop kept
    // from running for some twenty intervals, as on a sleeping machine or in a long synchronous
    // call, brings one firing, not twenty. An action may destroy its own timer.
    void firesAfterItsDelayThenRepeatedlyAndMissedFiringsAreNotMadeUp()
    {
        const QDateTime created = QDateTime::currentDateTime();
        qint64 firstFiringAt = -1;
        int firings = 0, zeroFirings = 0, laterFirings = 0, quickFirings = 0, destroyedFirings = 0;
        const auto timer = Timer::scheduledTimer(0.2, 0.3, [&] {
            if (++firings == 1)
                firstFiringAt = created.msecsTo(QDateTime::currentDateTime());
        });
        const auto zero = Timer::scheduledTimer(0, 0, [&] { ++zeroFirings; });
        const auto quick = Timer::scheduledTimer(0.02, 0.02, [&] { ++quickFirings; });
        std::unique_ptr<Timer> destroyed = Timer::scheduledTimer(0.01, 0.01, [&] {
            ++destroyedFirings;
            destroyed.reset();
        });
        const auto later = Timer::scheduledTimer(30, 7200, [&] { ++laterFirings; });
        const QDateTime scheduled = later->fireDate();
        QVERIFY(qAbs(created.msecsTo(scheduled) - 30000) < 5000);
        later->fire();
        later->fire();
        QVERIFY2(qAbs(scheduled.msecsTo(later->fireDate())) < 2000, "fire() moved the next firing");
        later->invalidate();
        later->fire();
        QCOMPARE(laterFirings, 2);
        QVERIFY(!later->isValid());
        QVERIFY(!later->fireDate().isValid());
        QTRY_VERIFY_WITH_TIMEOUT(firings >= 3 && zeroFirings >= 3 && !destroyed, 60000);
        QVERIFY2(firstFiringAt >= 190, qPrintable(QString::number(firstFiringAt)));
        const int beforeSleep = quickFirings;
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        QCoreApplication::processEvents();
        QCOMPARE(quickFirings, beforeSleep + 1);
        QCOMPARE(destroyedFirings, 1);
    }

    // Firings held (while an alert is up), or an action spinning the event loop, keep them
    // back: the code behind them is never re-entered, and one held firing runs afterwards.
    void firingWhileTheProgramIsHeldRunsOnceAfterwards()
    {
        int firings = 0, invalidatedFirings = 0, depth = 0, deepest = 0, spinning = 0;
        const auto timer = Timer::scheduledTimer(0.02, 3600, [&] { ++firings; });
        const auto invalidated = Timer::scheduledTimer(0.02, 0.02, [&] { ++invalidatedFirings; });
        timer->setFiringsHeld(true);
        invalidated->setFiringsHeld(true);
        QTest::qWait(200);
        invalidated->invalidate();
        timer->setFiringsHeld(false);
        invalidated->setFiringsHeld(false);
        QCOMPARE(firings, 0); // it runs back in the event loop, not inside the release
        QTRY_COMPARE_WITH_TIMEOUT(firings, 1, 60000);
        QTest::qWait(200);
        QCOMPARE(firings, 1);
        QCOMPARE(invalidatedFirings, 0);

        const auto spinner = Timer::scheduledTimer(0.01, 0.01, [&] {
            deepest = std::max(deepest, ++depth);
            if (++spinning == 1)
                QTest::qWait(100);
            --depth;
        });
        QTRY_VERIFY_WITH_TIMEOUT(spinning >= 3, 60000);
        QCOMPARE(deepest, 1);
    }
};

QTEST_GUILESS_MAIN(tst_Timer)
#include "tst_Timer.moc"
