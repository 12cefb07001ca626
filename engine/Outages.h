// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <algorithm>

// A stream silent for longer than max(3 periods, 50 ms) and then heard again had an outage. It
// lasts from the last test datagram before the silence (its wall-clock time is the start) to the
// first after it, and lost the datagrams the pattern check counts as lost across it (a sender
// that paused loses none). An outage still going on is counted once the stream is heard again.
// The period is the stream's own, as its arrivals time it (StreamSchedule), so no silence is
// judged before its first two test datagrams in a row.
struct Outage
{
    qint64 durationNs = 0;
    qint64 startWallMs = 0;
    qint64 lost = 0;
};

class Outages
{
public:
    static constexpr qint64 kShortestNs = 50'000'000;
    static constexpr qint64 kShortestPeriods = 3;

    // The silence that makes an outage, for a stream with this period (0 when not known).
    static constexpr qint64 limitNs(qint64 periodNs)
    {
        return std::max(kShortestPeriods * periodNs, kShortestNs);
    }

    void add(const Outage &outage)
    {
        ++m_count;
        m_downNs += outage.durationNs;
        if (outage.durationNs > m_longest.durationNs)
            m_longest = outage;
    }
    void merge(const Outages &other)
    {
        m_count += other.m_count;
        m_downNs += other.m_downNs;
        if (other.m_longest.durationNs > m_longest.durationNs)
            m_longest = other.m_longest;
    }
    void reset() { *this = Outages(); }

    qint64 count() const { return m_count; }
    qint64 downNs() const { return m_downNs; }
    // All zero before the first outage.
    const Outage &longest() const { return m_longest; }

private:
    qint64 m_count = 0;
    qint64 m_downNs = 0;
    Outage m_longest;
};
