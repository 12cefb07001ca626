// SPDX-License-Identifier: MIT
#include "Common.h"
#include "LogPane.h"
#include "RecordingReporter.h"
#include "Timer.h"
#include "UdpEndpoint.h"
#include "frmMain.h"

#include <QCheckBox>
#include <QImage>
#include <QMenuBar>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QUdpSocket>

#include <cerrno>
#include <memory>

namespace {

constexpr quint32 kFixedTick = 7654321;

struct Window
{
    RecordingReporter reporter;
    std::unique_ptr<frmMain> window;

    Window()
        : window(std::make_unique<frmMain>([] { return kFixedTick; }, reporter))
    { }

    template <typename T> T *get(const char *name) const
    {
        T *child = window->findChild<T *>(QLatin1String(name));
        Q_ASSERT(child);
        return child;
    }
    LogPane *status() const { return get<LogPane>("txtStat"); }
    LogPane *dump() const { return get<LogPane>("txtDump"); }
    QPushButton *send() const { return get<QPushButton>("cmdSend"); }
    QSlider *period() const { return get<QSlider>("sldPeriod"); }
    QCheckBox *dumpBox() const { return get<QCheckBox>("chkDump"); }
    Timer *timer() const { return get<Timer>("tmr1"); }
};

bool portIsFree()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::Any, frmMain::kLocalPort);
}

QList<QByteArray> lines(const LogPane *pane)
{
    QList<QByteArray> result = pane->text().split('\n');
    result.removeLast();
    for (QByteArray &line : result)
        line.chop(1);
    return result;
}

} // namespace

class tst_frmMain : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void captionsAndInitialState();
    void tabOrder();
    void resizingMovesNothing();
    void everyWayOfClosingFreesThePort_data();
    void everyWayOfClosingFreesThePort();
    void takenPortReportsSystemError();

    void counterRunsAndWraps();
    void restartContinuesCounter();
    void sliderZeroSendsNothing();
    void dumpAddsFourLinesAndBlank();

    void receivedSizes_data();
    void receivedSizes();
    void sendAndReceiveInterleave();
    void clearWhileArriving();
    void burstIsLoggedCompletelyInOrder();
};

void tst_frmMain::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("txtDump") << "txtDump" << QRect(0, 0, 233, 177);
    QTest::newRow("cmdSend") << "cmdSend" << QRect(272, 16, 129, 65);
    QTest::newRow("txtStat") << "txtStat" << QRect(0, 216, 233, 161);
    QTest::newRow("sldPeriod") << "sldPeriod" << QRect(272, 104, 129, 33);
    QTest::newRow("chkDump") << "chkDump" << QRect(288, 224, 81, 25);
    QTest::newRow("cmdMonitorInit") << "cmdMonitorInit" << QRect(272, 168, 129, 33);
}

void tst_frmMain::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    Window w;
    w.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    QCOMPARE(w.get<QWidget>(qPrintable(name))->geometry(), geometry);
    QCOMPARE(w.window->centralWidget()->size(), QSize(434, 383));
}

void tst_frmMain::captionsAndInitialState()
{
    Window w;
    QCOMPARE(w.window->windowTitle(), QStringLiteral("Quillon2-1(UDP)"));
    // The icon is drawn from the installed SVG: an empty one means the resource went missing.
    const QImage icon = w.window->windowIcon().pixmap(48, 48).toImage();
    QVERIFY(!icon.isNull());
    QVERIFY(icon.pixelColor(24, 24).alpha() > 0);
    QCOMPARE(w.send()->text(), QStringLiteral("送信"));
    QCOMPARE(w.get<QPushButton>("cmdMonitorInit")->text(), QStringLiteral("表示初期化"));
    QCOMPARE(w.dumpBox()->text(), QStringLiteral("ダンプする"));
    QVERIFY(!w.dumpBox()->isChecked());
    QVERIFY(w.send()->isEnabled());
    QCOMPARE(w.period()->value(), 500);
    QCOMPARE(w.period()->minimum(), 0);
    QCOMPARE(w.period()->maximum(), 1000);
    QCOMPARE(w.period()->singleStep(), 10);
    QCOMPARE(w.period()->pageStep(), 100);
    QCOMPARE(w.period()->tickInterval(), 100);
    QCOMPARE(w.period()->orientation(), Qt::Horizontal);
    QVERIFY(!w.timer()->enabled());
    QCOMPARE(w.timer()->interval(), 500);
    QCOMPARE(w.status()->text(), QByteArray());
    QCOMPARE(w.dump()->text(), QByteArray());
    QCOMPARE(w.window->patternCounter(), 0);
    QVERIFY(w.reporter.reports.isEmpty());

    const QList<QAction *> menus = w.window->menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus.first()->text(), QStringLiteral("ファイル"));
    const QList<QAction *> items = menus.first()->menu()->actions();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first()->text(), QStringLiteral("終了"));
    QVERIFY(items.first()->shortcut().isEmpty());
}

void tst_frmMain::tabOrder()
{
    Window w;
    const QStringList expected
        = { "txtDump", "cmdSend", "txtStat", "sldPeriod", "chkDump", "cmdMonitorInit" };
    QWidget *widget = w.get<QWidget>("txtDump");
    for (const QString &name : expected) {
        QCOMPARE(widget->objectName(), name);
        do
            widget = widget->nextInFocusChain();
        while (!(widget->focusPolicy() & Qt::TabFocus) || widget->objectName().isEmpty());
    }
    QCOMPARE(widget->objectName(), expected.first());
}

void tst_frmMain::resizingMovesNothing()
{
    Window w;
    w.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    w.window->resize(900, 700);
    QTest::qWait(20);
    QCOMPARE(w.get<QWidget>("cmdSend")->geometry(), QRect(272, 16, 129, 65));
    QCOMPARE(w.status()->geometry(), QRect(0, 216, 233, 161));
    w.window->resize(200, 150);
    QTest::qWait(20);
    QCOMPARE(w.get<QWidget>("chkDump")->geometry(), QRect(288, 224, 81, 25));
}

void tst_frmMain::everyWayOfClosingFreesThePort_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("menu") << 0;
    QTest::newRow("close box") << 1;
    QTest::newRow("window destroyed") << 2;
}

void tst_frmMain::everyWayOfClosingFreesThePort()
{
    QFETCH(int, way);
    Window w;
    w.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    QVERIFY(!portIsFree());
    w.send()->click(); // the sender runs while the window goes
    if (way == 0)
        w.get<QAction>("mnuExit")->trigger();
    else if (way == 1)
        QVERIFY(w.window->close());
    else
        w.window.reset();
    QVERIFY(!w.window || !w.window->isVisible());
    QVERIFY(portIsFree());
    if (w.window)
        QVERIFY(!w.timer()->isTicking());
    QVERIFY(w.reporter.reports.isEmpty());
}

void tst_frmMain::takenPortReportsSystemError()
{
    Window first;
    Window second;
    QCOMPARE(second.reporter.reports.size(), 1);
    QCOMPARE(second.reporter.reports.first().first, EADDRINUSE);
    QCOMPARE(second.reporter.reports.first().second, qt_error_string(EADDRINUSE));
    QVERIFY(first.reporter.reports.isEmpty());
}

void tst_frmMain::counterRunsAndWraps()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, frmMain::kRemotePort));
    Window w;
    w.period()->setValue(1);
    w.send()->click();
    QCOMPARE(w.send()->text(), QStringLiteral("停止"));

    QList<QNetworkDatagram> received;
    QVERIFY(QTest::qWaitFor(
        [&] {
            while (peer.hasPendingDatagrams())
                received << peer.receiveDatagram();
            if (received.size() >= 257 && w.timer()->enabled())
                w.send()->click();
            return received.size() >= 257;
        },
        20000));
    QCOMPARE(w.send()->text(), QStringLiteral("送信"));
    for (int i = 0; i < 257; ++i) {
        const QByteArray expected = QByteArray(4, char(i % 256)) + QByteArray(12, '\0');
        QCOMPARE(received[i].data(), expected);
        QCOMPARE(received[i].senderPort(), int(frmMain::kLocalPort));
    }
    const QList<QByteArray> status = lines(w.status());
    QVERIFY(status.size() >= 257);
    for (const QByteArray &line : status)
        QCOMPARE(line, QByteArray("Send 16 7654321"));
    QVERIFY(w.reporter.reports.isEmpty());
}

void tst_frmMain::restartContinuesCounter()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, frmMain::kRemotePort));
    Window w;
    w.period()->setValue(20);
    // Stop right after the tick that sent 05, as a user's click would.
    connect(w.timer(), &Timer::tick, this, [&w] {
        if (w.window->patternCounter() == 6)
            w.send()->click();
    });
    w.send()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.timer()->enabled(), 5000);
    QCOMPARE(w.window->patternCounter(), 6);
    disconnect(w.timer(), &Timer::tick, this, nullptr);
    w.get<QPushButton>("cmdMonitorInit")->click();
    QTest::qWait(60);
    QCOMPARE(w.window->patternCounter(), 6);
    while (peer.hasPendingDatagrams())
        peer.receiveDatagram();

    w.send()->click();
    QTRY_VERIFY(peer.hasPendingDatagrams());
    QCOMPARE(peer.receiveDatagram().data().left(4), QByteArray(4, '\x06'));
}

void tst_frmMain::sliderZeroSendsNothing()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, frmMain::kRemotePort));
    Window w;
    w.send()->click();
    w.period()->setValue(0);
    QTest::qWait(300);
    QCOMPARE(w.send()->text(), QStringLiteral("停止"));
    QVERIFY(!peer.hasPendingDatagrams());
    QCOMPARE(w.status()->text(), QByteArray());

    w.period()->setValue(100);
    QElapsedTimer clock;
    clock.start();
    int count = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            while (peer.hasPendingDatagrams()) {
                peer.receiveDatagram();
                ++count;
            }
            return count >= 5;
        },
        5000));
    // Five datagrams at 100 ms take about half a second; generous bounds for a busy machine.
    QVERIFY2(clock.elapsed() >= 450 && clock.elapsed() < 2000, QByteArray::number(clock.elapsed()));
}

void tst_frmMain::dumpAddsFourLinesAndBlank()
{
    Window w;
    w.dumpBox()->setChecked(true);
    w.period()->setValue(10);
    w.send()->click();
    QTRY_VERIFY(w.window->patternCounter() >= 2);
    w.send()->click();
    const int ticks = w.window->patternCounter();
    const QList<QByteArray> dump = lines(w.dump());
    QCOMPARE(dump.size(), ticks * 5);
    for (int t = 0; t < ticks; ++t) {
        const QByteArray cell = QByteArray::number(t, 16).toUpper().rightJustified(2, '0');
        QCOMPARE(dump[t * 5], "0000 : " + cell + ' ' + cell + ' ' + cell + ' ' + cell);
        QCOMPARE(dump[t * 5 + 1], QByteArray("0001 : 00 00 00 00"));
        QCOMPARE(dump[t * 5 + 3], QByteArray("0003 : 00 00 00 00"));
        QCOMPARE(dump[t * 5 + 4], QByteArray());
    }
}

void tst_frmMain::receivedSizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("ipv6");
    for (const int size : { 0, 1, 3, 5, 6, 16, 1472, 32767, 32768, 65507 })
        QTest::addRow("%d", size) << size << false;
    QTest::newRow("65527 from IPv6") << 65527 << true;
    QTest::newRow("0 from IPv6") << 0 << true;
}

void tst_frmMain::receivedSizes()
{
    QFETCH(int, size);
    QFETCH(bool, ipv6);
    Window w;
    w.dumpBox()->setChecked(true);
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char(i * 13 + 1);
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram(payload,
                 ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, frmMain::kLocalPort),
        qint64(size));
    QTRY_VERIFY(!w.status()->text().isEmpty());
    QCOMPARE(w.status()->text(), "Receive " + QByteArray::number(size) + " 7654321\r\n");
    QCOMPARE(w.dump()->text(), Common::HexDump(payload) + "\r\n");
    QCOMPARE(w.dump()->content().lineCount() - 2, size / 4);
}

void tst_frmMain::sendAndReceiveInterleave()
{
    // An echo peer: every datagram the tool sends comes straight back.
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, frmMain::kRemotePort));
    connect(&peer, &QUdpSocket::readyRead, this, [&peer] {
        while (peer.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = peer.receiveDatagram();
            peer.writeDatagram(
                datagram.data().left(5), datagram.senderAddress(), quint16(datagram.senderPort()));
        }
    });
    Window w;
    w.period()->setValue(30);
    w.send()->click();
    QTRY_VERIFY_WITH_TIMEOUT(lines(w.status()).size() >= 10, 5000);
    w.send()->click();
    QTest::qWait(50);
    const QList<QByteArray> status = lines(w.status());
    for (int i = 0; i + 1 < status.size(); i += 2) {
        QCOMPARE(status[i], QByteArray("Send 16 7654321"));
        QCOMPARE(status[i + 1], QByteArray("Receive 5 7654321"));
    }
}

void tst_frmMain::clearWhileArriving()
{
    Window w;
    QUdpSocket sender;
    QTimer flow;
    int sent = 0;
    connect(&flow, &QTimer::timeout, this, [&] {
        sender.writeDatagram(
            QByteArray(++sent % 7, 'a'), QHostAddress::LocalHost, frmMain::kLocalPort);
    });
    flow.start(2);
    QTRY_VERIFY(lines(w.status()).size() > 20);
    w.get<QPushButton>("cmdMonitorInit")->click();
    const int sentAtClear = sent;
    QCOMPARE(w.status()->text(), QByteArray());
    QTRY_VERIFY(!w.status()->text().isEmpty());
    flow.stop();
    const QByteArray first = lines(w.status()).first();
    QVERIFY2(first.startsWith("Receive ") && first.endsWith(" 7654321"), first);
    QVERIFY(sent > sentAtClear);
}

void tst_frmMain::burstIsLoggedCompletelyInOrder()
{
    Window w;
    QUdpSocket sender;
    constexpr int kBurst = 10000;
    // Sizes encode the order. Chunks of 500 go out as fast as the sender can write them;
    // between chunks the tool may catch up, as it would between a peer's bursts.
    constexpr int kChunk = 500;
    for (int sent = 0; sent < kBurst;) {
        for (int k = 0; k < kChunk; ++k, ++sent)
            QCOMPARE(sender.writeDatagram(
                         QByteArray(sent % 64, 'b'), QHostAddress::LocalHost, frmMain::kLocalPort),
                qint64(sent % 64));
        QTRY_COMPARE_WITH_TIMEOUT(w.status()->content().lineCount() - 1, qint64(sent), 10000);
    }
    const QList<QByteArray> status = lines(w.status());
    for (int i = 0; i < kBurst; ++i)
        QCOMPARE(status[i], "Receive " + QByteArray::number(i % 64) + " 7654321");
}

QTEST_MAIN(tst_frmMain)
#include "tst_frmmain.moc"
