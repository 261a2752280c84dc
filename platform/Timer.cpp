#include "platform/Timer.h"

#include "platform/Logging.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

// The shortest interval (0.1 ms); it also keeps an interval of 0 from
// turning the timerfd into a one-shot timer.
constexpr double shortestInterval = 0.0001;
// About 31 years: far beyond any schedule, and safe to convert to seconds.
constexpr double longestSpan = 1e9;

timespec toTimespec(double seconds)
{
    const double whole = std::floor(seconds);
    timespec span {};
    span.tv_sec = static_cast<time_t>(whole);
    span.tv_nsec = static_cast<long>(std::llround((seconds - whole) * 1e9));
    if (span.tv_nsec >= 1000000000L) {
        span.tv_sec += 1;
        span.tv_nsec -= 1000000000L;
    }
    // An all-zero value would disarm the timer instead of firing it now.
    if (span.tv_sec == 0 && span.tv_nsec == 0)
        span.tv_nsec = 1;
    return span;
}

double clamped(double seconds, double shortest)
{
    if (!(seconds > shortest)) // also NaN
        return shortest;
    return std::min(seconds, longestSpan);
}

} // namespace

std::unique_ptr<Timer> Timer::scheduledTimer(double firstDelay, double interval, Action action)
{
    return std::unique_ptr<Timer>(new Timer(firstDelay, interval, std::move(action)));
}

Timer::Timer(double firstDelay, double interval, Action action)
    : m_firstDelay(firstDelay)
    , m_interval(clamped(interval, shortestInterval))
    , m_action(std::move(action))
{
    // CLOCK_BOOTTIME goes on while the machine sleeps; the monotonic clock of
    // QTimer does not.
    m_fd = timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0) {
        qCWarning(lcTimer, "no timerfd on CLOCK_BOOTTIME (%s)", strerror(errno));
        return;
    }
    itimerspec schedule {};
    schedule.it_value = toTimespec(clamped(firstDelay, 0));
    schedule.it_interval = toTimespec(m_interval);
    timerfd_settime(m_fd, 0, &schedule, nullptr);

    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &Timer::onExpired);
}

Timer::~Timer()
{
    invalidate();
}

void Timer::fire()
{
    if (isValid())
        runAction();
}

void Timer::invalidate()
{
    if (m_fd < 0)
        return;
    m_notifier.reset();
    ::close(m_fd);
    m_fd = -1;
    m_firingHeld = false;
}

QDateTime Timer::fireDate() const
{
    itimerspec schedule {};
    if (!isValid() || timerfd_gettime(m_fd, &schedule) != 0)
        return {};
    const qint64 remaining
        = qint64(schedule.it_value.tv_sec) * 1000 + schedule.it_value.tv_nsec / 1000000;
    return QDateTime::currentDateTime().addMSecs(remaining);
}

void Timer::onExpired()
{
    // The count of expirations since the last read: any number of missed
    // firings is one firing now.
    std::uint64_t expirations = 0;
    if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations || expirations == 0)
        return;
    if (mustHoldFiring()) {
        m_firingHeld = true;
        return;
    }
    runAction();
}

bool Timer::mustHoldFiring() const
{
    return m_running || m_firingsHeld;
}

void Timer::setFiringsHeld(bool held)
{
    m_firingsHeld = held;
    // Queued: the held firing runs when control is back in the event loop,
    // after the code that released it has finished.
    if (!held)
        QMetaObject::invokeMethod(this, &Timer::runHeldFiring, Qt::QueuedConnection);
}

void Timer::runHeldFiring()
{
    if (!m_firingHeld || !isValid() || mustHoldFiring())
        return;
    m_firingHeld = false;
    runAction();
}

void Timer::runAction()
{
    // The action may invalidate or even destroy this timer.
    QPointer<Timer> self(this);
    const Action action = m_action;
    m_running = true;
    if (action)
        action();
    if (!self)
        return;
    m_running = false;
    runHeldFiring();
}
