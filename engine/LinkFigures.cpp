// SPDX-License-Identifier: MIT
#include "engine/LinkFigures.h"

#include "engine/LinkStatistics.h"
#include "engine/StreamTable.h"

#include <QLocale>

namespace LinkFigures {
namespace {

constexpr char kSeparator[] = " | ";
constexpr char kSenders[] = "送信元 %1";
constexpr char kPattern[] = "順序通り %1 欠落 %2 順序違い %3 重複 %4";
constexpr char kRoundTrip[] = "往復 %1/%2 ms";
constexpr char kJitter[] = "ゆらぎ %1 ms";
constexpr char kOutages[] = "途絶 %1";
constexpr char kStream[] = "%1: 受信 %2 (%3 B) 順序通り %4 欠落 %5 順序違い %6 重複 %7";
constexpr char kStreamRoundTrip[] = " 往復 最小 %1 中央 %2 p99 %3 最大 %4 ms (%5 回)";
constexpr char kStreamJitter[] = " ゆらぎ %1 ms";
constexpr char kStreamOutages[] = " 途絶 %1 回 最長 %2 ms 計 %3 ms";
constexpr char kOthers[] = "その他";

constexpr char kPeriodTip[] = "送信の周期（スライダーの値）";
constexpr char kSentTip[] = "この実行で送ったデータグラムとバイト、送信バッファが一杯で破棄した数";
constexpr char kReceivedTip[]
    = "すべての送信元から受け取ったデータグラムとバイト、直前 1 秒間の受信レート";
constexpr char kSendersTip[] = "データグラムを受け取った送信元（アドレスとポート）の数";
constexpr char kPatternTip[]
    = "%1 からのテストデータグラムのカウンタ検査（この実行の全データグラム）";
constexpr char kRoundTripTip[] = "%1 のエコーの往復時間の中央値 / 99 パーセンタイル（この実行）";
constexpr char kJitterTip[] = "%1 の到着間隔ジッタ（RFC 3550、直近のテストデータグラムまで）";
constexpr char kOutagesTip[]
    = "%1 の途絶: 周期の 3 倍（50 ms 以上）を超えて途切れた回数（この実行）";

QString text(const char *s)
{
    return QString::fromUtf8(s);
}

QString milliseconds(qint64 ns)
{
    return QString::number(double(ns) / 1e6, 'f', 2);
}

const QLocale &numbers()
{
    static const QLocale locale(QLocale::English, QLocale::UnitedStates); // 1,234
    return locale;
}

QString count(qint64 n)
{
    return numbers().toString(n);
}

QString streamLine(const QString &name, const StreamMeter::Tally &tally,
    const PatternCheck::Counts &pattern, qint64 jitterNs)
{
    QString line
        = text(kStream).arg(name, count(tally.received), count(tally.bytes), count(pattern.inOrder),
            count(pattern.lost), count(pattern.outOfOrder), count(pattern.duplicates));
    if (tally.rtt.count() > 0)
        line += text(kStreamRoundTrip)
                    .arg(milliseconds(tally.rtt.min()), milliseconds(tally.rtt.percentile(50)),
                        milliseconds(tally.rtt.percentile(99)), milliseconds(tally.rtt.max()),
                        count(tally.rtt.count()));
    if (jitterNs >= 0)
        line += text(kStreamJitter).arg(milliseconds(jitterNs));
    if (tally.outages.count() > 0)
        line += text(kStreamOutages)
                    .arg(count(tally.outages.count()),
                        milliseconds(tally.outages.longest().durationNs),
                        milliseconds(tally.outages.downNs()));
    return line;
}

} // namespace

QList<Line> statusLines(const LinkStatistics &totals, const StreamTable &streams,
    const StreamMeter *shown, int periodMs, quint32 nowTickMs)
{
    const QStringList parts = totals.parts(periodMs, nowTickMs);
    QList<Line> lines { { { parts.value(0), text(kPeriodTip) },
                            { parts.value(1), text(kSentTip) } },
        { { parts.value(2), text(kReceivedTip) } }, {} };
    const PatternCheck::Counts pattern = shown ? shown->pattern() : PatternCheck::Counts {};
    const QString who = shown ? shown->key().toString() : QString();
    lines[0].append({ text(kSenders).arg(streams.size()), text(kSendersTip) });
    lines[2].append({ text(kPattern).arg(count(pattern.inOrder), count(pattern.lost),
                          count(pattern.outOfOrder), count(pattern.duplicates)),
        text(kPatternTip).arg(who) });
    if (!shown)
        return lines;
    const StreamMeter::Tally run = shown->soFar();
    if (run.rtt.count() > 0)
        lines[1].append({ text(kRoundTrip)
                              .arg(milliseconds(run.rtt.percentile(50)),
                                  milliseconds(run.rtt.percentile(99))),
            text(kRoundTripTip).arg(who) });
    if (shown->jitterNs() >= 0)
        lines[2].append(
            { text(kJitter).arg(milliseconds(shown->jitterNs())), text(kJitterTip).arg(who) });
    if (run.outages.count() > 0)
        lines[2].append(
            { text(kOutages).arg(count(run.outages.count())), text(kOutagesTip).arg(who) });
    return lines;
}

QString summary(
    const LinkStatistics &totals, const StreamTable &streams, int periodMs, quint32 nowTickMs)
{
    QString report = totals.summary(periodMs, nowTickMs) + QLatin1String(kSeparator)
        + text(kSenders).arg(streams.size());
    for (int i = 0; i < streams.size(); ++i) {
        const StreamMeter &stream = streams.at(i);
        report += QLatin1Char('\n')
            + streamLine(
                stream.key().toString(), stream.soFar(), stream.pattern(), stream.jitterNs());
    }
    if (streams.letGo() > 0)
        report += QLatin1Char('\n')
            + streamLine(text(kOthers), streams.othersRun(), streams.othersRun().pattern, -1);
    return report;
}

} // namespace LinkFigures
