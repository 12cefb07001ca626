// SPDX-License-Identifier: MIT
#include "DatagramBatch.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/uio.h>

#if defined(__linux__)
#define QUILLON_HAVE_RECVMMSG 1
#endif

struct DatagramBatch::Headers
{
#if QUILLON_HAVE_RECVMMSG
    mmsghdr messages[kCapacity] {};
    iovec vectors[kCapacity] {};
#endif
};

void DatagramBatch::raiseReceiveBuffer(int fd, int bytes)
{
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
#if defined(SO_RCVBUFFORCE)
    // Past the system's ceiling for ordinary programs, where the user may go there.
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
#endif
}

DatagramBatch::DatagramBatch()
    : m_buffers(std::make_unique_for_overwrite<char[]>(kCapacity * kBufferSize))
    , m_sizes(kCapacity, 0)
    , m_headers(std::make_unique<Headers>())
{
#if QUILLON_HAVE_RECVMMSG
    for (int i = 0; i < kCapacity; ++i) {
        m_headers->vectors[i].iov_base = m_buffers.get() + i * kBufferSize;
        m_headers->vectors[i].iov_len = kBufferSize;
        m_headers->messages[i].msg_hdr.msg_iov = &m_headers->vectors[i];
        m_headers->messages[i].msg_hdr.msg_iovlen = 1;
    }
#endif
}

DatagramBatch::~DatagramBatch() = default;

int DatagramBatch::receive(int fd)
{
#if QUILLON_HAVE_RECVMMSG
    int count;
    do {
        count = recvmmsg(fd, m_headers->messages, kCapacity, MSG_DONTWAIT, nullptr);
    } while (count < 0 && errno == EINTR);
    if (count >= 0) {
        for (int i = 0; i < count; ++i)
            m_sizes[i] = qsizetype(m_headers->messages[i].msg_len);
        return count;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    // A kernel or sandbox without the call still has plain recv.
    if (errno != ENOSYS)
        return -1;
#endif
    return receiveOneByOne(fd);
}

int DatagramBatch::receiveOneByOne(int fd)
{
    int count = 0;
    while (count < kCapacity) {
        const ssize_t size
            = recv(fd, m_buffers.get() + count * kBufferSize, size_t(kBufferSize), MSG_DONTWAIT);
        if (size < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return count > 0 ? count : -1;
        }
        m_sizes[count++] = qsizetype(size);
    }
    return count;
}

QByteArrayView DatagramBatch::datagram(int index) const
{
    return QByteArrayView(m_buffers.get() + index * kBufferSize, m_sizes[index]);
}
