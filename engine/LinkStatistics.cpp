// SPDX-License-Identifier: MIT
#include "engine/LinkStatistics.h"

#include <QLocale>

#include <cmath>

namespace {

constexpr char kPeriod[] = "周期 %1 ms";
constexpr char kPeriodNotSending[] = "周期 0 ms（送信しません）";
constexpr char kSent[] = "送信 %1 (%2) 破棄 %3";
constexpr char kReceived[] = "受信 %1 (%2) %3 個/s %4/s";
constexpr char kBytes[] = "%1 B";
constexpr char kSeparator[] = " | ";

} // namespace

void LinkStatistics::sent(qint64 bytes)
{
    ++m_sentDatagrams;
    m_sentBytes += bytes;
    ++m_changes;
}

void LinkStatistics::dropped()
{
    ++m_droppedSends;
    ++m_changes;
}

void LinkStatistics::received(QByteArrayView datagram, quint32 tickMs)
{
    ++m_receivedDatagrams;
    m_receivedBytes += datagram.size();
    const quint32 index = tickMs >> kSliceShift;
    Slice &slice = m_slices[index % kRingSlices];
    if (slice.index != index)
        slice = { index, 0, 0 };
    ++slice.datagrams;
    slice.bytes += datagram.size();
    m_newestSlice = index;
    m_receivedAny = true;
    ++m_changes;
}

void LinkStatistics::reset()
{
    // The revision only moves on, so a bar painted before the reset is painted again.
    const quint64 changes = m_changes;
    *this = LinkStatistics();
    m_changes = changes + 1;
}

LinkStatistics::Rate LinkStatistics::receiveRate(quint32 nowTickMs) const
{
    const quint32 now = nowTickMs >> kSliceShift;
    qint64 datagrams = 0;
    qint64 bytes = 0;
    for (quint32 back = 1; back <= kRateSlices; ++back) {
        const quint32 index = (now - back) & kSliceIndexMask;
        const Slice &slice = m_slices[index % kRingSlices];
        if (slice.index == index) {
            datagrams += slice.datagrams;
            bytes += slice.bytes;
        }
    }
    return { double(datagrams) / kRateSeconds, double(bytes) / kRateSeconds };
}

LinkStatistics::Revision LinkStatistics::revision(quint32 nowTickMs) const
{
    return { m_changes, rateMoving(nowTickMs) ? nowTickMs >> kSliceShift : kRateIdle };
}

bool LinkStatistics::rateMoving(quint32 nowTickMs) const
{
    const quint32 now = nowTickMs >> kSliceShift;
    return m_receivedAny && ((now - m_newestSlice) & kSliceIndexMask) <= quint32(kRateSlices);
}

QStringList LinkStatistics::parts(int periodMs, quint32 nowTickMs) const
{
    return texts(periodMs, nowTickMs, Bytes::Scaled);
}

QString LinkStatistics::summary(int periodMs, quint32 nowTickMs) const
{
    return texts(periodMs, nowTickMs, Bytes::Exact).join(QString::fromUtf8(kSeparator));
}

QStringList LinkStatistics::texts(int periodMs, quint32 nowTickMs, Bytes bytes) const
{
    const QLocale numbers(QLocale::Japanese, QLocale::Japan); // 1,234 and 17.96 GiB
    auto count = [&numbers](qint64 n) { return numbers.toString(n); };
    // Below a KiB in plain bytes: the locale would spell out the unit, as long as the number.
    auto size = [&](qint64 n) {
        return bytes == Bytes::Scaled && n >= 1024
            ? numbers.formattedDataSize(n, 2, QLocale::DataSizeIecFormat)
            : QString::fromUtf8(kBytes).arg(count(n));
    };
    const Rate rate = receiveRate(nowTickMs);

    const QString period = periodMs == 0 ? QString::fromUtf8(kPeriodNotSending)
                                         : QString::fromUtf8(kPeriod).arg(periodMs);
    const QString sent = QString::fromUtf8(kSent).arg(
        count(m_sentDatagrams), size(m_sentBytes), count(m_droppedSends));
    const QString received = QString::fromUtf8(kReceived).arg(count(m_receivedDatagrams),
        size(m_receivedBytes), numbers.toString(rate.datagramsPerSecond, 'f', 1),
        size(std::llround(rate.bytesPerSecond)));
    return { period, sent, received };
}
