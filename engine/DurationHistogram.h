// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <vector>

// Durations in nanoseconds, counted in log-linear buckets as HdrHistogram counts them: below
// 256 ns each nanosecond has a bucket of its own; above, each power of two is split into 128
// equal buckets, so a bucket is at most 1/128 of its values wide and a percentile read at a
// bucket's middle is within 0.4 % of the true one. The buckets reach 2^37 ns (137 s); a longer
// duration counts in the last one and still sets max(). Memory is fixed (31 KB) and record() is
// a few instructions, so a day's run costs the same per sample as a minute's.
class DurationHistogram
{
public:
    static constexpr qint64 kHighestTrackableNs = (qint64(1) << 37) - 1;

    DurationHistogram();

    // A negative duration counts as 0.
    void record(qint64 ns);
    qint64 count() const { return m_count; }
    // Exact; 0 when empty.
    qint64 min() const { return m_min; }
    qint64 max() const { return m_max; }
    // The nearest-rank percentile: the smallest value with at least `percent` % of the samples at
    // or below it, read at its bucket's middle and kept within [min, max]; 100 % is max(). 0 when
    // empty.
    qint64 percentile(double percent) const;

    void merge(const DurationHistogram &other);
    void reset();

private:
    static constexpr int kHalfBucketMagnitude = 7;
    static constexpr int kHalfBucket = 1 << kHalfBucketMagnitude;
    static constexpr quint64 kLinearMask = (quint64(1) << (kHalfBucketMagnitude + 1)) - 1;

    static int indexOf(qint64 ns);
    static qint64 middleOf(int index);

    std::vector<qint64> m_counts;
    qint64 m_count = 0;
    qint64 m_min = 0;
    qint64 m_max = 0;
    // The buckets that may be non-zero: merge, reset and percentile walk only these.
    int m_lowestIndex = 0;
    int m_highestIndex = -1;
};
