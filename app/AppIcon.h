// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>

// The one name the desktop entry, the icon file and the metainfo share.
inline constexpr char kApplicationId[] = "org.quillon.Quillon";

// The tool's own icon, drawn from the same SVG that is installed for the desktop, so the window
// and the launcher show the same picture.
QIcon appIcon();
