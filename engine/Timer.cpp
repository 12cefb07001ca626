// SPDX-License-Identifier: MIT
#include "engine/Timer.h"

#include <QSocketNotifier>

#include <cmath>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

// Qt's timers count whole milliseconds; a tick woken this close to its time is on time.
constexpr std::chrono::microseconds kTolerance { 500 };

} // namespace

Timer::Timer(QObject *parent)
    : Timer(WakeUp::Descriptor, parent)
{ }

Timer::Timer(WakeUp wakeUp, QObject *parent)
    : QObject(parent)
    // steady_clock reads CLOCK_MONOTONIC here, so the descriptor and m_due share one clock.
    , m_descriptor(wakeUp == WakeUp::Descriptor
              ? ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)
              : -1)
{
    // A coarse timer may be 5 % off.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Timer::onTimeout);
    if (m_descriptor.isOpen()) {
        connect(m_descriptor.notifyReads(this), &QSocketNotifier::activated, this,
            &Timer::onDescriptor);
    }
}

void Timer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    apply();
}

void Timer::setInterval(int milliseconds)
{
    m_interval = milliseconds > 0 ? milliseconds : 0;
    apply();
}

void Timer::apply()
{
    if (!m_enabled || m_interval == 0) {
        disarm();
        m_scheduled = 0;
        return;
    }
    if (m_scheduled == m_interval)
        return;
    const Clock::time_point now = Clock::now();
    const auto period = std::chrono::milliseconds(m_interval);
    if (m_scheduled == 0) {
        // Enabled, or back from an interval of 0, which stops it as disabling does: a whole
        // period from now, not a tick at once for a stop that may have been long.
        m_due = now + period;
    } else {
        // A slider being moved changes the interval many times a period; a new countdown each
        // time would send nothing until it stops. The next tick is due one new period after
        // the last one was due (or after the start), at once if that has passed.
        m_due = std::max(now, m_due - std::chrono::milliseconds(m_scheduled) + period);
    }
    m_scheduled = m_interval;
    arm();
}

void Timer::arm()
{
    if (armDescriptor())
        return;
    const std::chrono::duration<double, std::milli> remaining = m_due - Clock::now();
    m_timer.start(std::max(0, int(std::lround(remaining.count()))));
}

bool Timer::armDescriptor()
{
    if (!m_descriptor.isOpen())
        return false;
    const auto since
        = std::chrono::duration_cast<std::chrono::nanoseconds>(m_due.time_since_epoch());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    itimerspec deadline {};
    deadline.it_value.tv_sec = seconds.count();
    deadline.it_value.tv_nsec = (since - seconds).count();
    // A deadline of zero would disarm it; the monotonic clock is never there.
    if (::timerfd_settime(m_descriptor.fd(), TFD_TIMER_ABSTIME, &deadline, nullptr) == 0)
        return true;
    // A descriptor that cannot be set is given up for good; the QTimer takes over.
    m_descriptor.close();
    return false;
}

void Timer::disarm()
{
    m_timer.stop();
    const itimerspec none {};
    // One that cannot be disarmed would wake the loop for nothing; the QTimer takes over.
    if (m_descriptor.isOpen() && ::timerfd_settime(m_descriptor.fd(), 0, &none, nullptr) != 0)
        m_descriptor.close();
}

void Timer::onDescriptor()
{
    quint64 expirations = 0;
    // Nothing to read means it was disarmed or re-armed since it became readable.
    if (::read(m_descriptor.fd(), &expirations, sizeof expirations) == ssize_t(sizeof expirations))
        onTimeout();
}

void Timer::onTimeout()
{
    const Clock::time_point now = Clock::now();
    if (now + kTolerance < m_due) {
        arm();
        return;
    }
    const Clock::duration period = std::chrono::milliseconds(m_scheduled);
    const Clock::duration late = now - m_due;
    if (late > kCatchUpLimit) {
        // Skip to the oldest tick within the limit, or to the last one due if none is.
        const auto dropped = std::min(
            (late - kCatchUpLimit + period - Clock::duration(1)) / period, late / period);
        m_due += dropped * period;
    }
    m_due += period;
    // Armed before the tick goes out, so that a handler that stops the timer has the last word.
    // A next tick already due wakes the loop at once, on its next pass.
    arm();
    emit tick();
}
