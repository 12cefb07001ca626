// SPDX-License-Identifier: MIT
// The datagram ring's memory: bytes per recorded 16-byte datagram (IPv4 and IPv6 senders) once
// a budget's worth has been recorded, the resident size it added, and the time an append takes.
// Usage: bench_capture [budget MiB]
#include "BenchSupport.h"
#include "engine/DatagramRing.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kPayloadSize = 16;
constexpr qint64 kDefaultBudgetMiB = 64;
// Appends past the point where the ring first let go, so that it runs full.
constexpr int kRoundsPastFull = 2;

SocketAddress address(const char *text, quint16 port)
{
    SocketAddress result;
    in_addr ipv4 {};
    in6_addr ipv6 {};
    if (::inet_pton(AF_INET, text, &ipv4) == 1)
        result.setIPv4(ipv4);
    else if (::inet_pton(AF_INET6, text, &ipv6) == 1)
        result.setIPv6(ipv6, 0);
    result.port = port;
    return result;
}

void measure(const char *name, qint64 budget, const char *local, const char *remote)
{
    const qint64 residentBefore = Bench::processStatusBytes("VmRSS");
    DatagramRing ring(budget);
    QByteArray payload(kPayloadSize, '\0');
    DatagramRecord record;
    record.local = address(local, 20320);
    record.remote = address(remote, 20319);
    record.payload = payload;
    qint64 appended = 0;
    qint64 fullAt = -1;
    const qint64 start = Bench::nowNs();
    while (fullAt < 0 || appended < kRoundsPastFull * fullAt) {
        payload[0] = char(appended);
        record.wallNs = appended;
        record.direction = appended % 2 ? Direction::Send : Direction::Receive;
        ring.append(record);
        ++appended;
        if (fullAt < 0 && ring.first() > 0)
            fullAt = appended;
    }
    const double nsPerAppend = double(Bench::nowNs() - start) / double(appended);
    const qint64 resident = Bench::processStatusBytes("VmRSS") - residentBefore;
    std::printf("%-10s %10lld %12lld %14.1f %14.1f %12.1f %10.1f\n", name,
        qlonglong(budget / DatagramRing::kMebibyte), qlonglong(ring.count()),
        double(ring.memoryUsed()) / double(ring.count()), double(resident) / double(ring.count()),
        double(resident) / double(DatagramRing::kMebibyte), nsPerAppend);
}

} // namespace

int main(int argc, char *argv[])
{
    const qint64 mebibytes = argc > 1 ? std::atoll(argv[1]) : kDefaultBudgetMiB;
    if (mebibytes <= 0) {
        std::fprintf(stderr, "usage: bench_capture [budget MiB]\n");
        return 2;
    }
    std::printf("%-10s %10s %12s %14s %14s %12s %10s\n", "sender", "budget MiB", "held",
        "B/datagram", "resident B/dg", "resident MiB", "ns/append");
    measure("IPv4", mebibytes * DatagramRing::kMebibyte, "127.0.0.1", "127.0.0.1");
    measure("IPv6", mebibytes * DatagramRing::kMebibyte, "::1", "2001:db8::2");
    return 0;
}
