// SPDX-License-Identifier: MIT
#include "engine/PatternCheck.h"
#include "net/TestPattern.h"

#include <QTest>

#include <algorithm>
#include <utility>

namespace {

constexpr quint32 kPeriod = 10;

struct Stream
{
    QList<QByteArray> datagrams;
    QList<quint32> ticks;

    // `count` counters from `first` on, one period apart from the tick `start`.
    Stream &run(int first, int count, quint32 start)
    {
        for (int i = 0; i < count; ++i) {
            datagrams << TestPattern::payload(qint16((first + i) % 256));
            ticks << start + quint32(i) * kPeriod;
        }
        return *this;
    }
    Stream &add(const QByteArray &datagram, quint32 tick)
    {
        datagrams << datagram;
        ticks << tick;
        return *this;
    }
};

QByteArray counter(int value)
{
    return TestPattern::payload(qint16(value));
}

// 1,124 datagrams one period apart, every nineteenth held back about 2 s (200 places), in the
// order they arrive. The 100th and 101st are both held and arrive side by side, so the second
// looks like the first one's successor.
Stream heldBack()
{
    QList<std::pair<quint32, int>> arrivals;
    for (int i = 0; i < 1124; ++i) {
        const quint32 delay = i == 101 ? 1995 : i % 19 == 5 ? 2003 : 0;
        arrivals.append({ 1000 + quint32(i) * kPeriod + delay, i });
    }
    std::stable_sort(arrivals.begin(), arrivals.end(),
        [](const auto &a, const auto &b) { return a.first < b.first; });
    Stream s;
    for (const auto &[tick, i] : arrivals)
        s.add(counter(i % 256), tick);
    return s;
}

} // namespace

class tst_PatternCheck : public QObject
{
    Q_OBJECT

private slots:
    void counts_data();
    void counts();
};

void tst_PatternCheck::counts_data()
{
    QTest::addColumn<QList<QByteArray>>("datagrams");
    QTest::addColumn<QList<quint32>>("ticks");
    QTest::addColumn<int>("patterned");
    // In order, lost, out of order, duplicates.
    QTest::addColumn<QList<qint64>>("expected");

    auto row = [](const char *name, const Stream &s, int patterned, QList<qint64> expected) {
        QTest::newRow(name) << s.datagrams << s.ticks << patterned << expected;
    };
    row("in order", Stream().run(0, 10, 1000), 10, { 10, 0, 0, 0 });
    // The last one was sent before the first one seen: it fills no gap.
    row("first one anywhere", Stream().run(200, 10, 1000).add(counter(199), 1091), 11,
        { 10, 0, 1, 0 });
    row("one gap", Stream().run(0, 5, 1000).run(7, 3, 1070), 8, { 8, 2, 0, 0 });
    row("wrap from FF to 00", Stream().run(250, 12, 1000), 12, { 12, 0, 0, 0 });
    row("reordered pair",
        Stream().run(0, 3, 1000).add(counter(4), 1040).add(counter(3), 1041).run(5, 2, 1050), 7,
        { 6, 0, 1, 0 });
    row("duplicate", Stream().run(0, 3, 1000).add(counter(2), 1021).run(3, 2, 1030), 6,
        { 5, 0, 0, 1 });
    // 199 places ahead of the expected counter: soon after the newest it is a late one, long
    // after it a gap.
    row("late by 57 places, a wrap in",
        Stream().run(0, 259, 1000).run(260, 56, 3600).add(counter(3), 4151), 316, { 315, 0, 1, 0 });
    row("held back 2 s, the stream's place kept", heldBack(), 1124, { 1064, 0, 60, 0 });
    // A far jump waits for the next datagram: the stray 10 is not followed by 11 and stays a
    // duplicate; the sender's restart at 0 is followed by 1 and reads as a gap.
    row("restart taken once the next one follows",
        Stream().run(0, 100, 1000).add(counter(10), 1991).run(100, 5, 2000).run(0, 20, 2050), 126,
        { 125, 151, 0, 1 });
    row("gap of 200", Stream().run(0, 10, 1000).run(210, 2, 3100), 12, { 12, 200, 0, 0 });
    row("gap of 44", Stream().run(0, 10, 1000).run(54, 2, 1540), 12, { 12, 44, 0, 0 });
    // The counters of the row above, later: the counter wrapped once during the gap.
    row("gap of 300 across the tick's wrap",
        Stream().run(0, 10, 0xFFFFFF00u).run(54, 2, 0xFFFFFF00u + 3100), 12, { 12, 300, 0, 0 });
    // The pause barely moves the period: a gap of 300 soon after is still told by time.
    row("pause ending on the next counter",
        Stream().run(0, 10, 1000).run(10, 5, 60000).run(59, 2, 63050), 17, { 17, 300, 0, 0 });
    // The window reads a backlog of datagrams at one tick.
    row("gap in a burst read at once",
        Stream().run(0, 10, 1000).add(counter(11), 1090).add(counter(12), 1090), 12,
        { 12, 1, 0, 0 });
    row("other shapes mixed in",
        Stream()
            .run(0, 2, 1000)
            .add(QByteArray(), 1011)
            .add(counter(2).left(15), 1012)
            .add(counter(2) + '\0', 1013)
            .add(QByteArray("\x02\x02\x02\x03", 4) + QByteArray(12, '\0'), 1014)
            .add(counter(2).replace(15, 1, "\x01"), 1015)
            .add(counter(2), 1016)
            .run(3, 2, 1030),
        5, { 5, 0, 0, 0 });
}

void tst_PatternCheck::counts()
{
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(QList<quint32>, ticks);
    QFETCH(int, patterned);
    QFETCH(QList<qint64>, expected);

    PatternCheck check;
    int shaped = 0;
    for (qsizetype i = 0; i < datagrams.size(); ++i)
        shaped += check.observe(datagrams[i], ticks[i]);
    const PatternCheck::Counts c = check.counts();
    QCOMPARE(shaped, patterned);
    QCOMPARE(QList<qint64>({ c.inOrder, c.lost, c.outOfOrder, c.duplicates }), expected);

    // After a reset the next datagram starts a stream of its own, wherever its counter is.
    check.reset();
    check.observe(counter(123), ticks.last() + 1);
    const PatternCheck::Counts fresh = check.counts();
    QCOMPARE(QList<qint64>({ fresh.inOrder, fresh.lost, fresh.outOfOrder, fresh.duplicates }),
        QList<qint64>({ 1, 0, 0, 0 }));
}

QTEST_APPLESS_MAIN(tst_PatternCheck)
#include "tst_patterncheck.moc"
