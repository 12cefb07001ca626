// SPDX-License-Identifier: MIT
// Finds the last of millions of status lines with TextSearch, beside one QByteArrayView::indexOf
// over the same bytes in one piece, and prints the longest the event loop waited meanwhile; then
// runs gigabytes of status lines through a budgeted text and prints its resident size.
#include "BenchSupport.h"
#include "log/LogText.h"
#include "log/StatusLine.h"
#include "log/TextSearch.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr std::array<qint64, 3> kLineCounts { 1000000, 10000000, 30000000 };
constexpr qint32 kFirstTick = 1000000000;
// Lines are handed over in batches, as the endpoint does in a flood.
constexpr int kLinesPerBatch = 4096;
constexpr qint64 kBudget = qint64(256) * 1024 * 1024;
constexpr qint64 kRunBytes = qint64(2) * 1024 * 1024 * 1024;
// The loop's heartbeat while a search runs: a gap far over it is a pause the search caused.
constexpr int kTickMs = 1;
constexpr double kMiB = 1024.0 * 1024.0;

qint64 residentBytes()
{
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return -1;
    long pages = 0;
    long resident = -1;
    const int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
    std::fclose(statm);
    return read == 2 ? qint64(resident) * ::sysconf(_SC_PAGESIZE) : -1;
}

// Appends `count` status lines with ticks from `tick` on and adds the time the appends took to
// appendNs; returns the tick after the last.
qint32 appendStatusLines(LogText &text, qint64 count, qint32 tick, qint64 &appendNs)
{
    QByteArray batch;
    for (qint64 i = 0; i < count; ++i) {
        batch += statusLine(Direction::Receive, 16, tick++);
        if ((i + 1) % kLinesPerBatch == 0 || i + 1 == count) {
            const qint64 start = Bench::nowNs();
            text.append(batch);
            appendNs += Bench::nowNs() - start;
            batch.clear();
        }
    }
    return tick;
}

// The longest wait between the ticks of a 1 ms precise timer while it lives.
class GapMeter
{
public:
    GapMeter()
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(kTickMs);
        QObject::connect(&m_ticker, &QTimer::timeout, &m_ticker, [this] {
            const qint64 now = Bench::nowNs();
            m_longestNs = std::max(m_longestNs, now - m_lastNs);
            m_lastNs = now;
        });
        m_ticker.start();
    }
    double longestMs() const { return m_longestNs / 1e6; }

private:
    QTimer m_ticker;
    qint64 m_lastNs = Bench::nowNs();
    qint64 m_longestNs = 0;
};

struct SearchFigures
{
    double searchMs = 0;
    double longestGapMs = 0;
    bool found = false;
};

SearchFigures timeSearch(const LogText &text, const QByteArray &needle)
{
    SearchFigures figures;
    QEventLoop loop;
    TextSearch search(text);
    QObject::connect(&search, &TextSearch::found, &loop, [&] {
        figures.found = true;
        loop.quit();
    });
    QObject::connect(&search, &TextSearch::notFound, &loop, &QEventLoop::quit);
    const GapMeter gaps;
    const qint64 start = Bench::nowNs();
    search.start(needle, text.begin(), TextSearch::Direction::Forward);
    loop.exec();
    figures.searchMs = (Bench::nowNs() - start) / 1e6;
    figures.longestGapMs = gaps.longestMs();
    return figures;
}

// The same with nothing but the timer: what the machine's own scheduling costs.
double longestIdleGapMs(double milliseconds)
{
    const GapMeter gaps;
    Bench::runEventLoopFor(std::max(1, int(milliseconds)));
    return gaps.longestMs();
}

void searchFigures()
{
    std::printf("%10s %10s %12s %12s %16s %16s\n", "lines", "MiB", "search ms", "indexOf ms",
        "longest gap ms", "idle gap ms");
    for (const qint64 lines : kLineCounts) {
        LogText text;
        qint64 appendNs = 0;
        const qint32 lastTick = appendStatusLines(text, lines, kFirstTick, appendNs) - 1;
        const QByteArray needle = statusLine(Direction::Receive, 16, lastTick).chopped(2);
        const SearchFigures figures = timeSearch(text, needle);
        if (!figures.found)
            std::abort();

        const QByteArray whole = text.mid(text.begin(), text.end());
        const qint64 start = Bench::nowNs();
        if (QByteArrayView(whole).indexOf(needle) < 0)
            std::abort();
        const double plainMs = (Bench::nowNs() - start) / 1e6;
        const double idleGapMs = longestIdleGapMs(figures.searchMs);
        std::printf("%10lld %10.0f %12.1f %12.1f %16.2f %16.2f\n", qlonglong(lines),
            text.size() / kMiB, figures.searchMs, plainMs, figures.longestGapMs, idleGapMs);
        std::fflush(stdout);
    }
}

void budgetFigures()
{
    std::printf(
        "\nbudget %.0f MiB, resident before: %.1f MiB\n", kBudget / kMiB, residentBytes() / kMiB);
    std::printf("%12s %14s %14s %14s %16s %12s\n", "appended GiB", "memoryUsed MiB", "resident MiB",
        "lines held", "lines let go", "ns/line");
    LogText text(kBudget);
    qint32 tick = kFirstTick;
    for (int run = 1; run <= 2; ++run) {
        const qint64 lineBefore = text.firstLine() + text.lineCount();
        qint64 appendNs = 0;
        const qint64 target = text.end() + kRunBytes;
        while (text.end() < target)
            tick = appendStatusLines(text, kLinesPerBatch, tick, appendNs);
        const double nsPerLine
            = double(appendNs) / double(text.firstLine() + text.lineCount() - lineBefore);
        std::printf("%12.1f %14.1f %14.1f %14lld %16lld %12.1f\n", text.end() / kMiB / 1024,
            text.memoryUsed() / kMiB, residentBytes() / kMiB, text.lineCount(), text.firstLine(),
            nsPerLine);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    searchFigures();
    budgetFigures();
    return 0;
}
