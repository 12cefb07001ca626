// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <vector>

// The text of a log: bytes split into lines at '\n', kept in fixed blocks with a compact line
// index. An append never moves what is already held, so its cost does not grow with the log.
// A line never spans two blocks, so every line can be handed out as one contiguous view.
//
// Under a budget the text, its index and the blocks' bookkeeping together never take more than
// the budget: an append that would pass it first lets go of the oldest whole blocks, and when
// memory runs out it does the same. Each block is a mapping of its own, text from the front and
// line index from the back, so what is let go goes back to the system at once.
//
// Positions and line numbers count from the start of the log, discarded text included, so that
// a position keeps naming the same character while older text is let go; begin() and
// firstLine() before and after an append tell what it let go. Functions that take a position or
// a line clamp it to what is held.
class LogText
{
public:
    static constexpr qint64 kNoLimit = 0;
    // Smaller budgets are raised to this, so that there are always blocks enough to let go of
    // them one at a time.
    static constexpr qint64 kSmallestBudget = 64 * 1024;
    // Blocks grow to this size, but to no more than a sixteenth of the budget.
    static constexpr qint64 kLargestBlockSize = 1024 * 1024;

    // budget: the most bytes held at once, or kNoLimit. largestBlock: the size blocks grow to
    // (at most kLargestBlockSize); a small one lets a small budget go a little at a time.
    explicit LogText(qint64 budget = kNoLimit, qint64 largestBlock = kLargestBlockSize);
    ~LogText();
    Q_DISABLE_COPY_MOVE(LogText)

    // Lets go of everything; positions and line numbers start again at 0.
    void clear();
    // How many times clear() was called: a position kept from before names other text after.
    quint64 generation() const { return m_generation; }
    // Adds text at the end and never throws. Past the budget, or when memory runs out, the
    // oldest whole blocks are let go first; only when nothing but the newest line is left to let
    // go of is a fragment dropped (see droppedBytes()).
    void append(QByteArrayView text) noexcept;
    // Appends `count` whole lines of `length` bytes each, every one ending in its only '\n',
    // that fill(char *out, qint64 first, qint64 n) writes straight into the store: lines first
    // to first + n - 1 of the count, n * length bytes at out. The text, the line index and what
    // is let go are those of append() of the same bytes, but no line end is searched for and
    // nothing is copied. fill must not throw.
    template <typename Fill> void appendLines(qint64 count, qint64 length, Fill &&fill) noexcept
    {
        for (qint64 first = 0; first < count;) {
            const qint64 fit = roomForLines(count - first, length);
            if (fit == 0) {
                m_droppedBytes += length;
                ++first;
                continue;
            }
            const Block &block = last();
            fill(block.bytes + block.used, first, fit);
            addLines(fit, length);
            first += fit;
        }
    }

    // The first position still held, and one past the last.
    qint64 begin() const;
    qint64 end() const { return m_end; }
    // The number of the first line still held: also how many lines were let go.
    qint64 firstLine() const;
    // Bytes that found no memory at all and are missing from the text.
    qint64 droppedBytes() const { return m_droppedBytes; }
    // The bytes from position to the end of the block that holds it (empty at end()); a line
    // never spans two blocks, so a match inside a line is always inside one such chunk.
    QByteArrayView chunkAt(qint64 position) const;
    // The bytes from the start of the block that holds position - 1 up to position (empty at
    // begin()).
    QByteArrayView chunkBefore(qint64 position) const;

    // Bytes held.
    qint64 size() const { return end() - begin(); }
    // Lines held, firstLine() to firstLine() + lineCount() - 1. A text of n line breaks has
    // n + 1 lines; the last one may be empty.
    qint64 lineCount() const { return m_lineEnd - firstLine(); }
    qint64 lineStart(qint64 line) const;
    // The line without its '\n' and without the '\r' before it.
    QByteArrayView line(qint64 line) const;
    qint64 lineOf(qint64 position) const;
    QByteArray mid(qint64 from, qint64 to) const;
    // Appends the bytes from `from` to `to` to `out` with one allocation at most.
    void appendTo(QByteArray &out, qint64 from, qint64 to) const;
    // The longest line since clear(), let go of or not, the one still open included: a width
    // that fits every line held.
    qint64 longestLine() const { return std::max(m_longestLine, m_openLineLength); }
    // Bytes taken by the text, its index and the blocks' bookkeeping.
    qint64 memoryUsed() const;

    // Test seam: the next `count` requests for memory of this kind fail as if there were none.
    enum class Allocation { Block, BlockList };
    void failNextAllocations(Allocation kind, int count);

private:
    // Trivially copyable, so that the ring can grow without touching the bytes it points to.
    struct Block
    {
        char *bytes = nullptr; // a mapping of `capacity` bytes
        qint64 capacity = 0;
        qint64 used = 0; // text bytes, from the front
        qint64 lines = 0; // 32-bit line starts, from the back
        qint64 firstByte = 0; // position of bytes[0] in the whole text
        qint64 firstLine = 0;

        qint64 lineStart(qint64 index) const;
        void addLineStart(qint64 offset);
        qint64 lineEnd(qint64 index) const;
        qint64 room() const;
    };

    void appendFragment(QByteArrayView fragment, bool endsLine);
    // How many of `count` lines of `length` bytes the last block takes, after opening a block
    // when it takes none; 0 when no memory can be found for one.
    qint64 roomForLines(qint64 count, qint64 length);
    // Counts and indexes `count` lines of `length` bytes just written at the end of the last
    // block.
    void addLines(qint64 count, qint64 length);
    bool openBlock(qint64 needed, bool lineStaysOpen);
    qint64 blockCapacity(qint64 atLeast, bool lineStaysOpen) const;
    bool canDiscard() const;
    Block popOldest();
    void discardOldest();
    bool makeRoomInRing();
    char *mapBlock(qint64 capacity);
    void unmapBlock(const Block &block);
    void releaseAll();

    Block &blockAt(qint64 index);
    const Block &blockAt(qint64 index) const;
    Block &last() { return blockAt(m_count - 1); }
    const Block &blockOfLine(qint64 line) const;
    const Block &blockOfPosition(qint64 position) const;

    const qint64 m_pageSize;
    const qint64 m_budget;
    const qint64 m_largestBlock;
    // The blocks, oldest first, as a ring whose size is a power of two: letting go of the
    // oldest is O(1) and moves nothing.
    std::vector<Block> m_ring;
    qint64 m_head = 0;
    qint64 m_count = 0;
    qint64 m_mappedBytes = 0;
    qint64 m_nextBlockSize = 0;
    qint64 m_end = 0;
    qint64 m_lineEnd = 1; // one past the number of the last line
    qint64 m_longestLine = 0;
    qint64 m_openLineLength = 0; // length of the last, unterminated line, '\r' included
    qint64 m_droppedBytes = 0;
    quint64 m_generation = 0;
    int m_failingBlocks = 0;
    int m_failingBlockLists = 0;
};
