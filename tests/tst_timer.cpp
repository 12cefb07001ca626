// SPDX-License-Identifier: MIT
#include "engine/Tick.h"
#include "engine/Timer.h"

#include <QSocketNotifier>
#include <QTest>

#include <chrono>
#include <thread>
#include <utility>

// Stopping, restarting and falling behind. Each check errs on the safe side of a slow machine:
// a late tick can only make it pass, never fail.
class tst_Timer : public QObject
{
    Q_OBJECT

private slots:
    void stopEndsTicks_data();
    void stopEndsTicks();
    void newIntervalGovernsNextTick_data();
    void newIntervalGovernsNextTick();
    void fallingBehindCatchesUpWithinLimit_data();
    void fallingBehindCatchesUpWithinLimit();
    void uptimeAdvances();
};

namespace {

using WakeUp = Timer::WakeUp;
enum class StopBy { Disabling, ZeroInterval };
enum class StopWhen { InHandler, WhileDue };

// Every table runs over both ways of waking the loop.
constexpr std::pair<WakeUp, const char *> kWakeUps[]
    = { { WakeUp::Descriptor, "descriptor" }, { WakeUp::QtTimer, "QTimer" } };

void stop(Timer &timer, StopBy by)
{
    if (by == StopBy::Disabling)
        timer.setEnabled(false);
    else
        timer.setInterval(0);
}

} // namespace

void tst_Timer::stopEndsTicks_data()
{
    QTest::addColumn<WakeUp>("wakeUp");
    QTest::addColumn<StopBy>("by");
    QTest::addColumn<StopWhen>("when");
    QTest::addColumn<bool>("restart");
    for (const auto &[wakeUp, name] : kWakeUps) {
        QTest::addRow("%s, disabled in its handler", name)
            << wakeUp << StopBy::Disabling << StopWhen::InHandler << false;
        QTest::addRow("%s, interval 0 in its handler", name)
            << wakeUp << StopBy::ZeroInterval << StopWhen::InHandler << false;
        // The deadline has passed but the loop has not run yet: that wake-up must not tick.
        QTest::addRow("%s, disabled while due", name)
            << wakeUp << StopBy::Disabling << StopWhen::WhileDue << false;
        QTest::addRow("%s, interval 0 while due", name)
            << wakeUp << StopBy::ZeroInterval << StopWhen::WhileDue << false;
        QTest::addRow("%s, restarted while due", name)
            << wakeUp << StopBy::Disabling << StopWhen::WhileDue << true;
    }
}

void tst_Timer::stopEndsTicks()
{
    QFETCH(WakeUp, wakeUp);
    QFETCH(StopBy, by);
    QFETCH(StopWhen, when);
    QFETCH(bool, restart);
    constexpr int kPeriod = 5;
    Timer timer(wakeUp);
    int ticks = 0;
    connect(&timer, &Timer::tick, this, [&] {
        if (++ticks == 2 && when == StopWhen::InHandler)
            stop(timer, by);
    });
    timer.setInterval(kPeriod);
    timer.setEnabled(true);
    QTRY_VERIFY(ticks >= 2);
    if (when == StopWhen::WhileDue) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * kPeriod));
        stop(timer, by);
    }
    QVERIFY(!timer.isTicking());
    const int stoppedAt = ticks;
    if (restart) {
        // A fresh countdown of a second: the stale wake-up must not count as its first tick.
        timer.setInterval(1000);
        timer.setEnabled(true);
        QVERIFY(timer.isTicking());
    }
    QTest::qWait(10 * kPeriod);
    QCOMPARE(ticks, stoppedAt);
}

void tst_Timer::newIntervalGovernsNextTick_data()
{
    QTest::addColumn<WakeUp>("wakeUp");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    // The interval moves from "from" to "to" in this many even steps, one every "every" ms.
    QTest::addColumn<int>("changes");
    QTest::addColumn<int>("every");
    for (const auto &[wakeUp, name] : kWakeUps) {
        // Under the old interval this would take a minute.
        QTest::addRow("%s, 60000 to 10", name) << wakeUp << 60000 << 10 << 1 << 20;
        // Arrow keys held on the slider, a little faster than the period.
        QTest::addRow("%s, 50 up to 100, once a period", name) << wakeUp << 50 << 100 << 10 << 45;
        // A mouse drag: ten changes within one period, each way.
        QTest::addRow("%s, 50 up to 100, ten a period", name) << wakeUp << 50 << 100 << 50 << 5;
        QTest::addRow("%s, 100 down to 50, ten a period", name) << wakeUp << 100 << 50 << 25 << 10;
    }
}

void tst_Timer::newIntervalGovernsNextTick()
{
    QFETCH(WakeUp, wakeUp);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, changes);
    QFETCH(int, every);
    // What a loaded machine may add to a tick's lateness.
    constexpr std::chrono::milliseconds kJitter { 50 };
    Timer timer(wakeUp);
    // The rows really take both paths.
    QCOMPARE(timer.findChild<QSocketNotifier *>() != nullptr, wakeUp == WakeUp::Descriptor);
    std::vector<std::chrono::steady_clock::time_point> ticks { std::chrono::steady_clock::now() };
    connect(&timer, &Timer::tick, this, [&] { ticks.push_back(std::chrono::steady_clock::now()); });
    timer.setInterval(from);
    timer.setEnabled(true);
    for (int i = 1; i <= changes; ++i) {
        QTest::qWait(every);
        timer.setInterval(from + (to - from) * i / changes);
    }
    const std::size_t changed = ticks.size();
    QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= changed + 3, 10000);
    // Changing the period keeps the stream going: no gap longer than the longer period.
    const auto longest = std::chrono::milliseconds(std::max(from, to)) + kJitter;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        const auto gap = ticks[i] - ticks[i - 1];
        QVERIFY2(gap <= longest,
            QByteArray::number(
                qint64(std::chrono::duration_cast<std::chrono::milliseconds>(gap).count())));
    }
}

void tst_Timer::fallingBehindCatchesUpWithinLimit_data()
{
    QTest::addColumn<WakeUp>("wakeUp");
    QTest::addColumn<int>("period");
    // How long one handler holds the loop up.
    QTest::addColumn<int>("stall");
    for (const auto &[wakeUp, name] : kWakeUps) {
        // A busy machine's hiccup: all 30 missed ticks are made up.
        QTest::addRow("%s, 1 ms, stalled 30 ms", name) << wakeUp << 1 << 30;
        // Past the limit: only the ticks due within it are made up, not a burst of ten.
        QTest::addRow("%s, 10 ms, stalled 100 ms", name) << wakeUp << 10 << 100;
    }
}

void tst_Timer::fallingBehindCatchesUpWithinLimit()
{
    using namespace std::chrono;
    QFETCH(WakeUp, wakeUp);
    QFETCH(int, period);
    QFETCH(int, stall);
    // What a loaded machine may add to the lateness of a tick.
    constexpr milliseconds kJitter { 10 };
    // Long enough after the stall for the missed ticks to have gone out on a slow machine.
    constexpr milliseconds kSettle { 200 };
    constexpr int kStalledTick = 5;
    Timer timer(wakeUp);
    // Taken before the countdown starts, so lateness is never understated.
    const steady_clock::time_point start = steady_clock::now();
    int ticks = 0;
    int ticksBeforeNextPass = 0;
    steady_clock::time_point stallEnd = steady_clock::time_point::max();
    steady_clock::time_point lastTick;
    // How far behind the schedule the first tick after the stall went out, and the least any did.
    steady_clock::duration firstLateness {};
    steady_clock::duration leastLateness = hours(1);
    connect(&timer, &Timer::tick, this, [&] {
        lastTick = steady_clock::now();
        const steady_clock::duration lateness = lastTick - (start + ++ticks * milliseconds(period));
        if (ticks == kStalledTick + 1)
            firstLateness = lateness;
        if (ticks > kStalledTick)
            leastLateness = std::min(leastLateness, lateness);
        if (ticks != kStalledTick)
            return;
        std::this_thread::sleep_for(milliseconds(stall));
        stallEnd = steady_clock::now();
        QMetaObject::invokeMethod(
            this, [&] { ticksBeforeNextPass = ticks; }, Qt::QueuedConnection);
    });
    timer.setInterval(period);
    timer.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks > kStalledTick + 1 && lastTick >= stallEnd + kSettle, 5000);
    // The ticks missed within the limit were made up; those before it were dropped, whole
    // periods, so the stream stays behind by them. Later hold-ups only leave it further behind.
    const steady_clock::duration dropped = std::max(firstLateness - Timer::kCatchUpLimit, {});
    const auto text = [&] {
        return QByteArray::number(qint64(duration_cast<microseconds>(firstLateness).count()))
            + " us late at first, "
            + QByteArray::number(qint64(duration_cast<microseconds>(leastLateness).count()))
            + " us at least";
    };
    QVERIFY2(leastLateness <= dropped + milliseconds(period) + kJitter, text());
    QVERIFY2(leastLateness >= dropped - kJitter, text());
    // The missed ticks go out one a pass of the loop, not all from one wake-up.
    QVERIFY2(ticksBeforeNextPass <= kStalledTick + 2, QByteArray::number(ticksBeforeNextPass));
}

void tst_Timer::uptimeAdvances()
{
    // The system's uptime counts in milliseconds: a 50 ms wait shows up as about 50.
    const quint32 before = systemUptimeMilliseconds();
    QTest::qSleep(50);
    const quint32 elapsed = systemUptimeMilliseconds() - before;
    QVERIFY2(elapsed >= 49 && elapsed < 5000, QByteArray::number(elapsed));
}

QTEST_GUILESS_MAIN(tst_Timer)
#include "tst_timer.moc"
