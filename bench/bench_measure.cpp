// SPDX-License-Identifier: MIT
// What measuring the link costs: per received test datagram (stream lookup, pattern check, echo
// match, jitter, histograms, and the interval records as they fall due), beside forming the
// datagram's status line, in one run; then the memory of the interval records after a simulated
// day at 1 s with one stream and with 64.
// Usage: bench_measure [datagrams per round] [rounds]
#include "BenchSupport.h"
#include "engine/LinkMeasure.h"
#include "log/StatusLine.h"
#include "net/TestPattern.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr qint64 kStartNs = 1'000'000'000;
constexpr qint64 kStartWallMs = 1'700'000'000'000;
constexpr qint64 kSecondNs = 1'000'000'000;
constexpr qint64 kFloodSpacingNs = 10'000; // 100,000 datagrams a second
constexpr qint64 kDaySeconds = 24 * 60 * 60;
constexpr int kDefaultDatagrams = 2'000'000;
constexpr int kDefaultRounds = 5;

enum class Senders { One, Echo, Many, NewEachTime };

StreamKey sender(int n)
{
    return StreamKey::ipv4(0xC0000201, quint16(20000 + n));
}

// The median of the rounds' nanoseconds per datagram.
template <typename Work> double medianNs(int rounds, int datagrams, Work work)
{
    std::vector<double> perDatagram;
    for (int r = 0; r < rounds; ++r) {
        const qint64 start = Bench::nowNs();
        work();
        perDatagram.push_back(double(Bench::nowNs() - start) / datagrams);
    }
    std::nth_element(perDatagram.begin(), perDatagram.begin() + rounds / 2, perDatagram.end());
    return perDatagram[size_t(rounds / 2)];
}

double measureNs(
    Senders senders, int rounds, int datagrams, const std::vector<QByteArray> &payloads)
{
    const std::vector<StreamKey> keys = [] {
        std::vector<StreamKey> k;
        for (int n = 0; n < StreamTable::kMaxStreams; ++n)
            k.push_back(sender(n));
        return k;
    }();
    return medianNs(rounds, datagrams, [&] {
        LinkMeasure measure(kStartNs, kStartWallMs);
        measure.setPeriod(senders == Senders::Echo ? kFloodSpacingNs : 0);
        for (int i = 0; i < datagrams; ++i) {
            const qint64 at = kStartNs + i * kFloodSpacingNs;
            const QByteArray &payload = payloads[size_t(i % 256)];
            switch (senders) {
            case Senders::One:
                measure.received(keys[0], payload, at);
                break;
            case Senders::Echo:
                measure.sent(i % 256, payload.size(), at);
                measure.received(keys[0], payload, at + kFloodSpacingNs / 2);
                break;
            case Senders::Many: // each stream with its own counter
                measure.received(keys[size_t(i % StreamTable::kMaxStreams)],
                    payloads[size_t(i / StreamTable::kMaxStreams % 256)], at);
                break;
            case Senders::NewEachTime:
                measure.received(sender(i), payload, at);
                break;
            }
        }
    });
}

struct DayFigures
{
    qsizetype records = 0;
    qint64 dropped = 0;
    qint64 storeBytes = 0;
    qint64 heapBytes = 0;
};

// One test datagram from each stream and one sent every second of a day.
DayFigures simulateDay(int streams, const std::vector<QByteArray> &payloads)
{
    const qint64 heapBefore = Bench::heapInUse();
    DayFigures figures;
    {
        LinkMeasure measure(kStartNs, kStartWallMs);
        measure.setPeriod(kSecondNs);
        for (qint64 s = 0; s < kDaySeconds; ++s) {
            const qint64 at = kStartNs + s * kSecondNs;
            measure.sent(int(s % 256), TestPattern::kPayloadSize, at);
            for (int n = 0; n < streams; ++n)
                measure.received(sender(n), payloads[size_t(s % 256)], at + 1000 + n);
        }
        measure.advance(kStartNs + kDaySeconds * kSecondNs, kStartWallMs + kDaySeconds * 1000);
        figures.records = measure.records().size();
        figures.dropped = measure.records().dropped();
        figures.storeBytes = measure.records().memoryBytes();
        figures.heapBytes = Bench::heapInUse() - heapBefore;
    }
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    const int datagrams = std::max(1000, argc > 1 ? std::atoi(argv[1]) : kDefaultDatagrams);
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : kDefaultRounds);
    std::vector<QByteArray> payloads;
    for (int c = 0; c < 256; ++c)
        payloads.push_back(TestPattern::payload(qint16(c)));

    std::printf("ns per received datagram, median of %d rounds of %d\n", rounds, datagrams);
    volatile qsizetype sink = 0;
    const double status = medianNs(rounds, datagrams, [&] {
        for (int i = 0; i < datagrams; ++i)
            sink = sink + statusLine(Direction::Receive, TestPattern::kPayloadSize, i).size();
    });
    std::printf("  %-44s %8.1f\n", "status line (statusLine)", status);
    const struct
    {
        const char *name;
        Senders senders;
    } cases[] = {
        { "measure: one peer stream", Senders::One },
        { "measure: one echo stream (send + echo)", Senders::Echo },
        { "measure: 64 streams in turn", Senders::Many },
        { "measure: a new sender every datagram", Senders::NewEachTime },
    };
    for (const auto &c : cases) {
        const double ns = measureNs(c.senders, rounds, datagrams, payloads);
        std::printf("  %-44s %8.1f  (%.2f status lines)\n", c.name, ns, ns / status);
    }

    std::printf("\ninterval records after a simulated day at 1 s\n");
    std::printf(
        "  %8s %10s %10s %12s %12s\n", "streams", "records", "dropped", "store MiB", "heap MiB");
    for (const int streams : { 1, StreamTable::kMaxStreams }) {
        const DayFigures day = simulateDay(streams, payloads);
        std::printf("  %8d %10lld %10lld %12.1f %12.1f\n", streams, qint64(day.records),
            day.dropped, double(day.storeBytes) / (1 << 20), double(day.heapBytes) / (1 << 20));
    }
    std::printf("  (record %zu bytes; the heap figure includes the streams' histograms)\n",
        sizeof(IntervalRecord));
    return 0;
}
