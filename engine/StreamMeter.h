// SPDX-License-Identifier: MIT
#pragma once

#include "engine/DurationHistogram.h"
#include "engine/EchoClock.h"
#include "engine/IntervalStore.h"
#include "engine/Jitter.h"
#include "engine/Outages.h"
#include "engine/PatternCheck.h"
#include "engine/StreamKey.h"
#include "engine/StreamSchedule.h"

#include <QByteArrayView>
#include <QtGlobal>

// What one sender's stream shows: datagrams and bytes, its own pattern check, round-trip times
// of its echoes, jitter and delay variation, and outages, over the current interval and over
// the run (every closed interval). Every datagram is counted; only test datagrams are timed.
//
// Each test datagram's transit for the jitter is its round-trip time when it is the first echo
// of a send of ours (EchoClock), else its place against the stream's schedule (StreamSchedule);
// an echo's duplicate gives none. No difference is taken between transits of the two kinds.
class StreamMeter
{
public:
    // The figures that add up over intervals and over streams.
    struct Tally
    {
        qint64 received = 0;
        qint64 bytes = 0;
        PatternCheck::Counts pattern;
        DurationHistogram rtt;
        DurationHistogram ipdv;
        Outages outages;

        void merge(const Tally &other);
        void reset();
        // The figures into a record; the jitter and what identifies it are the caller's.
        void fill(IntervalRecord &record) const;
    };

    explicit StreamMeter(const StreamKey &key)
        : m_key(key)
    { }

    // `wallOffsetNs` turns an arrival time into wall-clock time (nanoseconds since the epoch).
    void receive(
        QByteArrayView datagram, qint64 arrivalNs, const EchoClock &echoes, qint64 wallOffsetNs);
    bool heardInInterval() const { return m_interval.received > 0; }
    // The interval's record; its figures then join the run's.
    IntervalRecord closeInterval(qint64 startWallMs, qint64 lengthNs);
    // Adds the current interval and the run to another's, as when the stream is let go.
    void addTo(Tally &interval, Tally &run) const;
    // Starts over as a new sender's stream.
    void restart(const StreamKey &key);

    const StreamKey &key() const { return m_key; }
    // Over the closed intervals.
    const Tally &run() const { return m_run; }
    // Over the closed intervals and the one still open.
    Tally soFar() const
    {
        Tally tally = m_run;
        tally.merge(m_interval);
        return tally;
    }
    // Over every datagram so far.
    const PatternCheck::Counts &pattern() const { return m_pattern.counts(); }
    qint64 jitterNs() const { return m_jitter.estimateNs(); }
    qint64 periodNs() const { return m_schedule.periodNs(); }
    qint64 lastHeardNs() const { return m_lastTestNs; }

private:
    enum class TransitKind { None, RoundTrip, Schedule };

    PatternCheck::Counts patternInInterval() const;

    StreamKey m_key;
    PatternCheck m_pattern;
    PatternCheck::Counts m_patternAtClose;
    StreamSchedule m_schedule;
    Jitter m_jitter;
    TransitKind m_lastTransit = TransitKind::None;
    EchoClock::Echoed m_echoed;
    bool m_heardTest = false;
    qint64 m_lastTestNs = 0;
    Tally m_interval;
    Tally m_run;
};
