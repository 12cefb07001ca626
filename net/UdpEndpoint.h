// SPDX-License-Identifier: MIT
#pragma once

#include "DatagramBatch.h"
#include "SocketError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

class QSocketNotifier;

// One unconnected UDP socket: a fixed peer, a local port bound on every local address (IPv4 and
// IPv6 alike), one datagram per send, one arrival notification per datagram received.
//
// The socket stays unconnected on purpose: a connected UDP socket turns the ICMP "port
// unreachable" of an absent peer into an error on the next call, and drops datagrams from
// every other origin.
class UdpEndpoint : public QObject
{
    Q_OBJECT

public:
    // Arrivals handled in one pass of the event loop, so that a flood leaves the timer, clicks
    // and repaints their turn.
    static constexpr int kArrivalsPerPass = DatagramBatch::kCapacity;
    static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

    explicit UdpEndpoint(QObject *parent = nullptr);
    ~UdpEndpoint() override;

    void setRemoteHost(const QString &host);
    void setRemotePort(qint32 port);
    // Also looks up the remote host and port set so far.
    SocketResult bind(quint16 localPort);
    SocketResult send(QByteArrayView payload);
    // The datagram whose arrival is being notified; empty outside a notification.
    QByteArray read();
    void close();

    bool isBound() const { return m_fd >= 0; }
    quint16 localPort() const;
    // Stops (or resumes) arrival notifications without closing the socket.
    void setNotificationsEnabled(bool enabled);

signals:
    void dataArrival(qint32 bytesTotal);
    void sendProgress(qint32 bytesSent, qint32 bytesRemaining);
    void sendComplete();
    // A receive failed while the endpoint was fetching waiting datagrams.
    void receiveFailed(const SocketError &error);

private:
    void receivePending();
    SocketResult resolveRemote();

    int m_fd = -1;
    int m_family = 0;
    QSocketNotifier *m_notifier = nullptr;
    QString m_remoteHost;
    qint32 m_remotePort = 0;
    bool m_remoteResolved = false;
    QByteArray m_remoteAddress; // a sockaddr, ready for sendto
    bool m_notificationsEnabled = true;
    DatagramBatch m_batch;
    QByteArrayView m_waiting;
    bool m_hasWaiting = false;
};
