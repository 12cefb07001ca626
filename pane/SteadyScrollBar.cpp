// SPDX-License-Identifier: MIT
#include "pane/SteadyScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cstdlib>

namespace {

// How far a style may draw around the handle it was given (an outline, a shadow).
constexpr int kHandleMargin = 2;

} // namespace

SteadyScrollBar::SteadyScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{ }

void SteadyScrollBar::setPosition(int maximum, int pageStep, int value)
{
    m_settling = true;
    setRange(0, maximum);
    setPageStep(pageStep);
    setValue(value);
    m_settling = false;
    repaintWhatMoved(SliderValueChange);
}

void SteadyScrollBar::sliderChange(SliderChange change)
{
    if (!m_settling)
        repaintWhatMoved(change);
}

QRect SteadyScrollBar::part(QStyle::SubControl control) const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, control, this);
}

void SteadyScrollBar::repaintHandle(const QRect &handle)
{
    // Fusion draws the handle alike all along its length, so only the stretches its two ends
    // moved over need painting: a few rows a line, where the whole handle of a short log is
    // taller than the raster engine fills on the painting thread alone.
    if (style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0) {
        update(m_handle.united(handle).adjusted(
            -kHandleMargin, -kHandleMargin, kHandleMargin, kHandleMargin));
        return;
    }
    const bool vertical = orientation() == Qt::Vertical;
    const auto stretch = [this, vertical](int from, int to) {
        const int low = std::min(from, to) - kHandleMargin;
        const int length = std::abs(to - from) + 1 + 2 * kHandleMargin;
        update(vertical ? QRect(0, low, width(), length) : QRect(low, 0, length, height()));
    };
    stretch(vertical ? m_handle.top() : m_handle.left(), vertical ? handle.top() : handle.left());
    stretch(vertical ? m_handle.bottom() : m_handle.right(),
        vertical ? handle.bottom() : handle.right());
}

void SteadyScrollBar::repaintWhatMoved(SliderChange change)
{
    const QRect handle = part(QStyle::SC_ScrollBarSlider);
    // The arrows look disabled at an end, so reaching or leaving one is a change too.
    const int ends = (value() == minimum() ? 1 : 0) | (value() == maximum() ? 2 : 0);
    if (change == SliderOrientationChange || !m_handle.isValid() || !handle.isValid()) {
        QScrollBar::sliderChange(change);
    } else {
        if (handle != m_handle)
            repaintHandle(handle);
        if (ends != m_ends) {
            update(part(QStyle::SC_ScrollBarSubLine));
            update(part(QStyle::SC_ScrollBarAddLine));
        }
    }
    m_handle = handle;
    m_ends = ends;
}
