// SPDX-License-Identifier: MIT
#pragma once

#include "net/Arrival.h"

#include <QByteArrayView>

#include <memory>

// Reads the datagrams waiting on a socket, several in one system call (recvmmsg) or one call
// per datagram. Each datagram gets a buffer large enough for the largest UDP payload, so
// nothing is ever cut short, and room of its own for its sender's address and for what the
// socket was asked to tell of it (SO_TIMESTAMPNS, IP_PKTINFO, IPV6_RECVPKTINFO).
class DatagramBatch
{
public:
    // Datagrams read in one pass of the event loop, so that a flood leaves the timer, clicks
    // and repaints their turn.
    static constexpr int kCapacity = 32;
    static constexpr qsizetype kBufferSize = 65536;
    // Bytes read in one pass, roughly: the reader may dump every byte in hex, so 32 of the
    // largest datagrams would hold the loop for tens of milliseconds. After a batch of large
    // datagrams the next one reads fewer.
    static constexpr qsizetype kBytesPerPass = 256 * 1024;

    enum class Path {
        // recvmmsg; a kernel or sandbox that refuses it turns the batch to OneByOne for good.
        Batched,
        OneByOne,
    };

    explicit DatagramBatch(Path path = Path::Batched);
    ~DatagramBatch();
    DatagramBatch(const DatagramBatch &) = delete;
    DatagramBatch &operator=(const DatagramBatch &) = delete;

    // Reads up to limit() datagrams from a non-blocking socket. Returns how many were read,
    // 0 when none is waiting, or -1 with errno set when the read failed.
    int receive(int fd);
    // How many the next receive() reads at most: kCapacity, or as many datagrams of the last
    // batch's mean size as make kBytesPerPass.
    int limit() const { return m_limit; }
    QByteArrayView datagram(int index) const;
    const Arrival &arrival(int index) const;
    // The socket's bound address and port: each arrival's destination where the system says
    // no more.
    void setBoundAddress(const SocketAddress &bound) { m_bound = bound; }

private:
    int receiveBatched(int fd);
    int receiveOneByOne(int fd);
    void prepare();
    void describe(int count);
    void adaptLimit(int count);

    struct Headers;
    Path m_path;
    int m_limit = kCapacity;
    SocketAddress m_bound;
    std::unique_ptr<char[]> m_buffers;
    std::unique_ptr<Headers> m_headers;
};
