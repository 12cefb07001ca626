// SPDX-License-Identifier: MIT
#include "engine/DurationHistogram.h"
#include "engine/EchoClock.h"
#include "engine/IntervalStore.h"
#include "engine/Jitter.h"
#include "engine/LinkMeasure.h"
#include "net/TestPattern.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr qint64 kMs = 1'000'000;
constexpr qint64 kStartNs = 7'000 * kMs; // any time of the monotonic clock
constexpr qint64 kStartWallMs = 1'700'000'000'000;
constexpr qint64 kNoEcho = -1;
constexpr qint64 kDuplicate = -2;

StreamKey peer(quint16 port = 20319)
{
    return StreamKey::ipv4(0xC0000201, port); // 192.0.2.1
}

QByteArray counter(qint64 n)
{
    return TestPattern::payload(qint16(n % 256));
}

// One datagram sent or arriving at a time, fed to the measure in time order.
struct Event
{
    qint64 atNs = 0;
    bool send = false;
    qint64 counter = 0;
};

void feed(LinkMeasure &measure, std::vector<Event> events)
{
    std::stable_sort(events.begin(), events.end(),
        [](const Event &a, const Event &b) { return a.atNs < b.atNs; });
    for (const Event &e : events) {
        if (e.send)
            measure.sent(int(e.counter % 256), TestPattern::kPayloadSize, e.atNs);
        else
            measure.received(peer(), counter(e.counter), e.atNs);
    }
}

// The stream's records, and the end of the run closed.
QList<IntervalRecord> streamRecords(LinkMeasure &measure, qint64 endNs)
{
    measure.advance(endNs + LinkMeasure::kLongestIntervalNs, kStartWallMs);
    QList<IntervalRecord> records;
    for (qsizetype i = 0; i < measure.records().size(); ++i) {
        if (measure.records().at(i).stream == peer())
            records << measure.records().at(i);
    }
    return records;
}

bool near(double value, double expected, double share)
{
    return std::abs(value - expected) <= std::abs(expected) * share;
}

} // namespace

class tst_Measure : public QObject
{
    Q_OBJECT

private slots:
    void histogram_data();
    void histogram();
    void jitter_data();
    void jitter();
    void echoes_data();
    void echoes();
    void impaired_data();
    void impaired();
    void outages_data();
    void outages();
    void eviction_data();
    void eviction();
    void store_data();
    void store();
};

void tst_Measure::histogram_data()
{
    QTest::addColumn<QList<qint64>>("values");

    QList<qint64> linear;
    for (qint64 v = 255; v >= 0; --v)
        linear << v << v / 2;
    QTest::newRow("every nanosecond below 256 exact") << linear;
    QRandomGenerator random(20320);
    QList<qint64> spread;
    for (int i = 0; i < 20000; ++i)
        spread << qint64(std::exp(random.bounded(std::log(1e11) - std::log(1e3)) + std::log(1e3)));
    QTest::newRow("log-uniform from 1 us to 100 s") << spread;
    QTest::newRow("one value") << QList<qint64> { 12'345'678 };
    // Past the last bucket only the ends are exact.
    QTest::newRow("200 s past the range") << QList<qint64> { 200'000 * kMs, kMs };
}

// Half the values in one histogram, half in another merged into a third that was used and
// reset: the percentiles are the exact nearest-rank ones, to within the buckets' 0.4 %.
void tst_Measure::histogram()
{
    QFETCH(QList<qint64>, values);
    DurationHistogram first;
    DurationHistogram second;
    for (qsizetype i = 0; i < values.size(); ++i)
        (i % 2 ? second : first).record(values[i]);
    DurationHistogram merged;
    merged.record(3 * kMs);
    merged.reset();
    merged.merge(first);
    merged.merge(second);

    std::sort(values.begin(), values.end());
    QCOMPARE(merged.count(), values.size());
    QCOMPARE(merged.min(), values.first());
    QCOMPARE(merged.max(), values.last());
    QList<double> percents { 0.0, 0.1, 99.9, 100.0 };
    for (int p = 1; p < 100; ++p)
        percents << p;
    for (const double percent : percents) {
        const auto rank
            = std::max(qsizetype(std::ceil(percent / 100 * double(values.size()))), qsizetype(1));
        const qint64 exact = values[rank - 1];
        const qint64 read = merged.percentile(percent);
        QVERIFY2(std::abs(read - exact) <= exact / 256,
            qPrintable(QStringLiteral("p%1: %2, exact %3").arg(percent).arg(read).arg(exact)));
    }
}

void tst_Measure::jitter_data()
{
    QTest::addColumn<QList<qint64>>("transitsNs");
    QTest::addColumn<qint64>("jitterNs");

    QTest::newRow("steady") << QList<qint64> { 5000, 5000, 5000 } << qint64(0);
    // One step moves J by a sixteenth of it; then it decays by a sixteenth a datagram.
    QTest::newRow("one step of 16 us") << QList<qint64> { 0, 16000 } << qint64(1000);
    QTest::newRow("the step, then steady") << QList<qint64> { 0, 16000, 16000 } << qint64(937);
    QTest::newRow("down as up") << QList<qint64> { 16000, 0 } << qint64(1000);
}

void tst_Measure::jitter()
{
    QFETCH(QList<qint64>, transitsNs);
    QFETCH(qint64, jitterNs);
    Jitter jitter;
    for (const qint64 transit : transitsNs)
        jitter.observe(transit);
    QCOMPARE(jitter.estimateNs(), jitterNs);
}

void tst_Measure::echoes_data()
{
    QTest::addColumn<int>("periodMs");
    QTest::addColumn<int>("sends"); // counter i leaves at i * 10 ms
    QTest::addColumn<bool>("lastDropped");
    QTest::addColumn<QList<int>>("counters");
    QTest::addColumn<QList<qint64>>("arrivalsMs");
    QTest::addColumn<QList<qint64>>("roundTripsMs");

    QTest::newRow("echo of the newest")
        << 10 << 10 << false << QList<int> { 9 } << QList<qint64> { 95 } << QList<qint64> { 5 };
    QTest::newRow("a second echo is a duplicate")
        << 10 << 10 << false << QList<int> { 9, 9, 8 } << QList<qint64> { 95, 96, 97 }
        << QList<qint64> { 5, kDuplicate, 17 };
    QTest::newRow("period 0") << 0 << 10 << false << QList<int> { 9 } << QList<qint64> { 95 }
                              << QList<qint64> { kNoEcho };
    QTest::newRow("counter not sent") << 10 << 10 << false << QList<int> { 200 }
                                      << QList<qint64> { 95 } << QList<qint64> { kNoEcho };
    QTest::newRow("arrived before it left") << 10 << 10 << false << QList<int> { 9 }
                                            << QList<qint64> { 89 } << QList<qint64> { kNoEcho };
    QTest::newRow("dropped send") << 10 << 11 << true << QList<int> { 10, 9 }
                                  << QList<qint64> { 105, 105 } << QList<qint64> { kNoEcho, 15 };
    // The period is 20 ms: only the count of sends rules these out.
    QTest::newRow("127 and 128 sends back")
        << 20 << 300 << false << QList<int> { 172, 171 } << QList<qint64> { 2995, 2995 }
        << QList<qint64> { 1275, kNoEcho };
    QTest::newRow("128 periods back")
        << 10 << 10 << false << QList<int> { 1, 0 } << QList<qint64> { 1289, 1280 }
        << QList<qint64> { 1279, kNoEcho };
}

void tst_Measure::echoes()
{
    QFETCH(int, periodMs);
    QFETCH(int, sends);
    QFETCH(bool, lastDropped);
    QFETCH(QList<int>, counters);
    QFETCH(QList<qint64>, arrivalsMs);
    QFETCH(QList<qint64>, roundTripsMs);

    EchoClock clock;
    clock.setPeriod(periodMs * kMs);
    for (int i = 0; i < sends; ++i) {
        if (lastDropped && i == sends - 1)
            clock.dropped(i % 256);
        else
            clock.sent(i % 256, kStartNs + i * 10 * kMs);
    }
    EchoClock::Echoed echoed;
    for (qsizetype i = 0; i < counters.size(); ++i) {
        const EchoClock::Match match
            = clock.match(counters[i], kStartNs + arrivalsMs[i] * kMs, echoed);
        const qint64 read = match.kind == EchoClock::Kind::Echo ? match.roundTripNs / kMs
            : match.kind == EchoClock::Kind::Duplicate          ? kDuplicate
                                                                : kNoEcho;
        QCOMPARE(read, roundTripsMs[i]);
    }
}

void tst_Measure::impaired_data()
{
    QTest::addColumn<bool>("echo"); // else the peer's own stream, nothing sent
    QTest::addColumn<qint64>("periodNs");
    QTest::addColumn<qint64>("delayNs");
    QTest::addColumn<qint64>("jitterNs"); // the width of a uniform spread around the delay
    QTest::addColumn<int>("dropPerMille");
    QTest::addColumn<int>("duplicatePerMille");

    QTest::newRow("echo, steady") << true << 10 * kMs << 20 * kMs << qint64(0) << 0 << 0;
    QTest::newRow("echo, jitter, drops, duplicates")
        << true << 10 * kMs << 20 * kMs << 4 * kMs << 20 << 10;
    QTest::newRow("peer, jitter, drops, duplicates")
        << false << 10 * kMs << 20 * kMs << 4 * kMs << 20 << 10;
    QTest::newRow("peer at 1 ms, 0.5 ms jitter") << false << kMs << 3 * kMs << kMs / 2 << 5 << 5;
}

// A link whose truth is known: a fixed delay with a seeded uniform spread around it, drops and
// duplicates. For a spread of width w, |D| has the triangular distribution of the difference of
// two uniforms: mean w/3 (where the RFC's jitter settles), median w(1 - 1/sqrt 2), p99 0.9 w.
void tst_Measure::impaired()
{
    QFETCH(bool, echo);
    QFETCH(qint64, periodNs);
    QFETCH(qint64, delayNs);
    QFETCH(qint64, jitterNs);
    QFETCH(int, dropPerMille);
    QFETCH(int, duplicatePerMille);

    constexpr int kPeriods = 30000;
    QRandomGenerator random(20319);
    auto spread = [&] { return jitterNs ? qint64(random.bounded(quint64(jitterNs))) : 0; };
    std::vector<Event> events;
    qint64 delivered = 0;
    qint64 duplicated = 0;
    for (int i = 0; i < kPeriods; ++i) {
        const qint64 sendNs = kStartNs + i * periodNs;
        if (echo)
            events.push_back({ sendNs, true, i });
        const bool ends = i == 0 || i == kPeriods - 1;
        if (!ends && int(random.bounded(1000)) < dropPerMille)
            continue;
        ++delivered;
        events.push_back({ sendNs + delayNs - jitterNs / 2 + spread(), false, i });
        if (int(random.bounded(1000)) < duplicatePerMille) {
            ++duplicated;
            events.push_back({ sendNs + delayNs - jitterNs / 2 + spread(), false, i });
        }
    }
    LinkMeasure measure(kStartNs, kStartWallMs);
    measure.setPeriod(echo ? periodNs : 0);
    feed(measure, events);
    const QList<IntervalRecord> records = streamRecords(measure, events.back().atNs);

    IntervalRecord sum;
    double jitterSum = 0;
    int jitterCount = 0;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const IntervalRecord &r = records[i];
        sum.datagrams += r.datagrams;
        sum.inOrder += r.inOrder;
        sum.lost += r.lost;
        sum.outOfOrder += r.outOfOrder;
        sum.duplicates += r.duplicates;
        sum.rttSamples += r.rttSamples;
        if (i >= 10) { // once the estimate has settled
            jitterSum += double(r.jitterNs);
            ++jitterCount;
        }
    }
    QCOMPARE(sum.datagrams, delivered + duplicated);
    QCOMPARE(sum.inOrder, delivered);
    QCOMPARE(sum.lost, kPeriods - delivered);
    QCOMPARE(sum.outOfOrder, 0);
    QCOMPARE(sum.duplicates, duplicated);

    const StreamMeter &stream = *measure.streams().stream(peer());
    QCOMPARE(measure.sentRun().datagrams, echo ? kPeriods : 0);
    QCOMPARE(sum.rttSamples, echo ? delivered : 0);
    if (echo)
        QVERIFY(near(double(stream.run().rtt.percentile(50)), double(delayNs), 0.01));
    const DurationHistogram &ipdv = stream.run().ipdv;
    if (jitterNs == 0) {
        QCOMPARE(stream.jitterNs(), 0);
        QCOMPARE(ipdv.max(), 0);
        QCOMPARE(stream.run().rtt.min(), delayNs);
        QCOMPARE(stream.run().rtt.max(), delayNs);
        return;
    }
    const double width = double(jitterNs);
    QVERIFY2(near(jitterSum / jitterCount, width / 3, 0.03),
        qPrintable(QString::number(jitterSum / jitterCount / width)));
    QVERIFY2(near(double(ipdv.percentile(50)), width * (1 - 1 / std::sqrt(2.0)), 0.03),
        qPrintable(QString::number(double(ipdv.percentile(50)) / width)));
    QVERIFY2(near(double(ipdv.percentile(99)), width * 0.9, 0.03),
        qPrintable(QString::number(double(ipdv.percentile(99)) / width)));
    // The schedule's estimate of the period moves the largest a little.
    QVERIFY2(near(double(ipdv.max()), width, 0.02),
        qPrintable(QString::number(double(ipdv.max()) / width)));
}

void tst_Measure::outages_data()
{
    QTest::addColumn<qint64>("periodMs");
    // After each run of 20 datagrams one period apart, a silence that loses some.
    QTest::addColumn<QList<qint64>>("silencesMs");
    QTest::addColumn<QList<int>>("lost");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<qint64>("longestMs");
    QTest::addColumn<qint64>("longestLost");
    QTest::addColumn<qint64>("longestStartMs"); // after the first datagram
    QTest::addColumn<qint64>("downMs");

    auto row = [](const char *name, qint64 period, QList<qint64> silences, QList<int> lost,
                   QList<qint64> expected) {
        QTest::newRow(name) << period << silences << lost << expected[0] << expected[1]
                            << expected[2] << expected[3] << expected[4];
    };
    row("40 ms at 10 ms, under 50 ms", 10, { 40 }, { 3 }, { 0, 0, 0, 0, 0 });
    row("60 ms at 10 ms", 10, { 60 }, { 5 }, { 1, 60, 5, 190, 60 });
    row("the longest kept, not the last", 10, { 200, 1000, 100 }, { 19, 99, 9 },
        { 3, 1000, 99, 580, 1300 });
    row("a paused sender loses nothing", 10, { 5000 }, { 0 }, { 1, 5000, 0, 190, 5000 });
    row("250 ms at 100 ms, under 3 periods", 100, { 250 }, { 1 }, { 0, 0, 0, 0, 0 });
    row("350 ms at 100 ms", 100, { 350 }, { 2 }, { 1, 350, 2, 1900, 350 });
}

void tst_Measure::outages()
{
    QFETCH(qint64, periodMs);
    QFETCH(QList<qint64>, silencesMs);
    QFETCH(QList<int>, lost);
    QFETCH(qint64, count);
    QFETCH(qint64, longestMs);
    QFETCH(qint64, longestLost);
    QFETCH(qint64, longestStartMs);
    QFETCH(qint64, downMs);

    std::vector<Event> events;
    qint64 at = kStartNs;
    qint64 n = 0;
    for (qsizetype run = 0; run <= silencesMs.size(); ++run) {
        for (int i = 0; i < 20; ++i, at += periodMs * kMs)
            events.push_back({ at, false, n++ });
        if (run < silencesMs.size()) {
            at += (silencesMs[run] - periodMs) * kMs;
            n += lost[run];
        }
    }
    LinkMeasure measure(kStartNs, kStartWallMs);
    feed(measure, events);
    qint64 recordedOutages = 0;
    for (const IntervalRecord &r : streamRecords(measure, events.back().atNs))
        recordedOutages += r.outages;

    const Outages &outages = measure.streams().stream(peer())->run().outages;
    QCOMPARE(outages.count(), count);
    QCOMPARE(recordedOutages, count);
    QCOMPARE(outages.longest().durationNs, longestMs * kMs);
    QCOMPARE(outages.longest().lost, longestLost);
    if (count > 0)
        QCOMPARE(outages.longest().startWallMs, kStartWallMs + longestStartMs);
    QCOMPARE(outages.downNs(), downMs * kMs);
}

void tst_Measure::eviction_data()
{
    QTest::addColumn<QList<int>>("ports"); // one datagram each, in this order
    QTest::addColumn<QList<int>>("gone");

    auto ports = [](int first, int last) {
        QList<int> list;
        for (int p = first; p <= last; ++p)
            list << p;
        return list;
    };
    QTest::newRow("64 fit") << ports(1, 64) << QList<int> {};
    QTest::newRow("the 65th lets the least recently heard go") << ports(1, 65) << QList<int> { 1 };
    QTest::newRow("a stream heard again stays")
        << ports(1, 64) + QList<int> { 1, 65 } << QList<int> { 2 };
    QTest::newRow("three more, three go") << ports(1, 67) << QList<int> { 1, 2, 3 };
}

void tst_Measure::eviction()
{
    QFETCH(QList<int>, ports);
    QFETCH(QList<int>, gone);

    LinkMeasure measure(kStartNs, kStartWallMs);
    QList<int> heard; // datagrams per port
    for (qsizetype i = 0; i < ports.size(); ++i) {
        measure.received(peer(quint16(ports[i])), counter(i), kStartNs + i * kMs);
        heard.resize(std::max(heard.size(), qsizetype(ports[i] + 1)));
        ++heard[ports[i]];
    }
    qint64 goneDatagrams = 0;
    for (int p = 1; p < heard.size(); ++p) {
        const bool expectedGone = gone.contains(p);
        QCOMPARE(measure.streams().stream(peer(quint16(p))) == nullptr, expectedGone);
        goneDatagrams += expectedGone ? heard[p] : 0;
    }
    QCOMPARE(measure.streams().size(), std::min(int(heard.size()) - 1, StreamTable::kMaxStreams));
    QCOMPARE(measure.streams().letGo(), gone.size());

    // Nothing is lost from the records: the streams let go are in one "others" record.
    measure.advance(kStartNs + LinkMeasure::kLongestIntervalNs, kStartWallMs);
    qint64 recorded = 0;
    qint64 others = 0;
    for (qsizetype i = 0; i < measure.records().size(); ++i) {
        const IntervalRecord &r = measure.records().at(i);
        recorded += r.isSent() ? 0 : r.datagrams;
        others += r.stream == StreamKey::others() ? r.datagrams : 0;
    }
    QCOMPARE(recorded, ports.size());
    QCOMPARE(others, goneDatagrams);
    QCOMPARE(measure.streams().othersRun().received, goneDatagrams);
}

void tst_Measure::store_data()
{
    QTest::addColumn<int>("budgetChunks");
    QTest::addColumn<int>("appended");
    QTest::addColumn<int>("kept");

    QTest::newRow("under the budget") << 3 << 1000 << 1000;
    QTest::newRow("at the budget") << 3 << 2048 << 2048;
    QTest::newRow("past the budget the oldest go") << 3 << 5000 << 2048;
    QTest::newRow("a budget under two chunks holds one") << 0 << 1500 << 1024;
}

void tst_Measure::store()
{
    QFETCH(int, budgetChunks);
    QFETCH(int, appended);
    QFETCH(int, kept);

    constexpr qint64 kChunkBytes = IntervalStore::kChunkRecords * sizeof(IntervalRecord);
    IntervalStore store(budgetChunks * kChunkBytes);
    IntervalRecord record;
    for (int i = 0; i < appended; ++i) {
        record.startWallMs = i;
        store.append(record);
    }
    QCOMPARE(store.size(), kept);
    QCOMPARE(store.dropped(), appended - kept);
    QCOMPARE(store.appended(), appended);
    QCOMPARE(store.at(0).startWallMs, appended - kept);
    QCOMPARE(store.at(kept - 1).startWallMs, appended - 1);
    if (budgetChunks >= 2)
        QVERIFY(store.memoryBytes() <= budgetChunks * kChunkBytes);
}

QTEST_APPLESS_MAIN(tst_Measure)
#include "tst_measure.moc"
