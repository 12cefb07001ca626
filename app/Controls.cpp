// SPDX-License-Identifier: MIT
#include "app/Controls.h"

#include <QSlider>

void Controls::setUpPeriodSlider(QSlider &slider)
{
    slider.setOrientation(Qt::Horizontal);
    slider.setRange(kPeriodMinimum, kPeriodMaximum);
    slider.setSingleStep(kPeriodSmallStep);
    slider.setPageStep(kPeriodLargeStep);
    slider.setTickInterval(kPeriodTickInterval);
    slider.setTickPosition(QSlider::TicksBelow);
}
