// SPDX-License-Identifier: MIT
// Long runs of the real window beside a misbehaving neighbourhood, in one of two modes.
//
// The mixed soak: the sender at 1 ms with Dump on and nobody listening on 20319, a child sending
// 10,000 datagrams a second of mixed sizes to 20320, and the panes cleared once a minute. Prints,
// each minute, what was sent, received and logged and how the heap splits between the panes and
// everything else.
//
// The dump flood: a child sends 65,507-byte datagrams to 20320 as fast as it can, with Dump on
// and the panes at their default budgets, never cleared, so that the dump pane keeps letting go.
// The sender runs at 1 ms, timed by a peer child on 20319. Prints, each minute, the resident size
// and its peak and the lines each pane let go; at the end what was sent and received, the
// sender's p99, the longest pause of the event loop, the boxes and whether the window still runs.
// Usage: bench_soak [minutes] [datagrams per second]
//        bench_soak dump-flood [minutes]
#include "BenchSupport.h"
#include "app/frmMain.h"
#include "engine/FatalErrorReporter.h"
#include "engine/Settings.h"
#include "engine/Tick.h"
#include "engine/Timer.h"
#include "net/UdpEndpoint.h"
#include "pane/LogPane.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr quint16 kLocalPort = 20320;
constexpr quint16 kPeerPort = 20319;
constexpr int kMinuteMs = 60000;
constexpr int kSenderPeriod = 1;
constexpr int kLargestDatagram = 65507;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr char kDumpFlood[] = "dump-flood";

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
        return kLargestDatagram;
    if (n % 100 == 99)
        return 1472;
    return int((n * 37) % 65);
}

qint64 countReceiveLines(const LogPane &status)
{
    return status.text().count("Receive ");
}

// The window's controls and the bench's own counts of its ticks and arrivals.
struct Probe
{
    explicit Probe(frmMain &window, int durationMs)
        : status(window.findChild<LogPane *>(QStringLiteral("txtStat")))
        , dump(window.findChild<LogPane *>(QStringLiteral("txtDump")))
        , endpoint(window.findChild<UdpEndpoint *>(QStringLiteral("wskClient")))
        , timer(window.findChild<Timer *>(QStringLiteral("tmr1")))
    {
        // Reserved up front: the bench's own bookkeeping must not show up as growth.
        ticks.reserve(size_t(durationMs / kSenderPeriod) + 10000);
        QObject::connect(timer, &Timer::tick, timer, [this] { ticks.push_back(Bench::nowNs()); });
        QObject::connect(endpoint, &UdpEndpoint::dataArrival, endpoint, [this] { ++arrivals; });
    }

    void startSending(frmMain &window) const
    {
        window.findChild<QSlider *>(QStringLiteral("sldPeriod"))->setValue(kSenderPeriod);
        window.findChild<QCheckBox *>(QStringLiteral("chkDump"))->setChecked(true);
        window.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    }

    LogPane *const status;
    LogPane *const dump;
    UdpEndpoint *const endpoint;
    Timer *const timer;
    std::vector<qint64> ticks;
    qint64 arrivals = 0;
};

struct Pauses
{
    qint64 longestNs = 0;
    int over[3] = {};
};
constexpr qint64 kPauseLimitsNs[3] = { 2000000, 5000000, 20000000 };

// The gaps between ticks: at 1 ms, a gap is how long the event loop was kept from them.
Pauses pausesOf(const std::vector<qint64> &ticks)
{
    Pauses pauses;
    for (size_t i = 1; i < ticks.size(); ++i) {
        const qint64 gap = ticks[i] - ticks[i - 1];
        pauses.longestNs = std::max(pauses.longestNs, gap);
        for (int k = 0; k < 3; ++k)
            pauses.over[k] += gap > kPauseLimitsNs[k];
    }
    return pauses;
}

void printPauses(const Pauses &pauses)
{
    std::printf("largest pause of the event loop (longest gap between ticks): %.3f ms\n",
        pauses.longestNs / 1e6);
    std::printf("gaps between ticks over 2 ms: %d, over 5 ms: %d, over 20 ms: %d\n", pauses.over[0],
        pauses.over[1], pauses.over[2]);
}

int runMixedSoak(double minutes, int perSecond)
{
    const int durationMs = int(minutes * kMinuteMs);
    CountingReporter reporter;
    frmMain window(systemUptimeMilliseconds, reporter);
    window.show();
    Probe probe(window, durationMs);

    QCoreApplication::processEvents();
    const qint64 heapAtStart = Bench::heapInUse();
    probe.startSending(window);
    Bench::Child flood = Bench::startPacedFlood(kLocalPort, perSecond, durationMs, mixedSize);

    std::printf("heap at start %.1f MB; %d datagrams/s for %.1f min\n", heapAtStart / 1e6,
        perSecond, minutes);
    std::printf("%6s %10s %10s %10s %6s %12s %12s %12s\n", "minute", "sent", "received", "logged",
        "boxes", "panes MB", "rest MB", "pane lines");
    std::fflush(stdout);

    qint64 logged = 0;
    int minute = 0;
    auto report = [&](bool clear) {
        logged += countReceiveLines(*probe.status);
        const qint64 heap = Bench::heapInUse();
        const qint64 panes
            = probe.status->content().memoryUsed() + probe.dump->content().memoryUsed();
        std::printf("%6d %10zu %10lld %10lld %6d %12.1f %12.1f %12lld\n", minute,
            probe.ticks.size(), probe.arrivals, logged, reporter.boxes, panes / 1e6,
            (heap - panes) / 1e6,
            probe.status->content().lineCount() + probe.dump->content().lineCount());
        std::fflush(stdout);
        if (clear)
            window.findChild<QPushButton *>(QStringLiteral("cmdMonitorInit"))->click();
    };
    QTimer everyMinute;
    QObject::connect(&everyMinute, &QTimer::timeout, &everyMinute, [&] {
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

    const Bench::PeriodFigures period = Bench::periodFigures(probe.ticks, kSenderPeriod);
    std::printf("\nflood sent %lld, received %lld (%.2f %%), logged %lld (%.2f %% of received)\n",
        floodSent, probe.arrivals, 100.0 * probe.arrivals / std::max<qint64>(1, floodSent), logged,
        100.0 * logged / std::max<qint64>(1, probe.arrivals));
    std::printf("sender: %zu ticks, mean error %.4f %%, p99 deviation %.3f ms, max %.3f ms\n",
        probe.ticks.size(), period.meanErrorPercent, period.p99DeviationMs, period.maxDeviationMs);
    printPauses(pausesOf(probe.ticks));
    std::printf("message boxes shown: %d\n", reporter.boxes);
    return 0;
}

int runDumpFlood(double minutes)
{
    const int durationMs = int(minutes * kMinuteMs);
    CountingReporter reporter;
    // The default budgets, as a run without options has them.
    frmMain window(systemUptimeMilliseconds, reporter, Settings {});
    window.show();
    Probe probe(window, durationMs);
    QCoreApplication::processEvents();

    Bench::Child recorder = Bench::startRecorder(
        kPeerPort, durationMs / kSenderPeriod + 10000, durationMs + kMinuteMs);
    probe.startSending(window);
    Bench::Child flood = Bench::startTimedFlood(kLocalPort, kLargestDatagram, durationMs);

    std::printf("%d-byte datagrams as fast as a child sends them for %.1f min; Dump on; pane "
                "budgets %.0f MiB each; sender at %d ms timed on %u\n",
        kLargestDatagram, minutes, double(Settings::kDefaultPaneBudget) / kMiB, kSenderPeriod,
        unsigned(kPeerPort));
    std::printf("%6s %10s %10s %12s %12s %12s %12s %10s %6s\n", "minute", "RSS MiB", "peak MiB",
        "received", "status gone", "dump gone", "dump lines", "panes MiB", "boxes");
    std::fflush(stdout);

    int minute = 0;
    std::vector<qint64> residentByMinute;
    auto report = [&](const QByteArray &when) {
        const qint64 resident = Bench::processStatusBytes("VmRSS");
        residentByMinute.push_back(resident);
        const qint64 panes
            = probe.status->content().memoryUsed() + probe.dump->content().memoryUsed();
        std::printf("%6s %10.1f %10.1f %12lld %12lld %12lld %12lld %10.1f %6d\n", when.constData(),
            resident / kMiB, Bench::processStatusBytes("VmHWM") / kMiB, probe.arrivals,
            probe.status->content().firstLine(), probe.dump->content().firstLine(),
            probe.dump->content().lineCount(), panes / kMiB, reporter.boxes);
        std::fflush(stdout);
    };
    report("0");
    QTimer everyMinute;
    QObject::connect(&everyMinute, &QTimer::timeout, &everyMinute,
        [&] { report(QByteArray::number(++minute)); });
    everyMinute.start(kMinuteMs);

    Bench::runEventLoopFor(durationMs);
    everyMinute.stop();
    window.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    const qint64 floodSent = Bench::waitFlood(flood);
    Bench::stopRecorder(kPeerPort);
    const Bench::PeriodFigures period
        = Bench::periodFigures(Bench::collectArrivals(recorder), kSenderPeriod);
    // What is still queued for the window, so that the counts are final.
    Bench::runEventLoopFor(1000);
    report("end");

    const qint64 peak = Bench::processStatusBytes("VmHWM");
    const qint64 fromMinuteOne = residentByMinute.size() > 1
        ? *std::max_element(residentByMinute.begin() + 1, residentByMinute.end())
            - *std::min_element(residentByMinute.begin() + 1, residentByMinute.end())
        : 0;
    std::printf("\npeak resident size (VmHWM) %.1f MiB; resident size from minute 1 on varies by "
                "%.1f MiB\n",
        peak / kMiB, fromMinuteOne / kMiB);
    std::printf("lines let go: status pane %lld, dump pane %lld\n",
        probe.status->content().firstLine(), probe.dump->content().firstLine());
    std::printf("datagrams: child sent %lld, window received %lld (%.2f %%)\n", floodSent,
        probe.arrivals, 100.0 * probe.arrivals / std::max<qint64>(1, floodSent));
    std::printf("sender at %d ms as the peer saw it: %d periods, mean error %.4f %%, p99 deviation "
                "%.3f ms, max %.3f ms\n",
        kSenderPeriod, period.periods, period.meanErrorPercent, period.p99DeviationMs,
        period.maxDeviationMs);
    printPauses(pausesOf(probe.ticks));
    std::printf("message boxes shown: %d\n", reporter.boxes);
    std::printf("still alive: window %s, socket %s\n", window.isVisible() ? "shown" : "GONE",
        probe.endpoint->isBound() ? "bound" : "CLOSED");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], kDumpFlood) == 0)
        return runDumpFlood(argc > 2 ? std::atof(argv[2]) : 10.0);
    return runMixedSoak(
        argc > 1 ? std::atof(argv[1]) : 10.0, argc > 2 ? std::atoi(argv[2]) : 10000);
}
