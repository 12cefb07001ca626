// SPDX-License-Identifier: MIT
#include "engine/DatagramRing.h"

#include <QtDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mman.h>

namespace {

// Enough offsets for an arena full of the smallest records.
constexpr qint64 kSlotShare = DatagramCoding::kSmallestSize + sizeof(quint32);

} // namespace

DatagramRing::DatagramRing(qint64 budget)
    : m_budget(std::clamp(budget, kSmallestBudget, kLargestBudget))
{
    void *const mapping = ::mmap(nullptr, size_t(m_budget), PROT_READ | PROT_WRITE,
        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED) {
        // Then nothing is recorded; the list says so by staying empty.
        qWarning(
            "DatagramRing: cannot map %lld bytes: %s", qlonglong(m_budget), std::strerror(errno));
        return;
    }
    m_mapping = static_cast<char *>(mapping);
    m_slots = m_budget / kSlotShare;
    m_offsets = reinterpret_cast<quint32 *>(m_mapping);
    m_arena = m_mapping + m_slots * qint64(sizeof(quint32));
    m_arenaSize = m_budget - m_slots * qint64(sizeof(quint32));
    m_locals.reserve(DatagramCoding::kLargestLocalIndex + 1);
}

DatagramRing::~DatagramRing()
{
    if (m_mapping != nullptr && ::munmap(m_mapping, size_t(m_budget)) != 0)
        qWarning("DatagramRing: cannot unmap: %s", std::strerror(errno));
}

qint64 DatagramRing::memoryUsed() const
{
    return m_budget + qint64(m_locals.capacity() * sizeof(SocketAddress))
        + m_localIndex.capacity() * qint64(sizeof(SocketAddress) + sizeof(int));
}

int DatagramRing::localIndex(const SocketAddress &local)
{
    // Nearly every record has the same local address as the one before.
    if (m_lastLocal != DatagramCoding::kInlineLocal && m_locals[size_t(m_lastLocal)] == local)
        return m_lastLocal;
    if (const auto found = m_localIndex.constFind(local); found != m_localIndex.cend())
        return m_lastLocal = *found;
    // Past the table's size (a sender that uses every address of 127/8, say) the address goes
    // into the record itself.
    if (qsizetype(m_locals.size()) > DatagramCoding::kLargestLocalIndex)
        return DatagramCoding::kInlineLocal;
    try {
        m_locals.push_back(local);
        m_localIndex.insert(local, int(m_locals.size() - 1));
    } catch (const std::bad_alloc &) {
        m_locals.resize(m_localIndex.size());
        return DatagramCoding::kInlineLocal;
    }
    return m_lastLocal = int(m_locals.size() - 1);
}

void DatagramRing::append(const DatagramRecord &record) noexcept
{
    if (m_mapping == nullptr || record.payload.size() > DatagramCoding::kLargestPayload)
        return;
    const int local = localIndex(record.local);
    const qint64 size = DatagramCoding::size(record, local);
    if (count() == m_slots)
        ++m_first;
    const qint64 at = makeRoom(size);
    DatagramCoding::encode(m_arena + at, record, local);
    m_offsets[m_end % m_slots] = quint32(at);
    ++m_end;
    m_head = at + size;
}

qint64 DatagramRing::offsetOf(qint64 number) const
{
    return m_offsets[number % m_slots];
}

qint64 DatagramRing::makeRoom(qint64 size)
{
    for (;; ++m_first) {
        if (m_first == m_end)
            return 0;
        const qint64 tail = offsetOf(m_first);
        // Held: [tail, head), or, once the arena wrapped, from tail to where it wrapped and
        // [0, head). The head never reaches the tail while anything is held.
        if (m_head > tail) {
            if (m_head + size <= m_arenaSize)
                return m_head;
            if (size < tail)
                return 0;
        } else if (m_head + size < tail) {
            return m_head;
        }
    }
}

DatagramRecord DatagramRing::at(qint64 number) const
{
    DatagramRecord record = DatagramCoding::decode(m_arena + offsetOf(number), m_locals.data());
    record.number = number;
    return record;
}
