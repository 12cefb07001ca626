// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <functional>

// Milliseconds since the system started, reduced to 32 bits (it wraps after about 49.7 days).
using TickSource = std::function<quint32()>;

quint32 systemUptimeMilliseconds();

// The tick is shown as a signed 32-bit number: from 2^31 ms of uptime on it reads negative.
constexpr qint32 tickValue(quint32 raw)
{
    return static_cast<qint32>(raw);
}
