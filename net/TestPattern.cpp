// SPDX-License-Identifier: MIT
#include "net/TestPattern.h"

QByteArray TestPattern::payload(qint16 counter)
{
    QByteArray bytes(kPayloadSize, '\0');
    for (qsizetype i = 0; i < kCounterBytes; ++i)
        bytes[i] = char(counter);
    return bytes;
}
