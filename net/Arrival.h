// SPDX-License-Identifier: MIT
#pragma once

#include <QHashFunctions>
#include <QHostAddress>

#include <array>
#include <chrono>
#include <type_traits>

struct in_addr;
struct in6_addr;
struct sockaddr_storage;

// A time on CLOCK_MONOTONIC, in nanoseconds: libstdc++'s steady_clock reads that clock, so
// steady_clock::now() is the time to compare arrival and send stamps with.
using MonotonicTime = std::chrono::steady_clock::time_point;
static_assert(std::is_same_v<MonotonicTime::duration, std::chrono::nanoseconds>);

// An IP address and port as the system gives them, kept as plain bytes so that telling senders
// apart costs a 16-byte compare and no allocation. IPv4 is kept in its mapped IPv6 form
// (::ffff:a.b.c.d), so that one sender compares equal whichever socket family heard it.
struct SocketAddress
{
    std::array<quint8, 16> bytes {}; // network order
    // The interface of a link-local IPv6 address, else 0.
    quint32 scopeId = 0;
    quint16 port = 0;

    // From the system's forms; a family other than IPv4 and IPv6 gives all zeros.
    static SocketAddress fromSystem(const sockaddr_storage &address);
    void setIPv4(const in_addr &ipv4);
    void setIPv6(const in6_addr &ipv6, quint32 interfaceIndex);

    bool isIPv4() const;
    // Built on each call: IPv4 as plain IPv4, link-local IPv6 with its interface's name.
    QHostAddress address() const;

    friend bool operator==(const SocketAddress &, const SocketAddress &) = default;
};

size_t qHash(const SocketAddress &key, size_t seed = 0) noexcept;

// What the system says of one received datagram.
struct Arrival
{
    SocketAddress source;
    // The local address the datagram was sent to, exact under a wildcard bind, and the bound
    // port. Where the system gives no such address, the bound one (possibly :: or 0.0.0.0).
    SocketAddress destination;
    // The system's receive stamp; where none came, the time its batch was read.
    MonotonicTime receivedAt;
};
