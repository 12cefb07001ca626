// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>

#include <memory>
#include <vector>

// Reads several waiting datagrams in one system call where the system offers one, one at a
// time otherwise. Each datagram gets a buffer large enough for the largest UDP payload, so
// nothing is ever cut short.
class DatagramBatch
{
public:
    static constexpr int kCapacity = 32;
    static constexpr qsizetype kBufferSize = 65536;

    // Asks for a receive buffer of the given size, so that bursts can wait for the event loop.
    // The system may grant less.
    static void raiseReceiveBuffer(int fd, int bytes);

    DatagramBatch();
    ~DatagramBatch();
    DatagramBatch(const DatagramBatch &) = delete;
    DatagramBatch &operator=(const DatagramBatch &) = delete;

    // Reads up to kCapacity datagrams from a non-blocking socket. Returns how many were read,
    // 0 when none is waiting, or -1 with errno set when the read failed.
    int receive(int fd);
    QByteArrayView datagram(int index) const;

private:
    // The portable way, one system call per datagram; also what recvmmsg falls back to.
    int receiveOneByOne(int fd);

    struct Headers;
    std::unique_ptr<char[]> m_buffers;
    std::vector<qsizetype> m_sizes;
    std::unique_ptr<Headers> m_headers;
};
