// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>

class LinkStatistics;
class StreamMeter;
class StreamTable;

// The link's figures as the front ends show them: the totals, and the measured stream of the
// peer (or else the busiest one) with the number of senders.
namespace LinkFigures {

// One figure of the status bar and what it measures, over what.
struct Figure
{
    QString text;
    QString toolTip;
};
using Line = QList<Figure>;

// Three short lines; byte counts scaled to fit.
QList<Line> statusLines(const LinkStatistics &totals, const StreamTable &streams,
    const StreamMeter *shown, int periodMs, quint32 nowTickMs);
// The totals on one line with every byte counted, then one line for each sender, to paste
// into a report.
QString summary(
    const LinkStatistics &totals, const StreamTable &streams, int periodMs, quint32 nowTickMs);

} // namespace LinkFigures
