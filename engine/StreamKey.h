// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>

class QHostAddress;
class QString;

// Who sent a datagram: address, port and family, small enough to keep in every interval record
// and to hash on every datagram of a flood. Three keys that are not addresses name the record of
// what was sent, of what the echo sent back, and the total of the streams let go.
struct StreamKey
{
    enum class Family : quint8 { Sent, Others, IPv4, IPv6, Echoed };

    std::array<quint8, 16> address {}; // IPv4 in the first four bytes, network order
    quint16 port = 0;
    Family family = Family::Sent;

    static StreamKey ipv4(quint32 address, quint16 port); // address in host order
    static StreamKey ipv6(const std::array<quint8, 16> &address, quint16 port);
    // An IPv4-mapped IPv6 address gives the IPv4 key: one sender is one stream on either socket.
    static StreamKey from(const QHostAddress &address, quint16 port);
    static StreamKey others() { return { {}, 0, Family::Others }; }
    static StreamKey echoed() { return { {}, 0, Family::Echoed }; }

    bool isAddress() const { return family == Family::IPv4 || family == Family::IPv6; }
    QHostAddress hostAddress() const;
    // "192.0.2.1:20320", "[2001:db8::1]:20320", "sent", "others", "echoed".
    QString toString() const;

    friend bool operator==(const StreamKey &, const StreamKey &) = default;
};

struct StreamKeyHash
{
    std::size_t operator()(const StreamKey &key) const noexcept;
};
