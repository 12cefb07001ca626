// SPDX-License-Identifier: MIT
// The real engine on real sockets against an echo peer that impairs the link as netem would,
// from a seeded random source, and keeps the truth of what it did.
#include "RecordingReporter.h"
#include "engine/LinkEngine.h"
#include "engine/LinkOutput.h"
#include "engine/StreamMeter.h"
#include "engine/Timer.h"
#include "net/UdpEndpoint.h"

#include <QEventLoop>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <vector>

namespace {

constexpr int kPeriodMs = 10;
constexpr qint64 kNsPerMs = 1'000'000;
// The peer impairs this many datagrams, then echoes the rest at once, so that every gap it made
// is seen and closed.
constexpr qint64 kImpaired = 150;
constexpr qint64 kPlainTail = 3;
constexpr quint32 kSeed = 23;
// On loopback the engine's round trip exceeds the time the peer held a datagram only by the
// system's and the peer's event loop's share.
constexpr qint64 kRttToleranceNs = 500'000;
constexpr int kRunTimeoutMs = 30000;
constexpr std::chrono::milliseconds kLookMs { 5 };

struct Impairment
{
    int delayMs = 0;
    int jitterMs = 0; // each copy's delay is drawn from delay ± jitter, in whole milliseconds
    double loss = 0;
    double duplicate = 0;
    double holdBack = 0; // held back this many periods more, so it arrives out of order
    int holdBackPeriods = 0;
    qint64 blackoutFrom = 0; // the datagrams from here on, this many, are all lost
    qint64 blackoutLength = 0;
};

// What the peer did: datagrams of which it echoed no copy, copies beyond the first, and how
// long it held each datagram before its first echo left, as timed on the monotonic clock (Qt's
// timers wake only on whole milliseconds, so the delays drawn are only nearly what was held).
struct Truth
{
    static constexpr qint64 kNoEcho = -1;

    qint64 lost = 0;
    qint64 duplicates = 0;
    std::vector<qint64> firstEchoNs; // per datagram heard

    std::vector<qint64> echoedNs() const
    {
        std::vector<qint64> held;
        std::copy_if(firstEchoNs.begin(), firstEchoNs.end(), std::back_inserter(held),
            [](qint64 ns) { return ns != kNoEcho; });
        std::sort(held.begin(), held.end());
        return held;
    }
    // The nearest rank, as the engine takes it.
    qint64 medianNs() const
    {
        const std::vector<qint64> held = echoedNs();
        return held.empty() ? 0 : held[(held.size() + 1) / 2 - 1];
    }
};

qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class ImpairedEcho : public QObject
{
public:
    explicit ImpairedEcho(const Impairment &impairment)
        : m_impairment(impairment)
    {
        m_bound = m_socket.bind(QHostAddress::LocalHost, 0);
        connect(&m_socket, &QUdpSocket::readyRead, this, &ImpairedEcho::answer);
    }

    bool isBound() const { return m_bound; }
    quint16 port() const { return m_socket.localPort(); }
    qint64 heard() const { return qint64(m_truth.firstEchoNs.size()); }
    qint64 echoed() const { return m_echoed; }
    int holding() const { return m_holding; }
    const Truth &truth() const { return m_truth; }

private:
    bool chance(double p) { return m_random.generateDouble() < p; }

    void answer()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = m_socket.receiveDatagram();
            const qint64 heardNs = monotonicNs();
            const qint64 index = heard();
            m_truth.firstEchoNs.push_back(Truth::kNoEcho);
            const Impairment &i = m_impairment;
            // As netem decides: a duplicate adds a copy, a loss takes one away. Every datagram
            // draws alike, so the seed alone decides what becomes of the nth.
            int copies = 1 + chance(i.duplicate);
            copies -= chance(i.loss);
            const int heldMs = chance(i.holdBack) ? i.holdBackPeriods * kPeriodMs : 0;
            if (index >= kImpaired)
                copies = 1;
            else if (index >= i.blackoutFrom && index < i.blackoutFrom + i.blackoutLength)
                copies = 0;
            for (int c = 0; c < copies; ++c) {
                const int jitterMs = int(m_random.bounded(2 * i.jitterMs + 1)) - i.jitterMs;
                const int delayMs = index < kImpaired ? i.delayMs + jitterMs + heldMs : 0;
                echoLater(datagram, delayMs, index, heardNs);
            }
            m_truth.lost += copies == 0;
            m_truth.duplicates += std::max(0, copies - 1);
        }
    }

    void echoLater(const QNetworkDatagram &datagram, int delayMs, qint64 index, qint64 heardNs)
    {
        ++m_holding;
        QTimer::singleShot(delayMs, Qt::PreciseTimer, this,
            [this, index, heardNs, data = datagram.data(), to = datagram.senderAddress(),
                port = quint16(datagram.senderPort())] {
                m_socket.writeDatagram(data, to, port);
                qint64 &first = m_truth.firstEchoNs[size_t(index)];
                if (first == Truth::kNoEcho)
                    first = monotonicNs() - heardNs;
                --m_holding;
                ++m_echoed;
            });
    }

    const Impairment m_impairment;
    QRandomGenerator m_random { kSeed };
    QUdpSocket m_socket;
    bool m_bound = false;
    qint64 m_echoed = 0;
    int m_holding = 0;
    Truth m_truth;
};

class NoOutput final : public LinkOutput
{
public:
    void append(Log, QByteArrayView) override { }
};

// Runs the event loop itself until the condition holds. QTRY_* and qWaitFor sleep 10 ms between
// passes of the loop, and the peer's delays would then be held to that step.
bool runUntil(const std::function<bool()> &done)
{
    QEventLoop loop;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    look.callOnTimeout(&loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(kLookMs);
    QTimer::singleShot(kRunTimeoutMs, &loop, [&] { loop.exit(1); });
    return loop.exec() == 0;
}

Settings linkTo(quint16 peerPort)
{
    Settings settings;
    settings.bindAddress = QHostAddress(QHostAddress::LocalHost);
    settings.bindPort = 0;
    settings.peerHost = QStringLiteral("127.0.0.1");
    settings.peerPort = peerPort;
    return settings;
}

} // namespace

Q_DECLARE_METATYPE(Impairment)

class tst_Engine : public QObject
{
    Q_OBJECT

private slots:
    void echoThroughAnImpairedPeer_data();
    void echoThroughAnImpairedPeer();
};

void tst_Engine::echoThroughAnImpairedPeer_data()
{
    QTest::addColumn<Impairment>("impairment");

    QTest::newRow("fixed delay 20 ms") << Impairment { 20 };
    QTest::newRow("delay 20 ± 5 ms, reordered") << Impairment { 20, 5 };
    QTest::newRow("drop 10 %") << Impairment { 2, 0, 0.1 };
    QTest::newRow("duplicate 10 %") << Impairment { 2, 0, 0, 0.1 };
    QTest::newRow("hold back 10 % by 4 periods") << Impairment { 2, 0, 0, 0, 0.1, 4 };
    QTest::newRow("delay 20 ± 5 ms, drop 5 %, duplicate 5 %, hold back 5 %")
        << Impairment { 20, 5, 0.05, 0.05, 0.05, 4 };
    QTest::newRow("blackout of 30 datagrams") << Impairment { 5, 0, 0, 0, 0, 0, 60, 30 };
}

void tst_Engine::echoThroughAnImpairedPeer()
{
    QFETCH(Impairment, impairment);
    ImpairedEcho peer(impairment);
    QVERIFY(peer.isBound());
    RecordingReporter reporter;
    NoOutput output;
    LinkEngine engine(systemUptimeMilliseconds, reporter, output, linkTo(peer.port()));
    connect(&engine.timer(), &Timer::tick, &engine, &LinkEngine::sendTick);
    connect(&engine.endpoint(), &UdpEndpoint::dataArrival, &engine, &LinkEngine::receive);
    QVERIFY(engine.open());
    engine.setPeriod(kPeriodMs);
    engine.setSending(true);

    // Stopped with nothing in flight, every echo back: the engine times no echo that arrives
    // once the sender has stopped.
    const LinkStatistics &totals = engine.statistics();
    QVERIFY(runUntil([&] {
        return peer.heard() >= kImpaired + kPlainTail && peer.heard() == totals.sentDatagrams()
            && peer.holding() == 0 && totals.receivedDatagrams() == peer.echoed();
    }));
    engine.setSending(false);
    QVERIFY(reporter.reports.isEmpty());

    const StreamMeter *const stream = engine.shownStream();
    QVERIFY(stream);
    const Truth &truth = peer.truth();
    QCOMPARE(stream->pattern().lost, truth.lost);
    QCOMPARE(stream->pattern().duplicates, truth.duplicates);
    const StreamMeter::Tally run = stream->soFar();
    QCOMPARE(run.rtt.count(), qint64(truth.echoedNs().size()));
    const qint64 medianNs = run.rtt.percentile(50);
    QVERIFY2(qAbs(medianNs - truth.medianNs()) <= kRttToleranceNs,
        qPrintable(
            QStringLiteral("RTT median %1 ns, held %2 ns").arg(medianNs).arg(truth.medianNs())));

    if (impairment.blackoutLength > 0) {
        // From the last echo before it to the first after.
        const qint64 expectedNs = (impairment.blackoutLength + 1) * kPeriodMs * kNsPerMs;
        const Outage &longest = run.outages.longest();
        QVERIFY2(qAbs(longest.durationNs - expectedNs) < kPeriodMs * kNsPerMs,
            qPrintable(QString::number(longest.durationNs)));
        QCOMPARE(longest.lost, impairment.blackoutLength);
    }
}

QTEST_GUILESS_MAIN(tst_Engine)
#include "tst_engine.moc"
