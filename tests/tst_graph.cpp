// SPDX-License-Identifier: MIT
// The graph window over a measured run: what it plots against the records, and how its view
// follows, holds and follows again.
#include "app/GraphWindow.h"
#include "engine/LinkMeasure.h"
#include "net/TestPattern.h"

#include <QSignalSpy>
#include <QTest>
#include <qcustomplot.h>

#include <cmath>

namespace {

constexpr qint64 kMs = 1'000'000;
constexpr qint64 kSecond = 1000 * kMs;
constexpr qint64 kStartNs = 7'000 * kMs; // any time of the monotonic clock
constexpr qint64 kStartWallMs = 1'700'000'000'000;
constexpr double kStart = kStartWallMs / 1000.0; // the plot's keys are seconds
constexpr qint64 kPeriod = 100 * kMs;
constexpr qint64 kRoundTrip = 2 * kMs;
constexpr int kSeededSeconds = 20;

StreamKey peer()
{
    return StreamKey::ipv4(0xC0000201, 20319); // 192.0.2.1
}

// A send every 100 ms and its echo 2 ms later, over [fromSecond, toSecond): the peer is silent
// from 5 s to 8 s (an outage that loses 30) and loses the 126th datagram.
void feed(LinkMeasure &measure, int fromSecond, int toSecond)
{
    for (qint64 n = fromSecond * 10; n < toSecond * 10; ++n) {
        const qint64 at = kStartNs + n * kPeriod;
        measure.sent(int(n % 256), TestPattern::kPayloadSize, at);
        if ((n < 50 || n >= 80) && n != 125)
            measure.received(peer(), TestPattern::payload(qint16(n % 256)), at + kRoundTrip);
    }
    measure.advance(kStartNs + toSecond * kSecond, kStartWallMs + toSecond * 1000);
}

QCPAbstractPlottable *plottable(const QCPAxisRect *panel, const QString &name)
{
    for (QCPAbstractPlottable *p : panel->plottables()) {
        if (p->name() == name)
            return p;
    }
    return nullptr;
}

// A plottable's points as (seconds from the run's start, value); NaN where a line breaks.
QList<QPointF> points(QCPAbstractPlottable *p)
{
    QList<QPointF> found;
    const QCPPlottableInterface1D *data = p ? p->interface1D() : nullptr;
    for (int i = 0; data && i < data->dataCount(); ++i)
        found << QPointF(data->dataMainKey(i) - kStart, data->dataMainValue(i));
    return found;
}

QList<double> keys(const QList<QPointF> &points)
{
    QList<double> found;
    for (const QPointF &p : points)
        found << std::round(p.x() * 1000) / 1000;
    return found;
}

enum class Action { None, Wheel, WheelThenDrag, WheelThenEnd, DragThenDoubleClick };

void wheel(QWidget *plot, QPoint at)
{
    QWheelEvent event(at, plot->mapToGlobal(at), {}, { 0, 120 }, Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(plot, &event);
}

void drag(QWidget *plot, QPoint from, QPoint to)
{
    const auto send = [plot](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, plot->mapToGlobal(at), Qt::LeftButton, buttons, {});
        QCoreApplication::sendEvent(plot, &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
}

} // namespace

class tst_Graph : public QObject
{
    Q_OBJECT

private slots:
    void plotsTheRecordsAndFollows_data();
    void plotsTheRecordsAndFollows();
};

void tst_Graph::plotsTheRecordsAndFollows_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("following");
    QTest::newRow("left alone, follows") << Action::None << true;
    QTest::newRow("wheel zoom holds") << Action::Wheel << false;
    QTest::newRow("wheel zoom, then drag, holds") << Action::WheelThenDrag << false;
    QTest::newRow("End follows again") << Action::WheelThenEnd << true;
    QTest::newRow("double-click follows again") << Action::DragThenDoubleClick << true;
}

void tst_Graph::plotsTheRecordsAndFollows()
{
    QFETCH(Action, action);
    QFETCH(bool, following);
    LinkMeasure measure(kStartNs, kStartWallMs);
    measure.setPeriod(kPeriod);
    feed(measure, 0, kSeededSeconds);
    GraphWindow window(measure.records(), QStringLiteral("graph"));
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCustomPlot *const plot = window.plot();

    // A run of 20 s shows whole, each interval a point of its own at its middle, once the
    // window is laid out.
    const QCPAxis *const time = window.panel(GraphWindow::Panel::Rate)->axis(QCPAxis::atBottom);
    QCOMPARE(time->range().lower, kStart);
    QCOMPARE(time->range().upper, kStart + kSeededSeconds);
    const QString name = QStringLiteral("192.0.2.1:20319");
    QList<QPointF> sent;
    QTRY_COMPARE(
        (sent = points(plottable(window.panel(GraphWindow::Panel::Rate), QStringLiteral("送信"))))
            .size(),
        kSeededSeconds);
    QCOMPARE(sent.first(), QPointF(0.5, 10));
    // Heard in 17 intervals; down to 0 in the first and the last of the three it was not.
    const QList<QPointF> received = points(plottable(window.panel(GraphWindow::Panel::Rate), name));
    QCOMPARE(received.size(), 19);
    QCOMPARE(received[5], QPointF(5.5, 0));
    QCOMPARE(received[6], QPointF(7.5, 0));
    QCOMPARE(received[11], QPointF(12.5, 9));
    QCOMPARE(points(plottable(window.panel(GraphWindow::Panel::Lost), name)),
        QList<QPointF>({ { 8.5, 30 }, { 12.5, 1 } }));
    const QList<QPointF> median
        = points(plottable(window.panel(GraphWindow::Panel::RoundTrip), name));
    QCOMPARE(median.size(), 18);
    QVERIFY(std::isnan(median[5].y()));
    QVERIFY2(std::abs(median[0].y() - 2) < 2 * 0.004, qPrintable(QString::number(median[0].y())));
    QCOMPARE(points(plottable(window.panel(GraphWindow::Panel::Jitter), name)).size(), 18);
    // The outage, 3.1 s up to the middle of the interval it ended in, shaded in every panel.
    for (const GraphWindow::Panel panel : { GraphWindow::Panel::Rate, GraphWindow::Panel::Lost,
             GraphWindow::Panel::RoundTrip, GraphWindow::Panel::Jitter }) {
        const QList<QPointF> outages
            = points(plottable(window.panel(panel), QStringLiteral("途絶")));
        QCOMPARE(keys(outages), QList<double>({ 5.4, 8.5 }));
        QCOMPARE(outages.first().y(), 1.0);
    }

    const QRect area = window.panel(GraphWindow::Panel::Rate)->rect();
    const bool zoomed = action == Action::Wheel || action == Action::WheelThenDrag
        || action == Action::WheelThenEnd;
    if (zoomed)
        wheel(plot, area.center());
    // Towards earlier times, which the view then reads anew.
    if (action == Action::WheelThenDrag || action == Action::DragThenDoubleClick)
        drag(plot, area.center(), area.center() + QPoint(area.width() / 4, 0));
    if (action == Action::WheelThenEnd)
        QTest::keyClick(&window, Qt::Key_End);
    if (action == Action::DragThenDoubleClick)
        QTest::mouseDClick(plot, Qt::LeftButton, {}, area.center());
    QCOMPARE(window.isFollowing(), following);
    QCoreApplication::processEvents();
    const QCPRange before = time->range();
    QCOMPARE(before.size() < kSeededSeconds, zoomed);

    // Five more seconds: a following view moves on by them, a held one stays.
    QSignalSpy replotted(plot, &QCustomPlot::afterReplot);
    feed(measure, kSeededSeconds, kSeededSeconds + 5);
    window.recordsChanged();
    QVERIFY(replotted.wait());
    const QCPRange after = time->range();
    if (following) {
        QCOMPARE(after.upper, kStart + kSeededSeconds + 5);
        QCOMPARE(after.size(), action == Action::None ? kSeededSeconds + 5 : before.size());
    } else {
        QCOMPARE(after, before);
    }
    // What the view kept from before and read anew since is what a fresh read of it gives.
    GraphSeries fresh;
    fresh.update(measure.records(), qint64(std::floor(after.lower * 1000)),
        qint64(std::ceil(after.upper * 1000)), window.panel(GraphWindow::Panel::Rate)->width());
    QCOMPARE(fresh.lines().size(), size_t(2));
    const GraphSeries::Series &rate = fresh.lines()[1].rate;
    QList<QPointF> expected;
    for (qsizetype i = 0; i < rate.keys.size(); ++i)
        expected << QPointF(rate.keys[i] - kStart, rate.values[i]);
    QCOMPARE(points(plottable(window.panel(GraphWindow::Panel::Rate), name)), expected);
}

QTEST_MAIN(tst_Graph)
#include "tst_graph.moc"
