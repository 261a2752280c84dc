#pragma once

// A repeating timer that counts the time a machine spends asleep, so that a
// check every 24 hours stays every 24 hours on a laptop that sleeps at night.
// Firings that were missed are not made up: one firing stands for them all.
// While the firings are held (an alert is up, say), one that falls due waits
// and runs once they are released.

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QSocketNotifier;

class Timer : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void()>;

    // First firing firstDelay seconds from now, then every interval seconds.
    // A delay of 0 or less fires as soon as the event loop runs; an interval
    // of 0 or less is taken as 0.1 milliseconds.
    static std::unique_ptr<Timer> scheduledTimer(double firstDelay, double interval, Action action);
    ~Timer() override;

    // Runs the action now; the schedule stays as it was. Does nothing once
    // the timer has been invalidated.
    void fire();
    // Stops the timer for good.
    void invalidate();
    bool isValid() const { return m_fd >= 0; }
    // Holds the firings that fall due from now on, or releases them: a held
    // one then runs once, from the event loop, not inside this call.
    void setFiringsHeld(bool held);
    bool areFiringsHeld() const { return m_firingsHeld; }

    // The next scheduled firing; invalid once the timer is invalidated.
    QDateTime fireDate() const;
    double firstDelay() const { return m_firstDelay; }
    double timeInterval() const { return m_interval; }

private:
    Timer(double firstDelay, double interval, Action action);

    void onExpired();
    bool mustHoldFiring() const;
    void runHeldFiring();
    void runAction();

    double m_firstDelay;
    double m_interval;
    Action m_action;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_firingsHeld = false;
    bool m_firingHeld = false;
    bool m_running = false;
};
