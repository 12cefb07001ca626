// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace TestPattern {

inline constexpr qsizetype kPayloadSize = 16;
inline constexpr qsizetype kCounterBytes = 4;
inline constexpr qint16 kLargestCounter = 255;

// Sixteen bytes: the counter in bytes 0 to 3, zeros after it.
QByteArray payload(qint16 counter);

// The counter after one datagram: it wraps from 255 to 0.
constexpr qint16 advance(qint16 counter)
{
    const qint16 next = qint16(counter + 1);
    return next > kLargestCounter ? qint16(0) : next;
}

} // namespace TestPattern
