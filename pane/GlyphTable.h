// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QList>
#include <QPointF>
#include <QRawFont>

#include <array>

class QFont;
class QPainter;

// The glyph of every byte of a fixed-pitch face, looked up once. A log line is Latin-1 on a grid
// of equal cells, so its glyphs can be drawn straight from the table: nothing is shaped again
// at every repaint, which cost the pane most of a send at a human period.
class GlyphTable
{
public:
    GlyphTable() = default;
    explicit GlyphTable(const QFont &font);

    // Draws the bytes one cell of `advance` apart from the baseline origin, as drawText() would.
    // Draws nothing and returns false when a byte has no glyph of its own in the face (a control
    // character, a letter the face lacks), so that the caller lets the text engine find one.
    bool draw(QPainter &painter, QPointF origin, QByteArrayView bytes, qreal advance);

private:
    QRawFont m_font;
    // 0 for a byte left to the text engine.
    std::array<quint32, 256> m_glyphs {};
    // Kept between runs so that drawing allocates nothing.
    QList<quint32> m_indexes;
    QList<QPointF> m_positions;
};
