// SPDX-License-Identifier: MIT
// The sender's period as a peer sees it: a child process timestamps every datagram that reaches
// 127.0.0.1:20319. The real window sends at 10, 100, 500 and 1000 ms; beside it, in the same
// run, a plain loop that sleeps to absolute deadlines and sends.
#include "AbortingReporter.h"
#include "BenchSupport.h"
#include "app/frmMain.h"
#include "engine/Tick.h"

#include <QApplication>
#include <QPushButton>
#include <QSlider>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr quint16 kPeerPort = 20319;

void print(const char *who, int period, const Bench::PeriodFigures &f)
{
    std::printf("%-10s %8d %8d %14.4f %14.3f %12.3f\n", who, period, f.periods, f.meanErrorPercent,
        f.p99DeviationMs, f.maxDeviationMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Seconds of sending per period and per sender; the figures in the notes use 30.
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    AbortingReporter reporter;

    std::printf("%-10s %8s %8s %14s %14s %12s\n", "sender", "period", "periods", "mean err %",
        "p99 dev ms", "max dev ms");
    // Further arguments choose the periods, for a closer look at one of them.
    std::vector<int> periods;
    for (int i = 2; i < argc; ++i)
        periods.push_back(std::atoi(argv[i]));
    if (periods.empty())
        periods = { 10, 100, 500, 1000 };
    for (const int period : periods) {
        const int count = std::max(20, int(seconds * 1000 / period));
        // The recorder's clock starts before the window is built and shown, which takes a while.
        const int recordMs = (count + 5) * period + 5000;
        {
            Bench::Child recorder = Bench::startRecorder(kPeerPort, count, recordMs);
            frmMain window(systemUptimeMilliseconds, reporter);
            window.show();
            // Let the first paint, with its font loading, pass, as it has long before a user
            // clicks; otherwise it delays the first tick.
            Bench::runEventLoopFor(500);
            window.findChild<QSlider *>(QStringLiteral("sldPeriod"))->setValue(period);
            auto *send = window.findChild<QPushButton *>(QStringLiteral("cmdSend"));
            send->click();
            Bench::runEventLoopFor((count + 1) * period + 200);
            send->click();
            print("window", period, Bench::periodFigures(Bench::collectArrivals(recorder), period));
        }
        {
            Bench::Child recorder = Bench::startRecorder(kPeerPort, count, recordMs);
            Bench::referenceSender(kPeerPort, period, count);
            print("reference", period,
                Bench::periodFigures(Bench::collectArrivals(recorder), period));
        }
    }
    return 0;
}
