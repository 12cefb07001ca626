// SPDX-License-Identifier: MIT
#include "LogText.h"

#include <algorithm>
#include <cstring>

namespace {

// Blocks start small so that a short log stays small, and grow to a size at which the slack of
// the last block is negligible against a long log.
constexpr qint64 kFirstBlockSize = 4 * 1024;
constexpr qint64 kLargestBlockSize = 1024 * 1024;

} // namespace

LogText::LogText(qint64 budget)
    : m_budget(budget)
{ }

void LogText::clear()
{
    // Swap with empty containers so that the memory really goes back.
    std::vector<Block>().swap(m_blocks);
    m_size = 0;
    m_lineCount = 1;
    m_longestLine = 0;
    m_openLineLength = 0;
}

void LogText::append(QByteArrayView text)
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
    if (m_blocks.empty())
        openBlock(fragment.size());
    Block *block = &m_blocks.back();
    if (block->capacity - block->used < fragment.size()) {
        // Move the open line to a fresh block, so that it stays contiguous.
        const qint64 carried = m_openLineLength;
        openBlock(carried + fragment.size());
        Block &fresh = m_blocks.back();
        Block &previous = m_blocks[m_blocks.size() - 2];
        std::memcpy(fresh.bytes.get(), previous.bytes.get() + previous.used - carried, carried);
        fresh.used = carried;
        fresh.firstByte = previous.firstByte + previous.used - carried;
        fresh.firstLine = previous.firstLine + qint64(previous.lineStarts.size()) - 1;
        fresh.lineStarts.push_back(0);
        previous.used -= carried;
        previous.lineStarts.pop_back();
        previous.lineStarts.shrink_to_fit();
        if (previous.used == 0)
            m_blocks.erase(m_blocks.end() - 2);
        block = &m_blocks.back();
    }
    std::memcpy(block->bytes.get() + block->used, fragment.data(), fragment.size());
    block->used += fragment.size();
    m_size += fragment.size();
    m_openLineLength += fragment.size();
    if (!endsLine)
        return;

    const qint64 shown = m_openLineLength - 1
        - (m_openLineLength >= 2 && block->bytes[block->used - 2] == '\r' ? 1 : 0);
    m_longestLine = std::max(m_longestLine, shown);
    m_openLineLength = 0;
    ++m_lineCount;
    block->lineStarts.push_back(quint32(block->used));
}

void LogText::openBlock(qint64 atLeast)
{
    const qint64 previous = m_blocks.empty() ? kFirstBlockSize / 2 : m_blocks.back().capacity;
    // Room to spare for an unusually long line, so that growing it does not copy it every time.
    const qint64 capacity = std::max(std::min(previous * 2, kLargestBlockSize), atLeast * 2);
    Block block;
    block.bytes = std::make_unique_for_overwrite<char[]>(capacity);
    block.capacity = capacity;
    if (!m_blocks.empty()) {
        const Block &last = m_blocks.back();
        block.firstByte = last.firstByte + last.used;
        block.firstLine = last.firstLine + qint64(last.lineStarts.size());
    } else {
        block.lineStarts.push_back(0);
    }
    m_blocks.push_back(std::move(block));
}

const LogText::Block &LogText::blockOfLine(qint64 line) const
{
    const auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), line,
        [](qint64 l, const Block &b) { return l < b.firstLine; });
    return *(it - 1);
}

const LogText::Block &LogText::blockOfPosition(qint64 position) const
{
    const auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), position,
        [](qint64 p, const Block &b) { return p < b.firstByte; });
    return *(it - 1);
}

qint64 LogText::lineEndInBlock(const Block &block, qint64 indexInBlock) const
{
    return indexInBlock + 1 < qint64(block.lineStarts.size()) ? block.lineStarts[indexInBlock + 1]
                                                              : block.used;
}

qint64 LogText::lineStart(qint64 line) const
{
    if (m_blocks.empty())
        return 0;
    const Block &block = blockOfLine(line);
    return block.firstByte + block.lineStarts[line - block.firstLine];
}

QByteArrayView LogText::line(qint64 line) const
{
    if (m_blocks.empty())
        return {};
    const Block &block = blockOfLine(line);
    const qint64 index = line - block.firstLine;
    const qint64 start = block.lineStarts[index];
    qint64 end = lineEndInBlock(block, index);
    if (end > start && block.bytes[end - 1] == '\n')
        --end;
    if (end > start && block.bytes[end - 1] == '\r')
        --end;
    return QByteArrayView(block.bytes.get() + start, end - start);
}

qint64 LogText::lineOf(qint64 position) const
{
    if (m_blocks.empty())
        return 0;
    position = std::clamp<qint64>(position, 0, m_size);
    const Block &block = blockOfPosition(position);
    const auto offset = quint32(position - block.firstByte);
    const auto it = std::upper_bound(block.lineStarts.begin(), block.lineStarts.end(), offset);
    return block.firstLine + (it - block.lineStarts.begin()) - 1;
}

char LogText::at(qint64 position) const
{
    const Block &block = blockOfPosition(position);
    return block.bytes[position - block.firstByte];
}

QByteArray LogText::mid(qint64 from, qint64 to) const
{
    from = std::clamp<qint64>(from, 0, m_size);
    to = std::clamp<qint64>(to, from, m_size);
    QByteArray result(to - from, Qt::Uninitialized);
    char *out = result.data();
    if (from == to)
        return result;
    auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), from,
                  [](qint64 p, const Block &b) { return p < b.firstByte; })
        - 1;
    for (qint64 position = from; position < to; ++it) {
        const qint64 offset = position - it->firstByte;
        const qint64 count = std::min(it->used - offset, to - position);
        std::memcpy(out, it->bytes.get() + offset, count);
        out += count;
        position += count;
    }
    return result;
}

QByteArrayView LogText::chunkAt(qint64 position) const
{
    if (position >= end() || position < begin())
        return {};
    const Block &block = blockOfPosition(position);
    const qint64 offset = position - block.firstByte;
    return QByteArrayView(block.bytes.get() + offset, block.used - offset);
}

QByteArrayView LogText::chunkBefore(qint64 position) const
{
    if (position <= begin() || position > end())
        return {};
    const Block &block = blockOfPosition(position - 1);
    return QByteArrayView(block.bytes.get(), position - block.firstByte);
}

qint64 LogText::memoryUsed() const
{
    qint64 total = qint64(m_blocks.capacity() * sizeof(Block));
    for (const Block &block : m_blocks)
        total += block.capacity + qint64(block.lineStarts.capacity() * sizeof(quint32));
    return total;
}
