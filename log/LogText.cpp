// SPDX-License-Identifier: MIT
#include "log/LogText.h"

#include <QtDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Blocks start small so that a short log stays small, and grow to a size at which the slack of
// the last block is negligible against a long log.
constexpr qint64 kFirstBlockSize = 4 * 1024;
constexpr qint64 kFallbackPageSize = 4 * 1024;
constexpr qint64 kIndexEntry = sizeof(quint32);
// Offsets within a block, line starts included, must fit the 32-bit index.
constexpr qint64 kLargestMapping = qint64(UINT32_MAX) - kIndexEntry;
constexpr qint64 kFirstRingSize = 8;
// A budget holds at least this many blocks, so that letting one go is a small step.
constexpr qint64 kBlocksPerBudget = 16;

qint64 systemPageSize()
{
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? size : kFallbackPageSize;
}

qint64 roundUp(qint64 value, qint64 step)
{
    return (value + step - 1) / step * step;
}

qint64 roundDown(qint64 value, qint64 step)
{
    return value / step * step;
}

// The first index in [first, last) at which `holds` is false, for a predicate that holds on a
// prefix of the range. (Clang 14, which builds the fuzzers, cannot compile libstdc++ 12's
// std::ranges over an iota_view.)
template <typename Predicate> qint64 partitionPoint(qint64 first, qint64 last, Predicate holds)
{
    while (first < last) {
        const qint64 middle = first + (last - first) / 2;
        if (holds(middle))
            first = middle + 1;
        else
            last = middle;
    }
    return first;
}

bool consumeFailure(int &pending)
{
    if (pending <= 0)
        return false;
    --pending;
    return true;
}

} // namespace

qint64 LogText::Block::lineStart(qint64 index) const
{
    quint32 offset;
    std::memcpy(&offset, bytes + capacity - (index + 1) * kIndexEntry, kIndexEntry);
    return offset;
}

void LogText::Block::addLineStart(qint64 offset)
{
    const auto entry = quint32(offset);
    ++lines;
    std::memcpy(bytes + capacity - lines * kIndexEntry, &entry, kIndexEntry);
}

qint64 LogText::Block::lineEnd(qint64 index) const
{
    return index + 1 < lines ? lineStart(index + 1) : used;
}

qint64 LogText::Block::room() const
{
    return capacity - used - lines * kIndexEntry;
}

LogText::LogText(qint64 budget, qint64 largestBlock)
    : m_pageSize(systemPageSize())
    , m_budget(budget <= kNoLimit ? kNoLimit : std::max(budget, kSmallestBudget))
    , m_largestBlock(std::max(m_pageSize,
          roundDown(std::min({ largestBlock, kLargestBlockSize,
                        m_budget == kNoLimit ? kLargestBlockSize : m_budget / kBlocksPerBudget }),
              m_pageSize)))
    , m_nextBlockSize(std::min(kFirstBlockSize, m_largestBlock))
{ }

LogText::~LogText()
{
    releaseAll();
}

void LogText::releaseAll()
{
    while (m_count > 0)
        discardOldest();
}

void LogText::clear()
{
    releaseAll();
    // Swap with an empty ring so that its memory really goes back.
    std::vector<Block>().swap(m_ring);
    m_head = 0;
    m_nextBlockSize = std::min(kFirstBlockSize, m_largestBlock);
    m_end = 0;
    m_lineEnd = 1;
    m_longestLine = 0;
    m_openLineLength = 0;
    m_droppedBytes = 0;
    ++m_generation;
}

void LogText::failNextAllocations(Allocation kind, int count)
{
    (kind == Allocation::Block ? m_failingBlocks : m_failingBlockLists) = count;
}

void LogText::append(QByteArrayView text) noexcept
{
    while (!text.isEmpty()) {
        const qsizetype newline = text.indexOf('\n');
        if (newline < 0) {
            appendFragment(text, false);
            return;
        }
        appendFragment(text.first(newline + 1), true);
        text = text.sliced(newline + 1);
    }
}

void LogText::appendFragment(QByteArrayView fragment, bool endsLine)
{
    const qint64 needed = fragment.size() + (endsLine ? kIndexEntry : 0);
    if ((m_count == 0 || last().room() < needed) && !openBlock(needed, !endsLine)) {
        m_droppedBytes += fragment.size();
        return;
    }
    Block &block = last();
    std::memcpy(block.bytes + block.used, fragment.data(), size_t(fragment.size()));
    block.used += fragment.size();
    m_end += fragment.size();
    m_openLineLength += fragment.size();
    if (!endsLine)
        return;

    const qint64 shown = m_openLineLength - 1
        - (m_openLineLength >= 2 && block.bytes[block.used - 2] == '\r' ? 1 : 0);
    m_longestLine = std::max(m_longestLine, shown);
    m_openLineLength = 0;
    ++m_lineEnd;
    block.addLineStart(block.used);
}

qint64 LogText::roomForLines(qint64 count, qint64 length)
{
    // Line by line, as appendFragment() would decide, so that the blocks come out the same.
    const qint64 needed = length + kIndexEntry;
    if (m_count == 0 || last().room() < needed) {
        const char *const oldest = m_count > 0 ? blockAt(0).bytes : nullptr;
        if (!openBlock(needed, false))
            return 0;
        // Lines written this fast would fault a new mapping in a page at a time, which costs
        // more than writing them; faulted in at once it costs a fraction. The oldest block's
        // mapping, taken over under a budget, has its pages already. Where the system cannot,
        // the pages come one by one as before.
        const Block &block = last();
        const qint64 from = roundUp(block.used, m_pageSize);
        if (block.bytes != oldest && from < block.capacity)
            ::madvise(block.bytes + from, size_t(block.capacity - from), MADV_POPULATE_WRITE);
    }
    return std::min(count, last().room() / needed);
}

void LogText::addLines(qint64 count, qint64 length)
{
    Block &block = last();
    const char *const text = block.bytes + block.used;
    // The first line may finish the open line, and its '\r' may be the open line's last byte.
    const qint64 first = m_openLineLength + length;
    const bool firstHasReturn = first >= 2 && text[length - 2] == '\r';
    m_longestLine = std::max(m_longestLine, first - 1 - firstHasReturn);
    // The others are all as long: shown one byte shorter only when every one ends in "\r\n".
    bool allHaveReturn = length >= 2;
    for (qint64 end = 2 * length; allHaveReturn && end <= count * length; end += length)
        allHaveReturn = text[end - 2] == '\r';
    if (count > 1)
        m_longestLine = std::max(m_longestLine, length - 1 - allHaveReturn);

    char *entry = block.bytes + block.capacity - block.lines * kIndexEntry;
    auto start = quint32(block.used);
    for (qint64 i = 0; i < count; ++i) {
        start += quint32(length);
        Q_ASSERT(block.bytes[start - 1] == '\n');
        entry -= kIndexEntry;
        std::memcpy(entry, &start, kIndexEntry);
    }
    block.used += count * length;
    block.lines += count;
    m_end += count * length;
    m_lineEnd += count;
    m_openLineLength = 0;
}

qint64 LogText::blockCapacity(qint64 atLeast, bool lineStaysOpen) const
{
    // Room to spare for a line still growing, so that growing it does not copy it every time.
    const qint64 wanted = std::max(m_nextBlockSize, lineStaysOpen ? 2 * atLeast : atLeast);
    qint64 capacity = roundUp(std::min(wanted, kLargestMapping), m_pageSize);
    if (m_budget != kNoLimit) {
        const qint64 ring = qint64(std::max<size_t>(m_ring.size(), kFirstRingSize) * sizeof(Block));
        capacity = std::min(capacity, roundDown(m_budget - ring, m_pageSize));
    }
    return std::max(capacity, roundUp(atLeast, m_pageSize));
}

bool LogText::openBlock(qint64 needed, bool lineStaysOpen)
{
    // The open line moves along, so that it stays contiguous; so does the block's first entry.
    const qint64 carried = m_openLineLength;
    const qint64 atLeast = carried + needed + kIndexEntry;
    const qint64 capacity = blockCapacity(atLeast, lineStaysOpen);
    if (capacity > kLargestMapping)
        return false;
    // A block that holds nothing but the open line goes once the line has moved.
    const bool replacesLast = carried > 0 && carried == last().used;
    char *bytes = nullptr;
    if (m_budget != kNoLimit) {
        const qint64 freed = replacesLast ? last().capacity : 0;
        while (canDiscard() && memoryUsed() - freed + (bytes ? 0 : capacity) > m_budget) {
            // Within the budget the new block takes over the oldest one's mapping when it is of
            // its size, as it is in a long run: that saves faulting in its pages again.
            if (bytes == nullptr && blockAt(0).capacity == capacity)
                bytes = popOldest().bytes;
            else
                discardOldest();
        }
    }
    if (!replacesLast && !makeRoomInRing()) {
        if (bytes != nullptr)
            unmapBlock(Block { bytes, capacity });
        return false;
    }
    if (bytes == nullptr)
        bytes = mapBlock(capacity);
    while (bytes == nullptr) {
        if (!canDiscard())
            return false;
        discardOldest();
        bytes = mapBlock(capacity);
    }

    Block fresh;
    fresh.bytes = bytes;
    fresh.capacity = capacity;
    fresh.firstByte = m_end - carried;
    fresh.firstLine = m_lineEnd - 1;
    fresh.addLineStart(0);
    if (m_count > 0) {
        Block &previous = last();
        std::memcpy(fresh.bytes, previous.bytes + previous.used - carried, size_t(carried));
        fresh.used = carried;
        previous.used -= carried;
        --previous.lines;
    }
    if (m_count > 0 && last().used == 0) {
        unmapBlock(last());
        last() = fresh;
    } else {
        ++m_count;
        last() = fresh;
    }
    m_nextBlockSize = std::min(m_nextBlockSize * 2, m_largestBlock);

    if (m_budget != kNoLimit) {
        while (m_count > 1 && memoryUsed() > m_budget)
            discardOldest();
    }
    return true;
}

bool LogText::canDiscard() const
{
    // The newest block may go only when it holds no part of the open line.
    return m_count > 1 || (m_count == 1 && m_openLineLength == 0);
}

LogText::Block LogText::popOldest()
{
    Block &slot = blockAt(0);
    const Block oldest = slot;
    slot = Block();
    m_head = (m_head + 1) & qint64(m_ring.size() - 1);
    --m_count;
    return oldest;
}

void LogText::discardOldest()
{
    unmapBlock(popOldest());
}

bool LogText::makeRoomInRing()
{
    while (m_count == qint64(m_ring.size())) {
        if (!consumeFailure(m_failingBlockLists)) {
            try {
                std::vector<Block> grown(std::max<size_t>(kFirstRingSize, m_ring.size() * 2));
                for (qint64 i = 0; i < m_count; ++i)
                    grown[size_t(i)] = blockAt(i);
                m_ring.swap(grown);
                m_head = 0;
                return true;
            } catch (const std::bad_alloc &) { }
        }
        // Letting go of a block frees a slot.
        if (!canDiscard())
            return false;
        discardOldest();
    }
    return true;
}

char *LogText::mapBlock(qint64 capacity)
{
    if (consumeFailure(m_failingBlocks))
        return nullptr;
    void *bytes = ::mmap(
        nullptr, size_t(capacity), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (bytes == MAP_FAILED)
        return nullptr;
    m_mappedBytes += capacity;
    return static_cast<char *>(bytes);
}

void LogText::unmapBlock(const Block &block)
{
    if (::munmap(block.bytes, size_t(block.capacity)) != 0)
        qWarning("LogText: cannot unmap a block: %s", std::strerror(errno));
    m_mappedBytes -= block.capacity;
}

LogText::Block &LogText::blockAt(qint64 index)
{
    return m_ring[size_t((m_head + index) & qint64(m_ring.size() - 1))];
}

const LogText::Block &LogText::blockAt(qint64 index) const
{
    return m_ring[size_t((m_head + index) & qint64(m_ring.size() - 1))];
}

const LogText::Block &LogText::blockOfLine(qint64 line) const
{
    // Block 0 holds everything before block 1, so the search starts there.
    return blockAt(
        partitionPoint(1, m_count, [&](qint64 i) { return blockAt(i).firstLine <= line; }) - 1);
}

const LogText::Block &LogText::blockOfPosition(qint64 position) const
{
    return blockAt(
        partitionPoint(1, m_count, [&](qint64 i) { return blockAt(i).firstByte <= position; }) - 1);
}

qint64 LogText::begin() const
{
    return m_count > 0 ? blockAt(0).firstByte : m_end;
}

qint64 LogText::firstLine() const
{
    return m_count > 0 ? blockAt(0).firstLine : m_lineEnd - 1;
}

qint64 LogText::lineStart(qint64 line) const
{
    if (m_count == 0)
        return m_end;
    line = std::clamp(line, firstLine(), m_lineEnd - 1);
    const Block &block = blockOfLine(line);
    return block.firstByte + block.lineStart(line - block.firstLine);
}

QByteArrayView LogText::line(qint64 line) const
{
    if (m_count == 0)
        return {};
    line = std::clamp(line, firstLine(), m_lineEnd - 1);
    const Block &block = blockOfLine(line);
    const qint64 index = line - block.firstLine;
    const qint64 start = block.lineStart(index);
    qint64 end = block.lineEnd(index);
    if (end > start && block.bytes[end - 1] == '\n')
        --end;
    if (end > start && block.bytes[end - 1] == '\r')
        --end;
    return QByteArrayView(block.bytes + start, end - start);
}

qint64 LogText::lineOf(qint64 position) const
{
    if (m_count == 0)
        return firstLine();
    position = std::clamp(position, begin(), end());
    const Block &block = blockOfPosition(position);
    const qint64 offset = position - block.firstByte;
    return block.firstLine + partitionPoint(1, block.lines, [&](qint64 i) {
        return block.lineStart(i) <= offset;
    }) - 1;
}

QByteArray LogText::mid(qint64 from, qint64 to) const
{
    QByteArray result;
    appendTo(result, from, to);
    return result;
}

void LogText::appendTo(QByteArray &out, qint64 from, qint64 to) const
{
    from = std::clamp(from, begin(), end());
    to = std::clamp(to, from, end());
    out.reserve(out.size() + (to - from));
    for (qint64 position = from; position < to;) {
        const QByteArrayView chunk = chunkAt(position);
        const qint64 count = std::min(chunk.size(), to - position);
        out.append(chunk.first(count));
        position += count;
    }
}

QByteArrayView LogText::chunkAt(qint64 position) const
{
    if (position >= end() || position < begin())
        return {};
    const Block &block = blockOfPosition(position);
    const qint64 offset = position - block.firstByte;
    return QByteArrayView(block.bytes + offset, block.used - offset);
}

QByteArrayView LogText::chunkBefore(qint64 position) const
{
    if (position <= begin() || position > end())
        return {};
    const Block &block = blockOfPosition(position - 1);
    return QByteArrayView(block.bytes, position - block.firstByte);
}

qint64 LogText::memoryUsed() const
{
    return m_mappedBytes + qint64(m_ring.capacity() * sizeof(Block));
}
