// SPDX-License-Identifier: MIT
#include "engine/DatagramTap.h"

#include "engine/DatagramRing.h"
#include "engine/EngineCaptions.h"
#include "engine/PcapFile.h"
#include "log/FileLog.h"
#include "net/UdpEndpoint.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr qint64 kNanosecondsPerSecond = 1'000'000'000;
constexpr qint64 kClockCheckNs = 100'000'000;

qint64 clockNs(clockid_t clock)
{
    timespec now {};
    ::clock_gettime(clock, &now);
    return qint64(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

qint64 nanoseconds(MonotonicTime time)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

SocketAddress fromHostAddress(const QHostAddress &address, quint16 port)
{
    sockaddr_storage storage {};
    bool ok = false;
    const quint32 ipv4 = address.toIPv4Address(&ok);
    if (ok) {
        auto &in = reinterpret_cast<sockaddr_in &>(storage);
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(ipv4);
        in.sin_port = htons(port);
    } else {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(storage);
        in6.sin6_family = AF_INET6;
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6.sin6_addr, &bytes, sizeof bytes);
        in6.sin6_port = htons(port);
    }
    return SocketAddress::fromSystem(storage);
}

// The source address the system picks for the peer: a socket connected to it, which sends
// nothing, says. All zeros where it cannot tell.
SocketAddress routeSource(const SocketAddress &peer)
{
    sockaddr_storage to {};
    socklen_t toSize = 0;
    if (peer.isIPv4()) {
        auto &in = reinterpret_cast<sockaddr_in &>(to);
        in.sin_family = AF_INET;
        std::memcpy(&in.sin_addr, peer.bytes.data() + 12, 4);
        in.sin_port = htons(peer.port);
        toSize = sizeof in;
    } else {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(to);
        in6.sin6_family = AF_INET6;
        std::memcpy(&in6.sin6_addr, peer.bytes.data(), 16);
        in6.sin6_port = htons(peer.port);
        in6.sin6_scope_id = peer.scopeId;
        toSize = sizeof in6;
    }
    SocketAddress source;
    const int fd = ::socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return source;
    sockaddr_storage from {};
    socklen_t fromSize = sizeof from;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), toSize) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&from), &fromSize) == 0)
        source = SocketAddress::fromSystem(from);
    ::close(fd);
    return source;
}

} // namespace

DatagramTap::DatagramTap(const UdpEndpoint &endpoint, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_endpoint(endpoint)
    , m_settings(settings)
{
    if (m_settings.captureFile.isEmpty())
        return;
    auto *const file = new FileLog(
        m_settings.captureFile, this, FileLog::kBacklogLimit, PcapFile::captureEncoder());
    m_capture = file;
    connect(file, &FileLog::failed, this, [this, file](const QString &name, const QString &reason) {
        // The run goes on without the file; the front end says so once.
        if (m_capture == file)
            m_capture = nullptr;
        file->deleteLater();
        emit captureStopped(
            QString::fromUtf8(EngineCaptions::kFileLogStopped)
                .arg(QString::fromUtf8(EngineCaptions::kCaptureName), name, reason));
    });
}

DatagramTap::~DatagramTap() = default;

void DatagramTap::closeCapture()
{
    delete m_capture;
    m_capture = nullptr;
}

void DatagramTap::sent(QByteArrayView payload, MonotonicTime at)
{
    if (m_ring == nullptr && m_capture == nullptr)
        return;
    DatagramRecord sent;
    sent.wallNs = wallNs(at);
    sent.direction = Direction::Send;
    sent.local = sendSource();
    sent.remote = m_endpoint.peer();
    sent.payload = payload;
    record(sent);
}

void DatagramTap::received(QByteArrayView payload, const Arrival &arrival)
{
    if (m_ring == nullptr && m_capture == nullptr)
        return;
    DatagramRecord received;
    received.wallNs = wallNs(arrival.receivedAt);
    received.direction = Direction::Receive;
    received.local = arrival.destination;
    received.remote = arrival.source;
    received.payload = payload;
    record(received);
}

void DatagramTap::record(const DatagramRecord &record)
{
    if (m_ring != nullptr)
        m_ring->append(record);
    if (m_capture != nullptr) {
        const qsizetype size = DatagramCoding::size(record, DatagramCoding::kInlineLocal);
        if (qsizetype(m_packed.size()) < size)
            m_packed.resize(size_t(size));
        DatagramCoding::encode(m_packed.data(), record, DatagramCoding::kInlineLocal);
        m_capture->write(QByteArrayView(m_packed.data(), size));
    }
}

qint64 DatagramTap::wallNs(MonotonicTime at)
{
    const qint64 monotonic = nanoseconds(at);
    // Arrival stamps come a little before the time they are read at: only a later time takes
    // the offset again.
    if (!m_offsetTaken || monotonic - m_offsetTakenAt > kClockCheckNs) {
        const qint64 now = clockNs(CLOCK_MONOTONIC);
        m_clockOffset = clockNs(CLOCK_REALTIME) - now;
        m_offsetTakenAt = now;
        m_offsetTaken = true;
    }
    return monotonic + m_clockOffset;
}

const SocketAddress &DatagramTap::sendSource()
{
    const SocketAddress peer = m_endpoint.peer();
    if (m_sourceKnown && peer == m_sourcePeer)
        return m_source;
    m_sourcePeer = peer;
    m_sourceKnown = true;
    const QHostAddress &bound = m_settings.bindAddress;
    const bool wildcard = bound == QHostAddress(QHostAddress::Any)
        || bound == QHostAddress(QHostAddress::AnyIPv4)
        || bound == QHostAddress(QHostAddress::AnyIPv6);
    m_source = wildcard ? routeSource(peer) : fromHostAddress(bound, 0);
    m_source.port = m_endpoint.localPort();
    return m_source;
}
