// SPDX-License-Identifier: MIT
#include "UdpEndpoint.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kHostNotFound = EHOSTUNREACH;

int openSocket(int *family)
{
    // One dual-stack socket, so that peers on 127.0.0.1 and on ::1 both reach the bound port.
    int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    if (fd >= 0) {
        const int off = 0;
        if (::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0) {
            *family = AF_INET6;
            return fd;
        }
        ::close(fd);
    }
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    *family = AF_INET;
    return fd;
}

QByteArray socketAddress(const QHostAddress &address, quint16 port, int family)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (family == AF_INET) {
        sockaddr_in in {};
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(ipv4);
        return isIPv4 ? QByteArray(reinterpret_cast<const char *>(&in), sizeof in) : QByteArray();
    }
    sockaddr_in6 in6 {};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    // An IPv4 peer is reached through its mapped address (::ffff:a.b.c.d).
    const Q_IPV6ADDR bytes = isIPv4
        ? QHostAddress(QLatin1String("::ffff:") + address.toString()).toIPv6Address()
        : address.toIPv6Address();
    std::memcpy(&in6.sin6_addr, bytes.c, sizeof bytes.c);
    in6.sin6_scope_id = address.scopeId().toUInt();
    return QByteArray(reinterpret_cast<const char *>(&in6), sizeof in6);
}

} // namespace

UdpEndpoint::UdpEndpoint(QObject *parent)
    : QObject(parent)
{ }

UdpEndpoint::~UdpEndpoint()
{
    close();
}

void UdpEndpoint::setRemoteHost(const QString &host)
{
    m_remoteHost = host;
    m_remoteResolved = false;
}

void UdpEndpoint::setRemotePort(qint32 port)
{
    m_remotePort = port;
    m_remoteResolved = false;
}

SocketResult UdpEndpoint::bind(quint16 localPort)
{
    close();
    int family = 0;
    const int fd = openSocket(&family);
    if (fd < 0)
        return SocketError::fromErrno(errno);

    // No SO_REUSEADDR: on Linux it would let a second copy bind the same UDP port unnoticed.
    sockaddr_storage local {};
    socklen_t localSize = 0;
    if (family == AF_INET6) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&local);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(localPort);
        in6->sin6_addr = in6addr_any;
        localSize = sizeof(sockaddr_in6);
    } else {
        auto *in = reinterpret_cast<sockaddr_in *>(&local);
        in->sin_family = AF_INET;
        in->sin_port = htons(localPort);
        in->sin_addr.s_addr = htonl(INADDR_ANY);
        localSize = sizeof(sockaddr_in);
    }
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), localSize) != 0
        || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        return SocketError::fromErrno(error);
    }
    DatagramBatch::raiseReceiveBuffer(fd, kReceiveBufferBytes);

    m_fd = fd;
    m_family = family;
    m_remoteResolved = false;
    m_notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    m_notifier->setEnabled(m_notificationsEnabled);
    connect(m_notifier, &QSocketNotifier::activated, this, &UdpEndpoint::receivePending);
    // Look the peer up now rather than in the first send, where a name lookup (a millisecond or
    // more) would make that datagram late. A failure is left for send() to report.
    static_cast<void>(resolveRemote());
    return std::nullopt;
}

SocketResult UdpEndpoint::resolveRemote()
{
    if (m_remotePort < 0 || m_remotePort > 65535)
        return SocketError::fromErrno(EINVAL);
    QHostAddress address(m_remoteHost);
    if (address.isNull()) {
        const QHostInfo info = QHostInfo::fromName(m_remoteHost);
        const QList<QHostAddress> addresses = info.addresses();
        if (addresses.isEmpty())
            return SocketError { kHostNotFound, info.errorString() };
        // "localhost" may resolve to ::1 first, while peers commonly listen on 127.0.0.1 only.
        address = addresses.first();
        for (const QHostAddress &candidate : addresses) {
            if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
                address = candidate;
                break;
            }
        }
    }
    m_remoteAddress = socketAddress(address, quint16(m_remotePort), m_family);
    if (m_remoteAddress.isEmpty())
        return SocketError::fromErrno(EAFNOSUPPORT);
    m_remoteResolved = true;
    return std::nullopt;
}

SocketResult UdpEndpoint::send(QByteArrayView payload)
{
    if (m_fd < 0)
        return SocketError::fromErrno(ENOTCONN);
    if (!m_remoteResolved) {
        if (SocketResult error = resolveRemote())
            return error;
    }
    const auto *address = reinterpret_cast<const sockaddr *>(m_remoteAddress.constData());
    const auto addressSize = socklen_t(m_remoteAddress.size());
    bool retriedRefusal = false;
    for (;;) {
        if (::sendto(m_fd, payload.data(), size_t(payload.size()), 0, address, addressSize) >= 0)
            break;
        const int error = errno;
        if (error == EINTR)
            continue;
        // A refusal reported here belongs to an earlier datagram that an absent peer bounced:
        // it is not this send's failure, and this datagram has not gone yet.
        if (error == ECONNREFUSED && !retriedRefusal) {
            retriedRefusal = true;
            continue;
        }
        return SocketError::fromErrno(error);
    }
    emit sendProgress(qint32(payload.size()), 0);
    emit sendComplete();
    return std::nullopt;
}

QByteArray UdpEndpoint::read()
{
    if (!m_hasWaiting)
        return {};
    m_hasWaiting = false;
    return m_waiting.toByteArray();
}

void UdpEndpoint::close()
{
    if (m_fd < 0)
        return;
    // The notifier may be the one whose signal is being handled right now.
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    m_hasWaiting = false;
}

quint16 UdpEndpoint::localPort() const
{
    sockaddr_storage local {};
    socklen_t size = sizeof local;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return 0;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&local)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in *>(&local)->sin_port);
}

void UdpEndpoint::setNotificationsEnabled(bool enabled)
{
    m_notificationsEnabled = enabled;
    if (m_notifier)
        m_notifier->setEnabled(enabled);
}

void UdpEndpoint::receivePending()
{
    // One batch per pass; if more is waiting, the notifier fires again on the next pass.
    const int count = m_batch.receive(m_fd);
    if (count < 0) {
        const int error = errno;
        // An absent peer's "port unreachable" is not shown.
        if (error == ECONNREFUSED)
            return;
        emit receiveFailed(SocketError::fromErrno(error));
        return;
    }
    for (int i = 0; i < count && m_fd >= 0 && m_notificationsEnabled; ++i) {
        m_waiting = m_batch.datagram(i);
        m_hasWaiting = true;
        emit dataArrival(qint32(m_waiting.size()));
        m_hasWaiting = false;
    }
}
