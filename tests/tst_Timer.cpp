// The repeating timer on the kernel's boot-time clock, with real firings.

#include "platform/Timer.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

namespace {

// Counts ticks of an ordinary Qt timer: something to wait on while checking
// that a Timer stays silent.
class Ticks
{
public:
    explicit Ticks(int intervalMs)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_count; });
        m_timer.start(intervalMs);
    }
    bool waitFor(int ticks)
    {
        return QTest::qWaitFor([&] { return m_count >= ticks; }, 60000);
    }

private:
    QTimer m_timer;
    int m_count = 0;
};

} // namespace

class tst_Timer : public QObject
{
    Q_OBJECT

private slots:
    void firesFirstAfterItsDelayThenRepeatedly()
    {
        int firings = 0;
        QElapsedTimer sinceStart;
        qint64 firstFiringAt = -1;
        sinceStart.start();
        const auto timer = Timer::scheduledTimer(0.2, 0.3, [&] {
            if (++firings == 1)
                firstFiringAt = sinceStart.elapsed();
        });
        QTRY_VERIFY_WITH_TIMEOUT(firings >= 3, 60000);
        QVERIFY2(firstFiringAt >= 190,
            qPrintable(QStringLiteral("first firing after %1 ms").arg(firstFiringAt)));

        // A zero in the kernel's timer would disarm it instead.
        int zeroFirings = 0;
        const auto zero = Timer::scheduledTimer(0, 0, [&] { ++zeroFirings; });
        QTRY_VERIFY_WITH_TIMEOUT(zeroFirings >= 3, 60000);
    }

    void fireRunsNowKeepsTheScheduleAndInvalidateStopsItForGood()
    {
        int firings = 0;
        const QDateTime before = QDateTime::currentDateTime();
        const auto timer = Timer::scheduledTimer(30, 7200, [&] { ++firings; });
        const QDateTime scheduled = timer->fireDate();
        QVERIFY2(qAbs(before.msecsTo(scheduled) - 30000) < 5000, qPrintable(scheduled.toString()));
        timer->fire();
        timer->fire();
        QCOMPARE(firings, 2);
        QVERIFY(timer->isValid());
        QVERIFY2(qAbs(scheduled.msecsTo(timer->fireDate())) < 2000, "fire() moved the next firing");

        timer->invalidate();
        timer->fire();
        QCOMPARE(firings, 2);
        QVERIFY(!timer->isValid() && !timer->fireDate().isValid());
    }

    void actionMayDestroyItsOwnTimer()
    {
        std::unique_ptr<Timer> timer;
        int firings = 0;
        timer = Timer::scheduledTimer(0.01, 0.01, [&] {
            ++firings;
            timer.reset();
        });
        QTRY_VERIFY_WITH_TIMEOUT(!timer, 60000);
        Ticks ticks(20);
        QVERIFY(ticks.waitFor(5));
        QCOMPARE(firings, 1);
    }

    void missedFiringsAreNotMadeUp()
    {
        int firings = 0;
        const auto timer = Timer::scheduledTimer(0.02, 0.02, [&] { ++firings; });
        QTRY_VERIFY_WITH_TIMEOUT(firings >= 1, 60000);
        const int beforeBusyLoop = firings;
        // The event loop is kept from running for some twenty intervals, as a
        // sleeping machine or a long synchronous call would.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        QCoreApplication::processEvents();
        QCOMPARE(firings, beforeBusyLoop + 1);
    }

    // Firings held (while an alert is up), or an action spinning the event
    // loop, keep them back: the code behind them is never re-entered.
    void firingWhileTheProgramIsHeldRunsOnceAfterwards()
    {
        int firings = 0, invalidatedFirings = 0;
        const auto timer = Timer::scheduledTimer(0.02, 3600, [&] { ++firings; });
        const auto invalidated = Timer::scheduledTimer(0.02, 0.02, [&] { ++invalidatedFirings; });
        timer->setFiringsHeld(true);
        invalidated->setFiringsHeld(true);
        Ticks ticks(20);
        QVERIFY(ticks.waitFor(10));
        QCOMPARE(firings, 0);
        invalidated->invalidate();
        timer->setFiringsHeld(false);
        invalidated->setFiringsHeld(false);
        // Not inside the code that released them: back in the event loop.
        QCOMPARE(firings, 0);
        QTRY_COMPARE_WITH_TIMEOUT(firings, 1, 60000);
        QVERIFY(ticks.waitFor(20));
        QCOMPARE(firings, 1);
        QCOMPARE(invalidatedFirings, 0);

        int depth = 0, deepest = 0, spinning = 0;
        const auto spinner = Timer::scheduledTimer(0.01, 0.01, [&] {
            deepest = std::max(deepest, ++depth);
            if (++spinning == 1)
                Ticks(20).waitFor(5);
            --depth;
        });
        QTRY_VERIFY_WITH_TIMEOUT(spinning >= 3, 60000);
        QCOMPARE(deepest, 1);
    }
};

QTEST_GUILESS_MAIN(tst_Timer)
#include "tst_Timer.moc"
