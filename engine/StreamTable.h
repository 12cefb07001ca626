// SPDX-License-Identifier: MIT
#pragma once

#include "engine/StreamKey.h"
#include "engine/StreamMeter.h"

#include <array>
#include <memory>
#include <unordered_map>
#include <vector>

// The streams being measured, one per sender, at most kMaxStreams: a new sender past that takes
// the place of the one heard least recently, whose figures join the "others" total. Finding a
// stream is a hash lookup and a move to the front of a list, and once 64 streams exist a new
// one reuses a meter, so a flood from any number of senders allocates nothing per datagram but
// the hash entry of a new sender.
class StreamTable
{
public:
    static constexpr int kMaxStreams = 64;

    StreamTable();

    // The sender's stream, now the most recently heard; created if new.
    StreamMeter &find(const StreamKey &key);
    void clear();

    // Streams keep their index while they stay in the table.
    int size() const { return int(m_meters.size()); }
    StreamMeter &at(int index) { return *m_meters[size_t(index)]; }
    const StreamMeter &at(int index) const { return *m_meters[size_t(index)]; }
    const StreamMeter *stream(const StreamKey &key) const;

    // The streams let go: their figures in the current interval, and in the run so far.
    StreamMeter::Tally &othersInterval() { return m_othersInterval; }
    const StreamMeter::Tally &othersRun() const { return m_othersRun; }
    StreamMeter::Tally &othersRun() { return m_othersRun; }
    qint64 letGo() const { return m_letGo; }

private:
    static constexpr int kNone = -1;

    void unlink(int index);
    void pushFront(int index);

    std::vector<std::unique_ptr<StreamMeter>> m_meters;
    std::unordered_map<StreamKey, int, StreamKeyHash> m_index;
    // Most recently heard first, through the meters' indices.
    std::array<int, kMaxStreams> m_newer {};
    std::array<int, kMaxStreams> m_older {};
    int m_newest = kNone;
    int m_oldest = kNone;
    StreamMeter::Tally m_othersInterval;
    StreamMeter::Tally m_othersRun;
    qint64 m_letGo = 0;
};
