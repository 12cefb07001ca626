// SPDX-License-Identifier: MIT
#include "log/Caret.h"

#include "log/CharClass.h"

void Caret::setPosition(qint64 position, bool keepAnchor)
{
    m_position = std::clamp(position, m_text.begin(), m_text.end());
    if (!keepAnchor)
        m_anchor = m_position;
    m_desiredColumn = -1;
}

void Caret::select(qint64 anchor, qint64 position)
{
    m_anchor = std::clamp(anchor, m_text.begin(), m_text.end());
    setPosition(position, true);
}

bool Caret::keepInText()
{
    const qint64 held = m_text.begin();
    if (m_anchor >= held && m_position >= held)
        return false;
    m_anchor = std::max(m_anchor, held);
    m_position = std::max(m_position, held);
    return true;
}

bool Caret::move(Move move, bool keepAnchor, qint64 pageLines)
{
    const qint64 line = m_text.lineOf(m_position);
    const qint64 start = m_text.lineStart(line);
    const qint64 length = m_text.line(line).size();
    const qint64 column = std::min(m_position - start, length);
    const qint64 firstLine = m_text.firstLine();
    const qint64 lastLine = firstLine + m_text.lineCount() - 1;
    // As in Qt's text views, a plain arrow collapses a selection at its edge.
    const bool collapse = hasSelection() && !keepAnchor;
    qint64 target = m_position;
    switch (move) {
    case Move::Left:
        if (collapse)
            target = selectionStart();
        else if (column > 0)
            target = start + column - 1;
        else if (line > firstLine)
            target = m_text.lineStart(line - 1) + m_text.line(line - 1).size();
        break;
    case Move::Right:
        if (collapse)
            target = selectionEnd();
        else if (column < length)
            target = start + column + 1;
        else if (line < lastLine)
            target = m_text.lineStart(line + 1);
        break;
    case Move::WordLeft:
        target = wordLeft();
        break;
    case Move::WordRight:
        target = wordRight();
        break;
    case Move::LineStart:
        target = start;
        break;
    case Move::LineEnd:
        target = start + length;
        break;
    case Move::Up:
    case Move::Down:
    case Move::PageUp:
    case Move::PageDown: {
        const bool page = move == Move::PageUp || move == Move::PageDown;
        const bool up = move == Move::Up || move == Move::PageUp;
        const qint64 rows = page ? std::max<qint64>(1, pageLines) : 1;
        const qint64 toLine = std::clamp(up ? line - rows : line + rows, firstLine, lastLine);
        if (toLine == line) {
            if (page || !keepAnchor)
                return false;
            target = up ? m_text.begin() : m_text.end();
            break;
        }
        const qint64 desired = m_desiredColumn >= 0 ? m_desiredColumn : m_position - start;
        setPosition(atColumn(toLine, desired), keepAnchor);
        m_desiredColumn = desired;
        return true;
    }
    case Move::Start:
        target = m_text.begin();
        break;
    case Move::End:
        target = m_text.end();
        break;
    }
    setPosition(target, keepAnchor);
    return true;
}

qint64 Caret::atColumn(qint64 line, qint64 column) const
{
    return m_text.lineStart(line) + std::min<qint64>(column, m_text.line(line).size());
}

qint64 Caret::wordRight() const
{
    const qint64 line = m_text.lineOf(m_position);
    const qint64 start = m_text.lineStart(line);
    const QByteArrayView bytes = m_text.line(line);
    qint64 column = std::min<qint64>(m_position - start, bytes.size());
    if (column == bytes.size()) {
        const bool last = line == m_text.firstLine() + m_text.lineCount() - 1;
        return last ? start + column : m_text.lineStart(line + 1);
    }
    const CharClass first = classOf(bytes[column]);
    if (first != CharClass::Space) {
        while (column < bytes.size() && classOf(bytes[column]) == first)
            ++column;
    }
    while (column < bytes.size() && classOf(bytes[column]) == CharClass::Space)
        ++column;
    return start + column;
}

qint64 Caret::wordLeft() const
{
    const qint64 line = m_text.lineOf(m_position);
    const qint64 start = m_text.lineStart(line);
    const QByteArrayView bytes = m_text.line(line);
    qint64 column = std::min<qint64>(m_position - start, bytes.size());
    if (column == 0) {
        return line == m_text.firstLine()
            ? start
            : m_text.lineStart(line - 1) + m_text.line(line - 1).size();
    }
    while (column > 0 && classOf(bytes[column - 1]) == CharClass::Space)
        --column;
    if (column > 0) {
        const CharClass last = classOf(bytes[column - 1]);
        while (column > 0 && classOf(bytes[column - 1]) == last)
            --column;
    }
    return start + column;
}

Caret::Span Caret::runAt(const LogText &text, qint64 position)
{
    position = std::clamp(position, text.begin(), text.end());
    const qint64 line = text.lineOf(position);
    const qint64 start = text.lineStart(line);
    const QByteArrayView bytes = text.line(line);
    qint64 from = position - start;
    if (from >= bytes.size()) {
        const bool last = line == text.firstLine() + text.lineCount() - 1;
        return { start + bytes.size(), last ? text.end() : text.lineStart(line + 1) };
    }
    const CharClass kind = classOf(bytes[from]);
    qint64 to = from;
    while (from > 0 && classOf(bytes[from - 1]) == kind)
        --from;
    while (to < bytes.size() && classOf(bytes[to]) == kind)
        ++to;
    return { start + from, start + to };
}

std::optional<Caret::Span> Caret::wordAt(const LogText &text, qint64 position)
{
    position = std::clamp(position, text.begin(), text.end());
    const qint64 line = text.lineOf(position);
    const qint64 start = text.lineStart(line);
    const QByteArrayView bytes = text.line(line);
    const qint64 column = std::min<qint64>(position - start, bytes.size());
    const auto isWord = [&bytes](qint64 at) {
        return at >= 0 && at < bytes.size() && classOf(bytes[at]) == CharClass::Word;
    };
    if (isWord(column))
        return runAt(text, position);
    if (isWord(column - 1))
        return runAt(text, start + column - 1);
    return std::nullopt;
}
