// SPDX-License-Identifier: MIT
#include "RecordingReporter.h"
#include "ScriptedLookup.h"
#include "TestSupport.h"
#include "app/DatagramListModel.h"
#include "app/DatagramListWindow.h"
#include "app/NoticeView.h"
#include "app/StatisticsView.h"
#include "app/ViewMenu.h"
#include "app/frmMain.h"
#include "engine/LinkEngine.h"
#include "engine/StreamMeter.h"
#include "engine/Timer.h"
#include "log/CanonicalDump.h"
#include "log/Common.h"
#include "net/UdpEndpoint.h"
#include "pane/LogPane.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <cerrno>
#include <functional>
#include <memory>
#include <netdb.h>
#include <optional>

using TestSupport::portIsFree;

namespace {

constexpr quint32 kFixedTick = 7654321;

struct Window
{
    RecordingReporter reporter;
    std::unique_ptr<frmMain> window;

    explicit Window(
        const Settings &settings = {}, std::unique_ptr<HostLookup> lookup = {},
        TickSource tick = [] { return kFixedTick; })
        : window(std::make_unique<frmMain>(std::move(tick), reporter, settings, std::move(lookup)))
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
    StatisticsView *statistics() const { return get<StatisticsView>("statistics"); }
    QAction *action(const char *name) const { return get<QAction>(name); }
};

// Answers the next modal dialog, a file dialog with the path or a message box with OK, once it
// is open.
void answerNextDialog(QObject *context, const QString &path = {})
{
    QTimer::singleShot(0, context, [path] {
        QWidget *const modal = QApplication::activeModalWidget();
        if (auto *const dialog = qobject_cast<QFileDialog *>(modal)) {
            dialog->selectFile(path);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
        } else if (auto *const box = qobject_cast<QMessageBox *>(modal)) {
            box->accept();
        }
    });
}

// The status line of a datagram of `size` bytes, at the fixed tick, without its line end.
QByteArray receiveLine(qsizetype size)
{
    return "Receive " + QByteArray::number(size) + " 7654321";
}

// A peer on the tool's remote port that sends back what `echo` makes of each datagram, until
// it returns nothing.
class EchoPeer : public QObject
{
public:
    using Echo = std::function<std::optional<QByteArray>(const QByteArray &)>;
    explicit EchoPeer(Echo echo)
        : m_echo(std::move(echo))
    {
        m_bound = m_socket.bind(QHostAddress::LocalHost, frmMain::kRemotePort);
        connect(&m_socket, &QUdpSocket::readyRead, this, &EchoPeer::answer);
    }
    bool isBound() const { return m_bound; }

private:
    void answer()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = m_socket.receiveDatagram();
            if (const std::optional<QByteArray> reply = m_echo(datagram.data()))
                m_socket.writeDatagram(
                    *reply, datagram.senderAddress(), quint16(datagram.senderPort()));
        }
    }

    const Echo m_echo;
    QUdpSocket m_socket;
    bool m_bound = false;
};

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
    void startsAsSettingsSay_data();
    void startsAsSettingsSay();
    void tabOrder();
    void resizingMovesNothing();
    void everyWayOfClosingFreesThePort_data();
    void everyWayOfClosingFreesThePort();
    void bindFailureNamesTheAddress_data();
    void bindFailureNamesTheAddress();
    void peerLookup_data();
    void peerLookup();

    void counterRunsAndWraps();
    void restartContinuesCounter();
    void sliderZeroSendsNothing();
    void dumpAddsFourLinesAndBlank();
    void fullLinkDropsWithoutSendLine();
    void statisticsOfAnEchoThatDropsATenth();
    void figures_data();
    void figures();

    void receivedSizes_data();
    void receivedSizes();
    void sendAndReceiveInterleave();
    void clearWhileArriving();
    void burstIsLoggedCompletelyInOrder();
    void savedLogIsThePaneText_data();
    void savedLogIsThePaneText();
    void fileLogsGetEveryLine();
    void failingFileLogIsSaidOnceAndTheRunGoesOn();
    void datagramListSaysWhoAndEveryByte();

private:
    // The file dialogs remember their folders.
    const TestSupport::TestModeSettings m_settings;
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
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus.first()->text(), QStringLiteral("ファイル"));
    QStringList items;
    for (const QAction *item : menus.first()->menu()->actions())
        items << item->text();
    QCOMPARE(items,
        QStringList(
            { "ステータスログを保存...", "ダンプログを保存...", "統計をコピー", "", "終了" }));
    QCOMPARE(menus.last()->text(), QStringLiteral("表示"));
    QStringList views;
    for (const QAction *item : menus.last()->menu()->actions())
        views << item->text();
    for (const char *view : { "グラフ", "ステータスログ", "ダンプログ", "データグラム一覧" })
        QVERIFY2(views.contains(QString::fromUtf8(view)), view);
    QVERIFY(w.action("mnuExit")->shortcut().isEmpty());
    QVERIFY2(w.statistics()->text().startsWith(QStringLiteral("周期 500 ms | 送信 0 (0 B)")),
        qPrintable(w.statistics()->text()));
}

void tst_frmMain::startsAsSettingsSay_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("period");
    QTest::addColumn<bool>("dump");
    QTest::addColumn<bool>("sending");

    QTest::newRow("defaults") << QStringList() << "Quillon2-1(UDP)" << 500 << false << false;
    QTest::newRow("the pair's other half")
        << QStringList { "bind", "peer" } << "Quillon2-1(UDP) *:20319 → localhost:20320" << 500
        << false << false;
    QTest::newRow("period, dump, send")
        << QStringList { "period", "dump", "send" } << "Quillon2-1(UDP)" << 100 << true << true;
}

void tst_frmMain::startsAsSettingsSay()
{
    QFETCH(QStringList, options);
    QFETCH(QString, title);
    QFETCH(int, period);
    QFETCH(bool, dump);
    QFETCH(bool, sending);
    Settings settings;
    if (options.contains("bind"))
        settings.bindPort = frmMain::kRemotePort;
    if (options.contains("peer"))
        settings.peerPort = frmMain::kLocalPort;
    if (options.contains("period"))
        settings.period = 100;
    settings.dumpAtStart = options.contains("dump");
    settings.sendAtStart = options.contains("send");
    Window w(settings);
    QCOMPARE(w.window->windowTitle(), title);
    QCOMPARE(w.period()->value(), period);
    QCOMPARE(w.timer()->interval(), period);
    QCOMPARE(w.dumpBox()->isChecked(), dump);
    QCOMPARE(w.timer()->enabled(), sending);
    QCOMPARE(w.send()->text(), sending ? QStringLiteral("停止") : QStringLiteral("送信"));
    QVERIFY(w.reporter.reports.isEmpty());
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
    // The client area has taken the new size: the controls in it must not have moved.
    QTRY_COMPARE(w.window->centralWidget()->width(), 900);
    QCOMPARE(w.get<QWidget>("cmdSend")->geometry(), QRect(272, 16, 129, 65));
    QCOMPARE(w.status()->geometry(), QRect(0, 216, 233, 161));
    w.window->resize(200, 150);
    QTRY_COMPARE(w.window->centralWidget()->width(), 200);
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

void tst_frmMain::bindFailureNamesTheAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("named");
    QTest::newRow("taken by a first copy") << QString() << EADDRINUSE << "*:20320";
    QTest::newRow("not an address of this host")
        << "192.0.2.1" << EADDRNOTAVAIL << "192.0.2.1:20320";
}

void tst_frmMain::bindFailureNamesTheAddress()
{
    QFETCH(QString, address);
    QFETCH(int, code);
    QFETCH(QString, named);
    Window first;
    Settings settings;
    if (!address.isEmpty())
        settings.bindAddress = QHostAddress(address);
    Window second(settings);
    QCOMPARE(second.reporter.reports.size(), 1);
    QCOMPARE(second.reporter.reports.first().first, code);
    // The system's text first, then the address it refused and, when taken, by whom it may be.
    const QString description = second.reporter.reports.first().second;
    QVERIFY2(description.startsWith(qt_error_string(code) + "\n\n") && description.contains(named)
            && description.contains("別のコピー") == (code == EADDRINUSE),
        qPrintable(description));
    QVERIFY(first.reporter.reports.isEmpty());
}

void tst_frmMain::peerLookup_data()
{
    QTest::addColumn<bool>("fails");
    QTest::newRow("answers late") << false;
    QTest::newRow("fails") << true;
}

void tst_frmMain::peerLookup()
{
    QFETCH(bool, fails);
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, frmMain::kRemotePort));
    LookupAnswer answer;
    if (fails)
        answer.error = SocketError::fromResolver(EAI_NONAME);
    else
        answer.addresses = { QHostAddress(QHostAddress::LocalHost) };
    auto *const lookup = new ScriptedLookup(answer);
    Settings settings;
    settings.peerHost = QStringLiteral("peer.test");
    settings.period = 10;
    settings.sendAtStart = true;
    Window w(settings, std::unique_ptr<HostLookup>(lookup));
    w.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    QCOMPARE(lookup->asked, QStringList { "peer.test" });

    // Unanswered, ticks send nothing, count nothing and log nothing; the window still works.
    const QSignalSpy ticks(w.timer(), &Timer::tick);
    QTRY_VERIFY(ticks.size() >= 5);
    QVERIFY(!peer.hasPendingDatagrams());
    QCOMPARE(w.window->patternCounter(), 0);
    QCOMPARE(w.status()->text(), QByteArray());
    w.dumpBox()->click();
    QVERIFY(w.dumpBox()->isChecked());

    lookup->answer();
    if (!fails) {
        QTRY_VERIFY(peer.hasPendingDatagrams());
        QCOMPARE(peer.receiveDatagram().data(), QByteArray(16, '\0'));
        QVERIFY(w.reporter.reports.isEmpty());
        return;
    }
    // The resolver's own code, with the text that goes with it, and the host named.
    QCOMPARE(w.reporter.reports.size(), 1);
    QCOMPARE(w.reporter.reports.first().first, EAI_NONAME);
    const QString description = w.reporter.reports.first().second;
    QVERIFY2(description.contains("peer.test") && description.contains("getaddrinfo")
            && description.endsWith(QString::fromLocal8Bit(gai_strerror(EAI_NONAME))),
        qPrintable(description));
    // After the failure nothing more is handled: no arrival, no tick.
    QUdpSocket other;
    other.writeDatagram("late", QHostAddress::LocalHost, frmMain::kLocalPort);
    QTest::qWait(100);
    QCOMPARE(w.status()->text(), QByteArray());
    QCOMPARE(w.reporter.reports.size(), 1);
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
    QTest::addColumn<bool>("dump");
    for (const int size : { 0, 1, 3, 5, 6, 16, 1472, 32767, 32768, 65507 })
        QTest::addRow("%d", size) << size << false << true;
    QTest::newRow("65527 from IPv6") << 65527 << true << true;
    QTest::newRow("0 from IPv6") << 0 << true << true;
    QTest::newRow("16, not dumped") << 16 << false << false;
}

void tst_frmMain::receivedSizes()
{
    QFETCH(int, size);
    QFETCH(bool, ipv6);
    QFETCH(bool, dump);
    Window w;
    w.dumpBox()->setChecked(dump);
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char(i * 13 + 1);
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram(payload,
                 ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, frmMain::kLocalPort),
        qint64(size));
    QTRY_VERIFY(!w.status()->text().isEmpty());
    QCOMPARE(w.status()->text(), receiveLine(size) + "\r\n");
    QCOMPARE(w.dump()->text(), dump ? Common::HexDump(payload) + "\r\n" : QByteArray());
}

void tst_frmMain::sendAndReceiveInterleave()
{
    // Every datagram the tool sends comes straight back, cut to five bytes.
    const EchoPeer peer([](const QByteArray &data) { return data.left(5); });
    QVERIFY(peer.isBound());
    Window w;
    w.period()->setValue(30);
    w.send()->click();
    QTRY_VERIFY_WITH_TIMEOUT(lines(w.status()).size() >= 10, 5000);
    w.send()->click();
    // The last datagram's echo is on its way back.
    QTRY_COMPARE(lines(w.status()).size() % 2, 0);
    const QList<QByteArray> status = lines(w.status());
    for (int i = 0; i + 1 < status.size(); i += 2) {
        QCOMPARE(status[i], QByteArray("Send 16 7654321"));
        QCOMPARE(status[i + 1], receiveLine(5));
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
        QCOMPARE(status[i], receiveLine(i % 64));
}

void tst_frmMain::fullLinkDropsWithoutSendLine()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, frmMain::kRemotePort));
    Window w;
    // Every other datagram finds the link full.
    int calls = 0;
    w.get<UdpEndpoint>("wskClient")
        ->setSendCall([&calls](int fd, QByteArrayView payload, const QByteArray &to) {
            return ++calls % 2 == 0 ? EAGAIN : UdpEndpoint::systemSend(fd, payload, to);
        });
    w.period()->setValue(5);
    w.send()->click();
    QTRY_VERIFY(calls >= 10);
    w.send()->click();
    QVERIFY(w.reporter.reports.isEmpty());
    // Only what left is logged, and the peer sees the gaps in the counter.
    QCOMPARE(lines(w.status()).size(), (calls + 1) / 2);
    QCOMPARE(w.window->statistics().droppedSends(), calls / 2);
    QCOMPARE(w.window->patternCounter(), calls);
    QTRY_VERIFY(peer.hasPendingDatagrams());
    QCOMPARE(peer.receiveDatagram().data().left(4), QByteArray(4, '\0'));
    QTRY_VERIFY(peer.hasPendingDatagrams());
    QCOMPARE(peer.receiveDatagram().data().left(4), QByteArray(4, '\x02'));
}

void tst_frmMain::statisticsOfAnEchoThatDropsATenth()
{
    // A real clock: the check tells a gap from a late datagram by time.
    Window w({}, {}, systemUptimeMilliseconds);
    StatisticsView *const bar = w.statistics();
    // Loses every tenth datagram and stops the sender after the 105th.
    int seen = 0;
    const EchoPeer peer([&](const QByteArray &data) -> std::optional<QByteArray> {
        if (++seen == 105)
            w.send()->click();
        if (seen % 10 == 0)
            return {};
        return data;
    });
    QVERIFY(peer.isBound());
    w.period()->setValue(2);
    w.send()->click();
    const LinkStatistics &statistics = w.window->statistics();
    QTRY_VERIFY_WITH_TIMEOUT(seen >= 105 && qint64(seen) == statistics.sentDatagrams(), 10000);
    // A loss shows only once a later datagram has come back.
    const qint64 sent = statistics.sentDatagrams();
    const qint64 lost = seen % 10 == 0 ? seen / 10 - 1 : seen / 10;
    QTRY_COMPARE(statistics.receivedDatagrams(), qint64(seen - seen / 10));
    const StreamMeter *const echo = w.window->engine().shownStream();
    QVERIFY(echo);
    QCOMPARE(echo->pattern().lost, lost);
    QCOMPARE(echo->pattern().inOrder, statistics.receivedDatagrams());
    QTRY_VERIFY2(bar->text().contains(QStringLiteral("送信 %1 ").arg(sent))
            && bar->text().contains(QStringLiteral("欠落 %1 ").arg(lost)),
        qPrintable(bar->text()));
    QCOMPARE(bar->accessibleName(), QStringLiteral("リンク統計"));
    QVERIFY(bar->accessibleDescription().contains(QStringLiteral("欠落 %1 ").arg(lost)));

    w.action("mnuCopyStatistics")->trigger();
    QVERIFY(QGuiApplication::clipboard()->text().contains(QStringLiteral("欠落 %1 ").arg(lost)));

    w.get<QPushButton>("cmdMonitorInit")->click();
    QVERIFY2(bar->text().contains(QStringLiteral("送信 0 (0 B)"))
            && bar->text().contains(QStringLiteral("受信 0 (0 B)"))
            && bar->text().contains(QStringLiteral("欠落 0 ")),
        qPrintable(bar->text()));
    QVERIFY(w.window->patternCounter() != 0);
    QVERIFY(w.reporter.reports.isEmpty());
}

void tst_frmMain::figures_data()
{
    QTest::addColumn<int>("periodMs");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("datagrams"); // each sent and received
    QTest::addColumn<quint32>("firstTick");
    QTest::addColumn<int>("readAfterMs"); // the last datagram
    QTest::addColumn<QString>("bar"); // what was sent and received, as the bar shows it
    QTest::addColumn<QString>("report"); // the same, as the copied figures give it

    const QString tenPerSecond
        = QStringLiteral("送信 30 (480 B) 破棄 0 | 受信 30 (480 B) 10.0 個/s 160 B/s");
    QTest::newRow("10 a second") << 100 << 16 << 30 << quint32(5000) << 50 << tenPerSecond
                                 << tenPerSecond;
    QTest::newRow("10 a second across the tick's wrap")
        << 100 << 16 << 30 << quint32(-2500) << 50 << tenPerSecond << tenPerSecond;
    const QString twoPerSecond
        = QStringLiteral("送信 10 (160 B) 破棄 0 | 受信 10 (160 B) 2.0 個/s 32 B/s");
    QTest::newRow("2 a second") << 500 << 16 << 10 << quint32(5003) << 250 << twoPerSecond
                                << twoPerSecond;
    const QString idle = QStringLiteral("送信 30 (480 B) 破棄 0 | 受信 30 (480 B) 0.0 個/s 0 B/s");
    QTest::newRow("a second after the last")
        << 100 << 16 << 30 << quint32(5000) << 1100 << idle << idle;
    QTest::newRow("a KiB")
        << 0 << 1024 << 1 << quint32(5000) << 10
        << QStringLiteral("送信 1 (1.00 KiB) 破棄 0 | 受信 1 (1.00 KiB) 1.0 個/s 1.00 KiB/s")
        << QStringLiteral("送信 1 (1,024 B) 破棄 0 | 受信 1 (1,024 B) 1.0 個/s 1,024 B/s");
    QTest::newRow("a flood of the largest")
        << 0 << 65507 << 4000 << quint32(5000) << 10
        << QStringLiteral(
               "送信 4,000 (249.89 MiB) 破棄 0 | 受信 4,000 (249.89 MiB) 4,000.0 個/s 249.89 MiB/s")
        << QStringLiteral("送信 4,000 (262,028,000 B) 破棄 0 | 受信 4,000 (262,028,000 B) 4,000.0 "
                          "個/s 262,028,000 B/s");
}

void tst_frmMain::figures()
{
    QFETCH(int, periodMs);
    QFETCH(int, size);
    QFETCH(int, datagrams);
    QFETCH(quint32, firstTick);
    QFETCH(int, readAfterMs);
    QFETCH(QString, bar);
    QFETCH(QString, report);

    LinkStatistics statistics;
    const QByteArray datagram(size, '\0');
    quint32 tick = firstTick;
    for (int i = 0; i < datagrams; ++i, tick += quint32(periodMs)) {
        statistics.sent(size);
        statistics.received(datagram, tick);
    }
    const quint32 now = tick - quint32(periodMs) + quint32(readAfterMs);
    const QStringList parts = statistics.parts(periodMs, now);
    QCOMPARE(parts.mid(1, 2).join(QStringLiteral(" | ")), bar);
    QCOMPARE(statistics.summary(periodMs, now).section(QStringLiteral(" | "), 1, 2), report);
}

void tst_frmMain::savedLogIsThePaneText_data()
{
    QTest::addColumn<bool>("folderExists");
    QTest::newRow("saved") << true;
    QTest::newRow("folder gone: no file, a warning, the run goes on") << false;
}

void tst_frmMain::savedLogIsThePaneText()
{
    QFETCH(bool, folderExists);
    QTemporaryDir scratch;
    const QString path = scratch.filePath(folderExists ? "status.log" : "gone/status.log");
    Window w;
    QUdpSocket sender;
    for (const int size : { 0, 5, 16 })
        sender.writeDatagram(QByteArray(size, 's'), QHostAddress::LocalHost, frmMain::kLocalPort);
    QTRY_COMPARE(lines(w.status()).size(), 3);
    answerNextDialog(this, path);
    if (!folderExists)
        QTimer::singleShot(100, this, [this] { answerNextDialog(this); });
    w.action("mnuSaveStatus")->trigger();
    QFile saved(path);
    QCOMPARE(saved.exists(), folderExists);
    if (folderExists) {
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), w.status()->text());
    }
    QVERIFY(w.reporter.reports.isEmpty());
}

void tst_frmMain::fileLogsGetEveryLine()
{
    QTemporaryDir scratch;
    Settings settings;
    settings.statusLogFile = scratch.filePath("status.log");
    settings.dumpLogFile = scratch.filePath("dump.log");
    settings.dumpAtStart = true;
    // A budget far below what the burst writes: the panes let go, the files keep everything.
    settings.paneBudget = 64 * 1024;
    constexpr int kDatagrams = 4000;
    QByteArray expectedStatus;
    QByteArray expectedDump;
    {
        Window w(settings);
        QUdpSocket sender;
        for (int i = 0; i < kDatagrams; ++i) {
            const QByteArray payload(i % 200, char(i));
            sender.writeDatagram(payload, QHostAddress::LocalHost, frmMain::kLocalPort);
            expectedStatus += receiveLine(payload.size()) + "\r\n";
            expectedDump += Common::HexDump(payload) + "\r\n";
        }
        QTRY_COMPARE(w.window->statistics().receivedDatagrams(), kDatagrams);
        QVERIFY(w.status()->content().firstLine() > 0 && w.dump()->content().firstLine() > 0);
    }
    QFile status(settings.statusLogFile);
    QFile dump(settings.dumpLogFile);
    QVERIFY(status.open(QIODevice::ReadOnly) && dump.open(QIODevice::ReadOnly));
    QCOMPARE(status.readAll(), expectedStatus);
    QCOMPARE(dump.readAll(), expectedDump);
}

void tst_frmMain::failingFileLogIsSaidOnceAndTheRunGoesOn()
{
    Settings settings;
    settings.statusLogFile = QStringLiteral("/dev/full");
    Window w(settings);
    w.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    const QSize client = w.get<QWidget>("client")->size();
    auto *const notice = w.get<NoticeView>("fileLogNotice");
    QUdpSocket sender;
    for (int burst = 0; burst < 3; ++burst) {
        for (int i = 0; i < 100; ++i)
            sender.writeDatagram("x", QHostAddress::LocalHost, frmMain::kLocalPort);
        QTRY_COMPARE(lines(w.status()).size(), 100 * (burst + 1));
        QTest::qWait(50); // past the file's hand-over delay, so each burst reaches the disk
    }
    QTRY_VERIFY(notice->isVisible());
    QCOMPARE(notice->text().count('\n'), 0); // said once
    QVERIFY2(
        notice->text().contains("/dev/full") && notice->text().contains(qt_error_string(ENOSPC)),
        qPrintable(notice->text()));
    QCOMPARE(w.get<QWidget>("client")->size(), client);
    QVERIFY(w.reporter.reports.isEmpty());
}

// The list names both ends of each datagram, the local one of an arrival as the packet info
// gives it; a selected row shows all its bytes and holds the list while more arrive.
void tst_frmMain::datagramListSaysWhoAndEveryByte()
{
    // Every datagram comes back one byte longer, so that no dump of it shows every byte.
    const EchoPeer peer([](const QByteArray &data) { return data + "!"; });
    QVERIFY(peer.isBound());
    Window w;
    w.action("mnuDatagramList")->trigger();
    DatagramListWindow *const list = w.window->viewMenu().list();
    QVERIFY(list != nullptr && list->isVisible());
    const QAbstractItemModel *const model = list->table()->model();
    w.period()->setValue(5);
    w.send()->click();
    // More rows than the table shows, so that following scrolls it.
    QTRY_VERIFY(model->rowCount() >= 80);
    QVERIFY(list->isFollowing());
    QTRY_VERIFY(list->table()->rowAt(0) > 0);

    const auto text
        = [model](int row, int column) { return model->index(row, column).data().toString(); };
    const auto firstInView = [&](const QString &way) {
        int row = list->table()->rowAt(0);
        while (text(row, DatagramListModel::Way) != way)
            ++row;
        return row;
    };
    const int received = firstInView(QStringLiteral("受信"));
    const int sent = firstInView(QStringLiteral("送信"));
    QCOMPARE(text(sent, DatagramListModel::Way), QStringLiteral("送信"));
    QCOMPARE(text(sent, DatagramListModel::Local), QStringLiteral("127.0.0.1:20320"));
    QCOMPARE(text(sent, DatagramListModel::Remote), QStringLiteral("127.0.0.1:20319"));
    QCOMPARE(text(sent, DatagramListModel::Size), QStringLiteral("16"));
    const QString counter = text(sent, DatagramListModel::Counter);
    QVERIFY(!counter.isEmpty());
    QCOMPARE(text(received, DatagramListModel::Local), QStringLiteral("127.0.0.1:20320"));
    QCOMPARE(text(received, DatagramListModel::Remote), QStringLiteral("127.0.0.1:20319"));
    QCOMPARE(text(received, DatagramListModel::Size), QStringLiteral("17"));
    QCOMPARE(text(received, DatagramListModel::Counter), QString());

    list->table()->selectRow(received);
    QVERIFY(!list->isFollowing());
    const qint64 number = text(received, DatagramListModel::Number).toLongLong() - 1;
    const QByteArray payload = list->ring().at(number).payload.toByteArray();
    QCOMPARE(payload.size(), 17);
    QCOMPARE(list->bytesPane()->text(), canonicalHexDump(payload));
    const QScrollBar *const bar = list->table()->verticalScrollBar();
    const int top = bar->value();
    const int rows = model->rowCount();
    QTRY_VERIFY(model->rowCount() >= rows + 4);
    QTRY_VERIFY(bar->maximum() >= top + 4);
    QCOMPARE(bar->value(), top);
    QCOMPARE(list->table()->selectionModel()->selectedRows().value(0).row(), received);
    QVERIFY(!list->isFollowing());

    // Back at the end with nothing selected, it follows again.
    list->findChild<QCheckBox *>()->click();
    QVERIFY(list->isFollowing());
    QVERIFY(!list->table()->selectionModel()->hasSelection());
    QTRY_COMPARE(bar->value(), bar->maximum());
}

QTEST_MAIN(tst_frmMain)
#include "tst_frmmain.moc"
