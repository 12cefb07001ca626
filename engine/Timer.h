// SPDX-License-Identifier: MIT
#pragma once

#include "net/NotifiedDescriptor.h"

#include <QObject>
#include <QTimer>

#include <chrono>

// A periodic timer as the window uses it: an enabled flag and an interval, set in either order
// at any time. An interval of 0 means no ticks at all (a QTimer would fire on every pass of the
// event loop instead).
//
// Each tick is due one interval after the previous one was due, whenever it was handled, so the
// mean period stays the interval even at 1 ms, where Qt's millisecond timers alone drift by
// about a tenth. Ticks missed while the loop was held up go out late, one a pass of the event
// loop so that it keeps handling everything else, until the schedule is met again; those due
// longer than kCatchUpLimit ago are dropped instead. A new interval keeps the stream: the next
// tick is due one new interval after the last.
//
// The event loop is woken by a timer descriptor at the deadline to the microsecond, or by a
// QTimer, which only counts whole milliseconds, so single periods are then off by up to a
// millisecond either way.
class Timer : public QObject
{
    Q_OBJECT

public:
    enum class WakeUp {
        // The QTimer takes over where no descriptor can be had (out of descriptors, say).
        Descriptor,
        QtTimer,
    };

    // A busy machine holds the loop up for a few to a few tens of milliseconds; making that up
    // keeps 1,000 ticks a second at 1 ms. A longer hold-up (a suspended machine, a debugger, a
    // swapping one) leaves a gap instead of a flood: at 1 ms at most 50 ticks go out back to
    // back, 50 small datagrams that a default receive buffer holds many times over, and from a
    // 50 ms interval up just the one tick that is due.
    static constexpr std::chrono::milliseconds kCatchUpLimit { 50 };

    explicit Timer(QObject *parent = nullptr);
    explicit Timer(WakeUp wakeUp, QObject *parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    void setInterval(int milliseconds);
    bool isTicking() const { return m_scheduled != 0; }

signals:
    void tick();

private:
    using Clock = std::chrono::steady_clock;

    void apply();
    void arm();
    void disarm();
    void onTimeout();
    bool armDescriptor();
    void onDescriptor();

    QTimer m_timer;
    // Closed when it fails, and the QTimer takes over.
    NotifiedDescriptor m_descriptor;
    bool m_enabled = false;
    int m_interval = 0;
    // The interval of the running schedule, 0 when stopped.
    int m_scheduled = 0;
    Clock::time_point m_due;
};
