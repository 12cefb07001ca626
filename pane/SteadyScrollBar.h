// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <QScrollBar>

// A scroll bar that repaints only when what it shows moves: its handle, or whether it sits at
// an end. A pane that follows a stream of lines changes the range at every refresh, while the
// handle of a long log moves by less than a pixel; painting it each time cost more than the
// lines did.
class SteadyScrollBar : public QScrollBar
{
    Q_OBJECT

public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override;

private:
    QRect m_handle;
    int m_ends = -1;
};
