// SPDX-License-Identifier: MIT
#include "engine/StreamKey.h"

#include <QHostAddress>
#include <QString>

#include <cstring>

StreamKey StreamKey::ipv4(quint32 address, quint16 port)
{
    StreamKey key { {}, port, Family::IPv4 };
    for (int i = 0; i < 4; ++i)
        key.address[size_t(i)] = quint8(address >> (24 - 8 * i));
    return key;
}

StreamKey StreamKey::ipv6(const std::array<quint8, 16> &address, quint16 port)
{
    return { address, port, Family::IPv6 };
}

StreamKey StreamKey::from(const QHostAddress &address, quint16 port)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        return ipv4(v4, port);
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    std::array<quint8, 16> bytes;
    std::memcpy(bytes.data(), v6.c, bytes.size());
    return ipv6(bytes, port);
}

QHostAddress StreamKey::hostAddress() const
{
    switch (family) {
    case Family::IPv4:
        return QHostAddress(quint32(address[0]) << 24 | quint32(address[1]) << 16
            | quint32(address[2]) << 8 | address[3]);
    case Family::IPv6:
        return QHostAddress(address.data());
    case Family::Sent:
    case Family::Others:
    case Family::Echoed:
        break;
    }
    return {};
}

QString StreamKey::toString() const
{
    switch (family) {
    case Family::IPv4:
        return QStringLiteral("%1:%2").arg(hostAddress().toString()).arg(port);
    case Family::IPv6:
        return QStringLiteral("[%1]:%2").arg(hostAddress().toString()).arg(port);
    case Family::Sent:
        return QStringLiteral("sent");
    case Family::Others:
        return QStringLiteral("others");
    case Family::Echoed:
        return QStringLiteral("echoed");
    }
    return {};
}

std::size_t StreamKeyHash::operator()(const StreamKey &key) const noexcept
{
    quint64 words[2];
    std::memcpy(words, key.address.data(), sizeof words);
    // Multiply and fold (as in wyhash and its kin): every byte of the address reaches every
    // bit of the result at a few cycles a datagram.
    quint64 h = (words[0] ^ 0x9E3779B97F4A7C15ull) * 0xBF58476D1CE4E5B9ull;
    h ^= (words[1] ^ (quint64(key.port) << 8 | quint64(key.family))) * 0x94D049BB133111EBull;
    h ^= h >> 31;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return std::size_t(h);
}
