// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <array>
#include <optional>

// Follows the test pattern's counter through the datagrams received, as a paced UDP tester
// does: it expects a next counter; a jump ahead is a gap (its datagrams count as lost), a
// datagram that fills an earlier gap is out of order (and one fewer is lost), a counter seen
// recently is a duplicate.
//
// The counter has eight bits, so each datagram's place in the stream is inferred from the time
// since the newest one and the recent period between arrivals: that time picks how many times
// the counter wrapped during a gap, and tells a datagram that is late from one after a long gap.
//
// A jump far past where the time puts the sender is judged as RTP receivers do (RFC 3550 A.1):
// a datagram whose counter fits a place lost among the last 256 is late at once; any other waits
// for the next datagram, and only if that one is its successor is the jump taken, as a restart of
// the sender or a long run lost. Otherwise it counts as one late or stray datagram and the stream
// keeps its place, so a datagram held back for seconds no longer moves it.
class PatternCheck
{
public:
    struct Counts
    {
        qint64 inOrder = 0; // each one newer than every datagram before it, gaps or not
        qint64 lost = 0;
        qint64 outOfOrder = 0;
        qint64 duplicates = 0;
    };

    // False, counting nothing, when the datagram does not have the pattern's shape.
    bool observe(QByteArrayView datagram, quint32 tickMs);
    // The counter of a datagram of the pattern's shape, else -1.
    static int counterOf(QByteArrayView datagram);
    const Counts &counts() const { return m_counts; }
    void reset();

private:
    static constexpr int kCounterRange = 256;
    // Where the tick cannot time the stream, a jump shorter than this is always a gap.
    static constexpr int kHalfRange = kCounterRange / 2;
    // A jump at most this many places past where the time puts the sender is a gap at once: the
    // slack for jitter and for a short loss inside a backlog read at one tick.
    static constexpr int kMaxDropout = 8;
    // A datagram at most this many places behind is late at once, seen before or not.
    static constexpr int kMaxMisorder = 32;

    // A far jump waiting for the next datagram to confirm it.
    struct Jump
    {
        int counter = 0;
        qint64 gap = 0; // the places it skips if taken
        qint64 latePosition = 0; // its place if it is late instead
        quint32 tickMs = 0;
    };

    void settle(const Jump &jump, int nextCounter);
    void advance(qint64 gap, quint32 tickMs);
    void arriveLate(qint64 position);
    void updatePeriod(quint32 intervalMs);
    bool seen(qint64 position) const;
    bool lostEarlier(qint64 position) const;
    void mark(qint64 position, bool received);

    Counts m_counts;
    bool m_started = false;
    qint64 m_first = 0; // the place of the first datagram seen
    qint64 m_expected = 0; // the place the next datagram in order takes
    quint32 m_newestTick = 0; // when the datagram at m_expected - 1 arrived
    double m_periodMs = 0; // smoothed interval between consecutive datagrams; 0 before one
    // One bit per place in the last kCounterRange places before m_expected: received or not.
    std::array<quint64, kCounterRange / 64> m_received {};
    std::optional<Jump> m_held;
};
