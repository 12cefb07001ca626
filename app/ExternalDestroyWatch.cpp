// SPDX-License-Identifier: MIT
#include "app/ExternalDestroyWatch.h"

#include <QCoreApplication>
#include <QWidget>

#include <xcb/xproto.h>

ExternalDestroyWatch::ExternalDestroyWatch(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

ExternalDestroyWatch::~ExternalDestroyWatch()
{
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool ExternalDestroyWatch::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    // The top bit only says the event was sent by a client.
    if ((event->response_type & 0x7f) != XCB_DESTROY_NOTIFY)
        return false;
    const auto *destroy = static_cast<const xcb_destroy_notify_event_t *>(message);
    // winId() would create a native window for a window that has none yet.
    if (m_window->testAttribute(Qt::WA_WState_Created) && destroy->window == m_window->winId())
        emit destroyedFromOutside();
    return false;
}
