// SPDX-License-Identifier: MIT
#include "app/StatisticsView.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QToolTip>

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
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StatisticsView::setLines(const QList<LinkFigures::Line> &lines)
{
    m_lines = lines.mid(0, kLines);
    update();
}

QString StatisticsView::lineText(int line) const
{
    QStringList figures;
    for (const LinkFigures::Figure &figure : m_lines.at(line))
        figures.append(figure.text);
    return figures.join(QLatin1String(kSeparator));
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
    const QFontMetrics metrics(font());
    const int line = (help->pos().y() - kMargin) / metrics.lineSpacing();
    if (line >= 0 && line < m_lines.size()) {
        int x = kMargin;
        for (const LinkFigures::Figure &figure : m_lines.at(line)) {
            const int width = metrics.horizontalAdvance(figure.text + QLatin1String(kSeparator));
            if (help->pos().x() >= x && help->pos().x() < x + width) {
                QToolTip::showText(help->globalPos(), figure.toolTip, this);
                return true;
            }
            x += width;
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

void StatisticsView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    const int width = contentsRect().width() - 2 * kMargin;
    int y = kMargin + metrics.ascent();
    for (int line = 0; line < m_lines.size(); ++line) {
        painter.drawText(kMargin, y, metrics.elidedText(lineText(line), Qt::ElideRight, width));
        y += metrics.lineSpacing();
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
    if (event->type() == QEvent::FontChange)
        updateGeometry();
}
