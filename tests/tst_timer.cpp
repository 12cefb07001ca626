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
    void fallingBehindSkipsMissedTicks_data();
    void fallingBehindSkipsMissedTicks();
    void uptimeAdvances();
};

namespace {

using WakeUp = Timer::WakeUp;
enum class StopBy { Disabling, ZeroInterval };
enum class StopWhen { InHandler, WhileDue };

// Every table runs over both ways of waking the loop.
constexpr std::pair<WakeUp, const char *> kWakeUps[]
    = { { WakeUp::Descriptor, "descriptor" }, { WakeUp::QtTimer, "QTimer" } };

void addWakeUpColumn()
{
    QTest::addColumn<WakeUp>("wakeUp");
    for (const auto &[wakeUp, name] : kWakeUps)
        QTest::newRow(name) << wakeUp;
}

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

void tst_Timer::fallingBehindSkipsMissedTicks_data()
{
    addWakeUpColumn();
}

void tst_Timer::fallingBehindSkipsMissedTicks()
{
    QFETCH(WakeUp, wakeUp);
    constexpr int kPeriod = 10;
    Timer timer(wakeUp);
    std::vector<std::chrono::steady_clock::time_point> ticks;
    connect(&timer, &Timer::tick, this, [&] {
        ticks.push_back(std::chrono::steady_clock::now());
        // One handler that overruns ten periods.
        if (ticks.size() == 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(10 * kPeriod));
    });
    timer.setInterval(kPeriod);
    timer.setEnabled(true);
    QTRY_VERIFY(ticks.size() >= 5);
    // At most one missed tick is made up at once; then the schedule resumes instead of sending
    // the other nine in a burst.
    const auto gap = ticks[4] - ticks[2];
    QVERIFY2(gap >= std::chrono::milliseconds(kPeriod / 2),
        QByteArray::number(
            qint64(std::chrono::duration_cast<std::chrono::microseconds>(gap).count())));
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
