// SPDX-License-Identifier: MIT
#include "pane/GlyphTable.h"

#include <QFont>
#include <QGlyphRun>
#include <QPainter>
#include <QString>

GlyphTable::GlyphTable(const QFont &font)
    : m_font(QRawFont::fromFont(font))
{
    if (!m_font.isValid())
        return;
    for (int byte = 0; byte < int(m_glyphs.size()); ++byte) {
        const QChar c = QChar::fromLatin1(char(byte));
        // The text engine treats control characters its own way; leave them to it.
        if (c.category() == QChar::Other_Control || !m_font.supportsCharacter(c))
            continue;
        const QList<quint32> index = m_font.glyphIndexesForString(QString(c));
        if (index.size() == 1)
            m_glyphs[size_t(byte)] = index.first();
    }
}

bool GlyphTable::draw(QPainter &painter, QPointF origin, QByteArrayView bytes, qreal advance)
{
    m_indexes.resize(bytes.size());
    m_positions.resize(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const quint32 glyph = m_glyphs[size_t(quint8(bytes[i]))];
        if (glyph == 0)
            return false;
        m_indexes[i] = glyph;
        m_positions[i] = QPointF(qreal(i) * advance, 0);
    }
    QGlyphRun run;
    run.setRawFont(m_font);
    run.setGlyphIndexes(m_indexes);
    run.setPositions(m_positions);
    painter.drawGlyphRun(origin, run);
    return true;
}
