// SPDX-License-Identifier: MIT
#include "app/StatisticsView.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>

namespace {

constexpr int kMargin = 2;
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

void StatisticsView::setLines(const QStringList &lines)
{
    if (lines == m_lines)
        return;
    m_lines = lines.mid(0, kLines);
    update();
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
    for (const QString &line : m_lines) {
        painter.drawText(kMargin, y, metrics.elidedText(line, Qt::ElideRight, width));
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
