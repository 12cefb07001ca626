// SPDX-License-Identifier: MIT
#include "Controls.h"

#include <QCheckBox>
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

int Controls::checkValue(const QCheckBox &box)
{
    return box.checkState() == Qt::Checked ? 1 : 0;
}
