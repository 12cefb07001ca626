// SPDX-License-Identifier: MIT
#include "net/DatagramBatch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace {

// One stamp and one destination address of either family.
constexpr size_t kControlBytes = CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(in6_pktinfo))
    + CMSG_SPACE(sizeof(in_pktinfo));

template <typename Value> Value valueOf(const cmsghdr *message)
{
    Value value;
    std::memcpy(&value, CMSG_DATA(message), sizeof value);
    return value;
}

qint64 nanosecondsOf(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

qint64 nanosecondsOn(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return nanosecondsOf(now);
}

} // namespace

struct DatagramBatch::Headers
{
    mmsghdr messages[kCapacity] {};
    iovec vectors[kCapacity] {};
    sockaddr_storage names[kCapacity] {};
    alignas(cmsghdr) char controls[kCapacity][kControlBytes] {};
    qsizetype sizes[kCapacity] {};
    Arrival arrivals[kCapacity] {};
};

DatagramBatch::DatagramBatch(Path path)
    : m_path(path)
    , m_buffers(std::make_unique_for_overwrite<char[]>(kCapacity * kBufferSize))
    , m_headers(std::make_unique<Headers>())
{
    for (int i = 0; i < kCapacity; ++i) {
        m_headers->vectors[i].iov_base = m_buffers.get() + i * kBufferSize;
        m_headers->vectors[i].iov_len = kBufferSize;
        msghdr &header = m_headers->messages[i].msg_hdr;
        header.msg_iov = &m_headers->vectors[i];
        header.msg_iovlen = 1;
        header.msg_name = &m_headers->names[i];
        header.msg_control = m_headers->controls[i];
    }
}

DatagramBatch::~DatagramBatch() = default;

int DatagramBatch::receive(int fd)
{
    prepare();
    int count = -1;
    if (m_path == Path::Batched) {
        count = receiveBatched(fd);
        if (count < 0 && errno == ENOSYS)
            m_path = Path::OneByOne;
    }
    if (m_path == Path::OneByOne)
        count = receiveOneByOne(fd);
    if (count > 0) {
        describe(count);
        adaptLimit(count);
    }
    return count;
}

void DatagramBatch::prepare()
{
    // The system writes back how much of each room it used.
    for (int i = 0; i < m_limit; ++i) {
        msghdr &header = m_headers->messages[i].msg_hdr;
        header.msg_namelen = sizeof m_headers->names[i];
        header.msg_controllen = kControlBytes;
        header.msg_flags = 0;
    }
}

void DatagramBatch::describe(int count)
{
    // The system stamps on CLOCK_REALTIME, which the user or NTP may step; the stamps are wanted
    // on CLOCK_MONOTONIC, which nothing steps. The offset between the clocks is taken once per
    // batch, the wall clock read between two monotonic reads so that it is off by at most half
    // their gap. A step of the wall clock between a datagram's receipt and this read shifts
    // that datagram's stamp by the step.
    const qint64 monotonicBefore = nanosecondsOn(CLOCK_MONOTONIC);
    const qint64 realtime = nanosecondsOn(CLOCK_REALTIME);
    const qint64 monotonicAfter = nanosecondsOn(CLOCK_MONOTONIC);
    const qint64 offset = monotonicBefore + (monotonicAfter - monotonicBefore) / 2 - realtime;
    const MonotonicTime readAt { std::chrono::nanoseconds(monotonicAfter) };

    for (int i = 0; i < count; ++i) {
        Arrival &arrival = m_headers->arrivals[i];
        msghdr &header = m_headers->messages[i].msg_hdr;
        arrival.source = SocketAddress::fromSystem(m_headers->names[i]);
        arrival.destination = m_bound;
        arrival.receivedAt = readAt;
        for (cmsghdr *message = CMSG_FIRSTHDR(&header); message != nullptr;
             message = CMSG_NXTHDR(&header, message)) {
            if (message->cmsg_level == SOL_SOCKET && message->cmsg_type == SCM_TIMESTAMPNS) {
                const qint64 stamp = nanosecondsOf(valueOf<timespec>(message)) + offset;
                arrival.receivedAt = MonotonicTime(std::chrono::nanoseconds(stamp));
            } else if (message->cmsg_level == IPPROTO_IP && message->cmsg_type == IP_PKTINFO) {
                arrival.destination.setIPv4(valueOf<in_pktinfo>(message).ipi_addr);
            } else if (message->cmsg_level == IPPROTO_IPV6 && message->cmsg_type == IPV6_PKTINFO) {
                const auto info = valueOf<in6_pktinfo>(message);
                arrival.destination.setIPv6(info.ipi6_addr, info.ipi6_ifindex);
            }
        }
    }
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
        const ssize_t size = ::recvmsg(fd, &m_headers->messages[count].msg_hdr, MSG_DONTWAIT);
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

const Arrival &DatagramBatch::arrival(int index) const
{
    return m_headers->arrivals[index];
}
