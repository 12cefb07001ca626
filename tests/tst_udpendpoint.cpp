// SPDX-License-Identifier: MIT
#include "UdpEndpoint.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <cerrno>

namespace {

constexpr quint16 kLocalPort = 20320;
constexpr quint16 kPeerPort = 20319;

} // namespace

class tst_UdpEndpoint : public QObject
{
    Q_OBJECT

private slots:
    void bindsEveryLocalAddress();
    void sendReachesIPv4Peer_data();
    void sendReachesIPv4Peer();
    void absentPeerIsNotAnError();
    void arrivalCounts_data();
    void arrivalCounts();
    void everyWaitingDatagramIsNotified();
    void takenPortFailsWithSystemError();
    void closeFreesThePort();
};

void tst_UdpEndpoint::bindsEveryLocalAddress()
{
    UdpEndpoint endpoint;
    const SocketResult error = endpoint.bind(kLocalPort);
    QVERIFY2(!error, error ? qPrintable(error->description) : "");
    QCOMPARE(endpoint.localPort(), kLocalPort);

    QSignalSpy arrivals(&endpoint, &UdpEndpoint::dataArrival);
    QUdpSocket v4;
    QUdpSocket v6;
    QCOMPARE(v4.writeDatagram("four", QHostAddress::LocalHost, kLocalPort), 4);
    QCOMPARE(v6.writeDatagram("six", QHostAddress::LocalHostIPv6, kLocalPort), 3);
    QTRY_COMPARE(arrivals.size(), 2);
}

void tst_UdpEndpoint::sendReachesIPv4Peer_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("localhost") << QStringLiteral("localhost");
    QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1");
}

void tst_UdpEndpoint::sendReachesIPv4Peer()
{
    QFETCH(QString, host);
    QUdpSocket peer;
    QVERIFY2(peer.bind(QHostAddress::LocalHost, kPeerPort), qPrintable(peer.errorString()));
    UdpEndpoint endpoint;
    endpoint.setRemoteHost(host);
    endpoint.setRemotePort(kPeerPort);
    QVERIFY(!endpoint.bind(kLocalPort));

    QSignalSpy complete(&endpoint, &UdpEndpoint::sendComplete);
    const QByteArray payload("\x00\x01\x02\x03 with a NUL", 15);
    QVERIFY(!endpoint.send(payload));
    QCOMPARE(complete.size(), 1);
    QVERIFY(peer.waitForReadyRead(5000));
    const QNetworkDatagram datagram = peer.receiveDatagram();
    QCOMPARE(datagram.data(), payload);
    QCOMPARE(datagram.senderPort(), int(kLocalPort));
}

void tst_UdpEndpoint::absentPeerIsNotAnError()
{
    // Nobody listens on the peer port: the ICMP replies must never turn into failures.
    UdpEndpoint endpoint;
    endpoint.setRemoteHost(QStringLiteral("localhost"));
    endpoint.setRemotePort(kPeerPort);
    QVERIFY(!endpoint.bind(kLocalPort));
    QSignalSpy failures(&endpoint, &UdpEndpoint::receiveFailed);
    QSignalSpy arrivals(&endpoint, &UdpEndpoint::dataArrival);
    for (int i = 0; i < 50; ++i) {
        const SocketResult error = endpoint.send(QByteArray(16, char(i)));
        QVERIFY2(!error, error ? qPrintable(error->description) : "");
        QTest::qWait(1);
    }
    // Arrivals still work after the bounced datagrams.
    QUdpSocket other;
    other.writeDatagram("x", QHostAddress::LocalHost, kLocalPort);
    QTRY_COMPARE(arrivals.size(), 1);
    QCOMPARE(failures.size(), 0);
}

void tst_UdpEndpoint::arrivalCounts_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("ipv6");
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << false;
    QTest::newRow("16") << 16 << false;
    QTest::newRow("65507 IPv4") << 65507 << false;
    QTest::newRow("65527 IPv6") << 65527 << true;
}

void tst_UdpEndpoint::arrivalCounts()
{
    QFETCH(int, size);
    QFETCH(bool, ipv6);
    UdpEndpoint endpoint;
    QVERIFY(!endpoint.bind(kLocalPort));
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char(i % 251);

    QList<QByteArray> read;
    QList<qint32> counts;
    connect(&endpoint, &UdpEndpoint::dataArrival, this, [&](qint32 bytesTotal) {
        counts << bytesTotal;
        read << endpoint.read();
    });
    QUdpSocket sender;
    const QHostAddress to = ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost;
    QCOMPARE(sender.writeDatagram(payload, to, kLocalPort), qint64(size));
    QTRY_COMPARE(counts.size(), 1);
    QCOMPARE(counts.first(), size);
    QCOMPARE(read.first(), payload);
    // Outside a notification nothing is waiting.
    QCOMPARE(endpoint.read(), QByteArray());
}

void tst_UdpEndpoint::everyWaitingDatagramIsNotified()
{
    // Several datagrams wait before the event loop runs, zero-length ones among them: each
    // gets its own notification, even when the handler reads nothing.
    UdpEndpoint endpoint;
    QVERIFY(!endpoint.bind(kLocalPort));
    QSignalSpy arrivals(&endpoint, &UdpEndpoint::dataArrival);
    QUdpSocket sender;
    constexpr int kCount = 100;
    for (int i = 0; i < kCount; ++i)
        sender.writeDatagram(QByteArray(i % 3, 'z'), QHostAddress::LocalHost, kLocalPort);
    QTRY_COMPARE(arrivals.size(), kCount);
    for (int i = 0; i < kCount; ++i)
        QCOMPARE(arrivals.at(i).at(0).toInt(), i % 3);
}

void tst_UdpEndpoint::takenPortFailsWithSystemError()
{
    UdpEndpoint first;
    QVERIFY(!first.bind(kLocalPort));
    UdpEndpoint second;
    const SocketResult error = second.bind(kLocalPort);
    QVERIFY(error);
    QCOMPARE(error->code, EADDRINUSE);
    QCOMPARE(error->description, qt_error_string(EADDRINUSE));
    QVERIFY(!second.isBound());

    // Held by an IPv4-only socket of another program: the bind fails too.
    first.close();
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, kLocalPort));
    const SocketResult held = second.bind(kLocalPort);
    QVERIFY(held);
    QCOMPARE(held->code, EADDRINUSE);
}

void tst_UdpEndpoint::closeFreesThePort()
{
    UdpEndpoint endpoint;
    QVERIFY(!endpoint.bind(kLocalPort));
    QSignalSpy arrivals(&endpoint, &UdpEndpoint::dataArrival);
    endpoint.close();
    QVERIFY(!endpoint.isBound());
    QVERIFY(endpoint.send("late"));
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::Any, kLocalPort));
    probe.writeDatagram("x", QHostAddress::LocalHost, kLocalPort);
    QTest::qWait(50);
    QCOMPARE(arrivals.size(), 0);
}

QTEST_GUILESS_MAIN(tst_UdpEndpoint)
#include "tst_udpendpoint.moc"
