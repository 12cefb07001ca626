// SPDX-License-Identifier: MIT
#include "engine/EchoClock.h"

#include "net/TestPattern.h"

static_assert(TestPattern::kLargestCounter + 1 == 256, "one send time per counter value");

void EchoClock::sent(int counter, qint64 sendNs)
{
    m_sends[size_t(quint8(counter))] = { sendNs, ++m_sendCount };
}

void EchoClock::dropped(int counter)
{
    ++m_sendCount;
    m_sends[size_t(quint8(counter))] = {};
}

EchoClock::Match EchoClock::match(int counter, qint64 arrivalNs, Echoed &echoed) const
{
    const Send &send = m_sends[size_t(quint8(counter))];
    if (m_periodNs <= 0 || send.number == 0 || m_sendCount - send.number >= kEchoWindow)
        return {};
    const qint64 roundTrip = arrivalNs - send.timeNs;
    if (roundTrip < 0 || roundTrip >= kEchoWindow * m_periodNs)
        return {};
    qint64 &last = echoed.sends[size_t(quint8(counter))];
    if (last == send.number)
        return { Kind::Duplicate, 0 };
    last = send.number;
    return { Kind::Echo, roundTrip };
}

void EchoClock::reset()
{
    // The numbering goes on, so what a sender's Echoed holds never matches a later send.
    m_sends.fill({});
}
