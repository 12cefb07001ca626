// SPDX-License-Identifier: MIT
// A long run of the real window beside a misbehaving neighbourhood: the sender at 1 ms with Dump
// on and nobody listening on 20319, a child sending 10,000 datagrams a second of mixed sizes to
// 20320, and the panes cleared once a minute. Prints, each minute, what was sent, received and
// logged and how the heap splits between the panes and everything else.
// Usage: bench_soak [minutes] [datagrams per second]
#include "BenchSupport.h"
#include "FatalErrorReporter.h"
#include "LogPane.h"
#include "Tick.h"
#include "Timer.h"
#include "UdpEndpoint.h"
#include "frmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr quint16 kLocalPort = 20320;
constexpr int kMinuteMs = 60000;

// Counts what would have been message boxes and lets the run go on, so that the figure shows.
class CountingReporter final : public FatalErrorReporter
{
public:
    void report(int errorNumber, const QString &description) override
    {
        ++boxes;
        std::fprintf(stderr, "fatal %d: %s\n", errorNumber, qPrintable(description));
    }
    int boxes = 0;
};

// Mostly small datagrams, some of Ethernet size, now and then the largest there is.
int mixedSize(qint64 n)
{
    if (n % 10000 == 9999)
        return 65507;
    if (n % 100 == 99)
        return 1472;
    return int((n * 37) % 65);
}

qint64 countReceiveLines(const LogPane &status)
{
    return status.text().count("Receive ");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int perSecond = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int durationMs = int(minutes * kMinuteMs);

    CountingReporter reporter;
    frmMain window(systemUptimeMilliseconds, reporter);
    window.show();
    auto *status = window.findChild<LogPane *>(QStringLiteral("txtStat"));
    auto *dump = window.findChild<LogPane *>(QStringLiteral("txtDump"));
    auto *endpoint = window.findChild<UdpEndpoint *>(QStringLiteral("wskClient"));
    auto *timer = window.findChild<Timer *>(QStringLiteral("tmr1"));

    // Reserved up front: the bench's own bookkeeping must not show up as growth of the rest.
    std::vector<qint64> ticks;
    ticks.reserve(size_t(durationMs) + 10000);
    QObject::connect(timer, &Timer::tick, [&] { ticks.push_back(Bench::nowNs()); });
    qint64 arrivals = 0;
    QObject::connect(endpoint, &UdpEndpoint::dataArrival, [&] { ++arrivals; });

    QCoreApplication::processEvents();
    const qint64 heapAtStart = Bench::heapInUse();
    window.findChild<QSlider *>(QStringLiteral("sldPeriod"))->setValue(1);
    window.findChild<QCheckBox *>(QStringLiteral("chkDump"))->setChecked(true);
    window.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    Bench::Child flood = Bench::startPacedFlood(kLocalPort, perSecond, durationMs, mixedSize);

    std::printf("heap at start %.1f MB; %d datagrams/s for %.1f min\n", heapAtStart / 1e6,
        perSecond, minutes);
    std::printf("%6s %10s %10s %10s %6s %12s %12s %12s\n", "minute", "sent", "received", "logged",
        "boxes", "panes MB", "rest MB", "pane lines");
    std::fflush(stdout);

    qint64 logged = 0;
    int minute = 0;
    auto report = [&](bool clear) {
        logged += countReceiveLines(*status);
        const qint64 heap = Bench::heapInUse();
        const qint64 panes = status->content().memoryUsed() + dump->content().memoryUsed();
        std::printf("%6d %10zu %10lld %10lld %6d %12.1f %12.1f %12lld\n", minute, ticks.size(),
            qlonglong(arrivals), qlonglong(logged), reporter.boxes, panes / 1e6,
            (heap - panes) / 1e6,
            qlonglong(status->content().lineCount() + dump->content().lineCount()));
        std::fflush(stdout);
        if (clear)
            window.findChild<QPushButton *>(QStringLiteral("cmdMonitorInit"))->click();
    };
    QTimer everyMinute;
    QObject::connect(&everyMinute, &QTimer::timeout, [&] {
        ++minute;
        report(true);
    });
    everyMinute.start(kMinuteMs);

    Bench::runEventLoopFor(durationMs + 2000);
    window.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    const qint64 floodSent = Bench::waitFlood(flood);
    QCoreApplication::processEvents();
    ++minute;
    report(false);

    const Bench::PeriodFigures period = Bench::periodFigures(ticks, 1.0);
    qint64 longestGap = 0;
    int gapsOver[3] = {};
    constexpr qint64 kGapLimitsNs[3] = { 2000000, 5000000, 20000000 };
    for (size_t i = 1; i < ticks.size(); ++i) {
        const qint64 gap = ticks[i] - ticks[i - 1];
        longestGap = std::max(longestGap, gap);
        for (int k = 0; k < 3; ++k)
            gapsOver[k] += gap > kGapLimitsNs[k];
    }
    std::printf("\nflood sent %lld, received %lld (%.2f %%), logged %lld (%.2f %% of received)\n",
        qlonglong(floodSent), qlonglong(arrivals),
        100.0 * arrivals / std::max<qint64>(1, floodSent), qlonglong(logged),
        100.0 * logged / std::max<qint64>(1, arrivals));
    std::printf("sender: %zu ticks, mean error %.4f %%, p99 deviation %.3f ms, max %.3f ms\n",
        ticks.size(), period.meanErrorPercent, period.p99DeviationMs, period.maxDeviationMs);
    std::printf(
        "largest pause of the event loop (longest gap between ticks): %.3f ms\n", longestGap / 1e6);
    std::printf("gaps between ticks over 2 ms: %d, over 5 ms: %d, over 20 ms: %d\n", gapsOver[0],
        gapsOver[1], gapsOver[2]);
    std::printf("message boxes shown: %d\n", reporter.boxes);
    return 0;
}
