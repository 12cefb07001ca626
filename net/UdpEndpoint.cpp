// SPDX-License-Identifier: MIT
#include "net/UdpEndpoint.h"

#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QtDebug>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <utility>

namespace {

constexpr int kSocketType = SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC;

quint32 scopeIndex(const QString &scopeId)
{
    bool numeric = false;
    const uint index = scopeId.toUInt(&numeric);
    if (numeric)
        return index;
    return quint32(std::max(0, QNetworkInterface::interfaceIndexFromName(scopeId)));
}

// The IPv4 address, given as such or in IPv6's mapped form (::ffff:a.b.c.d). toIPv4Address's
// flag alone would also take Any and :: for 0.0.0.0.
std::optional<quint32> ipv4Of(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (!isIPv4 || address.protocol() == QAbstractSocket::AnyIPProtocol
        || address == QHostAddress::AnyIPv6)
        return std::nullopt;
    return ipv4;
}

template <typename Address> QByteArray bytesOf(const Address &address)
{
    return QByteArray(reinterpret_cast<const char *>(&address), sizeof address);
}

// Room for bursts to wait for the event loop: past the system's ceiling for ordinary programs
// where the user may go there, else up to that ceiling (the system may grant less).
SocketResult raiseReceiveBuffer(int fd, int bytes)
{
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0
        || ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0)
        return {};
    return SocketError::fromErrno(errno);
}

// Receive stamps and destination addresses only add to what an arrival says: a system that
// refuses them still carries the link, and each arrival falls back on its read time and the
// bound address.
void askForArrivalFacts(int fd, bool ipv6)
{
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
        qWarning("UdpEndpoint: no receive stamps: %s", std::strerror(errno));
    const bool destinations = ipv6
        ? ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) == 0
        : ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
    if (!destinations)
        qWarning("UdpEndpoint: no destination addresses: %s", std::strerror(errno));
}

// Linux lets go of the descriptor even when close() fails, so a failure is only said.
void closeSocket(NotifiedDescriptor &socket)
{
    const int fd = socket.fd();
    if (const int error = socket.close())
        qWarning("UdpEndpoint: cannot close socket %d: %s", fd, std::strerror(error));
}

} // namespace

QByteArray UdpEndpoint::socketAddress(const QHostAddress &address, quint16 port, Family family)
{
    const std::optional<quint32> ipv4 = ipv4Of(address);
    if (family == Family::IPv4) {
        if (!ipv4)
            return {};
        sockaddr_in in {};
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(*ipv4);
        return bytesOf(in);
    }
    if (ipv4 && family == Family::IPv6Only)
        return {};
    sockaddr_in6 in6 {};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    // For an IPv4 address this is its mapped form, the way a dual-stack socket reaches it.
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::memcpy(&in6.sin6_addr, bytes.c, sizeof bytes.c);
    in6.sin6_scope_id = scopeIndex(address.scopeId());
    return bytesOf(in6);
}

int UdpEndpoint::systemSend(int fd, QByteArrayView payload, const QByteArray &to)
{
    const auto *address = reinterpret_cast<const sockaddr *>(to.constData());
    const auto addressSize = socklen_t(to.size());
    while (::sendto(fd, payload.data(), size_t(payload.size()), 0, address, addressSize) < 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

UdpEndpoint::UdpEndpoint(std::unique_ptr<HostLookup> lookup, QObject *parent)
    : UdpEndpoint(std::move(lookup), DatagramBatch::Path::Batched, parent)
{ }

UdpEndpoint::UdpEndpoint(
    std::unique_ptr<HostLookup> lookup, DatagramBatch::Path receivePath, QObject *parent)
    : QObject(parent)
    , m_lookup(lookup ? std::move(lookup) : systemHostLookup())
    , m_batch(receivePath)
{
    connect(m_lookup.get(), &HostLookup::answered, this, &UdpEndpoint::onLookupAnswered);
}

UdpEndpoint::~UdpEndpoint()
{
    close();
}

void UdpEndpoint::setRemoteHost(const QString &host)
{
    m_remoteHost = host;
}

void UdpEndpoint::setRemotePort(qint32 port)
{
    m_remotePort = port;
}

SocketResult UdpEndpoint::bind(quint16 localPort)
{
    return bind(QHostAddress(QHostAddress::Any), localPort);
}

SocketResult UdpEndpoint::bind(const QHostAddress &address, quint16 localPort)
{
    close();
    m_refusedGroup.clear();
    if (m_remotePort < 0 || m_remotePort > 65535)
        return SocketError::fromErrno(EINVAL);

    const bool group = address.isMulticast();
    if (const SocketResult opened
        = group ? openGroup(address, localPort) : openSocket(address, localPort, false);
        !opened) {
        // Whatever went wrong, the group and its interface are what the user asked for.
        if (group)
            m_refusedGroup = address;
        return opened;
    }

    // Without a host the endpoint only receives.
    const QHostAddress literal(m_remoteHost);
    if (m_remoteHost.isEmpty())
        return {};
    if (literal.isNull()) {
        // Looked up now rather than in the first send, where it would make that datagram late.
        m_lookupPending = true;
        m_lookup->lookUp(m_remoteHost);
    } else if (const SocketResult ready = usePeer({ literal }); !ready) {
        close();
        return ready;
    }
    return {};
}

SocketResult UdpEndpoint::openGroup(QHostAddress group, quint16 localPort)
{
    unsigned interface = 0;
    if (const SocketResult found
        = Multicast::interfaceIndex(m_groupOptions.interfaceName, interface);
        !found)
        return found;
    // A group of link scope is bound on its interface; wider scopes ignore the index.
    if (group.protocol() == QAbstractSocket::IPv6Protocol && group.scopeId().isEmpty()
        && interface != 0)
        group.setScopeId(QString::number(interface));
    // Bound to the group rather than to every address: the receiver then counts this group's
    // stream alone, where Linux would also hand a socket on every address the datagrams of any
    // other group joined on this host at the same port, and unicast ones to the port.
    if (const SocketResult opened = openSocket(group, localPort, true); !opened)
        return opened;
    if (const SocketResult joined = Multicast::join(m_socket.fd(), group, m_groupOptions);
        !joined) {
        close();
        return joined;
    }
    return {};
}

SocketResult UdpEndpoint::openSocket(const QHostAddress &address, quint16 localPort, bool shared)
{
    Family family = ipv4Of(address) ? Family::IPv4 : Family::IPv6Only;
    QHostAddress local = address;
    if (address.protocol() == QAbstractSocket::AnyIPProtocol) {
        family = Family::DualStack;
        local = QHostAddress(QHostAddress::AnyIPv6);
    }
    NotifiedDescriptor socket(
        ::socket(family == Family::IPv4 ? AF_INET : AF_INET6, kSocketType, 0));
    if (!socket.isOpen() && errno == EAFNOSUPPORT && family == Family::DualStack) {
        // A system without IPv6 still has every IPv4 address.
        family = Family::IPv4;
        local = QHostAddress(QHostAddress::AnyIPv4);
        socket = NotifiedDescriptor(::socket(AF_INET, kSocketType, 0));
    }
    if (!socket.isOpen())
        return SocketError::fromErrno(errno);
    const int fd = socket.fd();

    // Off for the one socket that serves both families, so peers on 127.0.0.1 and on ::1 both
    // reach the bound port; on for an IPv6 address given, so that :: means IPv6 alone.
    const int v6Only = family == Family::DualStack ? 0 : 1;
    const QByteArray bound = socketAddress(local, localPort, family);
    // SO_REUSEADDR for a group alone: every receiver of a group on this host binds its port,
    // and each gets its own copy of every datagram. On a unicast address it would let a second
    // copy bind the same UDP port unnoticed, and split the stream between the two.
    const int reuse = 1;
    if ((family != Family::IPv4
            && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only) != 0)
        || (shared && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0)
        || ::bind(
               fd, reinterpret_cast<const sockaddr *>(bound.constData()), socklen_t(bound.size()))
            != 0) {
        const int error = errno;
        closeSocket(socket);
        return SocketError::fromErrno(error);
    }
    if (const SocketResult raised = raiseReceiveBuffer(fd, kReceiveBufferBytes); !raised) {
        closeSocket(socket);
        return raised;
    }

    askForArrivalFacts(fd, family != Family::IPv4);

    m_socket = std::move(socket);
    m_family = family;
    sockaddr_storage boundAddress {};
    socklen_t boundSize = sizeof boundAddress;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&boundAddress), &boundSize) != 0)
        boundAddress = {};
    m_batch.setBoundAddress(SocketAddress::fromSystem(boundAddress));
    QSocketNotifier *const notifier = m_socket.notifyReads(this);
    notifier->setEnabled(m_notificationsEnabled);
    connect(notifier, &QSocketNotifier::activated, this, &UdpEndpoint::receivePending);
    return {};
}

SocketAddress UdpEndpoint::peer() const
{
    sockaddr_storage address {};
    if (!m_peerReady || m_peerAddress.size() > qsizetype(sizeof address))
        return {};
    std::memcpy(&address, m_peerAddress.constData(), size_t(m_peerAddress.size()));
    return SocketAddress::fromSystem(address);
}

SocketResult UdpEndpoint::usePeer(const QList<QHostAddress> &addresses)
{
    QByteArray chosen;
    QHostAddress chosenAddress;
    for (const QHostAddress &address : addresses) {
        const QByteArray candidate = socketAddress(address, quint16(m_remotePort), m_family);
        if (candidate.isEmpty())
            continue;
        if (chosen.isEmpty() || address.protocol() == QAbstractSocket::IPv4Protocol) {
            chosen = candidate;
            chosenAddress = address;
        }
        // "localhost" may resolve to ::1 first, while peers commonly listen on 127.0.0.1 only.
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            break;
    }
    if (chosen.isEmpty()) {
        // A group of the other family is named as the group it is.
        for (const QHostAddress &address : addresses) {
            if (address.isMulticast()) {
                m_refusedGroup = address;
                break;
            }
        }
        return SocketError::fromErrno(EAFNOSUPPORT);
    }
    if (const SocketResult prepared = prepareToSend(chosenAddress); !prepared)
        return prepared;
    m_peerAddress = chosen;
    m_peerReady = true;
    return {};
}

SocketResult UdpEndpoint::prepareToSend(const QHostAddress &peer)
{
    const std::optional<quint32> ipv4 = ipv4Of(peer);
    const QHostAddress plain = ipv4 ? QHostAddress(*ipv4) : peer;
    if (plain.isMulticast()) {
        const SocketResult prepared = Multicast::prepareSend(m_socket.fd(),
            ipv4 ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol,
            m_family == Family::DualStack, m_groupOptions);
        if (!prepared)
            m_refusedGroup = plain;
        return prepared;
    }
    // Allowed for a broadcast peer alone: without SO_BROADCAST the system refuses to send to
    // one, which keeps a mistyped peer from reaching every host of a network.
    const int on = 1;
    if (ipv4 && Multicast::isBroadcast(plain)
        && ::setsockopt(m_socket.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return SocketError::fromErrno(errno);
    return {};
}

void UdpEndpoint::onLookupAnswered(const LookupAnswer &answer)
{
    // Closed (or bound again to a literal peer) since the lookup began.
    if (!m_lookupPending)
        return;
    m_lookupPending = false;
    if (answer.addresses.isEmpty()) {
        emit peerLookupFailed(answer.error);
        return;
    }
    if (const SocketResult ready = usePeer(answer.addresses); !ready) {
        emit peerLookupFailed(ready.error());
        return;
    }
    emit peerReady();
}

SendResult UdpEndpoint::send(QByteArrayView payload)
{
    if (!m_socket.isOpen())
        return { SendResult::Outcome::Failed, SocketError::fromErrno(ENOTCONN), {} };
    if (!m_peerReady)
        return { SendResult::Outcome::Failed, SocketError::fromErrno(EDESTADDRREQ), {} };
    const SendResult result = sendToAddress(payload, m_peerAddress);
    if (result.outcome == SendResult::Outcome::Sent) {
        emit sendProgress(qint32(payload.size()), 0);
        emit sendComplete();
    }
    return result;
}

SendResult UdpEndpoint::sendTo(QByteArrayView payload, const SocketAddress &to)
{
    if (!m_socket.isOpen())
        return { SendResult::Outcome::Failed, SocketError::fromErrno(ENOTCONN), {} };
    if (m_lastToAddress.isEmpty() || to != m_lastTo) {
        const QByteArray address = socketAddress(to.address(), to.port, m_family);
        if (address.isEmpty())
            return { SendResult::Outcome::Failed, SocketError::fromErrno(EAFNOSUPPORT), {} };
        m_lastTo = to;
        m_lastToAddress = address;
    }
    return sendToAddress(payload, m_lastToAddress);
}

SendResult UdpEndpoint::sendToAddress(QByteArrayView payload, const QByteArray &to)
{
    const MonotonicTime sentAt = std::chrono::steady_clock::now();
    const int error = m_sendCall(m_socket.fd(), payload, to);
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS)
        return { SendResult::Outcome::Dropped, {}, sentAt };
    if (error != 0)
        return { SendResult::Outcome::Failed, SocketError::fromErrno(error), sentAt };
    return { SendResult::Outcome::Sent, {}, sentAt };
}

QByteArray UdpEndpoint::read()
{
    if (!m_hasWaiting)
        return {};
    m_hasWaiting = false;
    return m_batch.datagram(m_notified).toByteArray();
}

const Arrival &UdpEndpoint::arrival() const
{
    return m_notified >= 0 ? m_batch.arrival(m_notified) : m_noArrival;
}

void UdpEndpoint::close()
{
    m_lookupPending = false;
    m_peerReady = false;
    m_lastToAddress.clear(); // the next socket's family may differ
    if (!m_socket.isOpen())
        return;
    closeSocket(m_socket);
    m_notified = -1;
    m_hasWaiting = false;
}

quint16 UdpEndpoint::localPort() const
{
    sockaddr_storage local {};
    socklen_t size = sizeof local;
    if (!m_socket.isOpen()
        || ::getsockname(m_socket.fd(), reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return 0;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&local)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in *>(&local)->sin_port);
}

void UdpEndpoint::setNotificationsEnabled(bool enabled)
{
    m_notificationsEnabled = enabled;
    if (QSocketNotifier *const notifier = m_socket.notifier())
        notifier->setEnabled(enabled);
}

void UdpEndpoint::receivePending()
{
    // One batch per pass; if more is waiting, the notifier fires again on the next pass.
    const int count = m_batch.receive(m_socket.fd());
    if (count < 0) {
        emit receiveFailed(SocketError::fromErrno(errno));
        return;
    }
    for (int i = 0; i < count && m_socket.isOpen() && m_notificationsEnabled; ++i) {
        m_notified = i;
        m_hasWaiting = true;
        emit dataArrival(qint32(m_batch.datagram(i).size()));
    }
    m_notified = -1;
    m_hasWaiting = false;
}
