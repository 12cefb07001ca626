// SPDX-License-Identifier: MIT
#include "net/Arrival.h"

#include <QNetworkInterface>

#include <algorithm>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr std::array<quint8, 12> kMappedPrefix { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff };

} // namespace

SocketAddress SocketAddress::fromSystem(const sockaddr_storage &address)
{
    SocketAddress result;
    if (address.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
        result.setIPv6(in6.sin6_addr, in6.sin6_scope_id);
        result.port = ntohs(in6.sin6_port);
    } else if (address.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(address);
        result.setIPv4(in.sin_addr);
        result.port = ntohs(in.sin_port);
    }
    return result;
}

void SocketAddress::setIPv4(const in_addr &ipv4)
{
    std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), bytes.begin());
    std::memcpy(bytes.data() + kMappedPrefix.size(), &ipv4, sizeof ipv4);
    scopeId = 0;
}

void SocketAddress::setIPv6(const in6_addr &ipv6, quint32 interfaceIndex)
{
    std::memcpy(bytes.data(), &ipv6, sizeof ipv6);
    // The system names an interface for every address; only a link-local one needs it.
    const bool scoped = IN6_IS_ADDR_LINKLOCAL(&ipv6) || IN6_IS_ADDR_MC_LINKLOCAL(&ipv6);
    scopeId = scoped ? interfaceIndex : 0;
}

bool SocketAddress::isIPv4() const
{
    return std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes.begin());
}

QHostAddress SocketAddress::address() const
{
    if (isIPv4())
        return QHostAddress(quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16
            | quint32(bytes[14]) << 8 | bytes[15]);
    QHostAddress ipv6(bytes.data());
    if (scopeId != 0) {
        const QString name = QNetworkInterface::interfaceNameFromIndex(int(scopeId));
        ipv6.setScopeId(name.isEmpty() ? QString::number(scopeId) : name);
    }
    return ipv6;
}

size_t qHash(const SocketAddress &key, size_t seed) noexcept
{
    return qHashMulti(qHashBits(key.bytes.data(), key.bytes.size(), seed), key.scopeId, key.port);
}
