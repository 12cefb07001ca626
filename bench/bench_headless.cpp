// SPDX-License-Identifier: MIT
// The real binary, with and without its window, in one run.
//
// Flood: a child blasts 16-byte datagrams at 127.0.0.1:20320 as fast as it can while the tool,
// headless or a window drawn off screen, logs every datagram it gets to a status file; rounds
// alternate the two. Per round: datagrams sent, lines in the file, the share logged, and the
// tool's CPU time (user and system, from /proc) over the flood and its drain per line logged.
//
// Echo: a client on 127.0.0.1:20330 sends one 16-byte datagram a millisecond to an echo on
// 127.0.0.1:20319 and waits for each answer: the tool's --echo, or socat's PIPE echo, in
// alternate rounds. The turnaround is from just before the client's sendto to the system's
// receive stamp on the answer. On loopback a datagram is queued to its receiver inside sendto,
// so this is the echo's own time from its receive stamp to its send, plus two passes through
// the loopback, the same for both.
// Usage: bench_headless [flood count] [rounds] [echoes per round]
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr quint16 kToolPort = 20320;
constexpr quint16 kEchoPort = 20319;
constexpr quint16 kClientPort = 20330;
constexpr int kPayloadSize = 16;
constexpr int kDefaultCount = 1000000;
constexpr int kDefaultRounds = 3;
constexpr int kDefaultEchoes = 5000;
constexpr int kWarmUpEchoes = 100;
constexpr long kEchoPeriodNs = 1000000;
constexpr int kAnswerTimeoutMs = 100;
// The drain is over once the file has not grown for this long.
constexpr qint64 kQuietMs = 500;
constexpr int kStartTimeoutMs = 10000;

QString binary()
{
    return QStringLiteral(QUILLON_BINARY);
}

std::unique_ptr<QProcess> launch(const QString &program, const QStringList &arguments, bool window)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QLatin1String(name));
    if (window)
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted()) {
        std::fprintf(stderr, "cannot start %s: %s\n", qPrintable(program),
            qPrintable(process->errorString()));
        std::exit(1);
    }
    return process;
}

// Whether something holds 127.0.0.1:port, from the system's table, so that no probe of ours
// ever takes the port from the process being waited for.
bool bound(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    return table.readAll().contains(
        QByteArray(" 0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0'));
}

void waitBound(quint16 port)
{
    const qint64 end = Bench::nowNs() + qint64(kStartTimeoutMs) * 1000000;
    while (!bound(port)) {
        if (Bench::nowNs() > end) {
            std::fprintf(stderr, "nothing bound 127.0.0.1:%u\n", port);
            std::exit(1);
        }
        ::usleep(10000);
    }
}

// User and system time of a process so far, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields 14 and 15, counted after the command's closing parenthesis (field 2).
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong())
        / double(::sysconf(_SC_CLK_TCK));
}

void stop(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(kStartTimeoutMs))
        process.kill();
}

struct FloodRound
{
    qint64 sent = 0;
    qint64 logged = 0;
    double cpuSeconds = 0;

    double share() const { return double(logged) / double(std::max<qint64>(1, sent)); }
    double cpuNsPerLine() const { return cpuSeconds * 1e9 / double(std::max<qint64>(1, logged)); }
};

FloodRound floodRound(bool window, int count)
{
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("status.log"));
    QStringList arguments { QStringLiteral("--bind=127.0.0.1:%1").arg(kToolPort),
        QStringLiteral("--peer=127.0.0.1:%1").arg(kEchoPort), QStringLiteral("--log"), log };
    if (!window)
        arguments.prepend(QStringLiteral("--headless"));
    const std::unique_ptr<QProcess> tool = launch(binary(), arguments, window);
    waitBound(kToolPort);
    FloodRound round;
    const double cpuBefore = cpuSeconds(tool->processId());
    Bench::Child flood = Bench::startFlood(kToolPort, count, kPayloadSize);
    round.sent = Bench::waitFlood(flood);
    qint64 size = -1;
    qint64 quietSince = Bench::nowNs();
    while (Bench::nowNs() - quietSince < kQuietMs * 1000000) {
        ::usleep(20000);
        const qint64 now = QFile(log).size();
        if (now != size) {
            size = now;
            quietSince = Bench::nowNs();
        }
    }
    round.cpuSeconds = cpuSeconds(tool->processId()) - cpuBefore;
    stop(*tool);
    QFile file(log);
    if (file.open(QIODevice::ReadOnly))
        round.logged = file.readAll().count("Receive ");
    return round;
}

qint64 ns(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// Turnarounds in ns of `count` echoes paced at kEchoPeriodNs, after a warm-up; an answer that
// does not come within kAnswerTimeoutMs is left out.
std::vector<qint64> echoRound(int count)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(kClientPort);
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in echo = local;
    echo.sin_port = htons(kEchoPort);
    const int on = 1;
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) {
        std::perror("echo client");
        std::exit(1);
    }
    std::vector<qint64> turnarounds;
    char payload[kPayloadSize] = {};
    char answer[65536];
    timespec due {};
    clock_gettime(CLOCK_MONOTONIC, &due);
    for (int i = 0; i < kWarmUpEchoes + count; ++i) {
        due.tv_nsec += kEchoPeriodNs;
        if (due.tv_nsec >= 1000000000) {
            due.tv_nsec -= 1000000000;
            ++due.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        // The test pattern: the counter in the first four bytes.
        std::memset(payload, i & 0xff, 4);
        timespec sent {};
        clock_gettime(CLOCK_REALTIME, &sent); // the clock of the receive stamps
        if (::sendto(fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr *>(&echo),
                sizeof echo)
            < 0)
            continue;
        pollfd wait { fd, POLLIN, 0 };
        if (::poll(&wait, 1, kAnswerTimeoutMs) <= 0)
            continue;
        qint64 stampNs = 0;
        if (Bench::receiveStamped(fd, answer, sizeof answer, stampNs) == kPayloadSize
            && i >= kWarmUpEchoes)
            turnarounds.push_back(stampNs - ns(sent));
    }
    ::close(fd);
    return turnarounds;
}

double percentileUs(std::vector<qint64> values, double percent)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(percent / 100 * double(values.size())));
    return double(values[std::max<size_t>(rank, 1) - 1]) / 1000;
}

void runFlood(int count, int rounds)
{
    std::printf("flood: %d datagrams of %d B at 127.0.0.1:%u, every one logged to a file\n", count,
        kPayloadSize, kToolPort);
    std::printf("%-9s %5s %10s %10s %8s %8s %14s\n", "receiver", "round", "sent", "logged", "share",
        "cpu s", "cpu ns/line");
    std::vector<double> shareRatios;
    std::vector<double> cpuRatios;
    for (int r = 1; r <= rounds; ++r) {
        FloodRound headless;
        FloodRound window;
        // Neither always goes first.
        for (const bool windowFirst : { r % 2 == 0, r % 2 != 0 }) {
            FloodRound &round = windowFirst ? window : headless;
            round = floodRound(windowFirst, count);
            std::printf("%-9s %5d %10lld %10lld %7.1f%% %8.2f %14.0f\n",
                windowFirst ? "window" : "headless", r, qlonglong(round.sent),
                qlonglong(round.logged), 100 * round.share(), round.cpuSeconds,
                round.cpuNsPerLine());
            std::fflush(stdout);
        }
        shareRatios.push_back(headless.share() / window.share());
        cpuRatios.push_back(headless.cpuNsPerLine() / window.cpuNsPerLine());
    }
    std::printf("median over %d rounds, headless over window: share logged %.3f, CPU per "
                "datagram logged %.3f\n\n",
        rounds, Bench::median(shareRatios), Bench::median(cpuRatios));
}

void runEcho(int count, int rounds)
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    std::printf("echo turnaround on loopback: %d echoes a round, one a millisecond, from just "
                "before the request's sendto to the answer's receive stamp\n",
        count);
    std::printf("%-8s %5s %9s %11s %11s\n", "echo", "round", "answered", "median us", "p99 us");
    std::vector<qint64> all[2];
    for (int r = 1; r <= rounds; ++r) {
        for (const bool socatFirst : { r % 2 == 0, r % 2 != 0 }) {
            if (socatFirst && socat.isEmpty())
                continue;
            const std::unique_ptr<QProcess> echo = socatFirst
                ? launch(socat,
                    { QStringLiteral("UDP4-LISTEN:%1,bind=127.0.0.1").arg(kEchoPort),
                        QStringLiteral("PIPE") },
                    false)
                : launch(binary(),
                    { QStringLiteral("--headless"), QStringLiteral("--echo"),
                        QStringLiteral("--bind=127.0.0.1:%1").arg(kEchoPort),
                        QStringLiteral("--peer=127.0.0.1:%1").arg(kClientPort) },
                    false);
            waitBound(kEchoPort);
            const std::vector<qint64> turnarounds = echoRound(count);
            stop(*echo);
            std::printf("%-8s %5d %9zu %11.1f %11.1f\n", socatFirst ? "socat" : "quillon", r,
                turnarounds.size(), percentileUs(turnarounds, 50), percentileUs(turnarounds, 99));
            std::fflush(stdout);
            all[socatFirst].insert(all[socatFirst].end(), turnarounds.begin(), turnarounds.end());
        }
    }
    for (const bool isSocat : { false, true }) {
        if (isSocat && socat.isEmpty()) {
            std::printf("socat: not installed (Debian's socat package), not measured\n");
            continue;
        }
        std::printf("%-8s %5s %9zu %11.1f %11.1f\n", isSocat ? "socat" : "quillon", "all",
            all[isSocat].size(), percentileUs(all[isSocat], 50), percentileUs(all[isSocat], 99));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : kDefaultCount;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : kDefaultRounds;
    const int echoes = argc > 3 ? std::atoi(argv[3]) : kDefaultEchoes;
    if (count <= 0 || rounds <= 0 || echoes <= 0) {
        std::fprintf(stderr, "usage: bench_headless [flood count] [rounds] [echoes per round]\n");
        return 2;
    }
    runFlood(count, rounds);
    runEcho(echoes, rounds);
    return 0;
}
