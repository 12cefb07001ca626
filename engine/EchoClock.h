// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <array>

// Round-trip times from test datagrams that come back: the send times of the last 256 counters
// sent, each taken just before its datagram leaves, on the same monotonic clock as the arrivals.
//
// A received test datagram with counter c is an echo of the newest send of c when all of these
// hold:
//   - the period is not 0 (while nothing is sent no arrival is taken for an echo);
//   - that send is one of the last 128 sends counted from the newest (a send dropped for a full
//     buffer counts as a send, but it has no time and nothing echoes it);
//   - it arrived after that send left and less than 128 periods (at the current period) after.
// Its round-trip time is the arrival time minus the send time. The first echo of a send from a
// sender gives one sample; any later one from the same sender is a duplicate and gives none.
// Anything else gives no sample: a counter not sent recently, sent 128 or more sends or periods
// ago, or one arriving while the period is 0.
//
// The counter has eight bits and the datagram no timestamp, so an echo more than 128 sends late
// could be taken for a newer send's, and a peer's own stream whose counter runs less than 128
// places behind ours at our period cannot be told from an echo: its "round-trip time" is then
// the distance between the two counters in time.
class EchoClock
{
public:
    enum class Kind { None, Echo, Duplicate };
    struct Match
    {
        Kind kind = Kind::None;
        qint64 roundTripNs = 0; // for an Echo
    };
    // Which send each counter last echoed, one per sender: a second echo of it is a duplicate.
    struct Echoed
    {
        std::array<qint64, 256> sends {}; // a send's number; 0 is none
    };

    static constexpr int kEchoWindow = 128; // sends, and periods

    // 0 while nothing is sent.
    void setPeriod(qint64 periodNs) { m_periodNs = periodNs; }
    qint64 periodNs() const { return m_periodNs; }
    // The datagram with this counter is about to leave; the time is taken just before the send.
    void sent(int counter, qint64 sendNs);
    // The period's datagram was dropped for a full send buffer: it never left.
    void dropped(int counter);
    Match match(int counter, qint64 arrivalNs, Echoed &echoed) const;
    // Forgets every send; the period stays.
    void reset();

private:
    struct Send
    {
        qint64 timeNs = 0;
        qint64 number = 0; // 0 for none
    };

    std::array<Send, 256> m_sends {};
    qint64 m_sendCount = 0; // the newest send's number, sent or dropped
    qint64 m_periodNs = 0;
};
