// SPDX-License-Identifier: MIT
#include "Timer.h"

#include <cmath>

namespace {

// Qt's timers count whole milliseconds; a tick woken this close to its time is on time.
constexpr std::chrono::microseconds kTolerance { 500 };

} // namespace

Timer::Timer(QObject *parent)
    : QObject(parent)
{
    // A coarse timer may be 5 % off.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Timer::onTimeout);
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
        m_timer.stop();
        m_scheduled = 0;
        return;
    }
    // A new interval starts a new countdown; the same one keeps the running schedule.
    if (m_scheduled != m_interval) {
        m_scheduled = m_interval;
        m_due = Clock::now() + std::chrono::milliseconds(m_interval);
        arm();
    }
}

void Timer::arm()
{
    const std::chrono::duration<double, std::milli> remaining = m_due - Clock::now();
    m_timer.start(std::max(0, int(std::lround(remaining.count()))));
}

void Timer::onTimeout()
{
    const Clock::time_point now = Clock::now();
    if (now + kTolerance < m_due) {
        arm();
        return;
    }
    const auto period = std::chrono::milliseconds(m_scheduled);
    m_due += period;
    if (now - m_due >= period)
        m_due += (now - m_due) / period * period;
    // Armed before the tick goes out, so that a handler that stops the timer has the last word.
    arm();
    emit tick();
}
