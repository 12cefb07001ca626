// SPDX-License-Identifier: MIT
#include "BenchSupport.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char kStopByte = '!';

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void writeAll(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return;
        p += n;
        size -= size_t(n);
    }
}

void advance(timespec &time, long nanoseconds)
{
    time.tv_nsec += nanoseconds;
    while (time.tv_nsec >= 1000000000) {
        time.tv_nsec -= 1000000000;
        ++time.tv_sec;
    }
}

// 1 when the system took the datagram, else 0.
int sendOne(int fd, const sockaddr_in &address, const char *data, size_t size)
{
    return ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr *>(&address), sizeof address)
            >= 0
        ? 1
        : 0;
}

// A child process that runs `send` on a fresh socket aimed at 127.0.0.1:port and hands back the
// count it returns (read with waitFlood).
template <typename Send> Bench::Child forkSender(quint16 port, Send send)
{
    int fds[2];
    if (::pipe(fds) != 0)
        std::abort();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const qint64 sent = send(fd, loopback(port));
        writeAll(fds[1], &sent, sizeof sent);
        ::_exit(0);
    }
    ::close(fds[1]);
    return Bench::Child { pid, fds[0] };
}

bool readAll(int fd, void *data, size_t size)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

qint64 Bench::nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 Bench::heapInUse()
{
#if defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#else
    // Other C libraries have no such count; the memory figures then read 0.
    return 0;
#endif
}

qint64 Bench::processStatusBytes(const char *field)
{
    std::FILE *status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return -1;
    const size_t length = std::strlen(field);
    qint64 bytes = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        // "VmRSS:\t  123456 kB"
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            bytes = std::strtoll(line + length + 1, nullptr, 10) * 1024;
            break;
        }
    }
    std::fclose(status);
    return bytes;
}

Bench::ProcessLoad Bench::processLoad(pid_t pid)
{
    ProcessLoad load;
    const std::string directory = "/proc/" + std::to_string(pid) + "/task/";
    DIR *const tasks = ::opendir(directory.c_str());
    if (tasks == nullptr)
        return load;
    while (const dirent *task = ::readdir(tasks)) {
        if (task->d_name[0] == '.')
            continue;
        const std::string path = directory + task->d_name;
        if (std::FILE *schedstat = std::fopen((path + "/schedstat").c_str(), "r")) {
            long long ns = 0;
            if (std::fscanf(schedstat, "%lld", &ns) == 1)
                load.cpuNs += ns;
            std::fclose(schedstat);
        }
        if (std::FILE *status = std::fopen((path + "/status").c_str(), "r")) {
            char line[256];
            long long switches = 0;
            while (std::fgets(line, sizeof line, status) != nullptr) {
                // "voluntary_ctxt_switches:\t12" and "nonvoluntary_ctxt_switches:\t3"
                if (std::sscanf(line, "voluntary_ctxt_switches: %lld", &switches) == 1
                    || std::sscanf(line, "nonvoluntary_ctxt_switches: %lld", &switches) == 1)
                    load.contextSwitches += switches;
            }
            std::fclose(status);
        }
    }
    ::closedir(tasks);
    return load;
}

void Bench::runEventLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

Bench::Child Bench::startRecorder(quint16 port, int count, int timeoutMs)
{
    int fds[2];
    if (::pipe(fds) != 0)
        std::abort();
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        std::abort();
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::vector<qint64> arrivals;
        arrivals.reserve(size_t(count));
        const qint64 end = nowNs() + qint64(timeoutMs) * 1000000;
        char buffer[65536];
        while (int(arrivals.size()) < count) {
            const qint64 left = (end - nowNs()) / 1000000;
            if (left <= 0)
                break;
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            qint64 stamp = 0;
            const ssize_t size = receiveStamped(fd, buffer, sizeof buffer, stamp);
            if (size == 1 && buffer[0] == kStopByte)
                break;
            if (size >= 0)
                arrivals.push_back(stamp);
        }
        const qint64 n = qint64(arrivals.size());
        writeAll(fds[1], &n, sizeof n);
        writeAll(fds[1], arrivals.data(), arrivals.size() * sizeof(qint64));
        ::_exit(0);
    }
    ::close(fd);
    ::close(fds[1]);
    return Child { pid, fds[0] };
}

std::vector<qint64> Bench::collectArrivals(Child &child)
{
    qint64 n = 0;
    std::vector<qint64> arrivals;
    if (readAll(child.resultFd, &n, sizeof n)) {
        arrivals.resize(size_t(n));
        readAll(child.resultFd, arrivals.data(), size_t(n) * sizeof(qint64));
    }
    ::close(child.resultFd);
    ::waitpid(child.pid, nullptr, 0);
    return arrivals;
}

Bench::Child Bench::startFlood(quint16 port, int count, int size)
{
    return forkSender(port, [count, size](int fd, const sockaddr_in &address) {
        std::vector<char> payload(size_t(size), 'f');
        qint64 sent = 0;
        for (int i = 0; i < count; ++i)
            sent += sendOne(fd, address, payload.data(), payload.size());
        return sent;
    });
}

Bench::Child Bench::startTimedFlood(quint16 port, int size, int durationMs)
{
    return forkSender(port, [=](int fd, const sockaddr_in &address) {
        std::vector<char> payload(size_t(size), 'd');
        const qint64 end = nowNs() + qint64(durationMs) * 1000000;
        qint64 sent = 0;
        while (nowNs() < end)
            sent += sendOne(fd, address, payload.data(), payload.size());
        return sent;
    });
}

Bench::Child Bench::startPacedFlood(
    quint16 port, int perSecond, int durationMs, int (*sizeOf)(qint64 n))
{
    return forkSender(port, [=](int fd, const sockaddr_in &address) {
        std::vector<char> payload(65507, 'p');
        qint64 sent = 0;
        qint64 n = 0;
        timespec deadline {};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        for (int slice = 0; slice < durationMs; ++slice) {
            // Spread the remainder so that the rate holds for any perSecond.
            for (const qint64 due = qint64(slice + 1) * perSecond / 1000; n < due; ++n)
                sent += sendOne(fd, address, payload.data(), size_t(sizeOf(n)));
            advance(deadline, 1000000);
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        }
        return sent;
    });
}

qint64 Bench::waitFlood(Child &child)
{
    qint64 sent = 0;
    readAll(child.resultFd, &sent, sizeof sent);
    ::close(child.resultFd);
    ::waitpid(child.pid, nullptr, 0);
    return sent;
}

void Bench::endChild(Child &child)
{
    if (child.pid <= 0)
        return;
    ::kill(child.pid, SIGKILL);
    ::close(child.resultFd);
    ::waitpid(child.pid, nullptr, 0);
    child = Child();
}

Bench::PeriodFigures Bench::periodFigures(const std::vector<qint64> &arrivalsNs, double periodMs)
{
    PeriodFigures figures;
    if (arrivalsNs.size() < 2)
        return figures;
    std::vector<double> deviations;
    for (size_t i = 1; i < arrivalsNs.size(); ++i)
        deviations.push_back(std::abs((arrivalsNs[i] - arrivalsNs[i - 1]) / 1e6 - periodMs));
    const double meanPeriod
        = (arrivalsNs.back() - arrivalsNs.front()) / 1e6 / double(arrivalsNs.size() - 1);
    figures.periods = int(deviations.size());
    figures.meanErrorPercent = (meanPeriod - periodMs) / periodMs * 100.0;
    std::sort(deviations.begin(), deviations.end());
    figures.p99DeviationMs = deviations[size_t(std::ceil(0.99 * double(deviations.size()))) - 1];
    figures.maxDeviationMs = deviations.back();
    return figures;
}

void Bench::referenceSender(quint16 port, double periodMs, int count)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in address = loopback(port);
    char payload[16] = {};
    timespec deadline {};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long periodNs = long(periodMs * 1e6);
    for (int i = 0; i < count; ++i) {
        advance(deadline, periodNs);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        sendOne(fd, address, payload, sizeof payload);
    }
    ::close(fd);
}

void Bench::stopRecorder(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in address = loopback(port);
    sendOne(fd, address, &kStopByte, 1);
    ::close(fd);
}

ssize_t Bench::receiveStamped(int fd, char *buffer, size_t size, qint64 &stampNs)
{
    iovec io { buffer, size };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message {};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = ::recvmsg(fd, &message, 0);
    stampNs = Bench::nowNs();
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp {};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            // The wall clock: only differences between stamps are used.
            stampNs = qint64(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
        }
    }
    return received;
}

double Bench::median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Bench::inTurn(
    int round, const std::function<void()> &first, const std::function<void()> &second)
{
    if (round % 2 == 1) {
        first();
        second();
    } else {
        second();
        first();
    }
}
