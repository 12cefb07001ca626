// SPDX-License-Identifier: MIT
#include "engine/LinkMeasure.h"

#include <algorithm>

namespace {

constexpr qint64 kNsPerMs = 1'000'000;

} // namespace

LinkMeasure::LinkMeasure(qint64 startNs, qint64 startWallMs, qint64 storeBudgetBytes)
    : m_records(storeBudgetBytes)
{
    restart(startNs, startWallMs);
}

void LinkMeasure::restart(qint64 nowNs, qint64 wallMs)
{
    m_wallOffsetNs = wallMs * kNsPerMs - nowNs;
    m_intervalStartNs = nowNs;
    m_intervalEndNs = nowNs + m_nextLengthNs;
    m_sentInterval = {};
    m_sentRun = {};
    m_echoInterval = {};
    m_echoRun = {};
    m_echoes.reset();
    m_streams.clear();
    m_records.clear();
}

void LinkMeasure::setInterval(qint64 ns)
{
    m_nextLengthNs = std::clamp(ns, kShortestIntervalNs, kLongestIntervalNs);
}

void LinkMeasure::sent(int counter, qint64 bytes, qint64 sendNs)
{
    closeDue(sendNs);
    m_echoes.sent(counter, sendNs);
    ++m_sentInterval.datagrams;
    m_sentInterval.bytes += bytes;
}

void LinkMeasure::dropped(int counter, qint64 nowNs)
{
    closeDue(nowNs);
    m_echoes.dropped(counter);
    ++m_sentInterval.dropped;
}

void LinkMeasure::received(const StreamKey &from, QByteArrayView datagram, qint64 arrivalNs)
{
    closeDue(arrivalNs);
    m_streams.find(from).receive(datagram, arrivalNs, m_echoes, m_wallOffsetNs);
}

void LinkMeasure::echoed(qint64 bytes, qint64 sendNs)
{
    closeDue(sendNs);
    ++m_echoInterval.datagrams;
    m_echoInterval.bytes += bytes;
}

void LinkMeasure::echoDropped(qint64 nowNs)
{
    closeDue(nowNs);
    ++m_echoInterval.dropped;
}

void LinkMeasure::advance(qint64 nowNs, qint64 wallMs)
{
    closeDue(nowNs);
    m_wallOffsetNs = wallMs * kNsPerMs - nowNs;
}

void LinkMeasure::closeNow(qint64 nowNs, qint64 wallMs)
{
    advance(nowNs, wallMs);
    if (nowNs <= m_intervalStartNs)
        return;
    m_intervalEndNs = nowNs;
    closeIntervals(nowNs);
}

void LinkMeasure::closeIntervals(qint64 nowNs)
{
    while (nowNs >= m_intervalEndNs) {
        const qint64 startWall = IntervalRecord::wallMs(m_intervalStartNs, m_wallOffsetNs);
        const qint64 length = m_intervalEndNs - m_intervalStartNs;

        const auto closeTally = [&](const StreamKey &key, SentTally &interval, SentTally &run) {
            IntervalRecord record;
            record.startWallMs = startWall;
            record.lengthNs = length;
            record.stream = key;
            record.datagrams = interval.datagrams;
            record.bytes = interval.bytes;
            record.droppedSends = interval.dropped;
            m_records.append(record);
            run.datagrams += interval.datagrams;
            run.bytes += interval.bytes;
            run.dropped += interval.dropped;
            interval = {};
        };
        closeTally(StreamKey(), m_sentInterval, m_sentRun);
        // Only a run that echoes pays for the echo's record.
        if (m_echoInterval.datagrams > 0 || m_echoInterval.dropped > 0)
            closeTally(StreamKey::echoed(), m_echoInterval, m_echoRun);

        for (int i = 0; i < m_streams.size(); ++i) {
            StreamMeter &stream = m_streams.at(i);
            if (stream.heardInInterval())
                m_records.append(stream.closeInterval(startWall, length));
        }
        StreamMeter::Tally &others = m_streams.othersInterval();
        if (others.received > 0) {
            IntervalRecord record;
            record.startWallMs = startWall;
            record.lengthNs = length;
            record.stream = StreamKey::others();
            others.fill(record);
            m_records.append(record);
            m_streams.othersRun().merge(others);
            others.reset();
        }

        m_intervalStartNs = m_intervalEndNs;
        m_intervalEndNs += m_nextLengthNs;
    }
}
