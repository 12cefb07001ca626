// SPDX-License-Identifier: MIT
#include "engine/StreamTable.h"

StreamTable::StreamTable()
{
    m_meters.reserve(kMaxStreams);
    m_index.reserve(kMaxStreams);
}

StreamMeter &StreamTable::find(const StreamKey &key)
{
    // Most often it is the one heard last: one comparison instead of a hash.
    if (m_newest != kNone && m_meters[size_t(m_newest)]->key() == key)
        return *m_meters[size_t(m_newest)];
    if (const auto found = m_index.find(key); found != m_index.end()) {
        const int index = found->second;
        if (index != m_newest) {
            unlink(index);
            pushFront(index);
        }
        return *m_meters[size_t(index)];
    }
    int index = size();
    if (index < kMaxStreams) {
        m_meters.push_back(std::make_unique<StreamMeter>(key));
    } else {
        index = m_oldest;
        StreamMeter &oldest = *m_meters[size_t(index)];
        oldest.addTo(m_othersInterval, m_othersRun);
        ++m_letGo;
        m_index.erase(oldest.key());
        oldest.restart(key);
        unlink(index);
    }
    m_index.emplace(key, index);
    pushFront(index);
    return *m_meters[size_t(index)];
}

void StreamTable::clear()
{
    m_meters.clear();
    m_index.clear();
    m_newest = m_oldest = kNone;
    m_othersInterval.reset();
    m_othersRun.reset();
    m_letGo = 0;
}

const StreamMeter *StreamTable::stream(const StreamKey &key) const
{
    const auto found = m_index.find(key);
    return found == m_index.end() ? nullptr : m_meters[size_t(found->second)].get();
}

void StreamTable::unlink(int index)
{
    const int newer = m_newer[size_t(index)];
    const int older = m_older[size_t(index)];
    (newer == kNone ? m_newest : m_older[size_t(newer)]) = older;
    (older == kNone ? m_oldest : m_newer[size_t(older)]) = newer;
}

void StreamTable::pushFront(int index)
{
    m_newer[size_t(index)] = kNone;
    m_older[size_t(index)] = m_newest;
    (m_newest == kNone ? m_oldest : m_newer[size_t(m_newest)]) = index;
    m_newest = index;
}
