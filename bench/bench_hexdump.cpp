// SPDX-License-Identifier: MIT
// Times the dump of the largest datagrams beside QByteArray::toHex of the same bytes, which does
// far less work and so gives the machine's speed as a yardstick. Then times a dump and the blank
// line after it taken into a log's store, both ways: as bytes the store splits into lines again,
// and formatted straight into it.
// Usage: bench_hexdump [rounds]
//        bench_hexdump ir [datagrams]   only the two ways into the store, for 1,200-byte
//        datagrams, so that callgrind counts their instructions (scripts/bench.sh hexdump-ir)
#include "BenchSupport.h"
#include "log/Common.h"
#include "log/LogText.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr char kBlankLine[] = "\r\n";
// As a pane holds by default, so that a long run lets blocks go as the window's does.
constexpr qint64 kStoreBudget = qint64(256) * 1024 * 1024;
// Datagrams read in one pass of the event loop.
constexpr int kBatch = 32;
constexpr int kIrPayload = 1200;
constexpr int kIrDatagrams = 2000;

// The median of many rounds: a single slow round on a busy machine says nothing about the code.
template <typename Work> double medianMs(int rounds, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const qint64 start = Bench::nowNs();
        work();
        times.push_back((Bench::nowNs() - start) / 1e6);
    }
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times[size_t(rounds / 2)];
}

QByteArray payloadOf(int size)
{
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char(i * 7);
    return payload;
}

// As the window took a dump before: formatted, joined to the blank line, split again.
Q_NEVER_INLINE void dumpThroughText(LogText &text, const QByteArray &payload, int datagrams)
{
    for (int i = 0; i < datagrams; ++i)
        text.append(Common::HexDump(payload) + kBlankLine);
}

Q_NEVER_INLINE void dumpStraightIntoStore(LogText &text, const QByteArray &payload, int datagrams)
{
    for (int i = 0; i < datagrams; ++i) {
        Common::appendHexDump(text, payload);
        text.append(kBlankLine);
    }
}

int countInstructions(int datagrams)
{
    const QByteArray payload = payloadOf(kIrPayload);
    LogText through(kStoreBudget);
    LogText straight(kStoreBudget);
    dumpThroughText(through, payload, datagrams);
    dumpStraightIntoStore(straight, payload, datagrams);
    // Nothing to print: callgrind counts. Equal texts say both ways did the same work.
    return through.mid(through.begin(), through.end())
            == straight.mid(straight.begin(), straight.end())
        ? 0
        : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "ir") == 0)
        return countInstructions(std::max(1, argc > 2 ? std::atoi(argv[2]) : kIrDatagrams));

    const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 200);
    std::printf("%8s %10s %12s %12s %8s\n", "bytes", "lines", "dump ms", "toHex ms", "ratio");
    for (const int size : { 16, 1472, 32768, 65507, 65527 }) {
        const QByteArray payload = payloadOf(size);
        qsizetype lines = 0;
        volatile qsizetype sink = 0;
        const double dump = medianMs(rounds, [&] {
            const QByteArray text = Common::HexDump(payload);
            lines = text.count('\n');
            sink = text.size();
        });
        const double hex = medianMs(rounds, [&] { sink = payload.toHex(' ').size(); });
        std::printf("%8d %10lld %12.3f %12.3f %8.2f\n", size, lines, dump, hex, dump / hex);
    }

    // A batch of datagrams per round, as the window reads them in one pass, into stores that
    // are full and letting go after the first rounds.
    std::printf("\n%8s %18s %18s %10s\n", "bytes", "through text us", "straight in us", "ratio");
    for (const int size : { 16, 1200, 65507 }) {
        const QByteArray payload = payloadOf(size);
        LogText through(kStoreBudget);
        LogText straight(kStoreBudget);
        const double text
            = medianMs(rounds, [&] { dumpThroughText(through, payload, kBatch); }) * 1e3 / kBatch;
        const double store
            = medianMs(rounds, [&] { dumpStraightIntoStore(straight, payload, kBatch); }) * 1e3
            / kBatch;
        std::printf("%8d %18.3f %18.3f %10.2f\n", size, text, store, text / store);
    }
    return 0;
}
