// SPDX-License-Identifier: MIT
#pragma once

#include "engine/StreamKey.h"

#include <QtGlobal>

#include <array>
#include <deque>
#include <memory>

// The figures of one interval, for one sender's stream, for what was sent (stream.family is
// Sent) or for the streams let go from the table (Others). Percentiles are kept as values, not
// histograms, so a whole day of records fits the store's budget. A figure that could not be
// measured in the interval reads kNone.
struct IntervalRecord
{
    static constexpr qint64 kNone = -1;

    qint64 startWallMs = 0; // milliseconds since the epoch
    StreamKey stream;
    quint32 outages = 0; // that ended in the interval
    qint64 lengthNs = 0;
    qint64 datagrams = 0; // sent, or received from the stream
    qint64 bytes = 0;
    qint64 droppedSends = 0; // sent record only: periods whose datagram a full buffer dropped
    // The pattern check's counts over the interval. A late datagram filling an earlier
    // interval's gap makes `lost` negative.
    qint64 inOrder = 0;
    qint64 lost = 0;
    qint64 outOfOrder = 0;
    qint64 duplicates = 0;
    qint64 rttSamples = 0;
    qint64 rttMinNs = kNone;
    qint64 rttMedianNs = kNone;
    qint64 rttP99Ns = kNone;
    qint64 rttMaxNs = kNone;
    qint64 jitterNs = kNone; // the stream's jitter at the end of the interval
    qint64 ipdvMedianNs = kNone;
    qint64 ipdvP99Ns = kNone;
    qint64 ipdvMaxNs = kNone;
    qint64 longestOutageNs = 0;
    qint64 downNs = 0;

    // Milliseconds since the epoch at a monotonic time, given the clocks' offset in ns; rounded
    // down, also before 1970.
    static constexpr qint64 wallMs(qint64 monotonicNs, qint64 wallOffsetNs)
    {
        constexpr qint64 nsPerMs = 1'000'000;
        const qint64 ns = monotonicNs + wallOffsetNs;
        return ns / nsPerMs - (ns % nsPerMs < 0 ? 1 : 0);
    }

    bool isSent() const { return stream.family == StreamKey::Family::Sent; }
    double datagramsPerSecond() const
    {
        return lengthNs > 0 ? double(datagrams) * 1e9 / double(lengthNs) : 0;
    }
    double bytesPerSecond() const
    {
        return lengthNs > 0 ? double(bytes) * 1e9 / double(lengthNs) : 0;
    }
};

// Every interval record of a run, oldest first, within a budget of memory: past it the oldest
// go first and dropped() says how many. Records sit in fixed chunks, so the store never holds
// more than its budget, not even while it grows. A reader (a graph, a file writer) polls
// appended() and reads the records it has not seen: record n of the run is at(n - dropped()).
class IntervalStore
{
public:
    static constexpr int kChunkRecords = 1024;
    // A day at 1 s with one stream (172,800 records) fits.
    static constexpr qint64 kDefaultBudgetBytes = qint64(32) << 20;

    explicit IntervalStore(qint64 budgetBytes = kDefaultBudgetBytes);

    void append(const IntervalRecord &record);
    void clear();

    qsizetype size() const { return m_size; }
    const IntervalRecord &at(qsizetype i) const;
    // Records let go for the budget since the run began.
    qint64 dropped() const { return m_dropped; }
    // Records appended since the run began; it moves with every append, so it is the revision.
    qint64 appended() const { return m_dropped + m_size; }
    qsizetype capacity() const { return m_capacity; }
    qint64 memoryBytes() const { return qint64(m_chunks.size() * sizeof(Chunk)); }

private:
    using Chunk = std::array<IntervalRecord, kChunkRecords>;

    qsizetype m_capacity;
    std::deque<std::unique_ptr<Chunk>> m_chunks;
    qsizetype m_head = 0; // the oldest record's place in the first chunk
    qsizetype m_size = 0;
    qint64 m_dropped = 0;
};
