// SPDX-License-Identifier: MIT
#pragma once

#include "net/SocketError.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <memory>

// The answer to one lookup: the addresses, or the resolver's own error.
struct LookupAnswer
{
    QList<QHostAddress> addresses;
    // Meaningful only when addresses is empty.
    SocketError error;
};

// Looks a host name up without ever blocking the event loop.
class HostLookup : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts looking the host up. The answer arrives later through answered(), on the event
    // loop, never from inside this call. A new call abandons the one before.
    virtual void lookUp(const QString &host) = 0;

signals:
    void answered(const LookupAnswer &answer);
};

// The system's resolver (getaddrinfo), asked on a thread of its own.
std::unique_ptr<HostLookup> systemHostLookup();
