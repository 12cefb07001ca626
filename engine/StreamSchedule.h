// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <array>

// Where a peer's own test datagram falls in its stream's schedule, for the jitter of a stream
// whose datagrams carry no timestamp: datagram n is due at the first arrival plus n times the
// stream's period, and its transit is its arrival minus that. Only differences of transit count
// (see Jitter), so each transit is the previous one plus the time between the two arrivals
// minus their distance in places times the period. A new estimate of the period then never
// shifts a transit by the whole run's length.
//
// The counter's place: the nearest to the newest place (at most 128 back or 127 ahead). The
// period: the time between the oldest and the newest of the last 64 datagrams that moved the
// stream on, over their distance in places. A chain of transits starts again (no difference
// across it) at the first datagram, after an outage, after a silence of more than 64 periods
// (where the nearest place may be off by a wrap of the counter), and until the new chain has
// timed a period of its own: a paused sender's next datagram is one place on after any time.
class StreamSchedule
{
public:
    struct Place
    {
        qint64 transitNs = 0;
        bool continues = false; // false: a new chain starts at this datagram
    };

    // `afterOutage`: the stream was silent for longer than the outage limit before this one.
    Place place(int counter, qint64 arrivalNs, bool afterOutage);
    // The stream's period as estimated; 0 before two datagrams in a row. A new chain keeps the
    // last estimate until it has one of its own.
    qint64 periodNs() const { return m_periodNs; }

private:
    static constexpr int kPeriodPoints = 64;
    static constexpr qint64 kPlaceablePeriods = 64;

    struct Point
    {
        qint64 place = 0;
        qint64 arrivalNs = 0;
    };

    void addPoint(qint64 place, qint64 arrivalNs);
    const Point &oldestPoint() const;

    bool m_started = false;
    qint64 m_newestPlace = 0;
    qint64 m_newestArrivalNs = 0;
    qint64 m_previousPlace = 0;
    qint64 m_previousArrivalNs = 0;
    qint64 m_transitNs = 0;
    qint64 m_periodNs = 0;
    // The datagrams that moved the stream on, for the period: a ring, newest at m_nextPoint - 1.
    std::array<Point, kPeriodPoints> m_points {};
    int m_pointCount = 0;
    int m_nextPoint = 0;
};
