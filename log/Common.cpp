// SPDX-License-Identifier: MIT
#include "log/Common.h"

namespace {

constexpr qsizetype kBytesPerGroup = 4;
constexpr int kMinLabelDigits = 4;
// " :" plus four cells of " XX" plus CR LF.
constexpr qsizetype kLineBodySize = 2 + kBytesPerGroup * 3 + 2;
constexpr char kHexDigits[] = "0123456789ABCDEF";

int labelDigits(qsizetype group)
{
    int digits = 1;
    while (group >= 10) {
        group /= 10;
        ++digits;
    }
    return digits < kMinLabelDigits ? kMinLabelDigits : digits;
}

// Total size of all labels of groups 0 .. groups-1, so that the result is allocated once.
qsizetype labelsSize(qsizetype groups)
{
    qsizetype total = groups * kMinLabelDigits;
    for (qsizetype threshold = 10000; threshold < groups; threshold *= 10)
        total += groups - threshold;
    return total;
}

} // namespace

QByteArray Common::HexDump(QByteArrayView payload)
{
    // The index is as wide as the payload's size, so datagrams past 32,767 bytes dump in full.
    const qsizetype groups = payload.size() / kBytesPerGroup;
    QByteArray result(groups * kLineBodySize + labelsSize(groups), Qt::Uninitialized);
    char *out = result.data();
    const auto *bytes = reinterpret_cast<const unsigned char *>(payload.data());

    for (qsizetype group = 0; group < groups; ++group) {
        const int digits = labelDigits(group);
        qsizetype label = group;
        for (int d = digits - 1; d >= 0; --d) {
            out[d] = char('0' + label % 10);
            label /= 10;
        }
        out += digits;
        *out++ = ' ';
        *out++ = ':';
        for (qsizetype k = 0; k < kBytesPerGroup; ++k) {
            const unsigned char byte = bytes[group * kBytesPerGroup + k];
            *out++ = ' ';
            *out++ = kHexDigits[byte >> 4];
            *out++ = kHexDigits[byte & 0xF];
        }
        *out++ = '\r';
        *out++ = '\n';
    }
    Q_ASSERT(out == result.data() + result.size());
    return result;
}
