// SPDX-License-Identifier: MIT
#include "net/Multicast.h"

#include <QNetworkInterface>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Multicast {
namespace {

constexpr quint32 kLimitedBroadcast = 0xffffffff;

// The address as a sockaddr of its own family, for the join requests.
sockaddr_storage storageOf(const QHostAddress &address)
{
    sockaddr_storage storage {};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *const in = reinterpret_cast<sockaddr_in *>(&storage);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
    } else {
        auto *const in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
    }
    return storage;
}

template <typename Value> bool setOption(int fd, int level, int name, const Value &value)
{
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

} // namespace

SocketResult interfaceIndex(const QString &name, unsigned &index)
{
    index = 0;
    if (name.isEmpty())
        return {};
    index = ::if_nametoindex(name.toLocal8Bit().constData());
    if (index == 0)
        return SocketError::fromErrno(ENODEV);
    return {};
}

SocketResult join(int fd, const QHostAddress &group, const GroupOptions &options)
{
    unsigned interface = 0;
    if (const SocketResult found = interfaceIndex(options.interfaceName, interface); !found)
        return found;
    // The protocol-independent requests serve both families, and the interface is given by
    // its index, which an IPv4 interface without an address of its own still has.
    const int level = group.protocol() == QAbstractSocket::IPv4Protocol ? IPPROTO_IP : IPPROTO_IPV6;
    bool joined = false;
    if (options.source.isNull()) {
        group_req request {};
        request.gr_interface = interface;
        request.gr_group = storageOf(group);
        joined = setOption(fd, level, MCAST_JOIN_GROUP, request);
    } else {
        group_source_req request {};
        request.gsr_interface = interface;
        request.gsr_group = storageOf(group);
        request.gsr_source = storageOf(options.source);
        joined = setOption(fd, level, MCAST_JOIN_SOURCE_GROUP, request);
    }
    return joined ? SocketResult() : SocketError::fromErrno(errno);
}

SocketResult prepareSend(int fd, QAbstractSocket::NetworkLayerProtocol family, bool dualStack,
    const GroupOptions &options)
{
    unsigned interface = 0;
    if (const SocketResult found = interfaceIndex(options.interfaceName, interface); !found)
        return found;
    const int on = 1;
    bool prepared = false;
    if (family == QAbstractSocket::IPv4Protocol) {
        // A dual-stack socket takes the IPv4 options for what it sends to mapped addresses,
        // except the loop: Linux asks the socket's own family for that one.
        ip_mreqn outgoing {};
        outgoing.imr_ifindex = int(interface);
        prepared = setOption(fd, IPPROTO_IP, IP_MULTICAST_TTL, options.hopLimit)
            && setOption(fd, IPPROTO_IP, IP_MULTICAST_LOOP, on)
            && (!dualStack || setOption(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, on))
            && (interface == 0 || setOption(fd, IPPROTO_IP, IP_MULTICAST_IF, outgoing));
    } else {
        prepared = setOption(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, options.hopLimit)
            && setOption(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, on)
            && (interface == 0 || setOption(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, int(interface)));
    }
    return prepared ? SocketResult() : SocketError::fromErrno(errno);
}

bool isBroadcast(const QHostAddress &ipv4)
{
    if (ipv4.toIPv4Address() == kLimitedBroadcast)
        return true;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.broadcast() == ipv4)
                return true;
        }
    }
    return false;
}

} // namespace Multicast
