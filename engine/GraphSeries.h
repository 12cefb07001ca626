// SPDX-License-Identifier: MIT
#pragma once

#include "engine/IntervalStore.h"
#include "engine/StreamKey.h"

#include <QList>

#include <deque>
#include <limits>
#include <unordered_map>
#include <vector>

class QIODevice;

// What the graph draws, read from the interval records: for what was sent and for each sender,
// datagrams per second, datagrams lost per interval, the round-trip time's median and 99th
// percentile, the jitter, and the outages as spans. Keys are wall-clock seconds since the
// epoch, as the plot's time axis counts them; each interval's figures sit at its middle.
//
// The records are cut into buckets of a power-of-two number of milliseconds, about one to a
// pixel of the width drawn, and each bucket gives its lowest and highest figure, so a day
// draws as many points as a minute and a one-interval spike stays in sight. The buckets of the
// range drawn are kept between updates: an update reads the records appended since the last
// one, and a new range reads only what it newly covers. Nothing else of the records is kept
// but the outages' spans.
class GraphSeries
{
public:
    struct Series
    {
        QList<double> keys;
        QList<double> values;

        void add(double key, double value)
        {
            keys.append(key);
            values.append(value);
        }
        void clear()
        {
            keys.clear();
            values.clear();
        }
    };

    // What was sent (its rate only), one sender, or the senders let go (others).
    struct Line
    {
        StreamKey stream;
        Series rate; // datagrams per second; 0 where the stream was not heard
        Series lost; // per interval, the largest in each bucket; none where 0
        Series rttMedian; // ms; NaN breaks the line where nothing was timed
        Series rttP99; // ms
        Series jitter; // ms
    };

    // Lines for this many senders, as many as there are colours that tell them apart; the
    // records of any further ones go to the others' line.
    static constexpr int kMaxSenderLines = 7;

    GraphSeries();

    // Brings the series up to the records for the wall-clock range [fromMs, toMs] drawn over
    // `width` pixels; returns whether anything drawn changed.
    bool update(const IntervalStore &records, qint64 fromMs, qint64 toMs, int width);

    // The sent line first, then the senders in the order they were first read.
    const std::vector<Line> &lines() const { return m_lines; }
    // 1 from each outage's start, 0 from its end, to be drawn as steps. An outage is placed
    // from the middle of the interval it ended in, so to within half an interval.
    const Series &outages() const { return m_outageSteps; }
    qint64 bucketMs() const { return m_bucketMs; }
    // A bar spans its bucket, or its interval when that is longer.
    double barWidthSeconds() const;
    // Moves whenever the records start over (a new run), after which lines may have gone.
    int generation() const { return m_generation; }

    // The place of the first record (the sent one) of the interval that holds the time; -1
    // when no interval does.
    static qsizetype intervalAt(const IntervalStore &records, qint64 wallMs);
    // Every record whose interval reaches into [fromMs, toMs], as CSV with a header line.
    static bool writeCsv(
        QIODevice &device, const IntervalStore &records, qint64 fromMs, qint64 toMs);

private:
    struct Extent
    {
        double low = std::numeric_limits<double>::infinity();
        double high = -std::numeric_limits<double>::infinity();
        double lowAt = 0;
        double highAt = 0;

        void add(double value, double at)
        {
            if (value < low) {
                low = value;
                lowAt = at;
            }
            if (value > high) {
                high = value;
                highAt = at;
            }
        }
        bool isEmpty() const { return low > high; }
    };
    struct Bucket
    {
        int records = 0;
        Extent rate;
        Extent lost;
        Extent rttMedian;
        Extent rttP99;
        Extent jitter;
    };
    struct Span
    {
        qint64 run = 0;
        double fromMs = 0;
        double toMs = 0;
    };

    void startOver();
    bool startedOver(const IntervalStore &records) const;
    int lineFor(const StreamKey &stream);
    void fold(const IntervalRecord &record);
    // Folds the records appended before `beforeRun` whose middles fall in [fromMs, toMs).
    void foldRange(const IntervalStore &records, double fromMs, double toMs, qint64 beforeRun);
    void resizeBuckets(qint64 first, qint64 last);
    void readSpans(const IntervalStore &records);
    void build(double fromMs, double toMs);
    void buildLine(int line);
    double bucketKey(qsizetype i, const Bucket &sent) const;

    std::vector<Line> m_lines;
    // Parallel to m_lines: the buckets from m_firstBucket on.
    std::vector<std::deque<Bucket>> m_buckets;
    std::unordered_map<StreamKey, int, StreamKeyHash> m_lineOf;
    int m_senderLines = 0;
    int m_othersLine = -1;
    qint64 m_bucketMs = 0;
    qint64 m_firstBucket = 0;
    qint64 m_lastBucket = -1;
    // Every record before this one (counted from the run's start) has been read.
    qint64 m_nextRun = 0;
    // The last record read, to tell a new run from more of the same.
    qint64 m_lastStartWallMs = 0;
    StreamKey m_lastStream;
    qint64 m_lastIntervalNs = 0;
    int m_generation = 0;

    std::deque<Span> m_spans; // in the order of their ends
    double m_longestSpanMs = 0;
    qint64 m_spansRun = 0;
    Series m_outageSteps;
};
