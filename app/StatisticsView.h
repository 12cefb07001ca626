// SPDX-License-Identifier: MIT
#pragma once

#include "engine/LinkFigures.h"

#include <QGlyphRun>
#include <QRawFont>
#include <QWidget>

#include <QList>

#include <array>

// The link figures under the client area: a few short lines in one face. Its size hint depends
// on the font alone, so a new text repaints this widget and never lays out the window again;
// a label would, at every refresh, and cost a send several times what the send itself does.
class StatisticsView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLines = 3;

    explicit StatisticsView(QWidget *parent = nullptr);

    // At most kLines lines of figures, " | " between them; a line too long for the width is cut
    // at its end. Each figure's tooltip shows where the pointer rests on it.
    void setLines(const QList<LinkFigures::Line> &lines);
    QString text() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user asked for the figures as text (the context menu's copy).
    void copyRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    // One figure where it is drawn, with the separator before it, laid out once: a refresh
    // that changes one figure lays out and paints that figure alone, and those after it only
    // when it changed width. The glyphs sit on the baseline, from the cell's left end.
    struct Cell
    {
        QString text;
        QList<QGlyphRun> glyphs;
        qreal x = 0;
        qreal width = 0;
    };
    using Cells = QList<Cell>;

    static QString lineOf(const QList<LinkFigures::Line> &lines, int line);
    QString lineText(int line) const;
    Cells layOut(const LinkFigures::Line &figures, const Cells &before) const;
    QList<QGlyphRun> glyphsOf(const QString &text, qreal &width) const;
    QRect rowRect(int line) const;
    static QRect cellRect(const Cell &cell, const QRect &row);
    void relayOut();

    QList<LinkFigures::Line> m_lines;
    std::array<Cells, kLines> m_cells;
    // The face the figures are drawn in, read straight from its character map.
    QRawFont m_face;
};
