// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <vector>

// The text of a log: bytes split into lines at '\n', kept in fixed blocks with a compact line
// index. An append never moves what is already held, so its cost does not grow with the log.
// A line never spans two blocks, so every line can be handed out as one contiguous view.
//
// Positions and line numbers count from the start of the log, discarded text included, so that
// a position keeps naming the same character while older text is let go. Functions that take a
// position or a line expect one that is still held.
class LogText
{
public:
    static constexpr qint64 kNoLimit = 0;

    // budget: the most bytes of text and index held at once; kNoLimit for no limit.
    explicit LogText(qint64 budget = kNoLimit);

    void clear();
    // Adds text at the end. Past the budget, the oldest whole blocks are let go first.
    void append(QByteArrayView text);

    qint64 budget() const { return m_budget; }
    // The first position still held, and one past the last.
    qint64 begin() const { return 0; }
    qint64 end() const { return m_size; }
    // The number of the first line still held: also how many lines were let go.
    qint64 firstLine() const { return 0; }
    // The bytes from position to the end of the block that holds it (empty at end()); a line
    // never spans two blocks, so a match inside a line is always inside one such chunk.
    QByteArrayView chunkAt(qint64 position) const;
    // The bytes from the start of the block that holds position - 1 up to position (empty at
    // begin()).
    QByteArrayView chunkBefore(qint64 position) const;

    // Bytes held.
    qint64 size() const { return m_size; }
    // A text of n line breaks has n + 1 lines; the last one may be empty.
    qint64 lineCount() const { return m_lineCount; }
    qint64 lineStart(qint64 line) const;
    // The line without its '\n' and without the '\r' before it.
    QByteArrayView line(qint64 line) const;
    qint64 lineOf(qint64 position) const;
    char at(qint64 position) const;
    QByteArray mid(qint64 from, qint64 to) const;
    qint64 longestLine() const { return m_longestLine; }
    // Bytes allocated for the text and its index.
    qint64 memoryUsed() const;

private:
    struct Block
    {
        std::unique_ptr<char[]> bytes;
        qint64 capacity = 0;
        qint64 used = 0;
        qint64 firstByte = 0; // position of bytes[0] in the whole text
        qint64 firstLine = 0;
        std::vector<quint32> lineStarts; // offsets within the block
    };

    void appendFragment(QByteArrayView fragment, bool endsLine);
    void openBlock(qint64 atLeast);
    const Block &blockOfLine(qint64 line) const;
    const Block &blockOfPosition(qint64 position) const;
    qint64 lineEndInBlock(const Block &block, qint64 indexInBlock) const;

    qint64 m_budget = kNoLimit;
    std::vector<Block> m_blocks;
    qint64 m_size = 0;
    qint64 m_lineCount = 1;
    qint64 m_longestLine = 0;
    qint64 m_openLineLength = 0; // length of the last, unterminated line, '\r' included
};
