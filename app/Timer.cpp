// SPDX-License-Identifier: MIT
#include "Timer.h"

Timer::Timer(QObject *parent)
    : QObject(parent)
{
    // A coarse timer may be 5 % off; a precise one schedules each tick from the previous
    // deadline, so periods do not drift.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Timer::tick);
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
        return;
    }
    // A new interval starts a new countdown; the same one keeps the running schedule.
    if (!m_timer.isActive() || m_timer.interval() != m_interval)
        m_timer.start(m_interval);
}
