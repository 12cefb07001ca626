// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// Runs an action at most once an interval however often it is asked for, and never wakes the
// program for it when a later request would do. A request an interval or more after the last
// run runs it in the same wake-up; a sooner one waits for the next such request, with a timer
// due `slack` after the interval's end for the last request of a burst. With a slack a little
// longer than the gap between requests, a steady stream of them runs the action from their
// own wake-ups and the timer never fires.
class Throttle : public QObject
{
    Q_OBJECT

public:
    Throttle(std::chrono::milliseconds interval, std::function<void()> action,
        QObject *parent = nullptr);

    void request(std::chrono::milliseconds slack);
    // Forgets any request waiting; the next one runs at once if the interval has passed.
    void cancel() { m_timer.stop(); }

private:
    void run();

    const std::chrono::milliseconds m_interval;
    const std::function<void()> m_action;
    QTimer m_timer;
    QElapsedTimer m_sinceRun;
    // A flood asks many times a wake-up, while time barely moves: the clock is read once.
    bool m_lookedThisWakeUp = false;
};
