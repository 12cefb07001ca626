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
//   list   the datagram list open and following
//   capture every datagram also written to a --capture file, which tshark then counts
// and the end prints, per round and as a median, the variant's share logged and sender p99 over
// the plain round's.
//   graph  the graph window open beside it, following (intervals of 0.1 s in both rounds, so
//          that it redraws as often as it may)
//   dump   not a variant of the window: rounds of the window with Dump on, as --dump starts it,
//          alternate with a bare recvmmsg loop that only counts, for 16-byte and then 1,200-byte
//          datagrams; the end prints the window's share over the bare loop's per size

// Usage: bench_flood [count] [rounds] [hold|files|nobar|dump|list|capture|graph]
#include "AbortingReporter.h"
#include "BenchSupport.h"
#include "app/DatagramListWindow.h"
#include "app/GraphWindow.h"
#include "app/ViewMenu.h"
#include "app/frmMain.h"
#include "engine/DatagramRing.h"
#include "engine/LinkEngine.h"
#include "engine/Settings.h"
#include "engine/Tick.h"
#include "net/DatagramBatch.h"
#include "net/UdpEndpoint.h"
#include "pane/LogPane.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
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
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr quint16 kLocalPort = 20320;
constexpr quint16 kPeerPort = 20319;
constexpr int kSenderPeriod = 10;
constexpr int kPayloadSize = 16;
constexpr int kDumpedSizes[] = { 16, 1200 };
constexpr int kBatchSize = 32;
constexpr int kDefaultCount = 1000000;
constexpr int kDefaultRounds = 3;
// The round is over once no line has been added for this long.
constexpr qint64 kQuietMs = 500;

enum class Variant { None, Hold, Files, NoBar, Dump, List, Capture, Graph };

struct Setup
{
    bool dump = false;
    bool unlimited = false;
    bool hold = false;
    bool files = false;
    bool hideBar = false;
    int payloadSize = kPayloadSize;
    bool list = false;
    bool capture = false;
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

// What the datagram list showed, and what the capture held.
struct ListCheck
{
    qint64 rows = 0;
    qint64 recorded = 0;
    bool following = false;
    qint64 captured = -1; // packets tshark read; -1 without tshark
    qint64 lines = 0; // status lines, each one a datagram
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
    // Dump lines of the datagrams logged, and those the dump pane counted.
    qint64 dumpLinesExpected = 0;
    qint64 dumpLines = 0;
    // CPU time during the flood, of the receiving thread and of the flood child: on a shared
    // machine a share logged also says how much of a core each got, this does not.
    double windowCpuUs = 0;
    double senderCpuUs = 0;
    ListCheck list;
    GraphCheck graph;

    double share() const { return double(logged) / double(std::max<qint64>(1, sent)); }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// User and system time, in microseconds, of RUSAGE_THREAD or of the children waited for.
double cpuUs(int who)
{
    rusage usage {};
    if (::getrusage(who, &usage) != 0)
        std::abort();
    const auto us = [](const timeval &t) { return double(t.tv_sec) * 1e6 + double(t.tv_usec); };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

// Lets the event loop run until the flood child has handed over its count. Sampling a held
// pane needs every pass; otherwise the loop sleeps between events as the tool's own does, and
// as the bare loop does in recvmmsg, instead of spinning and competing for the core.
qint64 runUntilFloodEnds(Bench::Child &flood, const LogPane &status, HoldCheck *hold)
{
    if (hold == nullptr) {
        QEventLoop loop;
        // The flood child writes its count just before it exits.
        QSocketNotifier ended(flood.resultFd, QSocketNotifier::Read);
        QObject::connect(&ended, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        loop.exec();
        return Bench::waitFlood(flood);
    }
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        hold->sample(status);
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

// Packets in a capture as tshark reads them; -1 without tshark.
qint64 tsharkCount(const QString &path)
{
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty())
        return -1;
    QProcess reader;
    reader.setStandardErrorFile(QProcess::nullDevice());
    reader.start(tshark,
        { QStringLiteral("-r"), path, QStringLiteral("-T"), QStringLiteral("fields"),
            QStringLiteral("-e"), QStringLiteral("frame.number") });
    qint64 packets = 0;
    while (reader.waitForReadyRead(-1)) {
        packets += reader.readAllStandardOutput().count('\n');
    }
    reader.waitForFinished(-1);
    return packets;
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
    if (setup.capture) {
        if (!folder.isValid())
            std::abort();
        settings.captureFile = folder.filePath(QStringLiteral("capture.pcap"));
    }

    auto window = std::make_unique<frmMain>(systemUptimeMilliseconds, reporter, settings);
    if (setup.hideBar)
        window->statusBar()->hide();
    window->show();
    if (setup.list)
        window->viewMenu().openList();
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
    Bench::Child flood = Bench::startFlood(kLocalPort, count, setup.payloadSize);
    const double windowCpu = cpuUs(RUSAGE_THREAD);
    const double childrenCpu = cpuUs(RUSAGE_CHILDREN);
    round.sent = runUntilFloodEnds(flood, *status, hold);
    round.windowCpuUs = cpuUs(RUSAGE_THREAD) - windowCpu;
    round.senderCpuUs = cpuUs(RUSAGE_CHILDREN) - childrenCpu;
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
    if (setup.dump) {
        // Every datagram, the window's own sent ones too, dumps a line per whole group of four
        // bytes and a blank line; lines let go of still count.
        const qint64 sentByWindow = statusText.count("Send ");
        round.dumpLinesExpected
            = round.logged * (setup.payloadSize / 4 + 1) + sentByWindow * (kPayloadSize / 4 + 1);
        round.dumpLines = dump->content().firstLine() + dump->content().lineCount() - 1;
    }
    if (const DatagramListWindow *list = window->viewMenu().list()) {
        round.list.rows = list->table()->model()->rowCount();
        round.list.recorded = list->ring().end();
        round.list.following = list->isFollowing();
    }

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
    if (setup.capture) {
        round.list.lines = status->content().lineCount() - 1;
        // The file is complete once the window, and with it the capture, is gone.
        window.reset();
        round.list.captured = tsharkCount(settings.captureFile);
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

// Receives with recvmmsg, as the window's endpoint does, into a buffer as large as its own, and
// only counts.
Round bareBatchedRound(int count, int size)
{
    Round round;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(kLocalPort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const int buffer = UdpEndpoint::kReceiveBufferBytes;
    timeval timeout { 0, kQuietMs * 1000 };
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        std::abort();
    std::vector<char> buffers(size_t(kBatchSize) * DatagramBatch::kBufferSize);
    std::vector<iovec> vectors(kBatchSize);
    std::vector<mmsghdr> messages(kBatchSize);
    for (int i = 0; i < kBatchSize; ++i) {
        vectors[size_t(i)] = { buffers.data() + i * DatagramBatch::kBufferSize,
            size_t(DatagramBatch::kBufferSize) };
        messages[size_t(i)].msg_hdr.msg_iov = &vectors[size_t(i)];
        messages[size_t(i)].msg_hdr.msg_iovlen = 1;
    }
    Bench::Child flood = Bench::startFlood(kLocalPort, count, size);
    const double cpu = cpuUs(RUSAGE_THREAD);
    qint64 received = 0;
    for (int n; (n = ::recvmmsg(fd, messages.data(), kBatchSize, MSG_WAITFORONE, nullptr)) > 0;)
        received += n;
    round.windowCpuUs = cpuUs(RUSAGE_THREAD) - cpu;
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

QByteArray listText(const ListCheck &l)
{
    return QByteArray::number(l.rows) + " rows of " + QByteArray::number(l.recorded) + " recorded, "
        + (l.following ? "following" : "NOT FOLLOWING");
}

QByteArray captureText(const ListCheck &l)
{
    if (l.captured < 0)
        return "tshark missing: capture not counted";
    return "tshark read " + QByteArray::number(l.captured) + " packets, the log has "
        + QByteArray::number(l.lines) + " lines" + (l.captured == l.lines ? "" : " (DIFFERENT)");
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

// The window with Dump on against the bare batched loop, in one run, the order swapped every
// round. The share over the bare loop's is what the dump costs on this machine as loaded now;
// CPU time per datagram, the window's handled over the sender's sent, is what it costs
// whatever else runs: below 1 the window keeps up with a sender given as much of a core.
void runDump(int count, int rounds, FatalErrorReporter &reporter)
{
    printHeader("dump lines");
    struct Ratios
    {
        int size;
        int round; // 0: the median
        double share;
        double windowUs;
        double bareUs;
        double senderUs;
    };
    std::vector<Ratios> rows;
    for (const int size : kDumpedSizes) {
        Setup setup;
        setup.dump = true;
        setup.payloadSize = size;
        std::vector<double> shares;
        std::vector<double> windowUs;
        std::vector<double> bareUs;
        std::vector<double> senderUs;
        for (int r = 1; r <= rounds; ++r) {
            Round w;
            Round b;
            const QByteArray name = "dump " + QByteArray::number(size);
            const auto runWindow = [&] {
                w = windowRound(count, reporter, setup);
                const QByteArray lines = QByteArray::number(w.dumpLines)
                    + (w.dumpLines == w.dumpLinesExpected ? " (all)" : " (MISSING)");
                printWindowRound(name.constData(), r, w, lines);
            };
            const auto runBareLoop = [&] {
                b = bareBatchedRound(count, size);
                std::printf("%-8s %5d %10lld %10lld %7.1f%% %12s %8s %16s\n",
                    ("bare " + QByteArray::number(size)).constData(), r, qlonglong(b.sent),
                    qlonglong(b.logged), 100.0 * b.share(), "-", "-", "-");
                std::fflush(stdout);
            };
            Bench::inTurn(r, runWindow, runBareLoop);
            shares.push_back(w.share() / b.share());
            windowUs.push_back(w.windowCpuUs / double(std::max<qint64>(1, w.logged)));
            bareUs.push_back(b.windowCpuUs / double(std::max<qint64>(1, b.logged)));
            senderUs.push_back(w.senderCpuUs / double(std::max<qint64>(1, w.sent)));
            rows.push_back(
                { size, r, shares.back(), windowUs.back(), bareUs.back(), senderUs.back() });
        }
        rows.push_back({ size, 0, Bench::median(shares), Bench::median(windowUs),
            Bench::median(bareUs), Bench::median(senderUs) });
    }
    std::printf("\n%-8s %8s %14s %14s %14s %14s %16s\n", "bytes", "round", "share / bare",
        "window cpu us", "bare cpu us", "sender cpu us", "window / sender");
    for (const Ratios &row : rows) {
        const QByteArray round = row.round == 0 ? "median" : QByteArray::number(row.round);
        std::printf("%-8d %8s %14.4f %14.2f %14.2f %14.2f %16.2f\n", row.size, round.constData(),
            row.share, row.windowUs, row.bareUs, row.senderUs, row.windowUs / row.senderUs);
    }
    std::printf(
        "(cpu us per datagram: the receivers' per datagram taken, the sender's per sent)\n");
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
    case Variant::List:
        changed.list = true;
        extra = "datagram list";
        break;
    case Variant::Capture:
        changed.capture = true;
        extra = "capture file";
        break;
    case Variant::Graph:
        plain.shortIntervals = changed.shortIntervals = true;
        changed.graph = true;
        extra = "graph window";
        break;
    case Variant::None:
    case Variant::Dump:
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
                : variant == Variant::List                   ? listText(v.list)
                : variant == Variant::Capture                ? captureText(v.list)
                : variant == Variant::Graph                  ? graphText(v.graph)
                                                             : QByteArray("hidden");
            printWindowRound(name, r, v, text);
        };
        Bench::inTurn(r, runPlain, runChanged);
        shareRatios.push_back(v.share() / p.share());
        p99Ratios.push_back(v.period.p99DeviationMs / p.period.p99DeviationMs);
    }
    std::printf("\n%-8s %22s %22s\n", "round", "share logged ratio", "sender p99 ratio");
    for (int r = 0; r < rounds; ++r)
        std::printf("%-8d %22.4f %22.3f\n", r + 1, shareRatios[size_t(r)], p99Ratios[size_t(r)]);
    std::printf(
        "%-8s %22.4f %22.3f\n", "median", Bench::median(shareRatios), Bench::median(p99Ratios));
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
        : name == "dump"                   ? Variant::Dump
        : name == "list"                   ? Variant::List
        : name == "capture"                ? Variant::Capture
        : name == "graph"                  ? Variant::Graph
                                           : Variant::None;
    if (count <= 0 || rounds <= 0 || (!name.isEmpty() && variant == Variant::None)) {
        std::fprintf(stderr,
            "usage: bench_flood [count] [rounds] [hold|files|nobar|dump|list|capture|graph]\n");
        return 2;
    }
    AbortingReporter reporter;
    if (variant == Variant::None)
        runBare(count, rounds, reporter);
    else if (variant == Variant::Dump)
        runDump(count, rounds, reporter);
    else
        runVariant(count, rounds, variant, name.constData(), reporter);
    return 0;
}
