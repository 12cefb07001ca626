// SPDX-License-Identifier: MIT
// From making the window to its first datagram at a peer on 127.0.0.1:20319, with the send
// button pressed at once: how long building the window takes, and how late the peer's name
// lookup makes the first datagram. Arguments: the peer's host, the period in ms, the runs.
#include "BenchSupport.h"
#include "app/frmMain.h"
#include "engine/FatalErrorReporter.h"
#include "engine/Tick.h"

#include <QApplication>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSlider>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr quint16 kPeerPort = 20319;
constexpr qint64 kGiveUpNs = qint64(60) * 1000 * 1000 * 1000;

// A failed lookup ends the run, not the benchmark.
class NotingReporter final : public FatalErrorReporter
{
public:
    void report(int errorNumber, const QString &description) override
    {
        std::printf("  fatal %d: %s\n", errorNumber, qUtf8Printable(description));
        failed = true;
    }
    bool failed = false;
};

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

void printFigures(const char *what, std::vector<qint64> ns)
{
    if (ns.empty())
        return;
    std::sort(ns.begin(), ns.end());
    std::printf("%-22s %6zu %10.3f %10.3f %10.3f\n", what, ns.size(), ms(ns.front()),
        ms(ns[ns.size() / 2]), ms(ns.back()));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Settings settings;
    if (argc > 1)
        settings.peerHost = QString::fromLocal8Bit(argv[1]);
    const int period = argc > 2 ? std::atoi(argv[2]) : 1;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 20;

    QUdpSocket peer;
    if (!peer.bind(QHostAddress::LocalHost, kPeerPort)) {
        std::fprintf(stderr, "peer: %s\n", qPrintable(peer.errorString()));
        return EXIT_FAILURE;
    }
    std::vector<qint64> built;
    std::vector<qint64> first;
    for (int run = 0; run < runs; ++run) {
        NotingReporter reporter;
        const qint64 start = Bench::nowNs();
        frmMain window(systemUptimeMilliseconds, reporter, settings);
        built.push_back(Bench::nowNs() - start);
        window.findChild<QSlider *>(QStringLiteral("sldPeriod"))->setValue(period);
        window.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
        while (
            !peer.hasPendingDatagrams() && !reporter.failed && Bench::nowNs() - start < kGiveUpNs)
            QCoreApplication::processEvents();
        if (peer.hasPendingDatagrams())
            first.push_back(Bench::nowNs() - start);
        else
            std::printf("  run %d: no datagram after %.3f ms\n", run, ms(Bench::nowNs() - start));
        window.close();
        while (peer.hasPendingDatagrams())
            peer.receiveDatagram();
    }
    std::printf("peer %s, period %d ms\n", qUtf8Printable(settings.peerHost), period);
    std::printf(
        "%-22s %6s %10s %10s %10s\n", "from start to", "runs", "min ms", "median ms", "max ms");
    printFigures("window built", built);
    printFigures("first datagram", first);
    return 0;
}
