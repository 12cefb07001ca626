// SPDX-License-Identifier: MIT
#pragma once

#include "engine/DatagramRecord.h"

#include <QHash>

#include <vector>

// The most recent datagrams within a memory budget, oldest let go first. Records are packed
// one after another in one byte arena, payloads included, with a 32-bit offset each to find
// them by number; the local addresses, few on any machine, are kept once in a table. A 16-byte
// datagram from an IPv4 sender takes 34 bytes and its offset 4.
//
// The budget is mapped at once and paged in only as records arrive. An append is a copy into
// the arena: it allocates nothing, and never fails, so the loop can record every datagram.
class DatagramRing
{
public:
    static constexpr qint64 kMebibyte = qint64(1024) * 1024;
    // Room for many of the largest datagrams.
    static constexpr qint64 kSmallestBudget = kMebibyte;
    // Offsets into the arena are 32-bit.
    static constexpr qint64 kLargestBudget = 4095 * kMebibyte;

    explicit DatagramRing(qint64 budget);
    ~DatagramRing();
    Q_DISABLE_COPY_MOVE(DatagramRing)

    // The record's number is ignored: records are numbered in the order they come.
    void append(const DatagramRecord &record) noexcept;

    // The number of the oldest record held, which is also how many were let go, and one past
    // the newest.
    qint64 first() const { return m_first; }
    qint64 end() const { return m_end; }
    qint64 count() const { return m_end - m_first; }
    // A record held, first() <= number < end(); its payload stays valid until the next append.
    DatagramRecord at(qint64 number) const;

    qint64 budget() const { return m_budget; }
    // The mapping, with the local address table.
    qint64 memoryUsed() const;

private:
    int localIndex(const SocketAddress &local);
    qint64 offsetOf(qint64 number) const;
    // Where a record of `size` bytes goes, after letting go of what is in its way.
    qint64 makeRoom(qint64 size);

    const qint64 m_budget;
    char *m_mapping = nullptr;
    quint32 *m_offsets = nullptr;
    qint64 m_slots = 0;
    char *m_arena = nullptr;
    qint64 m_arenaSize = 0;
    qint64 m_first = 0;
    qint64 m_end = 0;
    // Where the next record goes; records never wrap around the arena's end.
    qint64 m_head = 0;
    std::vector<SocketAddress> m_locals;
    QHash<SocketAddress, int> m_localIndex;
    int m_lastLocal = DatagramCoding::kInlineLocal;
};
