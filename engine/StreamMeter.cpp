// SPDX-License-Identifier: MIT
#include "engine/StreamMeter.h"

namespace {

constexpr qint64 kNsPerMs = 1'000'000;

PatternCheck::Counts operator+(const PatternCheck::Counts &a, const PatternCheck::Counts &b)
{
    return { a.inOrder + b.inOrder, a.lost + b.lost, a.outOfOrder + b.outOfOrder,
        a.duplicates + b.duplicates };
}

PatternCheck::Counts operator-(const PatternCheck::Counts &a, const PatternCheck::Counts &b)
{
    return { a.inOrder - b.inOrder, a.lost - b.lost, a.outOfOrder - b.outOfOrder,
        a.duplicates - b.duplicates };
}

} // namespace

void StreamMeter::Tally::merge(const Tally &other)
{
    received += other.received;
    bytes += other.bytes;
    pattern = pattern + other.pattern;
    rtt.merge(other.rtt);
    ipdv.merge(other.ipdv);
    outages.merge(other.outages);
}

void StreamMeter::Tally::reset()
{
    received = bytes = 0;
    pattern = {};
    rtt.reset();
    ipdv.reset();
    outages.reset();
}

void StreamMeter::Tally::fill(IntervalRecord &record) const
{
    record.datagrams = received;
    record.bytes = bytes;
    record.inOrder = pattern.inOrder;
    record.lost = pattern.lost;
    record.outOfOrder = pattern.outOfOrder;
    record.duplicates = pattern.duplicates;
    record.rttSamples = rtt.count();
    if (rtt.count() > 0) {
        record.rttMinNs = rtt.min();
        record.rttMedianNs = rtt.percentile(50);
        record.rttP99Ns = rtt.percentile(99);
        record.rttMaxNs = rtt.max();
    }
    if (ipdv.count() > 0) {
        record.ipdvMedianNs = ipdv.percentile(50);
        record.ipdvP99Ns = ipdv.percentile(99);
        record.ipdvMaxNs = ipdv.max();
    }
    record.outages = quint32(outages.count());
    record.longestOutageNs = outages.longest().durationNs;
    record.downNs = outages.downNs();
}

void StreamMeter::receive(
    QByteArrayView datagram, qint64 arrivalNs, const EchoClock &echoes, qint64 wallOffsetNs)
{
    ++m_interval.received;
    m_interval.bytes += datagram.size();
    const qint64 lostBefore = m_pattern.counts().lost;
    // The pattern check times the stream in milliseconds of a wrapping 32-bit tick.
    if (!m_pattern.observe(datagram, quint32(quint64(arrivalNs / kNsPerMs))))
        return;
    const int counter = quint8(datagram[0]);

    const qint64 silenceNs = arrivalNs - m_lastTestNs;
    // Until the stream has timed its period a silence cannot be judged.
    const qint64 periodNs = m_schedule.periodNs();
    const bool afterOutage = m_heardTest && periodNs > 0 && silenceNs > Outages::limitNs(periodNs);
    if (afterOutage) {
        m_interval.outages.add({ silenceNs, IntervalRecord::wallMs(m_lastTestNs, wallOffsetNs),
            m_pattern.counts().lost - lostBefore });
    }
    m_heardTest = true;
    m_lastTestNs = arrivalNs;

    // The schedule follows every test datagram, echo or not, to keep its place and period.
    const StreamSchedule::Place place = m_schedule.place(counter, arrivalNs, afterOutage);
    const EchoClock::Match echo = echoes.match(counter, arrivalNs, m_echoed);
    TransitKind kind = TransitKind::None;
    qint64 transit = 0;
    bool continues = false;
    if (echo.kind == EchoClock::Kind::Echo) {
        m_interval.rtt.record(echo.roundTripNs);
        kind = TransitKind::RoundTrip;
        transit = echo.roundTripNs;
        continues = !afterOutage;
    } else if (echo.kind == EchoClock::Kind::None) {
        kind = TransitKind::Schedule;
        transit = place.transitNs;
        continues = place.continues;
    }
    if (kind == TransitKind::None)
        return;
    if (!continues || kind != m_lastTransit)
        m_jitter.restart();
    m_lastTransit = kind;
    if (const std::optional<qint64> variation = m_jitter.observe(transit))
        m_interval.ipdv.record(*variation);
}

PatternCheck::Counts StreamMeter::patternInInterval() const
{
    return m_pattern.counts() - m_patternAtClose;
}

IntervalRecord StreamMeter::closeInterval(qint64 startWallMs, qint64 lengthNs)
{
    m_interval.pattern = patternInInterval();
    m_patternAtClose = m_pattern.counts();
    IntervalRecord record;
    record.startWallMs = startWallMs;
    record.lengthNs = lengthNs;
    record.stream = m_key;
    m_interval.fill(record);
    record.jitterNs = m_jitter.estimateNs();
    m_run.merge(m_interval);
    m_interval.reset();
    return record;
}

void StreamMeter::addTo(Tally &interval, Tally &run) const
{
    interval.merge(m_interval);
    interval.pattern = interval.pattern + patternInInterval();
    run.merge(m_run);
}

void StreamMeter::restart(const StreamKey &key)
{
    m_key = key;
    m_pattern.reset();
    m_patternAtClose = {};
    m_schedule = {};
    m_jitter = {};
    m_lastTransit = TransitKind::None;
    m_echoed = {};
    m_heardTest = false;
    m_lastTestNs = 0;
    // The histograms keep their memory: a stream taking another's place allocates nothing.
    m_interval.reset();
    m_run.reset();
}
