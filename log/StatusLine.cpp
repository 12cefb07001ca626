// SPDX-License-Identifier: MIT
#include "log/StatusLine.h"

#include <algorithm>
#include <charconv>
#include <string_view>

QByteArray statusLine(Direction direction, qint64 byteCount, qint32 tick)
{
    // Formatted on the stack and allocated once: a flood makes a line of every datagram.
    const std::string_view word = direction == Direction::Send ? "Send " : "Receive ";
    // "Receive ", a count of up to 20 characters, a space, a tick of up to 11 ("-2147483648"),
    // CR LF: each number is bounded so that what follows it always fits.
    constexpr int kTickRoom = 11;
    char buffer[64];
    char *const end = buffer + sizeof buffer;
    char *out = std::copy(word.begin(), word.end(), buffer);
    out = std::to_chars(out, end - (1 + kTickRoom + 2), byteCount).ptr;
    *out++ = ' ';
    out = std::to_chars(out, end - 2, tick).ptr;
    *out++ = '\r';
    *out++ = '\n';
    return QByteArray(buffer, out - buffer);
}
