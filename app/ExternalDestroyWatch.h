// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

class QWidget;

// Tells when another program destroys a top-level window's X window (`xdotool windowclose`,
// a crashing window manager): Qt sends no close event then, so the window would stay alive
// without anything on screen, still holding its socket.
class ExternalDestroyWatch : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit ExternalDestroyWatch(QWidget *window);
    ~ExternalDestroyWatch() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void destroyedFromOutside();

private:
    QWidget *const m_window;
};
