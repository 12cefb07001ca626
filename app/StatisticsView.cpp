// SPDX-License-Identifier: MIT
#include "app/StatisticsView.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 2;
constexpr char kSeparator[] = " | ";
constexpr char kCopy[] = "コピー";

// A face with Japanese and Latin alike comes first, so that a digit after a Japanese word is
// not drawn in a different, fallback face from a digit after a Latin one.
QFont oneFaceFont(QFont font)
{
    QStringList families { QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック") };
    families += font.families().isEmpty() ? QStringList { font.family() } : font.families();
    font.setFamilies(families);
    return font;
}

} // namespace

StatisticsView::StatisticsView(QWidget *parent)
    : QWidget(parent)
{
    setFont(oneFaceFont(font()));
    m_face = QRawFont::fromFont(font());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StatisticsView::setLines(const QList<LinkFigures::Line> &lines)
{
    m_lines = lines.mid(0, kLines);
    for (int line = 0; line < kLines; ++line) {
        const Cells before = m_cells[size_t(line)];
        const Cells after = layOut(m_lines.value(line), before);
        m_cells[size_t(line)] = after;
        // Only what moved or changed is painted again.
        const QRect row = rowRect(line);
        const auto repaint = [this, row](const Cell &cell) { update(cellRect(cell, row)); };
        for (qsizetype i = 0; i < std::max(before.size(), after.size()); ++i) {
            if (i < before.size() && i < after.size() && before[i].x == after[i].x
                && before[i].text == after[i].text)
                continue;
            if (i < before.size())
                repaint(before[i]);
            if (i < after.size())
                repaint(after[i]);
        }
    }
}

StatisticsView::Cells StatisticsView::layOut(
    const LinkFigures::Line &figures, const Cells &before) const
{
    Cells cells;
    qreal x = kMargin;
    for (qsizetype i = 0; i < figures.size(); ++i) {
        const QString text
            = (i > 0 ? QLatin1String(kSeparator) : QLatin1String()) + figures[i].text;
        Cell cell;
        if (i < before.size() && before[i].text == text) {
            cell = before[i];
        } else {
            cell.text = text;
            cell.glyphs = glyphsOf(text, cell.width);
        }
        // Each figure starts on a whole pixel, where its glyphs are already cached.
        cell.x = std::ceil(x);
        x = cell.x;
        x += cell.width;
        cells.append(cell);
    }
    return cells;
}

QList<QGlyphRun> StatisticsView::glyphsOf(const QString &text, qreal &width) const
{
    // The figures are digits, Latin and Japanese in one face that has them all: its character
    // map and advances place them, where full shaping cost a refresh more than all the rest.
    const QList<quint32> glyphs = m_face.glyphIndexesForString(text);
    if (m_face.isValid() && !glyphs.isEmpty() && !glyphs.contains(0)) {
        const QList<QPointF> advances = m_face.advancesForGlyphIndexes(glyphs);
        QList<QPointF> positions;
        positions.reserve(advances.size());
        width = 0;
        for (const QPointF &advance : advances) {
            positions.append({ width, m_face.ascent() });
            width += advance.x();
        }
        QGlyphRun run;
        run.setRawFont(m_face);
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        return { run };
    }
    // What the face lacks comes from the text engine and its fallback faces.
    QTextLayout layout(text, font());
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    width = line.isValid() ? line.horizontalAdvance() : 0;
    return layout.glyphRuns();
}

QRect StatisticsView::rowRect(int line) const
{
    const int height = QFontMetrics(font()).lineSpacing();
    return { 0, kMargin + line * height, width(), height };
}

QRect StatisticsView::cellRect(const Cell &cell, const QRect &row)
{
    // A pixel either side for the ink of a glyph that reaches past its advance.
    return { int(std::floor(cell.x)) - 1, row.top(), int(std::ceil(cell.width)) + 3, row.height() };
}

void StatisticsView::relayOut()
{
    for (int line = 0; line < kLines; ++line)
        m_cells[size_t(line)] = layOut(m_lines.value(line), {});
    update();
}

QString StatisticsView::lineOf(const QList<LinkFigures::Line> &lines, int line)
{
    QStringList figures;
    for (const LinkFigures::Figure &figure : lines.value(line))
        figures.append(figure.text);
    return figures.join(QLatin1String(kSeparator));
}

QString StatisticsView::lineText(int line) const
{
    return lineOf(m_lines, line);
}

QString StatisticsView::text() const
{
    QStringList lines;
    for (int line = 0; line < m_lines.size(); ++line)
        lines.append(lineText(line));
    return lines.join(QLatin1Char('\n'));
}

bool StatisticsView::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto *const help = static_cast<QHelpEvent *>(event);
    const int line = (help->pos().y() - kMargin) / QFontMetrics(font()).lineSpacing();
    if (line >= 0 && line < m_lines.size()) {
        const Cells &cells = m_cells[size_t(line)];
        for (qsizetype i = 0; i < cells.size() && i < m_lines[line].size(); ++i) {
            if (help->pos().x() >= cells[i].x && help->pos().x() < cells[i].x + cells[i].width) {
                QToolTip::showText(help->globalPos(), m_lines[line][i].toolTip, this);
                return true;
            }
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

QSize StatisticsView::sizeHint() const
{
    const QFontMetrics metrics(font());
    return { metrics.averageCharWidth() * 40 + 2 * kMargin,
        metrics.lineSpacing() * kLines + 2 * kMargin };
}

QSize StatisticsView::minimumSizeHint() const
{
    return { 0, sizeHint().height() };
}

void StatisticsView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const qreal right = contentsRect().width() - kMargin;
    for (int line = 0; line < kLines; ++line) {
        const QRect row = rowRect(line);
        if (!event->rect().intersects(row))
            continue;
        for (const Cell &cell : m_cells[size_t(line)]) {
            if (cell.x + cell.width <= right) {
                if (event->region().intersects(cellRect(cell, row))) {
                    for (const QGlyphRun &run : cell.glyphs)
                        painter.drawGlyphRun(QPointF(cell.x, row.top()), run);
                }
                continue;
            }
            // A line too long for the width ends in an ellipsis inside the first figure
            // that does not fit.
            const QString cut = QFontMetrics(font()).elidedText(
                cell.text, Qt::ElideRight, int(std::max<qreal>(0, right - cell.x)));
            painter.drawText(QRectF(cell.x, row.top(), right - cell.x, row.height()),
                Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, cut);
            break;
        }
    }
}

void StatisticsView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    connect(menu.addAction(QString::fromUtf8(kCopy)), &QAction::triggered, this,
        &StatisticsView::copyRequested);
    menu.exec(event->globalPos());
}

void StatisticsView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // The hint follows the font; only then may the window lay out again.
    if (event->type() == QEvent::FontChange) {
        m_face = QRawFont::fromFont(font());
        relayOut();
        updateGeometry();
    }
}
