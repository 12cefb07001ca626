// SPDX-License-Identifier: MIT
#include "engine/DurationHistogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

DurationHistogram::DurationHistogram()
    : m_counts(size_t(indexOf(kHighestTrackableNs) + 1), 0)
{ }

int DurationHistogram::indexOf(qint64 ns)
{
    const auto value = quint64(std::clamp(ns, qint64(0), kHighestTrackableNs));
    // The power of two above the linear range that holds the value, 0 for the linear range.
    const int bucket = 64 - std::countl_zero(value | kLinearMask) - (kHalfBucketMagnitude + 1);
    const int subBucket = int(value >> bucket);
    return ((bucket + 1) << kHalfBucketMagnitude) + subBucket - kHalfBucket;
}

qint64 DurationHistogram::middleOf(int index)
{
    int bucket = (index >> kHalfBucketMagnitude) - 1;
    int subBucket = (index & (kHalfBucket - 1)) + kHalfBucket;
    if (bucket < 0) {
        subBucket -= kHalfBucket;
        bucket = 0;
    }
    const qint64 lowest = qint64(subBucket) << bucket;
    return lowest + ((qint64(1) << bucket) >> 1);
}

void DurationHistogram::record(qint64 ns)
{
    ns = std::max(ns, qint64(0));
    const int index = indexOf(ns);
    ++m_counts[size_t(index)];
    if (m_count == 0) {
        m_min = m_max = ns;
        m_lowestIndex = m_highestIndex = index;
    } else {
        m_min = std::min(m_min, ns);
        m_max = std::max(m_max, ns);
        m_lowestIndex = std::min(m_lowestIndex, index);
        m_highestIndex = std::max(m_highestIndex, index);
    }
    ++m_count;
}

qint64 DurationHistogram::percentile(double percent) const
{
    if (m_count == 0)
        return 0;
    // A rank such as 99 % of 100 must not become 100 through a rounding error of the product.
    const double exactRank = std::clamp(percent, 0.0, 100.0) / 100 * double(m_count);
    const qint64 rank = std::clamp(qint64(std::ceil(exactRank * (1 - 1e-12))), qint64(1), m_count);
    // The top is known exactly, also past the last bucket.
    if (rank == m_count)
        return m_max;
    qint64 seen = 0;
    for (int i = m_lowestIndex; i <= m_highestIndex; ++i) {
        seen += m_counts[size_t(i)];
        if (seen >= rank)
            return std::clamp(middleOf(i), m_min, m_max);
    }
    return m_max;
}

void DurationHistogram::merge(const DurationHistogram &other)
{
    if (other.m_count == 0)
        return;
    for (int i = other.m_lowestIndex; i <= other.m_highestIndex; ++i)
        m_counts[size_t(i)] += other.m_counts[size_t(i)];
    if (m_count == 0) {
        m_min = other.m_min;
        m_max = other.m_max;
        m_lowestIndex = other.m_lowestIndex;
        m_highestIndex = other.m_highestIndex;
    } else {
        m_min = std::min(m_min, other.m_min);
        m_max = std::max(m_max, other.m_max);
        m_lowestIndex = std::min(m_lowestIndex, other.m_lowestIndex);
        m_highestIndex = std::max(m_highestIndex, other.m_highestIndex);
    }
    m_count += other.m_count;
}

void DurationHistogram::reset()
{
    if (m_count > 0)
        std::fill(m_counts.begin() + m_lowestIndex, m_counts.begin() + m_highestIndex + 1, 0);
    m_count = 0;
    m_min = m_max = 0;
    m_lowestIndex = 0;
    m_highestIndex = -1;
}
