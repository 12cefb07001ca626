// SPDX-License-Identifier: MIT
#include "pane/SteadyScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

void SteadyScrollBar::sliderChange(SliderChange change)
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle
        = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    // The arrows look disabled at an end, so reaching or leaving one is a change too.
    const int ends = (value() == minimum() ? 1 : 0) | (value() == maximum() ? 2 : 0);
    if (change != SliderOrientationChange && handle == m_handle && ends == m_ends)
        return;
    m_handle = handle;
    m_ends = ends;
    QScrollBar::sliderChange(change);
}
