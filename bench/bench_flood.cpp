// SPDX-License-Identifier: MIT
// A child process blasts 16-byte datagrams at port 20320 as fast as it can, while the real
// window's sender runs at 10 ms, timestamped by a peer child on 20319.
//
// Without a variant, rounds of the window alternate with a bare receive loop bound on the same
// port. With one, rounds of the plain window alternate with rounds of the window changed in one
// way only, the order swapped every round so that neither always goes first:
//   hold   a selection held in the status pane, its view at the first line
//   files  every line also written to a file (Dump on, and no pane budget, in both rounds)
//   nobar  the status bar hidden
//   graph  the graph window open beside it, following (intervals of 0.1 s in both rounds, so
//          that it redraws as often as it may)
// and the end prints, per round and as a median, the variant's share logged and sender p99 over
// the plain round's.
// Usage: bench_flood [count] [rounds] [hold|files|nobar|graph]
#include "AbortingReporter.h"
#include "BenchSupport.h"
#include "app/GraphWindow.h"
#include "app/frmMain.h"
#include "engine/LinkEngine.h"
#include "engine/Settings.h"
#include "engine/Tick.h"
#include "pane/LogPane.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr quint16 kLocalPort = 20320;
constexpr quint16 kPeerPort = 20319;
constexpr int kSenderPeriod = 10;
constexpr int kPayloadSize = 16;
constexpr int kDefaultCount = 1000000;
constexpr int kDefaultRounds = 3;
// The round is over once no line has been added for this long.
constexpr qint64 kQuietMs = 500;

enum class Variant { None, Hold, Files, NoBar, Graph };

struct Setup
{
    bool dump = false;
    bool unlimited = false;
    bool hold = false;
    bool files = false;
    bool hideBar = false;
    bool graph = false;
    bool shortIntervals = false;
};

// What the held pane reported, sampled at every pass of the loop during the flood and the drain.
struct HoldCheck
{
    int samples = 0;
    int broken = 0; // following, selection gone, or top row off the first line
    qint64 lowestTop = -1;
    qint64 highestTop = -1;
    qint64 firstLine = -1;

    void sample(const LogPane &pane)
    {
        const qint64 top = pane.topLine();
        ++samples;
        broken += pane.isFollowing() || !pane.hasSelection() || top != pane.content().firstLine();
        lowestTop = samples == 1 ? top : std::min(lowestTop, top);
        highestTop = samples == 1 ? top : std::max(highestTop, top);
        firstLine = pane.content().firstLine();
    }
};

struct FileCheck
{
    bool statusEqual = false;
    bool dumpEqual = false;
    qint64 statusBytes = 0;
    qint64 dumpBytes = 0;
};

// What the graph did over the round.
struct GraphCheck
{
    int replots = 0;
    bool following = false;
    qint64 records = 0;
};

struct Round
{
    qint64 sent = 0;
    qint64 logged = 0;
    double bytesPerLine = 0;
    Bench::PeriodFigures period;
    HoldCheck hold;
    FileCheck files;
    GraphCheck graph;

    double share() const { return double(logged) / double(std::max<qint64>(1, sent)); }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Lets the event loop run until the flood child has handed over its count.
qint64 runUntilFloodEnds(Bench::Child &flood, const LogPane &status, HoldCheck *hold)
{
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (hold != nullptr)
            hold->sample(status);
        // The flood child writes its count just before it exits.
        pollfd p { flood.resultFd, POLLIN, 0 };
        if (::poll(&p, 1, 0) > 0)
            return Bench::waitFlood(flood);
    }
}

void drain(const LogPane &status, HoldCheck *hold)
{
    qint64 lines = -1;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < kQuietMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (hold != nullptr)
            hold->sample(status);
        const qint64 now = status.content().lineCount();
        if (now != lines) {
            lines = now;
            quiet.restart();
        }
    }
}

// Selects the first line from its end back to its start, which brings the view to the top and
// makes the pane hold there.
void holdAtTop(LogPane &status)
{
    while (status.content().lineCount() < 2)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    status.select(
        status.content().lineStart(status.content().firstLine() + 1), status.content().begin());
    QCoreApplication::processEvents();
}

Round windowRound(int count, FatalErrorReporter &reporter, const Setup &setup)
{
    Round round;
    Settings settings;
    settings.dumpAtStart = setup.dump;
    if (setup.unlimited)
        settings.paneBudget = 0;
    if (setup.shortIntervals)
        settings.intervalMs = Settings::kMinIntervalMs;
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/bench_flood-XXXXXX"));
    if (setup.files) {
        if (!folder.isValid()) {
            std::fprintf(stderr, "no temporary folder: %s\n", qPrintable(folder.errorString()));
            std::abort();
        }
        settings.statusLogFile = folder.filePath(QStringLiteral("status.log"));
        settings.dumpLogFile = folder.filePath(QStringLiteral("dump.log"));
    }

    auto window = std::make_unique<frmMain>(systemUptimeMilliseconds, reporter, settings);
    if (setup.hideBar)
        window->statusBar()->hide();
    window->show();
    GraphWindow *graph = nullptr;
    if (setup.graph) {
        window->findChild<QAction *>(QStringLiteral("mnuGraph"))->trigger();
        graph = window->findChild<GraphWindow *>();
        QObject::connect(
            graph->plot(), &QCustomPlot::afterReplot, graph, [&round] { ++round.graph.replots; });
    }
    auto *status = window->findChild<LogPane *>(QStringLiteral("txtStat"));
    auto *dump = window->findChild<LogPane *>(QStringLiteral("txtDump"));
    auto *send = window->findChild<QPushButton *>(QStringLiteral("cmdSend"));
    window->findChild<QSlider *>(QStringLiteral("sldPeriod"))->setValue(kSenderPeriod);
    Bench::Child recorder = Bench::startRecorder(kPeerPort, 1 << 20, 600000);
    send->click();
    QCoreApplication::processEvents();
    if (setup.hold)
        holdAtTop(*status);

    HoldCheck *const hold = setup.hold ? &round.hold : nullptr;
    Bench::Child flood = Bench::startFlood(kLocalPort, count, kPayloadSize);
    round.sent = runUntilFloodEnds(flood, *status, hold);
    // The sender is timed during the flood only.
    send->click();
    drain(*status, hold);
    if (graph != nullptr) {
        round.graph.following = graph->isFollowing();
        round.graph.records = window->engine().measure().records().appended();
    }
    window->close();
    Bench::stopRecorder(kPeerPort);
    round.period = Bench::periodFigures(Bench::collectArrivals(recorder), kSenderPeriod);

    const QByteArray statusText = status->text();
    round.logged = statusText.count("Receive ");
    round.bytesPerLine
        = double(status->content().memoryUsed()) / double(status->content().lineCount());
    if (setup.files) {
        const QByteArray dumpText = dump->text();
        // The files are complete once the window, and with it each file log, is gone.
        window.reset();
        const QByteArray statusFile = readFile(settings.statusLogFile);
        const QByteArray dumpFile = readFile(settings.dumpLogFile);
        round.files = { statusFile == statusText, dumpFile == dumpText, statusFile.size(),
            dumpFile.size() };
    }
    return round;
}

Round bareRound(int count)
{
    Round round;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(kLocalPort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        std::abort();
    timeval timeout { 0, kQuietMs * 1000 };
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        std::abort();
    Bench::Child flood = Bench::startFlood(kLocalPort, count, kPayloadSize);
    char buffer[65536];
    qint64 received = 0;
    while (::recv(fd, buffer, sizeof buffer, 0) >= 0)
        ++received;
    round.sent = Bench::waitFlood(flood);
    round.logged = received;
    ::close(fd);
    return round;
}

const char *const kHeader = "%-8s %5s %10s %10s %8s %12s %8s %16s  %s\n";
const char *const kRow = "%-8s %5d %10lld %10lld %7.1f%% %12.1f %8d %16.3f  %s\n";

void printHeader(const char *extra)
{
    std::printf(kHeader, "receiver", "round", "sent", "logged", "share", "bytes/line", "periods",
        "send p99 dev ms", extra);
}

void printWindowRound(const char *name, int r, const Round &w, const QByteArray &extra)
{
    std::printf(kRow, name, r, qlonglong(w.sent), qlonglong(w.logged), 100.0 * w.share(),
        w.bytesPerLine, w.period.periods, w.period.p99DeviationMs, extra.constData());
    std::fflush(stdout);
}

void runBare(int count, int rounds, FatalErrorReporter &reporter)
{
    printHeader("");
    double windowTotal = 0;
    double bareTotal = 0;
    for (int r = 1; r <= rounds; ++r) {
        const Round w = windowRound(count, reporter, {});
        printWindowRound("window", r, w, {});
        const Round b = bareRound(count);
        std::printf("%-8s %5d %10lld %10lld %7.1f%% %12s %8s %16s\n", "bare", r, qlonglong(b.sent),
            qlonglong(b.logged), 100.0 * b.share(), "-", "-", "-");
        std::fflush(stdout);
        windowTotal += double(w.logged);
        bareTotal += double(b.logged);
    }
    std::printf(
        "window logged %.1f%% of what the bare loop received\n", 100.0 * windowTotal / bareTotal);
}

QByteArray holdText(const HoldCheck &h)
{
    return QByteArray(h.broken == 0 ? "held" : "NOT HELD") + " (" + QByteArray::number(h.samples)
        + " samples, " + QByteArray::number(h.broken) + " off; top line "
        + QByteArray::number(h.lowestTop) + ".." + QByteArray::number(h.highestTop)
        + ", first line " + QByteArray::number(h.firstLine) + ")";
}

QByteArray graphText(const GraphCheck &g)
{
    return QByteArray::number(g.replots) + " replots for " + QByteArray::number(g.records)
        + " records, " + (g.following ? "following" : "NOT FOLLOWING");
}

QByteArray filesText(const FileCheck &f)
{
    return QByteArray("status file ") + (f.statusEqual ? "== pane" : "!= PANE") + " ("
        + QByteArray::number(f.statusBytes) + " B), dump file "
        + (f.dumpEqual ? "== pane" : "!= PANE") + " (" + QByteArray::number(f.dumpBytes) + " B)";
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void runVariant(
    int count, int rounds, Variant variant, const char *name, FatalErrorReporter &reporter)
{
    Setup plain;
    Setup changed;
    const char *extra = "";
    switch (variant) {
    case Variant::Hold:
        changed.hold = true;
        extra = "status pane during the flood";
        break;
    case Variant::Files:
        // Both rounds do the same work but the writing of the files.
        plain.dump = changed.dump = true;
        plain.unlimited = changed.unlimited = true;
        changed.files = true;
        extra = "files after the window is gone";
        break;
    case Variant::NoBar:
        changed.hideBar = true;
        extra = "status bar";
        break;
    case Variant::Graph:
        plain.shortIntervals = changed.shortIntervals = true;
        changed.graph = true;
        extra = "graph window";
        break;
    case Variant::None:
        break;
    }
    printHeader(extra);
    std::vector<double> shareRatios;
    std::vector<double> p99Ratios;
    for (int r = 1; r <= rounds; ++r) {
        Round p;
        Round v;
        const auto runPlain = [&] {
            p = windowRound(count, reporter, plain);
            printWindowRound("plain", r, p,
                variant == Variant::NoBar       ? "shown"
                    : variant == Variant::Graph ? "closed"
                                                : "");
        };
        const auto runChanged = [&] {
            v = windowRound(count, reporter, changed);
            const QByteArray text = variant == Variant::Hold ? holdText(v.hold)
                : variant == Variant::Files                  ? filesText(v.files)
                : variant == Variant::Graph                  ? graphText(v.graph)
                                                             : QByteArray("hidden");
            printWindowRound(name, r, v, text);
        };
        if (r % 2 == 1) {
            runPlain();
            runChanged();
        } else {
            runChanged();
            runPlain();
        }
        shareRatios.push_back(v.share() / p.share());
        p99Ratios.push_back(v.period.p99DeviationMs / p.period.p99DeviationMs);
    }
    std::printf("\n%-8s %22s %22s\n", "round", "share logged ratio", "sender p99 ratio");
    for (int r = 0; r < rounds; ++r)
        std::printf("%-8d %22.4f %22.3f\n", r + 1, shareRatios[size_t(r)], p99Ratios[size_t(r)]);
    std::printf("%-8s %22.4f %22.3f\n", "median", median(shareRatios), median(p99Ratios));
    std::printf("(%s over plain)\n", name);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : kDefaultCount;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : kDefaultRounds;
    const QByteArray name = argc > 3 ? QByteArray(argv[3]) : QByteArray();
    const Variant variant = name.isEmpty() ? Variant::None
        : name == "hold"                   ? Variant::Hold
        : name == "files"                  ? Variant::Files
        : name == "nobar"                  ? Variant::NoBar
        : name == "graph"                  ? Variant::Graph
                                           : Variant::None;
    if (count <= 0 || rounds <= 0 || (!name.isEmpty() && variant == Variant::None)) {
        std::fprintf(stderr, "usage: bench_flood [count] [rounds] [hold|files|nobar|graph]\n");
        return 2;
    }
    AbortingReporter reporter;
    if (variant == Variant::None)
        runBare(count, rounds, reporter);
    else
        runVariant(count, rounds, variant, name.constData(), reporter);
    return 0;
}
