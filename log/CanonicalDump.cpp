// SPDX-License-Identifier: MIT
#include "log/CanonicalDump.h"

#include <algorithm>

namespace {

constexpr qsizetype kBytesPerLine = 16;
constexpr qsizetype kGroup = 8;
constexpr qsizetype kOffsetDigits = 8;
// The offset, a space, each group after a space as "xx " cells, a space, then "|ascii|\n".
constexpr qsizetype kLineLength
    = kOffsetDigits + 1 + (kBytesPerLine / kGroup) + kBytesPerLine * 3 + 1 + 1 + kBytesPerLine + 2;
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kFirstPrintable = ' ';
constexpr char kLastPrintable = '~';

char *putOffset(char *out, qsizetype offset)
{
    for (qsizetype i = kOffsetDigits - 1; i >= 0; --i) {
        out[i] = kHexDigits[offset & 0xf];
        offset >>= 4;
    }
    return out + kOffsetDigits;
}

} // namespace

QByteArray canonicalHexDump(QByteArrayView bytes)
{
    const qsizetype lines = (bytes.size() + kBytesPerLine - 1) / kBytesPerLine;
    QByteArray dump(lines * kLineLength + kOffsetDigits + 1, Qt::Uninitialized);
    char *out = dump.data();
    for (qsizetype start = 0; start < bytes.size(); start += kBytesPerLine) {
        const qsizetype count = std::min(kBytesPerLine, bytes.size() - start);
        out = putOffset(out, start);
        *out++ = ' ';
        for (qsizetype i = 0; i < kBytesPerLine; ++i) {
            if (i % kGroup == 0)
                *out++ = ' ';
            if (i < count) {
                const auto byte = quint8(bytes[start + i]);
                *out++ = kHexDigits[byte >> 4];
                *out++ = kHexDigits[byte & 0xf];
            } else {
                *out++ = ' ';
                *out++ = ' ';
            }
            *out++ = ' ';
        }
        *out++ = ' ';
        *out++ = '|';
        for (qsizetype i = 0; i < count; ++i) {
            const char c = bytes[start + i];
            *out++ = c >= kFirstPrintable && c <= kLastPrintable ? c : '.';
        }
        *out++ = '|';
        *out++ = '\n';
    }
    out = putOffset(out, bytes.size());
    *out++ = '\n';
    dump.truncate(out - dump.constData());
    return dump;
}
