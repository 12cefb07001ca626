// SPDX-License-Identifier: MIT
#include "engine/GraphSeries.h"

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace {

constexpr qint64 kNsPerMs = 1'000'000;
constexpr double kMsPerSecond = 1000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr char kCsvHeader[]
    = "start_utc,start_ms,length_s,stream,datagrams,bytes,dropped_sends,in_order,lost,"
      "out_of_order,duplicates,rtt_samples,rtt_min_ms,rtt_median_ms,rtt_p99_ms,rtt_max_ms,"
      "jitter_ms,ipdv_median_ms,ipdv_p99_ms,ipdv_max_ms,outages,longest_outage_ms,down_ms\n";

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b < 0 ? 1 : 0);
}

// Where an interval's figures are drawn, in ms since the epoch.
double middleMs(const IntervalRecord &record)
{
    return double(record.startWallMs) + double(record.lengthNs) / (2 * kNsPerMs);
}

double endMs(const IntervalRecord &record)
{
    return double(record.startWallMs) + double(record.lengthNs) / kNsPerMs;
}

double ms(qint64 ns)
{
    return double(ns) / kNsPerMs;
}

// The first record for which `after` holds; records are in the order of time, so it holds for
// every one from there on.
template <typename After> qsizetype firstWhere(const IntervalStore &records, After after)
{
    qsizetype low = 0;
    qsizetype high = records.size();
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (after(records.at(middle)))
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

// The smallest power of two in ms that gives at most one bucket to a pixel: steps of two let
// a zoom of less than a factor of two keep the buckets it has.
qint64 bucketFor(qint64 spanMs, int width)
{
    qint64 bucket = 1;
    while (bucket * width < spanMs)
        bucket *= 2;
    return bucket;
}

// Up to three points of a bucket in the order of time.
void addInOrder(
    GraphSeries::Series &series, std::array<std::pair<double, double>, 3> points, qsizetype count)
{
    std::sort(points.begin(), points.begin() + count);
    for (qsizetype i = 0; i < count; ++i) {
        if (i == 0 || points[size_t(i)].first != points[size_t(i - 1)].first)
            series.add(points[size_t(i)].first, points[size_t(i)].second);
    }
}

QByteArray msField(qint64 ns)
{
    if (ns == IntervalRecord::kNone)
        return {};
    return QByteArray::number(ns / kNsPerMs) + '.'
        + QByteArray::number(ns % kNsPerMs).rightJustified(6, '0');
}

} // namespace

GraphSeries::GraphSeries()
{
    startOver();
}

void GraphSeries::startOver()
{
    m_lines.assign(1, Line {});
    m_buckets.assign(1, {});
    m_lineOf.clear();
    m_senderLines = 0;
    m_othersLine = -1;
    m_bucketMs = 0;
    m_firstBucket = 0;
    m_lastBucket = -1;
    m_nextRun = 0;
    m_lastIntervalNs = 0;
    m_spans.clear();
    m_longestSpanMs = 0;
    m_spansRun = 0;
    m_outageSteps.clear();
    ++m_generation;
}

bool GraphSeries::startedOver(const IntervalStore &records) const
{
    if (m_nextRun == 0)
        return false;
    if (records.appended() < m_nextRun)
        return true;
    const qint64 last = m_nextRun - 1 - records.dropped();
    if (last < 0)
        return false;
    const IntervalRecord &record = records.at(last);
    return record.startWallMs != m_lastStartWallMs || record.stream != m_lastStream;
}

bool GraphSeries::update(const IntervalStore &records, qint64 fromMs, qint64 toMs, int width)
{
    bool changed = false;
    if (startedOver(records)) {
        startOver();
        changed = true;
    }
    toMs = std::max(toMs, fromMs + 1);
    const qint64 bucketMs = bucketFor(toMs - fromMs, std::max(width, 1));
    // A bucket beyond each edge, so that the lines run on out of sight.
    const qint64 first = floorDiv(fromMs, bucketMs) - 1;
    const qint64 last = floorDiv(toMs, bucketMs) + 1;
    const qint64 appended = records.appended();
    if (bucketMs != m_bucketMs || first > m_lastBucket || last < m_firstBucket
        || m_nextRun < records.dropped()) {
        m_bucketMs = bucketMs;
        for (std::deque<Bucket> &buckets : m_buckets)
            buckets.clear();
        m_firstBucket = first;
        m_lastBucket = first - 1;
        resizeBuckets(first, last);
        foldRange(records, double(first * bucketMs), double((last + 1) * bucketMs), appended);
        m_nextRun = appended;
        changed = true;
    } else if (first != m_firstBucket || last != m_lastBucket) {
        const qint64 oldFirst = m_firstBucket;
        const qint64 oldLast = m_lastBucket;
        resizeBuckets(first, last);
        if (first < oldFirst)
            foldRange(records, double(first * bucketMs), double(oldFirst * bucketMs), m_nextRun);
        if (last > oldLast)
            foldRange(records, double((oldLast + 1) * bucketMs), double((last + 1) * bucketMs),
                m_nextRun);
        changed = true;
    }
    for (qint64 run = m_nextRun; run < appended; ++run)
        fold(records.at(run - records.dropped()));
    if (m_nextRun != appended) {
        changed = true;
        m_nextRun = appended;
    }
    if (records.size() > 0) {
        const IntervalRecord &newest = records.at(records.size() - 1);
        m_lastStartWallMs = newest.startWallMs;
        m_lastStream = newest.stream;
        m_lastIntervalNs = newest.lengthNs;
    }
    readSpans(records);
    if (changed)
        build(double(first * bucketMs), double((last + 1) * bucketMs));
    return changed;
}

double GraphSeries::barWidthSeconds() const
{
    return std::max(double(m_bucketMs), ms(m_lastIntervalNs)) / kMsPerSecond;
}

int GraphSeries::lineFor(const StreamKey &stream)
{
    if (stream.family == StreamKey::Family::Sent)
        return 0;
    if (const auto found = m_lineOf.find(stream); found != m_lineOf.end())
        return found->second;
    const bool sender = stream.isAddress() && m_senderLines < kMaxSenderLines;
    if (!sender && m_othersLine >= 0)
        return m_othersLine;
    const int line = int(m_lines.size());
    m_lines.push_back({ sender ? stream : StreamKey::others(), {}, {}, {}, {}, {} });
    m_buckets.emplace_back(m_buckets.front().size());
    if (sender) {
        ++m_senderLines;
        m_lineOf.emplace(stream, line);
    } else {
        m_othersLine = line;
    }
    return line;
}

void GraphSeries::fold(const IntervalRecord &record)
{
    // The echo's own answers are not the sender's stream; the graph shows what the sender sent
    // and what each sender's stream did.
    if (record.stream.family == StreamKey::Family::Echoed)
        return;
    const double middle = middleMs(record);
    const qint64 bucket = qint64(std::floor(middle / double(m_bucketMs))) - m_firstBucket;
    if (bucket < 0 || bucket > m_lastBucket - m_firstBucket)
        return;
    Bucket &b = m_buckets[size_t(lineFor(record.stream))][size_t(bucket)];
    const double key = middle / kMsPerSecond;
    ++b.records;
    b.rate.add(record.datagramsPerSecond(), key);
    if (record.isSent())
        return;
    b.lost.add(double(record.lost), key);
    if (record.rttMedianNs != IntervalRecord::kNone) {
        b.rttMedian.add(ms(record.rttMedianNs), key);
        b.rttP99.add(ms(record.rttP99Ns), key);
    }
    if (record.jitterNs != IntervalRecord::kNone)
        b.jitter.add(ms(record.jitterNs), key);
}

void GraphSeries::foldRange(
    const IntervalStore &records, double fromMs, double toMs, qint64 beforeRun)
{
    const qint64 dropped = records.dropped();
    for (qsizetype i
         = firstWhere(records, [fromMs](const IntervalRecord &r) { return middleMs(r) >= fromMs; });
         i < records.size() && dropped + i < beforeRun; ++i) {
        const IntervalRecord &record = records.at(i);
        if (middleMs(record) >= toMs)
            break;
        fold(record);
    }
}

void GraphSeries::resizeBuckets(qint64 first, qint64 last)
{
    for (std::deque<Bucket> &buckets : m_buckets) {
        qint64 front = m_firstBucket;
        qint64 back = m_lastBucket;
        for (; front < first && front <= back; ++front)
            buckets.pop_front();
        for (; back > last && back >= front; --back)
            buckets.pop_back();
        if (buckets.empty()) {
            buckets.resize(size_t(last - first + 1));
            continue;
        }
        for (; front > first; --front)
            buckets.emplace_front();
        for (; back < last; ++back)
            buckets.emplace_back();
    }
    m_firstBucket = first;
    m_lastBucket = last;
}

void GraphSeries::readSpans(const IntervalStore &records)
{
    const qint64 dropped = records.dropped();
    while (!m_spans.empty() && m_spans.front().run < dropped)
        m_spans.pop_front();
    for (qint64 run = std::max(m_spansRun, dropped); run < records.appended(); ++run) {
        const IntervalRecord &record = records.at(run - dropped);
        if (record.outages == 0)
            continue;
        const double to = middleMs(record);
        const double length = ms(record.longestOutageNs);
        m_spans.push_back({ run, to - length, to });
        m_longestSpanMs = std::max(m_longestSpanMs, length);
    }
    m_spansRun = records.appended();
}

double GraphSeries::bucketKey(qsizetype i, const Bucket &sent) const
{
    if (sent.records == 1)
        return sent.rate.lowAt;
    return (double(m_firstBucket + i) + 0.5) * double(m_bucketMs) / kMsPerSecond;
}

void GraphSeries::build(double fromMs, double toMs)
{
    for (int line = 0; line < int(m_lines.size()); ++line)
        buildLine(line);

    // Spans in the order of their ends; one that reaches back over those before it, or comes
    // within a bucket of them, joins them.
    std::vector<std::pair<double, double>> joined;
    auto span = std::partition_point(
        m_spans.begin(), m_spans.end(), [fromMs](const Span &s) { return s.toMs < fromMs; });
    for (; span != m_spans.end() && span->toMs - m_longestSpanMs <= toMs; ++span) {
        if (span->fromMs > toMs)
            continue;
        double from = span->fromMs;
        double to = span->toMs;
        while (!joined.empty() && from <= joined.back().second + double(m_bucketMs)) {
            from = std::min(from, joined.back().first);
            to = std::max(to, joined.back().second);
            joined.pop_back();
        }
        joined.emplace_back(from, to);
    }
    m_outageSteps.clear();
    for (const auto &[from, to] : joined) {
        m_outageSteps.add(from / kMsPerSecond, 1);
        m_outageSteps.add(to / kMsPerSecond, 0);
    }
}

void GraphSeries::buildLine(int index)
{
    Line &line = m_lines[size_t(index)];
    line.rate.clear();
    line.lost.clear();
    line.rttMedian.clear();
    line.rttP99.clear();
    line.jitter.clear();
    const std::deque<Bucket> &sent = m_buckets.front();
    const std::deque<Bucket> &buckets = m_buckets[size_t(index)];
    const bool isSent = index == 0;
    bool heardBefore = false;
    bool timedBefore = false;
    bool jitterBefore = false;
    double silentKey = kNaN; // the last interval not heard since the line was last at 0
    for (qsizetype i = 0; i < qsizetype(buckets.size()); ++i) {
        const Bucket &s = sent[size_t(i)];
        const Bucket &b = buckets[size_t(i)];
        if (b.records == 0) {
            if (s.records == 0)
                continue; // no interval here
            const double key = bucketKey(i, s);
            // The stream was not heard: its rate drops to 0 and its times break off.
            if (heardBefore)
                line.rate.add(key, 0);
            else
                silentKey = key;
            heardBefore = false;
            if (std::exchange(timedBefore, false)) {
                line.rttMedian.add(key, kNaN);
                line.rttP99.add(key, kNaN);
            }
            if (std::exchange(jitterBefore, false))
                line.jitter.add(key, kNaN);
            continue;
        }
        if (!std::isnan(silentKey))
            line.rate.add(std::exchange(silentKey, kNaN), 0);
        heardBefore = true;
        std::array<std::pair<double, double>, 3> points { { { b.rate.lowAt, b.rate.low },
            { b.rate.highAt, b.rate.high }, {} } };
        qsizetype count = 2;
        // Heard in only some of the bucket's intervals: silent in the others.
        if (!isSent && b.records < s.records)
            points[size_t(count++)] = { bucketKey(i, s), 0 };
        addInOrder(line.rate, points, count);
        if (isSent)
            continue;

        const double lost
            = std::abs(b.lost.high) >= std::abs(b.lost.low) ? b.lost.high : b.lost.low;
        if (lost != 0)
            line.lost.add(lost == b.lost.high ? b.lost.highAt : b.lost.lowAt, lost);
        const double key = bucketKey(i, s);
        if (!b.rttMedian.isEmpty()) {
            addInOrder(line.rttMedian,
                { { { b.rttMedian.lowAt, b.rttMedian.low },
                    { b.rttMedian.highAt, b.rttMedian.high }, {} } },
                2);
            line.rttP99.add(b.rttP99.highAt, b.rttP99.high);
            timedBefore = true;
        } else if (std::exchange(timedBefore, false)) {
            line.rttMedian.add(key, kNaN);
            line.rttP99.add(key, kNaN);
        }
        if (!b.jitter.isEmpty()) {
            addInOrder(line.jitter,
                { { { b.jitter.lowAt, b.jitter.low }, { b.jitter.highAt, b.jitter.high }, {} } },
                2);
            jitterBefore = true;
        } else if (std::exchange(jitterBefore, false)) {
            line.jitter.add(key, kNaN);
        }
    }
}

qsizetype GraphSeries::intervalAt(const IntervalStore &records, qint64 wallMs)
{
    const double at = double(wallMs);
    qsizetype i = firstWhere(records, [at](const IntervalRecord &r) { return endMs(r) > at; });
    if (i == records.size() || double(records.at(i).startWallMs) > at)
        return -1;
    while (i > 0 && records.at(i - 1).startWallMs == records.at(i).startWallMs)
        --i;
    return i;
}

bool GraphSeries::writeCsv(
    QIODevice &device, const IntervalStore &records, qint64 fromMs, qint64 toMs)
{
    if (device.write(kCsvHeader) < 0)
        return false;
    const double from = double(fromMs);
    QByteArray line;
    for (qsizetype i
         = firstWhere(records, [from](const IntervalRecord &r) { return endMs(r) > from; });
         i < records.size(); ++i) {
        const IntervalRecord &r = records.at(i);
        if (r.startWallMs > toMs)
            break;
        line = QDateTime::fromMSecsSinceEpoch(r.startWallMs, Qt::UTC)
                   .toString(Qt::ISODateWithMs)
                   .toLatin1();
        for (const QByteArray &field : { QByteArray::number(r.startWallMs),
                 QByteArray::number(double(r.lengthNs) / 1e9, 'g', 12),
                 r.stream.toString().toLatin1(), QByteArray::number(r.datagrams),
                 QByteArray::number(r.bytes), QByteArray::number(r.droppedSends),
                 QByteArray::number(r.inOrder), QByteArray::number(r.lost),
                 QByteArray::number(r.outOfOrder), QByteArray::number(r.duplicates),
                 QByteArray::number(r.rttSamples), msField(r.rttMinNs), msField(r.rttMedianNs),
                 msField(r.rttP99Ns), msField(r.rttMaxNs), msField(r.jitterNs),
                 msField(r.ipdvMedianNs), msField(r.ipdvP99Ns), msField(r.ipdvMaxNs),
                 QByteArray::number(r.outages), msField(r.longestOutageNs), msField(r.downNs) })
            line += ',' + field;
        line += '\n';
        if (device.write(line) < 0)
            return false;
    }
    return true;
}
