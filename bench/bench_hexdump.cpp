// SPDX-License-Identifier: MIT
// Times the dump of the largest datagrams beside QByteArray::toHex of the same bytes, which does
// far less work and so gives the machine's speed as a yardstick.
#include "BenchSupport.h"
#include "log/Common.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

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

} // namespace

int main(int argc, char *argv[])
{
    const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 200);
    std::printf("%8s %10s %12s %12s %8s\n", "bytes", "lines", "dump ms", "toHex ms", "ratio");
    for (const int size : { 16, 1472, 32768, 65507, 65527 }) {
        QByteArray payload(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            payload[i] = char(i * 7);
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
    return 0;
}
