// SPDX-License-Identifier: MIT
#include "engine/RunFigures.h"

#include "engine/LinkMeasure.h"

#include <algorithm>

namespace {

constexpr qint64 kNsPerMs = 1'000'000;

} // namespace

const char *runEndName(RunEnd end)
{
    switch (end) {
    case RunEnd::Duration:
        return "duration";
    case RunEnd::Signal:
        return "signal";
    case RunEnd::Error:
        return "error";
    case RunEnd::Closed:
        break;
    }
    return "closed";
}

QList<RunFigures> RunReader::take()
{
    const IntervalStore &records = m_measure.records();
    // Records the store let go before they were read are gone; what follows still reads right.
    m_next = std::max(m_next, records.dropped());
    QList<RunFigures> intervals;
    for (; m_next < records.appended(); ++m_next) {
        const IntervalRecord &record = records.at(m_next - records.dropped());
        switch (record.stream.family) {
        case StreamKey::Family::Sent: {
            // Every interval begins with what was sent, and the intervals follow each other
            // without a gap: their lengths add up to the run's time on the monotonic clock.
            m_elapsedNs += record.lengthNs;
            RunFigures &interval = intervals.emplace_back();
            interval.endWallMs = record.startWallMs + record.lengthNs / kNsPerMs;
            interval.elapsedNs = m_elapsedNs;
            interval.lengthNs = record.lengthNs;
            interval.sent = record.datagrams;
            interval.dropped = record.droppedSends;
            break;
        }
        case StreamKey::Family::Echoed:
            if (!intervals.isEmpty()) {
                RunFigures &interval = intervals.last();
                interval.sent += record.datagrams;
                interval.echoed = record.datagrams;
                interval.dropped += record.droppedSends;
                interval.echoDropped = record.droppedSends;
            }
            break;
        case StreamKey::Family::Others:
        case StreamKey::Family::IPv4:
        case StreamKey::Family::IPv6:
            if (!intervals.isEmpty())
                intervals.last().streams.append(record);
            break;
        }
    }
    intervals.removeIf([](const RunFigures &interval) { return interval.isQuiet(); });
    return intervals;
}

void RunReader::restart()
{
    m_next = 0;
    m_elapsedNs = 0;
}

RunFigures RunReader::total(qint64 nowWallMs) const
{
    RunFigures run;
    run.endWallMs = nowWallMs;
    run.elapsedNs = run.lengthNs = m_elapsedNs;
    const LinkMeasure::SentTally &sent = m_measure.sentRun();
    const LinkMeasure::SentTally &echoed = m_measure.echoRun();
    run.sent = sent.datagrams + echoed.datagrams;
    run.echoed = echoed.datagrams;
    run.dropped = sent.dropped + echoed.dropped;
    run.echoDropped = echoed.dropped;
    const auto add
        = [&run](const StreamKey &key, const StreamMeter::Tally &tally, qint64 jitterNs) {
              IntervalRecord &record = run.streams.emplace_back();
              record.startWallMs = run.endWallMs - run.lengthNs / kNsPerMs;
              record.lengthNs = run.lengthNs;
              record.stream = key;
              tally.fill(record);
              record.jitterNs = jitterNs;
          };
    const StreamTable &streams = m_measure.streams();
    for (int i = 0; i < streams.size(); ++i) {
        const StreamMeter &stream = streams.at(i);
        if (stream.run().received > 0)
            add(stream.key(), stream.run(), stream.jitterNs());
    }
    if (streams.letGo() > 0)
        add(StreamKey::others(), streams.othersRun(), IntervalRecord::kNone);
    return run;
}
