// SPDX-License-Identifier: MIT
// What sending at a human period costs. The real window (the built quillon, a child process on
// the offscreen platform unless QT_QPA_PLATFORM names another) sends with --send --period P to
// a socket here that counts the datagrams; beside it, in the same run, a bare sender: a child
// that sleeps to absolute deadlines (clock_nanosleep) and calls sendto with 16 bytes, nothing
// else. Each runs alone, on free loopback ports, for the given seconds after its first datagram
// and a second of settling, so start-up is not counted. CPU is the first field of
// /proc/PID/task/*/schedstat and wake-ups the voluntary and involuntary context switches of
// /proc/PID/task/*/status, both summed over all threads across that span.
//
// Usage: bench_lightload [seconds] [light] [idle] [busy] [callgrind [sends]]
//   seconds    of measuring per row (default 10)
//   light      500, 100, 10 and 1 ms, window beside bare, with the ratios and the goals
//   idle       the window with nothing to send, after a second of arrivals has filled its
//              panes: wake-ups and CPU a second
//   busy       1 ms while two busy loops hold the two cores: datagrams a second as the socket
//              here counts them, window beside bare
//   callgrind  instructions per send, the figure that repeats from run to run where CPU times
//              do not: the window runs under valgrind --tool=callgrind at 100 ms with
//              instrumentation off; callgrind_control turns it on once 5 datagrams have
//              arrived and off again after `sends` more (default 100). The total over those
//              sends counts everything a send costs, the event loop up to the next one
//              included, and no start-up or shutdown; the profile it leaves shows where that
//              goes. Takes half a minute or more.
// Without section words: light idle busy. QUILLON_BINARY measures another build of the window.
#include "BenchSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr qint64 kNsPerSecond = 1000 * kNsPerMs;
constexpr double kDefaultSeconds = 10;
constexpr int kPayloadBytes = 16;
// Start-up on a loaded machine, or under valgrind, is slow; it is waited for, not measured.
constexpr qint64 kStartTimeoutNs = 60 * kNsPerSecond;
constexpr qint64 kValgrindTimeoutNs = 600 * kNsPerSecond;
constexpr qint64 kSettleNs = kNsPerSecond;
constexpr qint64 kPollNs = 10 * kNsPerMs;
// Room for a burst after a stall (the system may allow less).
constexpr int kSinkBuffer = 4 * 1024 * 1024;

struct LightRow
{
    int period = 0;
    // 0: no goal for this period's CPU.
    double cpuRatioGoal = 0;
};
constexpr LightRow kLightRows[] = { { 500, 5 }, { 100, 3 }, { 10, 0 }, { 1, 0 } };
constexpr double kWakeUpRatioGoal = 2;
constexpr double kIdleWakeUpsGoal = 1;

constexpr int kIdleFeedDatagrams = 100;
constexpr qint64 kIdleFeedGapNs = 10 * kNsPerMs;
constexpr qint64 kIdleSettleNs = 2 * kNsPerSecond;

constexpr int kBusyPeriod = 1;
constexpr int kBusyLoops = 2;

constexpr int kCallgrindPeriod = 100;
constexpr int kCallgrindFirstSends = 5;
constexpr int kCallgrindDefaultSends = 100;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A UDP socket on 127.0.0.1 at a port the system picks; closed on exec, so children never
// hold it.
int boundSocket(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("socket");
        std::exit(EXIT_FAILURE);
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A port free a moment ago, for the window to bind.
quint16 freePort()
{
    quint16 port = 0;
    ::close(boundSocket(port));
    return port;
}

// Counts the datagrams that reach it.
class Sink
{
public:
    Sink()
        : m_fd(boundSocket(m_port))
    {
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &kSinkBuffer, sizeof kSinkBuffer);
    }
    ~Sink() { ::close(m_fd); }
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;

    quint16 port() const { return m_port; }
    qint64 count() const { return m_count; }

    // Counts until the deadline or until `total` have arrived in all.
    void countUntil(qint64 deadlineNs, qint64 total = std::numeric_limits<qint64>::max())
    {
        char buffer[65536];
        while (m_count < total) {
            const qint64 left = deadlineNs - Bench::nowNs();
            if (left <= 0)
                return;
            pollfd p { m_fd, POLLIN, 0 };
            const timespec wait { time_t(left / kNsPerSecond), long(left % kNsPerSecond) };
            if (::ppoll(&p, 1, &wait, nullptr) <= 0)
                continue;
            while (m_count < total && ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0)
                ++m_count;
        }
    }

private:
    quint16 m_port = 0;
    const int m_fd;
    qint64 m_count = 0;
};

const char *windowBinary()
{
    const char *given = std::getenv("QUILLON_BINARY");
    return given != nullptr ? given : QUILLON_BINARY;
}

std::string commandLine(const std::vector<std::string> &arguments)
{
    std::string line;
    for (const std::string &argument : arguments)
        line += (line.empty() ? "" : " ") + argument;
    return line;
}

pid_t spawn(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Qt's notes about the offscreen platform would break up the table.
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        std::perror(argv[0]);
        ::_exit(127);
    }
    return pid;
}

std::vector<std::string> windowArguments(
    quint16 sinkPort, int period, bool send, quint16 bindPort = freePort())
{
    std::vector<std::string> arguments { windowBinary(), "--period", std::to_string(period),
        "--bind", "127.0.0.1:" + std::to_string(bindPort), "--peer",
        "127.0.0.1:" + std::to_string(sinkPort) };
    if (send)
        arguments.push_back("--send");
    return arguments;
}

void advance(timespec &time, qint64 nanoseconds)
{
    time.tv_nsec += long(nanoseconds);
    while (time.tv_nsec >= kNsPerSecond) {
        time.tv_nsec -= long(kNsPerSecond);
        ++time.tv_sec;
    }
}

// The least a sender can be: sleep to the next deadline, send, until killed.
pid_t startBareSender(quint16 port, int period)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in address = loopback(port);
        const char payload[kPayloadBytes] = {};
        timespec deadline {};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        for (;;) {
            advance(deadline, period * kNsPerMs);
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
            ::sendto(fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr *>(&address),
                sizeof address);
        }
    }
    return pid;
}

pid_t startBusyLoop()
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        volatile unsigned long spin = 0;
        for (;;)
            spin = spin + 1;
    }
    return pid;
}

// Ends a child and reaps it; the window closes on SIGTERM as on its close box.
void stop(pid_t pid, int signalNumber)
{
    ::kill(pid, signalNumber);
    ::waitpid(pid, nullptr, 0);
}

struct Span
{
    double seconds = 0;
    double sentPerSecond = 0;
    double cpuMs = 0;
    qint64 wakeUps = 0;
};

// The load of `pid` over `seconds` while the sink counts.
Span measure(pid_t pid, Sink &sink, double seconds)
{
    const Bench::ProcessLoad before = Bench::processLoad(pid);
    const qint64 arrivedBefore = sink.count();
    const qint64 start = Bench::nowNs();
    sink.countUntil(start + qint64(seconds * double(kNsPerSecond)));
    const Bench::ProcessLoad after = Bench::processLoad(pid);
    Span span;
    span.seconds = double(Bench::nowNs() - start) / double(kNsPerSecond);
    span.sentPerSecond = double(sink.count() - arrivedBefore) / span.seconds;
    span.cpuMs = double(after.cpuNs - before.cpuNs) / double(kNsPerMs);
    span.wakeUps = after.contextSwitches - before.contextSwitches;
    return span;
}

// Counts until `total` have arrived; false when the child ended or the time ran out first.
// The child is looked at now and then, so that one that cannot start is not waited for.
bool awaitCount(pid_t pid, Sink &sink, qint64 total, qint64 timeoutNs)
{
    const qint64 giveUp = Bench::nowNs() + timeoutNs;
    while (sink.count() < total && Bench::nowNs() < giveUp && ::waitpid(pid, nullptr, WNOHANG) == 0)
        sink.countUntil(std::min(giveUp, Bench::nowNs() + kPollNs), total);
    return sink.count() >= total;
}

// Measures a sender from a second after its first datagram; nothing when none came.
std::optional<Span> measureSender(pid_t pid, Sink &sink, double seconds, const std::string &what)
{
    std::optional<Span> span;
    if (awaitCount(pid, sink, 1, kStartTimeoutNs)) {
        sink.countUntil(Bench::nowNs() + kSettleNs);
        span = measure(pid, sink, seconds);
    } else {
        std::printf("  no datagram from %s\n", what.c_str());
    }
    return span;
}

std::optional<Span> measureWindow(int period, double seconds)
{
    Sink sink;
    const std::vector<std::string> arguments = windowArguments(sink.port(), period, true);
    const pid_t pid = spawn(arguments);
    const std::optional<Span> span = measureSender(pid, sink, seconds, commandLine(arguments));
    stop(pid, SIGTERM);
    return span;
}

std::optional<Span> measureBare(int period, double seconds)
{
    Sink sink;
    const pid_t pid = startBareSender(sink.port(), period);
    const std::optional<Span> span = measureSender(pid, sink, seconds, "the bare sender");
    stop(pid, SIGKILL);
    return span;
}

const char *verdict(double ratio, double goal)
{
    return goal <= 0 ? "" : ratio <= goal ? "ok" : "MISSED";
}

void lightTable(double seconds)
{
    std::printf(
        "light load: %.0f s a row; CPU and wake-ups of all threads over those seconds\n", seconds);
    std::printf("%6s %9s %9s %9s %9s %6s %-9s %8s %8s %6s %-9s\n", "period", "window/s", "bare/s",
        "win CPUms", "bareCPUms", "CPU x", "goal", "win wake", "bare wak", "wake x", "goal");
    for (const LightRow &row : kLightRows) {
        const std::optional<Span> window = measureWindow(row.period, seconds);
        const std::optional<Span> bare = measureBare(row.period, seconds);
        if (!window || !bare)
            continue;
        const double cpuRatio = window->cpuMs / std::max(bare->cpuMs, 1e-3);
        const double wakeRatio
            = double(window->wakeUps) / double(std::max<qint64>(bare->wakeUps, 1));
        char cpuGoal[16] = "-";
        if (row.cpuRatioGoal > 0)
            std::snprintf(cpuGoal, sizeof cpuGoal, "<=%.0f %s", row.cpuRatioGoal,
                verdict(cpuRatio, row.cpuRatioGoal));
        char wakeGoal[16];
        std::snprintf(wakeGoal, sizeof wakeGoal, "<=%.0f %s", kWakeUpRatioGoal,
            verdict(wakeRatio, kWakeUpRatioGoal));
        std::printf("%6d %9.1f %9.1f %9.1f %9.1f %6.1f %-9s %8lld %8lld %6.1f %-9s\n", row.period,
            window->sentPerSecond, bare->sentPerSecond, window->cpuMs, bare->cpuMs, cpuRatio,
            cpuGoal, static_cast<long long>(window->wakeUps), static_cast<long long>(bare->wakeUps),
            wakeRatio, wakeGoal);
        std::fflush(stdout);
    }
}

// True once something has bound 127.0.0.1:port (as /proc/net/udp lists it).
bool udpBound(quint16 port)
{
    std::FILE *table = std::fopen("/proc/net/udp", "r");
    if (table == nullptr)
        return false;
    char line[512];
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X ", unsigned(port));
    bool found = false;
    while (!found && std::fgets(line, sizeof line, table) != nullptr)
        found = std::strstr(line, wanted) != nullptr;
    std::fclose(table);
    return found;
}

void idleTable(double seconds)
{
    Sink sink;
    const quint16 windowPort = freePort();
    const pid_t pid = spawn(windowArguments(sink.port(), 0, false, windowPort));
    const qint64 giveUp = Bench::nowNs() + kStartTimeoutNs;
    while (!udpBound(windowPort) && Bench::nowNs() < giveUp)
        sink.countUntil(Bench::nowNs() + kPollNs);
    if (!udpBound(windowPort)) {
        std::printf("idle window: never bound 127.0.0.1:%d\n", int(windowPort));
        stop(pid, SIGKILL);
        return;
    }
    // Arrivals fill both panes and change the figures, as a run that has just stopped leaves them.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(windowPort);
    const char payload[kPayloadBytes] = {};
    for (int i = 0; i < kIdleFeedDatagrams; ++i) {
        ::sendto(fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr *>(&address),
            sizeof address);
        sink.countUntil(Bench::nowNs() + kIdleFeedGapNs);
    }
    ::close(fd);
    sink.countUntil(Bench::nowNs() + kIdleSettleNs);
    const Span span = measure(pid, sink, seconds);
    stop(pid, SIGTERM);
    const double wakeUpsPerSecond = double(span.wakeUps) / span.seconds;
    std::printf("idle window (%d arrivals, then nothing), %.0f s: %.2f wake-ups/s (goal <%.0f %s), "
                "%.3f ms CPU/s\n",
        kIdleFeedDatagrams, seconds, wakeUpsPerSecond, kIdleWakeUpsGoal,
        wakeUpsPerSecond < kIdleWakeUpsGoal ? "ok" : "MISSED", span.cpuMs / span.seconds);
}

void busyTable(double seconds)
{
    std::vector<pid_t> busy;
    for (int i = 0; i < kBusyLoops; ++i)
        busy.push_back(startBusyLoop());
    std::printf("%d ms while %d busy loops run, %.0f s a row\n", kBusyPeriod, kBusyLoops, seconds);
    std::printf("%-8s %10s %10s %10s\n", "sender", "sent/s", "CPU ms", "wake-ups");
    const auto print = [](const char *who, const std::optional<Span> &span) {
        if (span)
            std::printf("%-8s %10.1f %10.1f %10lld\n", who, span->sentPerSecond, span->cpuMs,
                static_cast<long long>(span->wakeUps));
        std::fflush(stdout);
    };
    print("window", measureWindow(kBusyPeriod, seconds));
    print("bare", measureBare(kBusyPeriod, seconds));
    for (const pid_t pid : busy)
        stop(pid, SIGKILL);
}

// The instruction total a callgrind output file ends with; -1 when there is none.
qint64 callgrindTotal(const std::string &file)
{
    std::FILE *profile = std::fopen(file.c_str(), "r");
    if (profile == nullptr)
        return -1;
    char line[4096];
    long long total = -1;
    while (std::fgets(line, sizeof line, profile) != nullptr) {
        if (std::sscanf(line, "totals: %lld", &total) == 1
            || std::sscanf(line, "summary: %lld", &total) == 1)
            continue;
    }
    std::fclose(profile);
    return total;
}

// Runs a program to its end with its output thrown away; true when it succeeded.
bool run(const std::vector<std::string> &arguments)
{
    int status = 0;
    return ::waitpid(spawn(arguments), &status, 0) > 0 && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

void callgrindTable(int sends)
{
    const std::string file = "/tmp/bench_lightload." + std::to_string(::getpid()) + ".callgrind";
    Sink sink;
    std::vector<std::string> arguments { "valgrind", "-q", "--tool=callgrind", "--instr-atstart=no",
        "--callgrind-out-file=" + file };
    for (const std::string &argument : windowArguments(sink.port(), kCallgrindPeriod, true))
        arguments.push_back(argument);
    const pid_t pid = spawn(arguments);
    const std::string control = "callgrind_control";
    const std::string target = std::to_string(pid);
    const bool on = awaitCount(pid, sink, kCallgrindFirstSends, kValgrindTimeoutNs)
        && run({ control, "-i", "on", target });
    const qint64 first = sink.count();
    const bool off = on && awaitCount(pid, sink, first + sends, kValgrindTimeoutNs)
        && run({ control, "-i", "off", target });
    const qint64 counted = sink.count() - first;
    ::kill(pid, SIGTERM);
    while (::waitpid(pid, nullptr, WNOHANG) == 0)
        sink.countUntil(Bench::nowNs() + kPollNs);
    const qint64 instructions = callgrindTotal(file);
    if (!off || instructions <= 0 || counted <= 0) {
        std::printf("callgrind: no figures (are valgrind and callgrind_control installed?)\n");
        return;
    }
    std::printf("callgrind at %d ms: %lld instructions over %lld sends: %.0f instructions a send\n",
        kCallgrindPeriod, static_cast<long long>(instructions), static_cast<long long>(counted),
        double(instructions) / double(counted));
    std::printf("  profile: callgrind_annotate --inclusive=yes %s\n", file.c_str());
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawing offscreen costs what drawing to a display costs the window itself, without the
    // display server's share.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const double seconds = argc > 1 ? std::atof(argv[1]) : kDefaultSeconds;
    std::vector<std::string> sections(argv + std::min(argc, 2), argv + argc);
    if (sections.empty())
        sections = { "light", "idle", "busy" };
    std::printf("window: %s\n", windowBinary());
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (sections[i] == "light") {
            lightTable(seconds);
        } else if (sections[i] == "idle") {
            idleTable(seconds);
        } else if (sections[i] == "busy") {
            busyTable(seconds);
        } else if (sections[i] == "callgrind") {
            const bool counted = i + 1 < sections.size()
                && std::strspn(sections[i + 1].c_str(), "0123456789") == sections[i + 1].size();
            callgrindTable(counted ? std::atoi(sections[++i].c_str()) : kCallgrindDefaultSends);
        } else {
            std::fprintf(stderr, "unknown section %s\n", sections[i].c_str());
            return EXIT_FAILURE;
        }
        std::fflush(stdout);
    }
    return 0;
}
