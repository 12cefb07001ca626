// SPDX-License-Identifier: MIT
#include "DatagramBatch.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/uio.h>

struct DatagramBatch::Headers
{
    mmsghdr messages[kCapacity] {};
    iovec vectors[kCapacity] {};
    qsizetype sizes[kCapacity] {};
};

DatagramBatch::DatagramBatch(Path path)
    : m_path(path)
    , m_buffers(std::make_unique_for_overwrite<char[]>(kCapacity * kBufferSize))
    , m_headers(std::make_unique<Headers>())
{
    for (int i = 0; i < kCapacity; ++i) {
        m_headers->vectors[i].iov_base = m_buffers.get() + i * kBufferSize;
        m_headers->vectors[i].iov_len = kBufferSize;
        m_headers->messages[i].msg_hdr.msg_iov = &m_headers->vectors[i];
        m_headers->messages[i].msg_hdr.msg_iovlen = 1;
    }
}

DatagramBatch::~DatagramBatch() = default;

int DatagramBatch::receive(int fd)
{
    if (m_path == Path::Batched) {
        const int count = receiveBatched(fd);
        if (count >= 0 || errno != ENOSYS)
            return count;
        m_path = Path::OneByOne;
    }
    return receiveOneByOne(fd);
}

int DatagramBatch::receiveBatched(int fd)
{
    int count;
    do {
        count = ::recvmmsg(fd, m_headers->messages, kCapacity, MSG_DONTWAIT, nullptr);
    } while (count < 0 && errno == EINTR);
    if (count < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    for (int i = 0; i < count; ++i)
        m_headers->sizes[i] = m_headers->messages[i].msg_len;
    return count;
}

int DatagramBatch::receiveOneByOne(int fd)
{
    int count = 0;
    while (count < kCapacity) {
        const ssize_t size
            = ::recv(fd, m_buffers.get() + count * kBufferSize, size_t(kBufferSize), MSG_DONTWAIT);
        if (size < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return count > 0 ? count : -1;
        }
        m_headers->sizes[count++] = size;
    }
    return count;
}

QByteArrayView DatagramBatch::datagram(int index) const
{
    return QByteArrayView(m_buffers.get() + index * kBufferSize, m_headers->sizes[index]);
}
