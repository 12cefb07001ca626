// SPDX-License-Identifier: MIT
#pragma once

#include "log/StatusLine.h"
#include "net/Arrival.h"

#include <QByteArrayView>

// One datagram sent or received, as the datagram list and a capture keep it.
struct DatagramRecord
{
    // Counts every datagram recorded, from 0.
    qint64 number = 0;
    // Nanoseconds since the epoch: when it was handed to the system, or when the system got it.
    qint64 wallNs = 0;
    Direction direction = Direction::Receive;
    // This end and the other: for a send, from and to; for an arrival, to and from.
    SocketAddress local;
    SocketAddress remote;
    QByteArrayView payload;
};

// The packed form of a record: a few bytes of header, each address as 4 bytes for IPv4 or 16
// for IPv6 (and its interface only when it has one), then the payload. The local address may
// instead be a one-byte index into a table of the addresses seen, which the reader keeps.
namespace DatagramCoding {

// The local address is written out in full.
inline constexpr int kInlineLocal = -1;
inline constexpr int kLargestLocalIndex = 254;
// The largest payload a record holds: a UDP datagram's.
inline constexpr qsizetype kLargestPayload = 65535;
// Of a record with an IPv4 remote, an indexed local address and no payload.
inline constexpr qsizetype kSmallestSize = 18;

qsizetype size(const DatagramRecord &record, int localIndex);
// Writes size(record, localIndex) bytes; the number is not kept. Returns the end.
char *encode(char *out, const DatagramRecord &record, int localIndex);
// The record at `in`, its local address from `locals` when it has an index; its payload
// points into `in`. `size` receives the record's packed size.
DatagramRecord decode(const char *in, const SocketAddress *locals, qsizetype *size = nullptr);

} // namespace DatagramCoding
