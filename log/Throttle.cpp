// SPDX-License-Identifier: MIT
#include "log/Throttle.h"

#include <QAbstractEventDispatcher>

#include <algorithm>
#include <utility>

Throttle::Throttle(
    std::chrono::milliseconds interval, std::function<void()> action, QObject *parent)
    : QObject(parent)
    , m_interval(interval)
    , m_action(std::move(action))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Throttle::run);
    if (const QAbstractEventDispatcher *loop = QAbstractEventDispatcher::instance(thread()))
        connect(
            loop, &QAbstractEventDispatcher::awake, this, [this] { m_lookedThisWakeUp = false; });
}

void Throttle::request(std::chrono::milliseconds slack)
{
    if (m_timer.isActive() && m_lookedThisWakeUp)
        return;
    m_lookedThisWakeUp = true;
    const qint64 since = m_sinceRun.isValid() ? m_sinceRun.elapsed() : m_interval.count();
    if (since >= m_interval.count()) {
        // A zero timer still runs it in this wake-up, once, after whatever else is under way.
        if (!m_timer.isActive() || m_timer.remainingTime() > 0)
            m_timer.start(0);
    } else if (!m_timer.isActive()) {
        m_timer.start(int(m_interval.count() - since + std::max<qint64>(0, slack.count())));
    }
}

void Throttle::run()
{
    m_sinceRun.start();
    m_action();
}
