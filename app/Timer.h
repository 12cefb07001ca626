// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QTimer>

// A periodic timer as the window uses it: an enabled flag and an interval, set in either order
// at any time. An interval of 0 means no ticks at all (a QTimer would fire on every pass of the
// event loop instead).
class Timer : public QObject
{
    Q_OBJECT

public:
    explicit Timer(QObject *parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    void setInterval(int milliseconds);
    bool isTicking() const { return m_timer.isActive(); }

signals:
    void tick();

private:
    void apply();

    QTimer m_timer;
    bool m_enabled = false;
    int m_interval = 0;
};
