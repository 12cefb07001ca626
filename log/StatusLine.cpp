// SPDX-License-Identifier: MIT
#include "StatusLine.h"

QByteArray statusLine(Direction direction, qint64 byteCount, qint32 tick)
{
    QByteArray line
        = direction == Direction::Send ? QByteArrayLiteral("Send ") : QByteArrayLiteral("Receive ");
    line += QByteArray::number(byteCount);
    line += ' ';
    line += QByteArray::number(tick);
    line += "\r\n";
    return line;
}
