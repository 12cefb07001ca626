// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>

// The totals behind the status bar: datagrams and bytes sent, sends dropped for a full send
// buffer, datagrams and bytes received from every sender, and the receive rate over the last
// second. The receiver feeds it every datagram of a flood, so each call is a few additions; the
// text is built only when the bar is repainted. The pattern check is kept per sender, by the
// link's measure.
class LinkStatistics
{
public:
    struct Rate
    {
        double datagramsPerSecond = 0;
        double bytesPerSecond = 0;
    };

    // Equal revisions mean summary() reads the same for the same period: the bar need not be
    // repainted. The rate moves with time alone, so the revision depends on the tick too.
    struct Revision
    {
        quint64 changes = 0;
        quint32 rateSlice = 0;
        friend bool operator==(const Revision &, const Revision &) = default;
    };

    void sent(qint64 bytes);
    void dropped();
    void received(QByteArrayView datagram, quint32 tickMs);
    void reset();

    qint64 sentDatagrams() const { return m_sentDatagrams; }
    qint64 sentBytes() const { return m_sentBytes; }
    qint64 droppedSends() const { return m_droppedSends; }
    qint64 receivedDatagrams() const { return m_receivedDatagrams; }
    qint64 receivedBytes() const { return m_receivedBytes; }
    // Over the last whole second of slices before the tick's own slice.
    Rate receiveRate(quint32 nowTickMs) const;
    Revision revision(quint32 nowTickMs) const;
    // True while the rate still changes with time alone: the newest datagram has not left its
    // window.
    bool rateMoving(quint32 nowTickMs) const;

    // Every total in the window's language, in three parts: the period, what was sent, and what
    // was received. Byte counts are scaled (17.96 GiB) to fit the bar.
    QStringList parts(int periodMs, quint32 nowTickMs) const;
    // The parts on one line with every byte counted, to paste into a report.
    QString summary(int periodMs, quint32 nowTickMs) const;

private:
    enum class Bytes { Exact, Scaled };
    QStringList texts(int periodMs, quint32 nowTickMs, Bytes bytes) const;

    // The rate is counted in slices of 8 ms: 2^32 ms is a whole number of them, so the ring keeps
    // in step across the tick's wrap, and 125 of them make the second exactly, so a steady 10
    // datagrams a second read as 10.0.
    static constexpr int kSliceShift = 3;
    static constexpr quint32 kSliceIndexMask = (quint32(1) << (32 - kSliceShift)) - 1;
    static constexpr int kRateSlices = 125;
    static constexpr int kRingSlices = 128; // room for the slice being filled, a power of two
    static constexpr int kRateMs = kRateSlices << kSliceShift;
    static_assert(kRateMs == 1000);
    static_assert(kRingSlices > kRateSlices && (kRingSlices & (kRingSlices - 1)) == 0);
    static constexpr double kRateSeconds = double(kRateMs) / 1000;
    static constexpr quint32 kRateIdle = ~quint32(0); // never a slice index

    struct Slice
    {
        quint32 index = 0;
        qint64 datagrams = 0;
        qint64 bytes = 0;
    };

    qint64 m_sentDatagrams = 0;
    qint64 m_sentBytes = 0;
    qint64 m_droppedSends = 0;
    qint64 m_receivedDatagrams = 0;
    qint64 m_receivedBytes = 0;
    std::array<Slice, kRingSlices> m_slices {};
    quint32 m_newestSlice = 0;
    bool m_receivedAny = false;
    quint64 m_changes = 0;
};
