// SPDX-License-Identifier: MIT
#pragma once

#include "net/Arrival.h"
#include "net/DatagramBatch.h"
#include "net/HostLookup.h"
#include "net/Multicast.h"
#include "net/NotifiedDescriptor.h"
#include "net/SocketError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// What became of one datagram handed to UdpEndpoint::send().
struct SendResult
{
    enum class Outcome {
        Sent,
        // Not sent, and no failure: the link is full (the send would block, or the system has
        // no buffer for it). The datagram is simply lost, as on any congested link.
        Dropped,
        Failed,
    };

    Outcome outcome = Outcome::Sent;
    SocketError error; // Failed only
    // Taken just before the datagram was handed to the system; unset (the clock's epoch) when
    // the endpoint had nowhere to send it.
    MonotonicTime sentAt;
};

// One unconnected UDP socket: a fixed peer, a bound local address and port, one datagram per
// send, one arrival notification per datagram received.
//
// The socket stays unconnected on purpose: a connected UDP socket turns the ICMP "port
// unreachable" of an absent peer into an error on the next call, and drops datagrams from
// every other origin. Unconnected, an absent peer is the normal case: its datagrams are lost.
class UdpEndpoint : public QObject
{
    Q_OBJECT

public:
    static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

    // Hands one datagram to the system: 0 when it went, the error number otherwise. Tests put
    // one in place that fails as a full link would.
    using SendCall = std::function<int(int fd, QByteArrayView payload, const QByteArray &to)>;
    static int systemSend(int fd, QByteArrayView payload, const QByteArray &to);

    // A null lookup means the system's resolver.
    explicit UdpEndpoint(std::unique_ptr<HostLookup> lookup = {}, QObject *parent = nullptr);
    UdpEndpoint(std::unique_ptr<HostLookup> lookup, DatagramBatch::Path receivePath,
        QObject *parent = nullptr);
    ~UdpEndpoint() override;

    // The peer; both take effect at the next bind(). Without a host nothing is sent.
    void setRemoteHost(const QString &host);
    void setRemotePort(qint32 port);
    // How a group is joined and sent to; takes effect at the next bind().
    void setGroupOptions(const GroupOptions &options) { m_groupOptions = options; }
    // Every local address, IPv4 and IPv6 alike.
    SocketResult bind(quint16 localPort);
    // Any: one socket for IPv4 and IPv6 alike; an IPv4 or IPv6 address: a socket of that family
    // bound there; a group: a socket of its family bound to the group and joined to it, which
    // other sockets may share. Then the peer is made ready: a literal address at once (one the
    // socket's family cannot reach fails here), a name through the lookup, answered by
    // peerReady() or peerLookupFailed(). A group peer is sent to as the group options say; a
    // broadcast peer is allowed.
    SocketResult bind(const QHostAddress &address, quint16 localPort);
    // The group that the last bind() failed to join or to prepare for sending; null when its
    // failure had nothing to do with a group.
    const QHostAddress &refusedGroup() const { return m_refusedGroup; }
    bool isPeerReady() const { return m_peerReady; }
    // Where datagrams go, once the peer is ready; all zero before.
    SocketAddress peer() const;
    SendResult send(QByteArrayView payload);
    // One datagram to any address, as an echo answers its sender; no progress is signalled.
    // An address the socket's family cannot reach fails with EAFNOSUPPORT.
    SendResult sendTo(QByteArrayView payload, const SocketAddress &to);
    // The datagram whose arrival is being notified; empty outside a notification.
    QByteArray read();
    // Where the datagram being notified came from and went to, and when it came; all zero
    // outside a notification. Nothing is allocated until an address is asked for.
    const Arrival &arrival() const;
    void close();

    bool isBound() const { return m_socket.isOpen(); }
    quint16 localPort() const;
    // Stops (or resumes) arrival notifications without closing the socket.
    void setNotificationsEnabled(bool enabled);
    void setSendCall(SendCall call) { m_sendCall = std::move(call); }

signals:
    void dataArrival(qint32 bytesTotal);
    void sendProgress(qint32 bytesSent, qint32 bytesRemaining);
    void sendComplete();
    // A receive failed while the endpoint was fetching waiting datagrams.
    void receiveFailed(const SocketError &error);
    void peerReady();
    // The lookup failed, or gave no address the socket's family can reach (EAFNOSUPPORT).
    void peerLookupFailed(const SocketError &error);

private:
    enum class Family { IPv4, IPv6Only, DualStack };

    // A sockaddr for a socket of the family, or nothing where it cannot reach the address.
    static QByteArray socketAddress(const QHostAddress &address, quint16 port, Family family);

    SocketResult openGroup(QHostAddress group, quint16 localPort);
    // A socket of the address's family bound there, its arrivals notified; shared: others may
    // bind the same address and port too.
    SocketResult openSocket(const QHostAddress &address, quint16 localPort, bool shared);
    // Hands the datagram to the system; full is dropped, any other error failed.
    SendResult sendToAddress(QByteArrayView payload, const QByteArray &to);
    void receivePending();
    SocketResult usePeer(const QList<QHostAddress> &addresses);
    // The group options for a group peer, SO_BROADCAST for a broadcast one.
    SocketResult prepareToSend(const QHostAddress &peer);
    void onLookupAnswered(const LookupAnswer &answer);

    const std::unique_ptr<HostLookup> m_lookup;
    SendCall m_sendCall = systemSend;
    NotifiedDescriptor m_socket;
    Family m_family = Family::DualStack;
    QString m_remoteHost;
    qint32 m_remotePort = 0;
    GroupOptions m_groupOptions;
    QHostAddress m_refusedGroup;
    bool m_lookupPending = false;
    bool m_peerReady = false;
    QByteArray m_peerAddress; // a sockaddr, ready for sendto
    // The last address sendTo() was given and its sockaddr: an echo answers the same sender
    // over and over, and need not build it each time.
    SocketAddress m_lastTo;
    QByteArray m_lastToAddress;
    bool m_notificationsEnabled = true;
    DatagramBatch m_batch;
    // The datagram of the batch being notified, or -1.
    int m_notified = -1;
    bool m_hasWaiting = false; // until read()
    const Arrival m_noArrival;
};
