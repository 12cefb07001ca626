// SPDX-License-Identifier: MIT
#pragma once

#include "engine/Settings.h"

class QSlider;

namespace Controls {

inline constexpr int kPeriodMinimum = Settings::kMinPeriod;
inline constexpr int kPeriodMaximum = Settings::kMaxPeriod;
inline constexpr int kPeriodSmallStep = 10;
inline constexpr int kPeriodLargeStep = 100;
inline constexpr int kPeriodTickInterval = 100;

// Horizontal, 0 to 1000 ms, with a tick mark every 100. QSlider notifies a value change only
// when the value differs, as the window relies on.
void setUpPeriodSlider(QSlider &slider);

} // namespace Controls
