// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <optional>

// Interarrival jitter as RFC 3550 (A.8) keeps it and iperf3 reports it: for consecutive test
// datagrams i-1 and i in the order they arrive, D = transit(i) - transit(i-1) and
// J += (|D| - J) / 16, in the RFC's own integer form (J held times 16), so it is exact and the
// same on every machine. Only differences of transit matter, so a transit may carry any constant
// offset: a round-trip time, or an arrival against the sender's schedule (StreamSchedule).
// observe() also returns |D|, the delay variation of the pair as RFC 3393 defines it (IPDV).
class Jitter
{
public:
    // |D| against the previous transit, or nothing for the first one after restart().
    std::optional<qint64> observe(qint64 transitNs);
    // The next transit starts a new chain: no difference is taken across a break of the
    // stream or from a transit measured another way. J is kept.
    void restart() { m_hasPrevious = false; }
    // J in ns; -1 before the first difference.
    qint64 estimateNs() const { return m_estimated ? m_scaled >> kScaleShift : -1; }

private:
    static constexpr int kScaleShift = 4; // J is held times 16, the RFC's gain of 1/16

    qint64 m_scaled = 0;
    qint64 m_previous = 0;
    bool m_hasPrevious = false;
    bool m_estimated = false;
};
