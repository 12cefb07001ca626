// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <vector>

// The text of a log: bytes split into lines at '\n', kept in fixed blocks with a compact line
// index. An append never moves what is already held, so its cost does not grow with the log.
// A line never spans two blocks, so every line can be handed out as one contiguous view.
class LogText
{
public:
    void clear();
    void append(QByteArrayView text);

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

    std::vector<Block> m_blocks;
    qint64 m_size = 0;
    qint64 m_lineCount = 1;
    qint64 m_longestLine = 0;
    qint64 m_openLineLength = 0; // length of the last, unterminated line, '\r' included
};
