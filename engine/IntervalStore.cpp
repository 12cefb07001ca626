// SPDX-License-Identifier: MIT
#include "engine/IntervalStore.h"

#include <algorithm>

// A record must stay small for a day of them to fit the budget.
static_assert(sizeof(IntervalRecord) <= 184);

IntervalStore::IntervalStore(qint64 budgetBytes)
    // A full store may hold a partly used chunk at each end: one chunk of the budget is kept
    // for that.
    : m_capacity(
        qsizetype(std::max<qint64>(budgetBytes / qint64(sizeof(Chunk)) - 1, 1)) * kChunkRecords)
{ }

void IntervalStore::append(const IntervalRecord &record)
{
    if (m_size == m_capacity) {
        ++m_dropped;
        --m_size;
        if (++m_head == kChunkRecords) {
            m_chunks.pop_front();
            m_head = 0;
        }
    }
    const qsizetype place = m_head + m_size;
    if (place == qsizetype(m_chunks.size()) * kChunkRecords)
        m_chunks.push_back(std::make_unique<Chunk>());
    (*m_chunks[size_t(place / kChunkRecords)])[size_t(place % kChunkRecords)] = record;
    ++m_size;
}

void IntervalStore::clear()
{
    m_chunks.clear();
    m_head = 0;
    m_size = 0;
    m_dropped = 0;
}

const IntervalRecord &IntervalStore::at(qsizetype i) const
{
    const qsizetype place = m_head + i;
    return (*m_chunks[size_t(place / kChunkRecords)])[size_t(place % kChunkRecords)];
}
