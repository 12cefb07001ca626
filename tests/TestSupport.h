// SPDX-License-Identifier: MIT
#pragma once

#include <QHostAddress>
#include <QUdpSocket>

// What the tests share: the tool's fixed ports, and whether the local one is free.
namespace TestSupport {

// The tool binds the first and sends to the second.
constexpr quint16 kLocalPort = 20320;
constexpr quint16 kPeerPort = 20319;

// Whether the next copy of the tool could bind the port on every address.
inline bool portIsFree(quint16 port = kLocalPort)
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::Any, port);
}

} // namespace TestSupport
