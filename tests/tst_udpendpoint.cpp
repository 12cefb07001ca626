// SPDX-License-Identifier: MIT
#include "ScriptedLookup.h"
#include "TestSupport.h"
#include "net/UdpEndpoint.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <cerrno>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using TestSupport::kLocalPort;
using TestSupport::kPeerPort;

namespace {

using Path = DatagramBatch::Path;
using Outcome = SendResult::Outcome;

QHostAddress address(const char *text)
{
    return QHostAddress(QLatin1String(text));
}

LookupAnswer found(const QList<QHostAddress> &addresses)
{
    LookupAnswer answer;
    answer.addresses = addresses;
    return answer;
}

} // namespace

class tst_UdpEndpoint : public QObject
{
    Q_OBJECT

private slots:
    void bindsWhereAsked_data();
    void bindsWhereAsked();
    void sendReachesPeer_data();
    void sendReachesPeer();
    void systemLookup_data();
    void systemLookup();
    void fullLinkDropsWithoutFailing_data();
    void fullLinkDropsWithoutFailing();
    void absentPeerIsNotAnError_data();
    void absentPeerIsNotAnError();
    void arrivalCounts_data();
    void arrivalCounts();
    void arrivalIsStampedOnReceipt_data();
    void arrivalIsStampedOnReceipt();
    void everyWaitingDatagramIsNotified_data();
    void everyWaitingDatagramIsNotified();
    void largeDatagramsAreReadFewerAPass_data();
    void largeDatagramsAreReadFewerAPass();
    void takenPortFailsWithSystemError();
    void closeFreesThePort();
};

void tst_UdpEndpoint::bindsWhereAsked_data()
{
    QTest::addColumn<QHostAddress>("bindAddress");
    // Of "4" from 127.0.0.1 and "6" from ::1, what arrives.
    QTest::addColumn<QByteArrayList>("arrivals");
    QTest::newRow("every address")
        << QHostAddress(QHostAddress::Any) << QByteArrayList { "4", "6" };
    QTest::newRow("0.0.0.0") << address("0.0.0.0") << QByteArrayList { "4" };
    QTest::newRow("127.0.0.1") << address("127.0.0.1") << QByteArrayList { "4" };
    QTest::newRow("::1") << address("::1") << QByteArrayList { "6" };
    // :: is IPv6 alone, unlike Any.
    QTest::newRow("::") << address("::") << QByteArrayList { "6" };
}

void tst_UdpEndpoint::bindsWhereAsked()
{
    QFETCH(QHostAddress, bindAddress);
    QFETCH(QByteArrayList, arrivals);
    UdpEndpoint endpoint;
    const SocketResult bound = endpoint.bind(bindAddress, kLocalPort);
    QVERIFY2(bound, bound ? "" : qPrintable(bound.error().description));
    QCOMPARE(endpoint.localPort(), kLocalPort);

    QByteArrayList read;
    QList<QHostAddress> destinations;
    connect(&endpoint, &UdpEndpoint::dataArrival, this, [&] {
        read << endpoint.read();
        destinations << endpoint.arrival().destination.address();
    });
    QUdpSocket v4;
    QUdpSocket v6;
    QCOMPARE(v4.writeDatagram("4", QHostAddress::LocalHost, kLocalPort), 1);
    QCOMPARE(v6.writeDatagram("6", QHostAddress::LocalHostIPv6, kLocalPort), 1);
    QTRY_COMPARE(read, arrivals);
    // Each says the address it was sent to, even where the socket is bound to every address.
    for (qsizetype i = 0; i < read.size(); ++i) {
        QCOMPARE(destinations.at(i),
            QHostAddress(
                read.at(i) == "4" ? QHostAddress::LocalHost : QHostAddress::LocalHostIPv6));
    }
}

void tst_UdpEndpoint::sendReachesPeer_data()
{
    QTest::addColumn<QHostAddress>("bindAddress");
    QTest::addColumn<QString>("host");
    // What the lookup answers for a name; a literal address is never looked up.
    QTest::addColumn<LookupAnswer>("answer");
    QTest::addColumn<QHostAddress>("peerAt");
    QTest::addColumn<int>("error");

    const QHostAddress any(QHostAddress::Any);
    const QHostAddress v4 = address("127.0.0.1");
    const QHostAddress v6 = address("::1");
    const QString name = QStringLiteral("peer.test");
    QTest::newRow("name: IPv4 first") << any << name << found({ v6, v4 }) << v4 << 0;
    QTest::newRow("name: IPv6 socket") << v6 << name << found({ v4, v6 }) << v6 << 0;
    QTest::newRow("name: no address of the family")
        << v4 << name << found({ v6 }) << QHostAddress() << EAFNOSUPPORT;
    QTest::newRow("name not found")
        << any << name << LookupAnswer { {}, SocketError::fromResolver(EAI_NONAME) }
        << QHostAddress() << EAI_NONAME;
    QTest::newRow("IPv4 from every address") << any << "127.0.0.1" << LookupAnswer() << v4 << 0;
    QTest::newRow("IPv6 from every address") << any << "::1" << LookupAnswer() << v6 << 0;
    QTest::newRow("IPv4 from IPv4") << v4 << "127.0.0.1" << LookupAnswer() << v4 << 0;
    QTest::newRow("IPv6 from IPv4")
        << v4 << "::1" << LookupAnswer() << QHostAddress() << EAFNOSUPPORT;
    QTest::newRow("IPv4 from IPv6")
        << v6 << "127.0.0.1" << LookupAnswer() << QHostAddress() << EAFNOSUPPORT;
}

void tst_UdpEndpoint::sendReachesPeer()
{
    QFETCH(QHostAddress, bindAddress);
    QFETCH(QString, host);
    QFETCH(LookupAnswer, answer);
    QFETCH(QHostAddress, peerAt);
    QFETCH(int, error);
    QUdpSocket peer;
    if (!peerAt.isNull())
        QVERIFY2(peer.bind(peerAt, kPeerPort), qPrintable(peer.errorString()));
    auto *const lookup = new ScriptedLookup(answer);
    UdpEndpoint endpoint { std::unique_ptr<HostLookup>(lookup) };
    endpoint.setRemoteHost(host);
    endpoint.setRemotePort(kPeerPort);
    QSignalSpy ready(&endpoint, &UdpEndpoint::peerReady);
    QSignalSpy failed(&endpoint, &UdpEndpoint::peerLookupFailed);

    SocketResult result = endpoint.bind(bindAddress, kLocalPort);
    const bool literal = !QHostAddress(host).isNull();
    QCOMPARE(lookup->asked, literal ? QStringList() : QStringList { host });
    if (!literal) {
        QVERIFY(result);
        // Nowhere to send until the answer.
        QVERIFY(!endpoint.isPeerReady());
        QCOMPARE(endpoint.send("early").outcome, Outcome::Failed);
        lookup->answer();
        QCOMPARE(ready.size() + failed.size(), 1);
        if (!failed.isEmpty())
            result = failed.first().first().value<SocketError>();
    }
    QCOMPARE(result ? 0 : result.error().code, error);
    QCOMPARE(endpoint.isPeerReady(), error == 0);
    if (error != 0)
        return;

    const QByteArray payload("\x00\x01\x02\x03 with a NUL", 15);
    QCOMPARE(endpoint.send(payload).outcome, Outcome::Sent);
    QVERIFY(peer.waitForReadyRead(5000));
    const QNetworkDatagram datagram = peer.receiveDatagram();
    QCOMPARE(datagram.data(), payload);
    QCOMPARE(datagram.senderPort(), int(kLocalPort));
}

void tst_UdpEndpoint::systemLookup_data()
{
    QTest::addColumn<QString>("host");
    // Asked just before, then abandoned: its answer must never be the one delivered.
    QTest::addColumn<QString>("abandoned");
    // No descriptor left to open /etc/hosts with.
    QTest::addColumn<bool>("exhausted");
    QTest::addColumn<bool>("found");
    // Under .invalid nothing ever resolves, with or without a network.
    // First, while glibc has not read its configuration yet: it then says only that the name is
    // not known, as it did for the program's one lookup.
    QTest::newRow("out of descriptors") << "localhost"
                                        << "localhost" << true << false;
    QTest::newRow("localhost") << "localhost"
                               << "quillon.invalid" << false << true;
    QTest::newRow("quillon.invalid") << "quillon.invalid"
                                     << "localhost" << false << false;
}

void tst_UdpEndpoint::systemLookup()
{
    QFETCH(QString, host);
    QFETCH(QString, abandoned);
    QFETCH(bool, exhausted);
    QFETCH(bool, found);
    const std::unique_ptr<HostLookup> lookup = systemHostLookup();
    QSignalSpy answers(lookup.get(), &HostLookup::answered);
    rlimit limit {};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (exhausted) {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizers' type checks need a pipe of their own");
#endif
        // Every descriptor below the lowest free one is taken.
        const int lowestFree = ::dup(0);
        QVERIFY(lowestFree >= 0);
        ::close(lowestFree);
        rlimit none = limit;
        none.rlim_cur = rlim_t(lowestFree);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &none), 0);
    }
    lookup->lookUp(abandoned);
    // Time for the first answer to be posted, as a fast one can be before its lookup is
    // abandoned: it must be dropped when it arrives.
    QTest::qSleep(50);
    lookup->lookUp(host);
    QVERIFY(answers.isEmpty());
    const bool answered = answers.wait(30000);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    QVERIFY(answered);
    const auto answer = answers.first().first().value<LookupAnswer>();
    if (found) {
        QVERIFY(answer.addresses.contains(QHostAddress(QHostAddress::LocalHost)));
        return;
    }
    QVERIFY(answer.addresses.isEmpty());
    // Each number with its own source's text: never "not known" for a name that is.
    if (exhausted) {
        QCOMPARE(answer.error.kind, SocketError::Kind::System);
        QCOMPARE(answer.error.code, EMFILE);
        QCOMPARE(answer.error.description, qt_error_string(EMFILE));
        return;
    }
    QCOMPARE(answer.error.kind, SocketError::Kind::Resolver);
    QCOMPARE(answer.error.description, QString::fromLocal8Bit(::gai_strerror(answer.error.code)));
}

void tst_UdpEndpoint::fullLinkDropsWithoutFailing_data()
{
    // What the system says to the first send.
    QTest::addColumn<int>("error");
    QTest::addColumn<Outcome>("outcome");
    QTest::newRow("would block") << EAGAIN << Outcome::Dropped;
    QTest::newRow("no buffer") << ENOBUFS << Outcome::Dropped;
    QTest::newRow("too long") << EMSGSIZE << Outcome::Failed;
    QTest::newRow("sent") << 0 << Outcome::Sent;
}

void tst_UdpEndpoint::fullLinkDropsWithoutFailing()
{
    QFETCH(int, error);
    QFETCH(Outcome, outcome);
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, kPeerPort));
    UdpEndpoint endpoint;
    endpoint.setRemoteHost(QStringLiteral("127.0.0.1"));
    endpoint.setRemotePort(kPeerPort);
    QVERIFY(endpoint.bind(kLocalPort));
    int calls = 0;
    MonotonicTime firstCalled;
    endpoint.setSendCall([&](int fd, QByteArrayView payload, const QByteArray &to) {
        if (++calls > 1)
            return UdpEndpoint::systemSend(fd, payload, to);
        firstCalled = std::chrono::steady_clock::now();
        return error;
    });
    QSignalSpy complete(&endpoint, &UdpEndpoint::sendComplete);

    const MonotonicTime beforeSend = std::chrono::steady_clock::now();
    const SendResult first = endpoint.send("first");
    QCOMPARE(first.outcome, outcome);
    // Stamped as it was handed to the system, whatever became of it there.
    QVERIFY(beforeSend <= first.sentAt && first.sentAt <= firstCalled);
    QCOMPARE(complete.size(), outcome == Outcome::Sent ? 1 : 0);
    if (outcome == Outcome::Failed) {
        QCOMPARE(first.error.code, error);
        QCOMPARE(first.error.description, qt_error_string(error));
    }
    // The run goes on.
    QCOMPARE(endpoint.send("next").outcome, Outcome::Sent);
    QVERIFY(peer.waitForReadyRead(5000));
    QCOMPARE(peer.receiveDatagram().data(), QByteArray("next"));
}

void tst_UdpEndpoint::absentPeerIsNotAnError_data()
{
    QTest::addColumn<QHostAddress>("bindAddress");
    QTest::newRow("dual-stack") << QHostAddress(QHostAddress::Any);
    QTest::newRow("IPv4") << address("127.0.0.1");
}

void tst_UdpEndpoint::absentPeerIsNotAnError()
{
    // Nobody listens on the peer port. An unconnected socket is never told of the ICMP
    // replies: no send fails and no receive is refused.
    QFETCH(QHostAddress, bindAddress);
    UdpEndpoint endpoint;
    endpoint.setRemoteHost(QStringLiteral("127.0.0.1"));
    endpoint.setRemotePort(kPeerPort);
    QVERIFY(endpoint.bind(bindAddress, kLocalPort));
    QSignalSpy failures(&endpoint, &UdpEndpoint::receiveFailed);
    QSignalSpy arrivals(&endpoint, &UdpEndpoint::dataArrival);
    for (int i = 0; i < 50; ++i) {
        const SendResult sent = endpoint.send(QByteArray(16, char(i)));
        QVERIFY2(sent.outcome == Outcome::Sent, qPrintable(sent.error.description));
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
    QTest::addColumn<Path>("path");
    QTest::addColumn<int>("size");
    // The sender's address, and where it sends to on the endpoint's every-address socket.
    QTest::addColumn<QHostAddress>("from");
    QTest::addColumn<QHostAddress>("to");
    const QHostAddress v4 = QHostAddress::LocalHost;
    const QHostAddress v6 = QHostAddress::LocalHostIPv6;
    for (const auto &[path, name] :
        { std::pair(Path::Batched, "batched"), std::pair(Path::OneByOne, "one by one") }) {
        QTest::addRow("%s 0", name) << path << 0 << v4 << v4;
        QTest::addRow("%s 1", name) << path << 1 << v4 << address("127.0.0.3");
        QTest::addRow("%s 16", name) << path << 16 << address("127.0.0.2") << v4;
        QTest::addRow("%s 65507 IPv4", name) << path << 65507 << v4 << v4;
        QTest::addRow("%s 65527 IPv6", name) << path << 65527 << v6 << v6;
    }
}

void tst_UdpEndpoint::arrivalCounts()
{
    QFETCH(Path, path);
    QFETCH(int, size);
    QFETCH(QHostAddress, from);
    QFETCH(QHostAddress, to);
    UdpEndpoint endpoint({}, path);
    QVERIFY(endpoint.bind(kLocalPort));
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char(i % 251);

    QList<QByteArray> read;
    QList<qint32> counts;
    Arrival arrival;
    MonotonicTime notified;
    connect(&endpoint, &UdpEndpoint::dataArrival, this, [&](qint32 bytesTotal) {
        counts << bytesTotal;
        read << endpoint.read();
        arrival = endpoint.arrival();
        notified = std::chrono::steady_clock::now();
    });
    QUdpSocket sender;
    QVERIFY2(sender.bind(from, 0), qPrintable(sender.errorString()));
    const MonotonicTime beforeSend = std::chrono::steady_clock::now();
    QCOMPARE(sender.writeDatagram(payload, to, kLocalPort), qint64(size));
    QTRY_COMPARE(counts.size(), 1);
    QCOMPARE(counts.first(), size);
    QCOMPARE(read.first(), payload);
    QCOMPARE(arrival.source.address(), from);
    QCOMPARE(arrival.source.port, sender.localPort());
    QCOMPARE(arrival.destination.address(), to);
    QCOMPARE(arrival.destination.port, kLocalPort);
    QVERIFY(beforeSend <= arrival.receivedAt && arrival.receivedAt <= notified);
    // Outside a notification nothing is waiting.
    QCOMPARE(endpoint.read(), QByteArray());
    QCOMPARE(endpoint.arrival().source, SocketAddress());
}

void tst_UdpEndpoint::arrivalIsStampedOnReceipt_data()
{
    QTest::addColumn<Path>("path");
    QTest::newRow("batched") << Path::Batched;
    QTest::newRow("one by one") << Path::OneByOne;
}

void tst_UdpEndpoint::arrivalIsStampedOnReceipt()
{
    // By the system as the datagram came, not when the endpoint got round to reading it.
    QFETCH(Path, path);
    UdpEndpoint endpoint({}, path);
    QVERIFY(endpoint.bind(kLocalPort));
    MonotonicTime stamp;
    connect(
        &endpoint, &UdpEndpoint::dataArrival, this, [&] { stamp = endpoint.arrival().receivedAt; });
    QUdpSocket sender;
    // The system turns its stamps on a moment after the first socket asks for them, and stamps
    // at the read until then: a datagram or two may go before one is stamped on receipt.
    const auto stampedBeforeRead = [&] {
        stamp = {};
        sender.writeDatagram("t", QHostAddress::LocalHost, kLocalPort);
        // Nothing is read before the event loop runs again.
        const MonotonicTime sent = std::chrono::steady_clock::now();
        return QTest::qWaitFor([&] { return stamp != MonotonicTime(); }) && stamp <= sent;
    };
    QVERIFY(QTest::qWaitFor(stampedBeforeRead));
}

void tst_UdpEndpoint::everyWaitingDatagramIsNotified_data()
{
    QTest::addColumn<Path>("path");
    // The handler closes the endpoint at the first notification, inside its notifier's signal,
    // as the window does when it gives up.
    QTest::addColumn<bool>("closeInHandler");
    QTest::newRow("batched") << Path::Batched << false;
    QTest::newRow("one by one") << Path::OneByOne << false;
    QTest::newRow("closed by its handler") << Path::Batched << true;
}

void tst_UdpEndpoint::everyWaitingDatagramIsNotified()
{
    // Several datagrams wait before the event loop runs, zero-length ones among them, sent to
    // either family's loopback in turn: each gets its own notification and its own destination,
    // even when the handler reads nothing.
    QFETCH(Path, path);
    QFETCH(bool, closeInHandler);
    UdpEndpoint endpoint({}, path);
    QVERIFY(endpoint.bind(kLocalPort));
    QSignalSpy arrivals(&endpoint, &UdpEndpoint::dataArrival);
    QList<QHostAddress> destinations;
    connect(&endpoint, &UdpEndpoint::dataArrival, this,
        [&] { destinations << endpoint.arrival().destination.address(); });
    if (closeInHandler)
        connect(&endpoint, &UdpEndpoint::dataArrival, &endpoint, &UdpEndpoint::close);
    QUdpSocket sender;
    constexpr int kCount = 100;
    const QHostAddress to[]
        = { QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6) };
    for (int i = 0; i < kCount; ++i)
        sender.writeDatagram(QByteArray(i % 3, 'z'), to[i % 2], kLocalPort);
    if (closeInHandler) {
        QTRY_VERIFY(!endpoint.isBound());
        // Nothing more from the batch already read, nor from the closed socket.
        QTest::qWait(50);
        QCOMPARE(arrivals.size(), 1);
        return;
    }
    QTRY_COMPARE(arrivals.size(), kCount);
    for (int i = 0; i < kCount; ++i) {
        QCOMPARE(arrivals.at(i).at(0).toInt(), i % 3);
        QCOMPARE(destinations.at(i), to[i % 2]);
    }
}

void tst_UdpEndpoint::largeDatagramsAreReadFewerAPass_data()
{
    QTest::addColumn<Path>("path");
    QTest::newRow("batched") << Path::Batched;
    QTest::newRow("one by one") << Path::OneByOne;
}

void tst_UdpEndpoint::largeDatagramsAreReadFewerAPass()
{
    // A reader that dumps what it reads must not be handed 32 of the largest datagrams at once.
    QFETCH(Path, path);
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress::LocalHost, 0));
    const int fd = int(receiver.socketDescriptor());
    const int room = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room); // where allowed
    QUdpSocket sender;
    const auto send = [&](int count, qsizetype size) {
        for (int i = 0; i < count; ++i)
            sender.writeDatagram(
                QByteArray(size, 'L'), QHostAddress::LocalHost, receiver.localPort());
    };
    DatagramBatch batch(path);
    // QTRY_ would evaluate a read more than once.
    int read = 0;
    const auto receive
        = [&] { return QTest::qWaitFor([&] { return (read = batch.receive(fd)) > 0; }); };
    send(10, 65507);
    QVERIFY(receive());
    QCOMPARE(batch.limit(), int(DatagramBatch::kBytesPerPass / 65507));
    while (batch.receive(fd) > 0) { }
    send(10, 65507);
    QVERIFY(receive());
    QVERIFY2(read <= batch.limit(), QByteArray::number(read));
    // Small ones again: the whole capacity.
    while (batch.receive(fd) > 0) { }
    send(3, 16);
    QVERIFY(receive());
    QCOMPARE(batch.limit(), DatagramBatch::kCapacity);
}

void tst_UdpEndpoint::takenPortFailsWithSystemError()
{
    UdpEndpoint first;
    QVERIFY(first.bind(kLocalPort));
    UdpEndpoint second;
    const SocketResult taken = second.bind(kLocalPort);
    QVERIFY(!taken);
    QCOMPARE(taken.error().code, EADDRINUSE);
    QCOMPARE(taken.error().description, qt_error_string(EADDRINUSE));
    QVERIFY(!second.isBound());

    // Held by an IPv4-only socket of another program: the bind fails too.
    first.close();
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, kLocalPort));
    const SocketResult held = second.bind(kLocalPort);
    QVERIFY(!held);
    QCOMPARE(held.error().code, EADDRINUSE);
}

void tst_UdpEndpoint::closeFreesThePort()
{
    auto *const lookup = new ScriptedLookup(found({ QHostAddress(QHostAddress::LocalHost) }));
    UdpEndpoint endpoint { std::unique_ptr<HostLookup>(lookup) };
    endpoint.setRemoteHost(QStringLiteral("peer.test"));
    QVERIFY(endpoint.bind(kLocalPort));
    QSignalSpy arrivals(&endpoint, &UdpEndpoint::dataArrival);
    QSignalSpy ready(&endpoint, &UdpEndpoint::peerReady);
    endpoint.close();
    QVERIFY(!endpoint.isBound());
    // An answer that comes after the close finds nothing to make ready.
    lookup->answer();
    QCOMPARE(ready.size(), 0);
    QCOMPARE(endpoint.send("late").outcome, Outcome::Failed);
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::Any, kLocalPort));
    probe.writeDatagram("x", QHostAddress::LocalHost, kLocalPort);
    QTest::qWait(50);
    QCOMPARE(arrivals.size(), 0);
}

QTEST_GUILESS_MAIN(tst_UdpEndpoint)
#include "tst_udpendpoint.moc"
