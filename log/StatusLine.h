// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QtGlobal>

enum class Direction { Send, Receive };

// "Send 16 1234567\r\n" or "Receive 5 -2147483648\r\n".
QByteArray statusLine(Direction direction, qint64 byteCount, qint32 tick);
