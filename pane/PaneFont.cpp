// SPDX-License-Identifier: MIT
#include "pane/PaneFont.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QStringList>

namespace {

constexpr int kPointSize = 9;

QStringList preferredFamilies()
{
    // No alias maps the first name on Debian, so the whole list goes to the font matcher.
    return { QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
        QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック"), QStringLiteral("monospace") };
}

} // namespace

bool hasFixedAdvances(const QFont &font)
{
    // QFontInfo::fixedPitch() misreports these faces; the advances tell the truth. They are
    // compared unrounded, as the pane lays out its grid.
    const QFontMetricsF metrics(font);
    const qreal width = metrics.horizontalAdvance(QLatin1Char('0'));
    for (const char c : { 'i', 'W', 'm', ':', ' ', 'F', '1' }) {
        if (metrics.horizontalAdvance(QLatin1Char(c)) != width)
            return false;
    }
    return width > 0;
}

QFont paneFont()
{
    QFont font;
    font.setFamilies(preferredFamilies());
    font.setPointSize(kPointSize);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (hasFixedAdvances(font))
        return font;
    QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fallback.setPointSize(kPointSize);
    fallback.setWeight(QFont::Normal);
    return fallback;
}
