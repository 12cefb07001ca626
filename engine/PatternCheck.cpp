// SPDX-License-Identifier: MIT
#include "engine/PatternCheck.h"

#include "net/TestPattern.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Below this the millisecond tick cannot time one step of the stream, as in a flood.
constexpr double kShortestTimedPeriodMs = 0.5;
// One new interval moves the smoothed period by a quarter of the difference, and by at most a
// factor of two, so a pause of the sender or a burst read at one tick barely shifts it.
constexpr double kPeriodSmoothing = 4;
constexpr double kLargestPeriodStep = 2;

bool hasPatternShape(QByteArrayView datagram)
{
    static_assert(TestPattern::kPayloadSize == 16 && TestPattern::kCounterBytes == 4);
    if (datagram.size() != TestPattern::kPayloadSize)
        return false;
    // Read as words: the receiver calls this for every 16-byte datagram of a flood.
    quint32 head = 0;
    quint32 rest[3] = {};
    std::memcpy(&head, datagram.data(), sizeof head);
    std::memcpy(rest, datagram.data() + sizeof head, sizeof rest);
    return head == quint8(head) * 0x01010101u && (rest[0] | rest[1] | rest[2]) == 0;
}

} // namespace

int PatternCheck::counterOf(QByteArrayView datagram)
{
    return hasPatternShape(datagram) ? quint8(datagram[0]) : -1;
}

bool PatternCheck::observe(QByteArrayView datagram, quint32 tickMs)
{
    if (!hasPatternShape(datagram))
        return false;
    const int counter = quint8(datagram[0]);
    if (!m_started) {
        m_started = true;
        m_first = counter;
        m_expected = counter;
        advance(0, tickMs);
        return true;
    }

    if (m_held) {
        const Jump held = *m_held;
        m_held.reset();
        settle(held, counter);
    }

    // How far ahead of the expected place the counter is, before any wrap.
    const int ahead = (counter - int(m_expected % kCounterRange) + kCounterRange) % kCounterRange;
    const quint32 elapsed = tickMs - m_newestTick; // wraps with the tick
    if (ahead == 0) {
        // The next one in order, also after a long silence: a sender pauses far more often
        // than exactly a multiple of 256 datagrams is lost.
        updatePeriod(elapsed);
        advance(0, tickMs);
        return true;
    }
    const bool timed = m_periodMs >= kShortestTimedPeriodMs;
    const double steps = timed ? double(elapsed) / m_periodMs : 0;
    const double wraps = timed ? std::round((steps - (ahead + 1)) / kCounterRange) : 0;
    const qint64 gap = ahead + qint64(std::max(0.0, wraps)) * kCounterRange;
    const qint64 latePosition = m_expected - (kCounterRange - ahead);
    // How many places the jump runs past where the time since the newest puts the sender. A
    // backlog read at one tick shows no time between its datagrams, so a short jump is a gap,
    // and a flood's tick cannot time any jump.
    const double lead = double(gap + 1) - steps;
    if (lead <= (timed ? kMaxDropout : kHalfRange))
        advance(gap, tickMs);
    else if (m_expected - latePosition <= kMaxMisorder || lostEarlier(latePosition))
        arriveLate(latePosition);
    else
        m_held = Jump { counter, gap, latePosition, tickMs };
    return true;
}

void PatternCheck::settle(const Jump &jump, int nextCounter)
{
    if (nextCounter == (jump.counter + 1) % kCounterRange)
        advance(jump.gap, jump.tickMs);
    else
        arriveLate(jump.latePosition);
}

void PatternCheck::reset()
{
    *this = PatternCheck();
}

void PatternCheck::advance(qint64 gap, quint32 tickMs)
{
    if (gap >= kCounterRange) {
        m_received.fill(0);
    } else {
        for (qint64 i = 0; i < gap; ++i)
            mark(m_expected + i, false);
    }
    mark(m_expected + gap, true);
    m_expected += gap + 1;
    m_newestTick = tickMs;
    m_counts.lost += gap;
    ++m_counts.inOrder;
}

void PatternCheck::arriveLate(qint64 position)
{
    if (position < m_first) {
        // Sent before the first one seen: it fills no gap counted here.
        ++m_counts.outOfOrder;
    } else if (seen(position)) {
        ++m_counts.duplicates;
    } else {
        mark(position, true);
        ++m_counts.outOfOrder;
        --m_counts.lost;
    }
}

void PatternCheck::updatePeriod(quint32 intervalMs)
{
    double sample = intervalMs;
    if (m_periodMs == 0) {
        m_periodMs = sample;
        return;
    }
    if (m_periodMs >= kShortestTimedPeriodMs)
        sample
            = std::clamp(sample, m_periodMs / kLargestPeriodStep, m_periodMs * kLargestPeriodStep);
    m_periodMs += (sample - m_periodMs) / kPeriodSmoothing;
}

bool PatternCheck::seen(qint64 position) const
{
    const auto bit = quint64(position) % kCounterRange;
    return (m_received[bit / 64] >> (bit % 64)) & 1;
}

bool PatternCheck::lostEarlier(qint64 position) const
{
    return position >= m_first && !seen(position);
}

void PatternCheck::mark(qint64 position, bool received)
{
    const auto bit = quint64(position) % kCounterRange;
    const quint64 mask = quint64(1) << (bit % 64);
    if (received)
        m_received[bit / 64] |= mask;
    else
        m_received[bit / 64] &= ~mask;
}
