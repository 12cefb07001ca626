// SPDX-License-Identifier: MIT
#pragma once

#include "log/LogText.h"

#include <algorithm>
#include <optional>
#include <utility>

// The caret and the selection of a view on a LogText, and where keys and double-clicks take
// them, worked out on the text alone so that none of it needs a window. The view keeps the
// painting, the scrolling and whether it follows the text.
//
// Every unit of text here is a run of one CharClass: word moves stop at the edges of runs,
// a double-click selects a run of word characters, and assistive technology reads the runs.
class Caret
{
public:
    // Where a key takes the caret.
    enum class Move {
        Left,
        Right,
        WordLeft,
        WordRight,
        LineStart,
        LineEnd,
        Up,
        Down,
        PageUp,
        PageDown,
        Start,
        End
    };
    // [start, end) positions.
    using Span = std::pair<qint64, qint64>;

    explicit Caret(const LogText &text)
        : m_text(text)
    { }

    qint64 anchor() const { return m_anchor; }
    qint64 position() const { return m_position; }
    qint64 selectionStart() const { return std::min(m_anchor, m_position); }
    qint64 selectionEnd() const { return std::max(m_anchor, m_position); }
    bool hasSelection() const { return m_anchor != m_position; }

    // Puts the caret at the position, clamped to the text, and the anchor with it unless it is
    // kept; Up and Down then start from the caret's column.
    void setPosition(qint64 position, bool keepAnchor);
    void select(qint64 anchor, qint64 position);
    // Collapses at the end, as a view that follows the text does on every append; the column
    // Up and Down keep to stays as it was.
    void toEnd() { m_anchor = m_position = m_text.end(); }
    // After the text let go of its oldest lines, what pointed into them points at the first
    // position held. True when the anchor or the caret moved.
    bool keepInText();
    // Moves as a key does, a page being pageLines lines; on the first or the last line only a
    // selecting Up or Down goes on, to the very start or end. False when the caret stays
    // because there is no line to go to.
    bool move(Move move, bool keepAnchor, qint64 pageLines);

    // The run of one class of characters that holds the position; at a line's end, its line
    // break.
    static Span runAt(const LogText &text, qint64 position);
    // The word a double-click at the position selects: the one that holds it or, since a click
    // lands on the nearer edge of a cell, the one that ends there. None between words.
    static std::optional<Span> wordAt(const LogText &text, qint64 position);

private:
    qint64 wordLeft() const;
    qint64 wordRight() const;
    qint64 atColumn(qint64 line, qint64 column) const;

    const LogText &m_text;
    qint64 m_anchor = 0;
    qint64 m_position = 0;
    // The column Up and Down keep to across shorter lines; -1 when the caret moved otherwise.
    qint64 m_desiredColumn = -1;
};
