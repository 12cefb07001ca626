// SPDX-License-Identifier: MIT
#pragma once

#include "engine/IntervalStore.h"

#include <QList>

class LinkMeasure;

// How a run ended, as its records and its summary say.
enum class RunEnd { Duration, Signal, Error, Closed };
// "duration", "signal", "error", "closed".
const char *runEndName(RunEnd end);

// What was sent and heard over one interval, or over the whole run: what a run's records and
// its report give. Sends count the echo's answers too, and say how many of them were answers.
struct RunFigures
{
    qint64 endWallMs = 0; // milliseconds since the epoch
    qint64 elapsedNs = 0; // from the run's start to the end of these figures
    qint64 lengthNs = 0;
    qint64 sent = 0;
    qint64 echoed = 0;
    qint64 dropped = 0; // for a full send buffer
    qint64 echoDropped = 0;
    // One for each sender heard, and one named "others" for the senders let go.
    QList<IntervalRecord> streams;

    bool isQuiet() const { return sent == 0 && dropped == 0 && streams.isEmpty(); }
};

// Reads a run's interval records as they close, each interval's (what was sent, what the echo
// sent, every stream heard) as one RunFigures.
class RunReader
{
public:
    explicit RunReader(const LinkMeasure &measure)
        : m_measure(measure)
    { }

    // The intervals closed since the last call, oldest first. Those in which nothing was sent,
    // dropped or heard are left out, so that a link idle for a weekend adds nothing; their time
    // still counts in the elapsed time of the next.
    QList<RunFigures> take();
    // The measure started again from nothing.
    void restart();
    // The whole run over the intervals closed so far: every stream's figures over the run, the
    // jitter where it ended, and the senders let go as "others".
    RunFigures total(qint64 nowWallMs) const;

private:
    const LinkMeasure &m_measure;
    qint64 m_next = 0; // the run's number of the next record to read
    qint64 m_elapsedNs = 0;
};
