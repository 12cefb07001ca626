// SPDX-License-Identifier: MIT
#include "app/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon appIcon()
{
    // Rendered here rather than through Qt's SVG icon plugin, which is a separate package that a
    // desktop may not have installed.
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(QLatin1StringView(kApplicationId)));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (const int size : { 16, 24, 32, 48, 64, 128, 256 }) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
