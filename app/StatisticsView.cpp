// SPDX-License-Identifier: MIT
#include "app/StatisticsView.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMenu>
#include <QPaintEvent>
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
    const QList<LinkFigures::Line> old = m_lines;
    m_lines = lines.mid(0, kLines);
    // Only the lines whose figures changed are painted again.
    const int height = QFontMetrics(font()).lineSpacing();
    for (int line = 0; line < kLines; ++line) {
        if (lineOf(old, line) != lineOf(m_lines, line))
            update(QRect(0, kMargin + line * height, width(), height));
    }
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

void StatisticsView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    const int width = contentsRect().width() - 2 * kMargin;
    for (int line = 0; line < m_lines.size(); ++line) {
        const QRect row(
            0, kMargin + line * metrics.lineSpacing(), this->width(), metrics.lineSpacing());
        if (!event->rect().intersects(row))
            continue;
        const QString text = metrics.elidedText(lineText(line), Qt::ElideRight, width);
        QStaticText &shown = m_shown[size_t(line)];
        if (shown.text() != text) {
            shown.setText(text);
            shown.setTextFormat(Qt::PlainText);
            shown.prepare(QTransform(), font());
        }
        painter.drawStaticText(kMargin, row.top(), shown);
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
