// SPDX-License-Identifier: MIT
#include "engine/DatagramRecord.h"

#include <cstring>

namespace {

enum Flag : quint8 {
    kSent = 1 << 0,
    kRemoteIPv6 = 1 << 1,
    kRemoteScope = 1 << 2,
    kLocalInline = 1 << 3,
    kLocalIPv6 = 1 << 4,
    kLocalScope = 1 << 5,
};

constexpr qsizetype kHeaderSize = sizeof(quint16) + sizeof(quint8) + sizeof(qint64);
constexpr qsizetype kIPv4Size = 4;
constexpr qsizetype kIPv6Size = 16;
constexpr qsizetype kMappedPrefix = kIPv6Size - kIPv4Size;

qsizetype addressSize(const SocketAddress &address)
{
    return (address.isIPv4() ? kIPv4Size : kIPv6Size) + sizeof address.port
        + (address.scopeId != 0 ? sizeof address.scopeId : 0);
}

quint8 addressFlags(const SocketAddress &address, quint8 ipv6, quint8 scope)
{
    return quint8((address.isIPv4() ? 0 : ipv6) | (address.scopeId != 0 ? scope : 0));
}

template <typename T> char *put(char *out, const T &value)
{
    std::memcpy(out, &value, sizeof value);
    return out + sizeof value;
}

template <typename T> const char *take(const char *in, T &value)
{
    std::memcpy(&value, in, sizeof value);
    return in + sizeof value;
}

char *putAddress(char *out, const SocketAddress &address)
{
    const bool ipv4 = address.isIPv4();
    const qsizetype skip = ipv4 ? kMappedPrefix : 0;
    std::memcpy(out, address.bytes.data() + skip, size_t(kIPv6Size - skip));
    out += kIPv6Size - skip;
    out = put(out, address.port);
    return address.scopeId != 0 ? put(out, address.scopeId) : out;
}

const char *takeAddress(const char *in, bool ipv6, bool scoped, SocketAddress &address)
{
    address = SocketAddress();
    if (ipv6) {
        std::memcpy(address.bytes.data(), in, kIPv6Size);
        in += kIPv6Size;
    } else {
        address.bytes[10] = address.bytes[11] = 0xff;
        std::memcpy(address.bytes.data() + kMappedPrefix, in, kIPv4Size);
        in += kIPv4Size;
    }
    in = take(in, address.port);
    return scoped ? take(in, address.scopeId) : in;
}

} // namespace

namespace DatagramCoding {

qsizetype size(const DatagramRecord &record, int localIndex)
{
    return kHeaderSize + (localIndex == kInlineLocal ? addressSize(record.local) : 1)
        + addressSize(record.remote) + record.payload.size();
}

char *encode(char *out, const DatagramRecord &record, int localIndex)
{
    const bool inlineLocal = localIndex == kInlineLocal;
    const auto flags = quint8((record.direction == Direction::Send ? kSent : 0)
        | addressFlags(record.remote, kRemoteIPv6, kRemoteScope)
        | (inlineLocal ? kLocalInline | addressFlags(record.local, kLocalIPv6, kLocalScope) : 0));
    out = put(out, quint16(record.payload.size()));
    out = put(out, flags);
    out = put(out, record.wallNs);
    out = inlineLocal ? putAddress(out, record.local) : put(out, quint8(localIndex));
    out = putAddress(out, record.remote);
    std::memcpy(out, record.payload.data(), size_t(record.payload.size()));
    return out + record.payload.size();
}

DatagramRecord decode(const char *in, const SocketAddress *locals, qsizetype *size)
{
    const char *const start = in;
    DatagramRecord record;
    quint16 payloadSize = 0;
    quint8 flags = 0;
    in = take(in, payloadSize);
    in = take(in, flags);
    in = take(in, record.wallNs);
    record.direction = (flags & kSent) != 0 ? Direction::Send : Direction::Receive;
    if ((flags & kLocalInline) != 0) {
        in = takeAddress(in, (flags & kLocalIPv6) != 0, (flags & kLocalScope) != 0, record.local);
    } else {
        quint8 index = 0;
        in = take(in, index);
        record.local = locals[index];
    }
    in = takeAddress(in, (flags & kRemoteIPv6) != 0, (flags & kRemoteScope) != 0, record.remote);
    record.payload = QByteArrayView(in, payloadSize);
    if (size)
        *size = in + payloadSize - start;
    return record;
}

} // namespace DatagramCoding
