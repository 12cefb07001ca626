// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <QScrollBar>
#include <QStyle>

// A scroll bar that repaints only what moved: the handle, and the arrows when it reaches or
// leaves an end. A pane that follows a stream of lines changes the range at every line, while
// the handle of a long log moves by less than a pixel; painting the whole bar each time cost
// more than the lines did. A repaint of the whole bar, or of a tall handle, is also tall enough
// for Qt's raster engine to hand its fills to pool threads and wait for them.
class SteadyScrollBar : public QScrollBar
{
    Q_OBJECT

public:
    SteadyScrollBar(Qt::Orientation orientation, QWidget *parent);

    // Range 0 to `maximum`, page and value at once: what is repainted follows from where the
    // handle ends up, not from the steps on the way.
    void setPosition(int maximum, int pageStep, int value);

protected:
    void sliderChange(SliderChange change) override;

private:
    QRect part(QStyle::SubControl control) const;
    void repaintHandle(const QRect &handle);
    void repaintWhatMoved(SliderChange change);

    QRect m_handle;
    int m_ends = -1;
    bool m_settling = false;
};
