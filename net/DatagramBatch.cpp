// SPDX-License-Identifier: MIT
#include "net/DatagramBatch.h"

#include <algorithm>
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
    int count = -1;
    if (m_path == Path::Batched) {
        count = receiveBatched(fd);
        if (count < 0 && errno == ENOSYS)
            m_path = Path::OneByOne;
    }
    if (m_path == Path::OneByOne)
        count = receiveOneByOne(fd);
    if (count > 0)
        adaptLimit(count);
    return count;
}

void DatagramBatch::adaptLimit(int count)
{
    qsizetype bytes = 0;
    for (int i = 0; i < count; ++i)
        bytes += m_headers->sizes[i];
    const qsizetype mean = std::max<qsizetype>(1, bytes / count);
    m_limit = int(std::clamp<qsizetype>(kBytesPerPass / mean, 1, kCapacity));
}

int DatagramBatch::receiveBatched(int fd)
{
    int count;
    do {
        count = ::recvmmsg(fd, m_headers->messages, unsigned(m_limit), MSG_DONTWAIT, nullptr);
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
    while (count < m_limit) {
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
