// SPDX-License-Identifier: MIT
#pragma once

#include "engine/EchoClock.h"
#include "engine/IntervalStore.h"
#include "engine/StreamKey.h"
#include "engine/StreamTable.h"

#include <QByteArrayView>
#include <QtGlobal>

// How well the link carries the test pattern, per sender, in interval records. Every time is
// in nanoseconds on one monotonic clock; wall-clock time, in milliseconds since the epoch, is
// read from it through the offset that the constructor, restart() and advance() take.
//
// Intervals are cut on the monotonic clock: each event first closes every interval that ended
// before it, so a datagram counts in the interval it arrived in however late advance() runs.
// At each close one record goes to the store for what was sent, one for what the echo sent back
// if it sent or dropped any, one for each stream heard in the interval, and one for the streams
// let go if they had any figures in it.
class LinkMeasure
{
public:
    static constexpr qint64 kDefaultIntervalNs = 1'000'000'000;
    static constexpr qint64 kShortestIntervalNs = 100'000'000;
    static constexpr qint64 kLongestIntervalNs = 60'000'000'000;

    struct SentTally
    {
        qint64 datagrams = 0;
        qint64 bytes = 0;
        qint64 dropped = 0;
    };

    LinkMeasure(qint64 startNs, qint64 startWallMs,
        qint64 storeBudgetBytes = IntervalStore::kDefaultBudgetBytes);

    // A new run: every figure and record goes; the interval and the period stay.
    void restart(qint64 nowNs, qint64 wallMs);
    // Clamped to 0.1-60 s; from the next interval on.
    void setInterval(qint64 ns);
    qint64 interval() const { return m_nextLengthNs; }
    // The sender's period; 0 while it does not send.
    void setPeriod(qint64 ns) { m_echoes.setPeriod(ns); }

    // The datagram with this counter left; the time was taken just before the send.
    void sent(int counter, qint64 bytes, qint64 sendNs);
    // The period's datagram was dropped for a full send buffer.
    void dropped(int counter, qint64 nowNs);
    void received(const StreamKey &from, QByteArrayView datagram, qint64 arrivalNs);
    // A received datagram went back to its sender, or a full send buffer dropped it. Neither is
    // a send of ours that an echo could answer.
    void echoed(qint64 bytes, qint64 sendNs);
    void echoDropped(qint64 nowNs);
    // Closes the intervals that have ended and takes the wall clock's offset anew; call it a
    // few times an interval, so that records appear while the link is silent.
    void advance(qint64 nowNs, qint64 wallMs);
    // Closes the interval under way as a shorter one ending now, so that the records cover the
    // run up to this moment, as at its end; the next interval starts here.
    void closeNow(qint64 nowNs, qint64 wallMs);

    const IntervalStore &records() const { return m_records; }
    const StreamTable &streams() const { return m_streams; }
    // Over the closed intervals.
    const SentTally &sentRun() const { return m_sentRun; }
    const SentTally &echoRun() const { return m_echoRun; }
    qint64 intervalStartNs() const { return m_intervalStartNs; }
    qint64 intervalEndNs() const { return m_intervalEndNs; }

private:
    void closeDue(qint64 nowNs)
    {
        if (nowNs >= m_intervalEndNs)
            closeIntervals(nowNs);
    }
    void closeIntervals(qint64 nowNs);

    qint64 m_wallOffsetNs = 0;
    qint64 m_nextLengthNs = kDefaultIntervalNs;
    qint64 m_intervalStartNs = 0;
    qint64 m_intervalEndNs = 0;
    SentTally m_sentInterval;
    SentTally m_sentRun;
    SentTally m_echoInterval;
    SentTally m_echoRun;
    EchoClock m_echoes;
    StreamTable m_streams;
    IntervalStore m_records;
};
