// SPDX-License-Identifier: MIT
#include "app/NoticeView.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

#include <cmath>

namespace {

constexpr int kMargin = 4;
constexpr QColor kColor(0xb0, 0x00, 0x00);

} // namespace

NoticeView::NoticeView(QWidget *parent)
    : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void NoticeView::setText(const QString &text)
{
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

int NoticeView::layOut(QTextLayout &layout, int width) const
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setFont(font());
    layout.beginLayout();
    qreal y = 0;
    const qreal lineWidth = std::max(1, width - 2 * kMargin);
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return int(std::ceil(y)) + kMargin;
}

int NoticeView::heightForWidth(int width) const
{
    QTextLayout layout(m_text);
    return layOut(layout, width);
}

QSize NoticeView::sizeHint() const
{
    const int width = std::max(100, QFontMetrics(font()).averageCharWidth() * 40);
    return { width, heightForWidth(width) };
}

QSize NoticeView::minimumSizeHint() const
{
    return { 0, 0 };
}

void NoticeView::paintEvent(QPaintEvent *)
{
    QTextLayout layout(m_text);
    layOut(layout, width());
    QPainter painter(this);
    painter.setPen(kColor);
    layout.draw(&painter, QPointF(kMargin, kMargin / 2));
}
