#pragma once

// A repeating timer that counts the time a machine spends asleep, so that a
// check every 24 hours stays every 24 hours on a laptop that sleeps at night.
// Firings that were missed are not made up: one firing stands for them all.
// While an alert of the given presenter is up, a firing that falls due waits
// and runs once the alert has been dismissed, as it would on a run loop that
// the alert holds.

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class AlertPresenter;
class QSocketNotifier;

class Timer : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void()>;

    // First firing firstDelay seconds from now, then every interval seconds.
    // A delay of 0 or less fires as soon as the event loop runs; an interval
    // of 0 or less is taken as 0.1 milliseconds.
    static std::unique_ptr<Timer> scheduledTimer(double firstDelay, double interval, Action action,
        AlertPresenter* alertPresenter = nullptr);
    ~Timer() override;

    // Runs the action now; the schedule stays as it was. Does nothing once
    // the timer has been invalidated.
    void fire();
    // Stops the timer for good.
    void invalidate();
    bool isValid() const { return m_fd >= 0; }

    // The next scheduled firing; invalid once the timer is invalidated.
    QDateTime fireDate() const;
    double firstDelay() const { return m_firstDelay; }
    double timeInterval() const { return m_interval; }

private:
    Timer(double firstDelay, double interval, Action action, AlertPresenter* alertPresenter);

    void onExpired();
    void onModalAlertRunningChanged(bool running);
    bool mustHoldFiring() const;
    void runHeldFiring();
    void runAction();

    double m_firstDelay;
    double m_interval;
    Action m_action;
    QPointer<AlertPresenter> m_alertPresenter;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_firingHeld = false;
    bool m_running = false;
};
