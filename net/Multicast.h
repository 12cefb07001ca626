// SPDX-License-Identifier: MIT
#pragma once

#include "net/SocketError.h"

#include <QHostAddress>
#include <QString>

// How a socket takes part in a group (a multicast address): the interface it joins and sends
// on, the hop limit of what it sends there and, for a source-specific join, the one sender it
// hears.
struct GroupOptions
{
    // One hop keeps a test stream on its own link unless the user asks for more, as Qt's
    // multicast example does.
    static constexpr int kDefaultHopLimit = 1;
    static constexpr int kMinHopLimit = 1;
    static constexpr int kMaxHopLimit = 255;

    // Empty: the interface the system's routes choose for the group.
    QString interfaceName;
    int hopLimit = kDefaultHopLimit;
    // Null: every sender (an any-source join).
    QHostAddress source;
};

// The socket calls behind a group and a broadcast. Joins are never left by hand: closing the
// socket leaves every group it joined.
namespace Multicast {

// The index of the named interface, 0 (the system's choice) for an empty name; a name that
// names no interface fails with ENODEV.
SocketResult interfaceIndex(const QString &name, unsigned &index);
// Joins the group on a socket of the group's family, from the options' source alone if one
// is given.
SocketResult join(int fd, const QHostAddress &group, const GroupOptions &options);
// What the socket sends to a group of the family leaves on the options' interface with their
// hop limit, and copies come back to members on this host, so that one machine can both send
// and receive a group. A dual-stack socket sends to an IPv4 group as well.
SocketResult prepareSend(int fd, QAbstractSocket::NetworkLayerProtocol family, bool dualStack,
    const GroupOptions &options);
// 255.255.255.255, or the broadcast address of one of this host's IPv4 networks.
bool isBroadcast(const QHostAddress &ipv4);

} // namespace Multicast
