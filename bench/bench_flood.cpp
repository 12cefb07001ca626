// SPDX-License-Identifier: MIT
// A child process blasts 16-byte datagrams at port 20320 as fast as it can. In the same run,
// rounds alternate between the real window (its sender running at 10 ms, timestamped by a peer
// child on 20319) and a bare receive loop bound on the same port.
#include "AbortingReporter.h"
#include "BenchSupport.h"
#include "LogPane.h"
#include "Tick.h"
#include "frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSlider>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr quint16 kLocalPort = 20320;
constexpr quint16 kPeerPort = 20319;
constexpr int kSenderPeriod = 10;
constexpr int kPayloadSize = 16;

struct Round
{
    qint64 sent = 0;
    qint64 logged = 0;
    double bytesPerLine = 0;
    Bench::PeriodFigures period;
};

Round windowRound(int count, FatalErrorReporter &reporter)
{
    Round round;
    frmMain window(systemUptimeMilliseconds, reporter);
    window.show();
    auto *status = window.findChild<LogPane *>(QStringLiteral("txtStat"));
    window.findChild<QSlider *>(QStringLiteral("sldPeriod"))->setValue(kSenderPeriod);
    Bench::Child recorder = Bench::startRecorder(kPeerPort, 1 << 20, 600000);
    window.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    QCoreApplication::processEvents();

    Bench::Child flood = Bench::startFlood(kLocalPort, count, kPayloadSize);
    qint64 sent = -1;
    while (sent < 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        // The flood child writes its count just before it exits.
        pollfd p { flood.resultFd, POLLIN, 0 };
        if (::poll(&p, 1, 0) > 0)
            sent = Bench::waitFlood(flood);
    }
    // The sender is timed during the flood only.
    window.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    // Drain: wait until no line has been added for half a second.
    qint64 lines = -1;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const qint64 now = status->content().lineCount();
        if (now != lines) {
            lines = now;
            quiet.restart();
        }
    }
    window.close();
    Bench::stopRecorder(kPeerPort);
    round.period = Bench::periodFigures(Bench::collectArrivals(recorder), kSenderPeriod);
    const QByteArray text = status->text();
    round.sent = sent;
    round.logged = text.count("Receive ");
    round.bytesPerLine
        = double(status->content().memoryUsed()) / double(status->content().lineCount());
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
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        std::abort();
    timeval timeout { 0, 500000 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
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

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    AbortingReporter reporter;
    std::printf("%-8s %5s %10s %10s %8s %12s %16s\n", "receiver", "round", "sent", "logged",
        "ratio", "bytes/line", "send p99 dev ms");
    double windowTotal = 0;
    double bareTotal = 0;
    for (int r = 1; r <= rounds; ++r) {
        const Round w = windowRound(count, reporter);
        std::printf("%-8s %5d %10lld %10lld %7.1f%% %12.1f %16.3f\n", "window", r, w.sent, w.logged,
            100.0 * double(w.logged) / double(w.sent), w.bytesPerLine, w.period.p99DeviationMs);
        const Round b = bareRound(count);
        std::printf("%-8s %5d %10lld %10lld %7.1f%% %12s %16s\n", "bare", r, b.sent, b.logged,
            100.0 * double(b.logged) / double(b.sent), "-", "-");
        std::fflush(stdout);
        windowTotal += double(w.logged);
        bareTotal += double(b.logged);
    }
    std::printf(
        "window logged %.1f%% of what the bare loop received\n", 100.0 * windowTotal / bareTotal);
    return 0;
}
