// SPDX-License-Identifier: MIT
// What the graph window costs: the time of one replot after an interval is added (the data read
// from the records, decimated, and drawn), median and max, after a minute, an hour and a day of
// 1 s intervals with one sender, following the newest five minutes and following the whole run;
// the first draw of each view, which reads all its records; and the resident memory of the
// graph beside the records' own after the day.
// Usage: bench_graph [replots per case]
#include "BenchSupport.h"
#include "app/GraphWindow.h"
#include "engine/IntervalStore.h"

#include <QApplication>
#include <QRandomGenerator>
#include <qcustomplot.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr qint64 kStartWallMs = 1'700'000'000'000;
constexpr qint64 kSecondNs = 1'000'000'000;
constexpr qint64 kMinuteSeconds = 60;
constexpr qint64 kHourSeconds = 60 * 60;
constexpr qint64 kDaySeconds = 24 * kHourSeconds;
constexpr int kDefaultReplots = 200;
constexpr double kMiB = 1 << 20;

// One interval at 1000 datagrams a second, echoed: a sent record and the peer's. Every hour the
// peer is silent for 10 s.
class Run
{
public:
    explicit Run(IntervalStore &store)
        : m_store(store)
    { }

    void append(qint64 seconds)
    {
        for (const qint64 end = m_next + seconds; m_next < end; ++m_next) {
            IntervalRecord sent;
            sent.startWallMs = kStartWallMs + m_next * 1000;
            sent.lengthNs = kSecondNs;
            sent.datagrams = 1000;
            sent.bytes = 16'000;
            m_store.append(sent);
            const qint64 intoHour = m_next % 3600;
            if (intoHour >= 3590)
                continue;
            IntervalRecord peer = sent;
            peer.stream = StreamKey::ipv4(0xC0000201, 20319);
            peer.lost = m_random.bounded(100) == 0 ? m_random.bounded(1, 20) : 0;
            peer.datagrams = 1000 - peer.lost;
            peer.inOrder = peer.datagrams;
            peer.rttSamples = peer.datagrams;
            peer.rttMinNs = 150'000;
            peer.rttMedianNs = 200'000 + m_random.bounded(50'000);
            peer.rttP99Ns = peer.rttMedianNs + m_random.bounded(400'000);
            peer.rttMaxNs = peer.rttP99Ns + 100'000;
            peer.jitterNs = 10'000 + m_random.bounded(20'000);
            if (intoHour == 0 && m_next > 0) {
                peer.outages = 1;
                peer.longestOutageNs = peer.downNs = 10 * kSecondNs;
                peer.lost += 10'000;
            }
            m_store.append(peer);
        }
    }

private:
    IntervalStore &m_store;
    QRandomGenerator m_random { 20320 };
    qint64 m_next = 0;
};

struct Times
{
    double medianMs = 0;
    double maxMs = 0;
};

double replotMs(QCustomPlot &plot)
{
    const qint64 start = Bench::nowNs();
    plot.replot(QCustomPlot::rpImmediateRefresh);
    return double(Bench::nowNs() - start) / 1e6;
}

// Each replot after one more interval, as the window's refresh does it.
Times timeReplots(QCustomPlot &plot, Run &run, int replots)
{
    std::vector<double> ms;
    for (int i = 0; i < replots; ++i) {
        run.append(1);
        ms.push_back(replotMs(plot));
    }
    std::sort(ms.begin(), ms.end());
    return { ms[ms.size() / 2], ms.back() };
}

void printTimes(const char *run, const char *view, const Times &times, double firstMs)
{
    std::printf(
        "  %-14s %-22s %10.3f %10.3f %12.3f\n", run, view, times.medianMs, times.maxMs, firstMs);
    std::fflush(stdout);
}

double rssMiB()
{
    return double(Bench::processStatusBytes("VmRSS")) / kMiB;
}

// Zooms out to the whole run, as a wheel would, then follows it.
void followTheWholeRun(GraphWindow &window, const IntervalStore &store)
{
    const double start = double(store.at(0).startWallMs) / 1000;
    const IntervalRecord &newest = store.at(store.size() - 1);
    const double end = double(newest.startWallMs + newest.lengthNs / 1'000'000) / 1000;
    window.panel(GraphWindow::Panel::Rate)->axis(QCPAxis::atBottom)->setRange(start, end);
    window.follow();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int replots = std::max(10, argc > 1 ? std::atoi(argv[1]) : kDefaultReplots);

    std::printf("ms per replot after one more 1 s interval, %d replots\n", replots);
    std::printf("  %-14s %-22s %10s %10s %12s\n", "run", "view", "median", "max", "first draw");
    const struct
    {
        const char *name;
        qint64 seconds;
    } runs[]
        = { { "1 day", kDaySeconds }, { "1 hour", kHourSeconds }, { "1 minute", kMinuteSeconds } };
    // What any graph window costs, over no records: its buffers, and the fonts and the plot's
    // code loaded for the first one.
    const double empty = rssMiB();
    {
        IntervalStore none;
        GraphWindow window(none, QStringLiteral("bench"));
        window.show();
        QCoreApplication::processEvents();
        replotMs(*window.plot());
    }
    const double emptyGraph = rssMiB() - empty;

    // The memory is read in the first run, the day, while little freed before can be reused.
    double before = 0;
    double filled = 0;
    double following = 0;
    double whole = 0;
    qint64 storeBytes = 0;
    qsizetype records = 0;
    qint64 heap = 0;
    for (const auto &r : runs) {
        const bool day = r.seconds == kDaySeconds;
        if (day)
            before = rssMiB();
        IntervalStore store;
        Run run(store);
        run.append(r.seconds);
        if (day)
            filled = rssMiB();
        const qint64 heapBefore = Bench::heapInUse();
        GraphWindow window(store, QStringLiteral("bench"));
        window.show();
        QCoreApplication::processEvents();
        double first = replotMs(*window.plot());
        printTimes(r.name, "newest 5 minutes", timeReplots(*window.plot(), run, replots), first);
        if (day)
            following = rssMiB();
        followTheWholeRun(window, store);
        first = replotMs(*window.plot());
        printTimes(r.name, "whole run", timeReplots(*window.plot(), run, replots), first);
        if (day) {
            whole = rssMiB();
            heap = Bench::heapInUse() - heapBefore;
            storeBytes = store.memoryBytes();
            records = store.size();
        }
    }

    std::printf("\nresident memory after a simulated day (%lld records)\n", qint64(records));
    std::printf(
        "  %-42s %8.1f MiB\n", "the records' own size (memoryBytes)", double(storeBytes) / kMiB);
    std::printf("  %-42s %8.1f MiB\n", "RSS grown by the records", filled - before);
    std::printf("  %-42s %8.1f MiB\n", "RSS grown by a first graph over no records", emptyGraph);
    std::printf(
        "  %-42s %8.1f MiB\n", "RSS grown by the graph, newest 5 minutes", following - filled);
    std::printf("  %-42s %8.1f MiB\n", "RSS grown by the graph, then whole run", whole - filled);
    std::printf("  %-42s %8.1f MiB\n", "heap held by the graph, whole run", double(heap) / kMiB);
    std::printf("  %-42s %8.1f MiB\n", "RSS in all, graph open", whole);
    return 0;
}
