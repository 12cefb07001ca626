// SPDX-License-Identifier: MIT
// Starts the real binary in a real X server and drives it with real input events.
#include "BenchSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <optional>
#include <sys/mount.h>
#include <utility>
#include <vector>

using TestSupport::kLocalPort;
using TestSupport::kPeerPort;
using TestSupport::portIsFree;

namespace {

// xdotool takes a regular expression: the caption is "Quillon2-1(UDP)".
constexpr char kCaption[] = "^Quillon2-1\\(UDP\\)$";
constexpr char kErrorCaption[] = "^Quillon2-1\\(UDP\\) エラー$";
constexpr char kGraphCaption[] = "^Quillon2-1\\(UDP\\) グラフ$";
// Room for the window at scale 2 and for it to grow.
constexpr char kScreen[] = "1600x1200x24";
// The flood ends by itself after this long, should the test die before it ends it.
constexpr int kFloodBoundMs = 60000;
// A file system this small fills after a few hundred status lines.
constexpr char kTinyFileSystem[] = "size=16k";

// Floods the tool's port with 16-byte datagrams for as long as it lives.
class Flood
{
public:
    Flood() = default;
    ~Flood() { Bench::endChild(m_child); }
    Flood(const Flood &) = delete;
    Flood &operator=(const Flood &) = delete;

private:
    Bench::Child m_child = Bench::startTimedFlood(kLocalPort, 16, kFloodBoundMs);
};

// A tmpfs of a few KiB, mounted for as long as it lives (which takes root).
class TinyFileSystem
{
public:
    TinyFileSystem() = default;
    ~TinyFileSystem() { detach(); }
    TinyFileSystem(const TinyFileSystem &) = delete;
    TinyFileSystem &operator=(const TinyFileSystem &) = delete;

    bool isMounted() const { return m_mounted; }
    QString error() const { return qt_error_string(m_error); }
    QString path() const { return m_dir.path(); }
    // Takes the file system from its folder while whoever has a file open on it keeps writing
    // there: from then on nothing is left mounted, even when the test is killed.
    void detach()
    {
        if (std::exchange(m_mounted, false))
            ::umount2(m_path.constData(), MNT_DETACH);
    }

private:
    const QTemporaryDir m_dir;
    const QByteArray m_path = QFile::encodeName(m_dir.path());
    bool m_mounted
        = ::mount("tmpfs", m_path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, kTinyFileSystem) == 0;
    const int m_error = m_mounted ? 0 : errno;
};

// The last row of a column that is the panes' white, counted from the top; -1 when none is.
int lastWhiteRow(const QImage &image, int x)
{
    for (int y = image.height() - 1; y >= 0; --y) {
        if (image.pixel(x, y) == qRgb(255, 255, 255))
            return y;
    }
    return -1;
}

// The smallest rectangle that holds every pixel of the notice's red; empty when there is none.
QRect redArea(const QImage &image)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qRed(pixel) > 128 && qGreen(pixel) < 64 && qBlue(pixel) < 64)
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

// The impaired link: the tool, a bridge and an echo, each in a network namespace of its own,
// the bridge joined to the other two by veth pairs. netem's rules, applied by the bridge each
// way, with the delay's jitter reordering datagrams.
constexpr char kToolAddress[] = "192.0.2.1";
constexpr char kEchoAddress[] = "192.0.2.2";
constexpr char kLinkCaption[]
    = "^Quillon2-1\\(UDP\\) 192\\.0\\.2\\.1:20320 → 192\\.0\\.2\\.2:20319$";
constexpr int kLinkDelayMs = 20;
constexpr int kLinkJitterMs = 5;
constexpr int kLinkLossPercent = 5;
constexpr int kLinkDuplicatePercent = 1;
constexpr int kLinkSeed = 7;
constexpr int kLinkPeriodMs = 10;
constexpr int kLinkSends = 1000;
// Longer than any datagram's way there and back: once the status log holds still this long after
// the sender stopped, every echo is in.
constexpr qint64 kLinkDrainMs = 300;
constexpr double kRttToleranceMs = 1;
constexpr int kCounterRange = 256;

// The three namespaces and the two veth pairs, for as long as it lives; deleting a namespace
// takes its end of a pair, and with it the pair. error() says why they could not be made.
class LinkNamespaces
{
public:
    LinkNamespaces()
    {
        const QString prefix
            = QStringLiteral("quillon-%1-").arg(QCoreApplication::applicationPid());
        for (const char *role : { "tool", "bridge", "echo" })
            m_names.append(prefix + QLatin1String(role));
        for (const QString &name : std::as_const(m_names)) {
            if (!ip({ "netns", "add", name }))
                return;
            m_made.append(name);
        }
        const QString toolAddress = QLatin1String(kToolAddress) + "/24";
        const QString echoAddress = QLatin1String(kEchoAddress) + "/24";
        const QList<QStringList> commands {
            { "link", "add", "qt0", "netns", tool(), "type", "veth", "peer", "name", "qbt", "netns",
                bridge() },
            { "link", "add", "qe0", "netns", echo(), "type", "veth", "peer", "name", "qbe", "netns",
                bridge() },
            { "-n", tool(), "address", "add", toolAddress, "dev", "qt0" },
            { "-n", echo(), "address", "add", echoAddress, "dev", "qe0" },
            { "-n", tool(), "link", "set", "qt0", "up" },
            { "-n", bridge(), "link", "set", "qbt", "up" },
            { "-n", bridge(), "link", "set", "qbe", "up" },
            { "-n", echo(), "link", "set", "qe0", "up" },
        };
        for (const QStringList &command : commands) {
            if (!ip(command))
                return;
        }
    }
    ~LinkNamespaces()
    {
        for (const QString &name : std::as_const(m_made))
            ip({ "netns", "delete", name });
    }
    LinkNamespaces(const LinkNamespaces &) = delete;
    LinkNamespaces &operator=(const LinkNamespaces &) = delete;

    const QString &error() const { return m_error; }
    const QString &tool() const { return m_names[0]; }
    const QString &bridge() const { return m_names[1]; }
    const QString &echo() const { return m_names[2]; }

private:
    bool ip(const QStringList &arguments)
    {
        QProcess ip;
        ip.start("ip", arguments);
        if (ip.waitForFinished() && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0)
            return true;
        if (m_error.isEmpty()) {
            // The system's words when ip ran, Qt's when it could not.
            const QString why = ip.error() == QProcess::UnknownError
                ? QString::fromLocal8Bit(ip.readAllStandardError()).trimmed()
                : ip.errorString();
            m_error = "ip " + arguments.join(' ') + ": " + why;
        }
        return false;
    }

    QStringList m_names;
    QStringList m_made;
    QString m_error;
};

// Starts one of impair_link's modes inside a namespace; true once it says it is ready.
bool startInside(QProcess &process, const QString &space, const QStringList &arguments)
{
    process.start("ip", QStringList { "netns", "exec", space, IMPAIR_LINK_BINARY } + arguments);
    return process.waitForReadyRead(10000) && process.readLine() == "ready\n";
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What crossed the link, by the tool's own log files: each Send and Receive line of the status
// log has its datagram in the dump log, in the same order, the counter in its first line.
struct LinkTruth
{
    qint64 sent = 0;
    qint64 lost = 0; // sends never echoed, up to the newest that was
    qint64 duplicates = 0; // echoes of a send beyond its first
};

std::optional<LinkTruth> truthOf(const QByteArray &statusLog, const QByteArray &dumpLog)
{
    QList<int> counters;
    for (const QByteArray &line : dumpLog.split('\n')) {
        if (line.startsWith("0000 : "))
            counters.append(line.mid(7, 2).toInt(nullptr, 16));
    }
    std::vector<int> echoes; // per send
    qsizetype datagram = 0;
    for (const QByteArray &line : statusLog.split('\n')) {
        const bool send = line.startsWith("Send ");
        if (!send && !line.startsWith("Receive "))
            continue;
        if (datagram == counters.size())
            return {};
        const int counter = counters[datagram++];
        if (send) {
            echoes.push_back(0);
            continue;
        }
        // The newest send of the counter: no echo comes anywhere near 256 sends late.
        const qint64 newest = qint64(echoes.size()) - 1;
        const qint64 sent
            = newest - ((newest - counter) % kCounterRange + kCounterRange) % kCounterRange;
        if (sent < 0)
            return {};
        ++echoes[size_t(sent)];
    }
    if (datagram != counters.size())
        return {};
    LinkTruth truth;
    truth.sent = qint64(echoes.size());
    const auto afterNewestEchoed
        = std::find_if(echoes.rbegin(), echoes.rend(), [](int n) { return n > 0; }).base();
    for (auto send = echoes.begin(); send != afterNewestEchoed; ++send) {
        truth.lost += *send == 0;
        truth.duplicates += std::max(0, *send - 1);
    }
    return truth;
}

// The echo's line of the copied figures:
// "192.0.2.2:20319: 受信 … 欠落 L 順序違い O 重複 D 往復 最小 … 中央 M p99 …".
struct CopiedStream
{
    qint64 lost = -1;
    qint64 duplicates = -1;
    double rttMedianMs = -1;
};

CopiedStream copiedStream(const QByteArray &figures, const QString &stream)
{
    static const QRegularExpression form(QStringLiteral(
        " 欠落 ([\\d,]+) 順序違い [\\d,]+ 重複 ([\\d,]+) 往復 最小 [\\d.]+ 中央 ([\\d.]+) "));
    const auto number = [](const QString &text) { return QString(text).remove(',').toLongLong(); };
    for (const QString &line : QString::fromUtf8(figures).split('\n')) {
        const QRegularExpressionMatch match = form.match(line);
        if (line.startsWith(stream + ": ") && match.hasMatch())
            return { number(match.captured(1)), number(match.captured(2)),
                match.captured(3).toDouble() };
    }
    return {};
}

} // namespace

class tst_RealWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void exitThroughFileMenu_data();
    void exitThroughFileMenu();
    void sendKeyStartsThePattern();
    void statusPaneCopiesToClipboard();
    void fatalBoxNamesTheCauseAndFails_data();
    void fatalBoxNamesTheCauseAndFails();
    void terminationSignalClosesCleanly_data();
    void terminationSignalClosesCleanly();
    void selectHoldAndDragWhileLinesArrive();
    void twoCopiesAsAPair();
    void windowDestroyedByAnotherProgramEndsTheRun();
    void givenUpLogGrowsTheWindow_data();
    void givenUpLogGrowsTheWindow();
    void echoAcrossAnImpairedLink();
    void graphFollowsTheLink();

private:
    QByteArray tool(const QString &program, const QStringList &arguments);
    QByteArray xdotool(const QStringList &arguments) { return tool("xdotool", arguments); }
    QString waitForWindow(const char *caption = kCaption);
    int visibleWindowsOfTheTool();
    QByteArray whyNoWindow();
    void startTool(const QStringList &arguments = {});
    QImage screenshot(const QString &window);
    QImage statusPaneImage(const QString &window);
    QByteArray clipboard(const char *selection = "clipboard");

    QProcess m_xvfb;
    QProcessEnvironment m_environment;
    QProcess m_quillon;
    // The second copy of a pair.
    QProcess m_partner;
};

void tst_RealWindow::initTestCase()
{
    // Xvfb picks a free display and prints its number on the descriptor we give it.
    // -noreset: by default the server resets when its last client leaves, and a tool started
    // at that moment cannot connect.
    m_xvfb.start(
        "Xvfb", { "-displayfd", "1", "-screen", "0", kScreen, "-nolisten", "tcp", "-noreset" });
    QVERIFY2(m_xvfb.waitForStarted(), "Xvfb is missing: scripts/deps.sh test installs it");
    QByteArray display;
    QTRY_VERIFY_WITH_TIMEOUT((display += m_xvfb.readAllStandardOutput()).endsWith('\n'), 10000);
    display = display.trimmed();
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert("DISPLAY", ":" + QString::fromLatin1(display));
    m_environment.remove("QT_QPA_PLATFORM");
    m_environment.insert("QT_QPA_PLATFORM", "xcb");
}

void tst_RealWindow::cleanupTestCase()
{
    m_xvfb.terminate();
    m_xvfb.waitForFinished();
}

void tst_RealWindow::init()
{
    m_quillon.setProcessEnvironment(m_environment);
    m_quillon.setProgram(QStringLiteral(QUILLON_BINARY));
}

void tst_RealWindow::cleanup()
{
    for (QProcess *process : { &m_quillon, &m_partner }) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    }
}

QByteArray tst_RealWindow::tool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.start(program, arguments);
    if (!process.waitForFinished(20000))
        qWarning() << program << arguments << "did not finish";
    return process.readAllStandardOutput().trimmed();
}

// Polled rather than `search --sync`, which looks only twice a second.
QString tst_RealWindow::waitForWindow(const char *caption)
{
    QString window;
    (void)QTest::qWaitFor(
        [&] {
            window = QString::fromLatin1(
                xdotool({ "search", "--onlyvisible", "--name", QString::fromUtf8(caption) })
                    .split('\n')
                    .last());
            return !window.isEmpty();
        },
        20000);
    // The focus event reaches the tool before any key sent after it.
    if (!window.isEmpty())
        xdotool({ "windowfocus", "--sync", window });
    return window;
}

// The window and, while one is open, its menu.
int tst_RealWindow::visibleWindowsOfTheTool()
{
    const QByteArray found
        = xdotool({ "search", "--onlyvisible", "--pid", QString::number(m_quillon.processId()) });
    return found.isEmpty() ? 0 : int(found.count('\n')) + 1;
}

// Reads the tool's stderr, so only for a test that has already failed.
QByteArray tst_RealWindow::whyNoWindow()
{
    const bool running = m_quillon.state() == QProcess::Running;
    return "no window appeared; the tool " + QByteArray(running ? "runs" : "has ended")
        + ", stderr: " + m_quillon.readAllStandardError();
}

void tst_RealWindow::startTool(const QStringList &arguments)
{
    m_quillon.setArguments(arguments);
    m_quillon.start();
    QVERIFY(m_quillon.waitForStarted());
}

QImage tst_RealWindow::screenshot(const QString &window)
{
    QProcess shot;
    shot.setProcessEnvironment(m_environment);
    shot.start("import", { "-window", window, "png:-" });
    shot.waitForFinished(20000);
    return QImage::fromData(shot.readAllStandardOutput(), "PNG");
}

// The inside of the status pane, left of its scroll bar, from a screenshot of the window. The
// window's height is menu bar, client area and status bar; these rows lie inside the pane for
// any status bar from one to five lines high.
QImage tst_RealWindow::statusPaneImage(const QString &window)
{
    const QImage image = screenshot(window);
    return image.copy(4, image.height() - 190, 200, 90);
}

QByteArray tst_RealWindow::clipboard(const char *selection)
{
    return tool("xclip", { "-o", "-selection", selection });
}

void tst_RealWindow::exitThroughFileMenu_data()
{
    QTest::addColumn<bool>("keyboard");
    QTest::newRow("click on ファイル") << false;
    QTest::newRow("F10") << true;
}

void tst_RealWindow::exitThroughFileMenu()
{
    QFETCH(bool, keyboard);
    startTool();
    const QString window = waitForWindow();
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());
    QVERIFY(!portIsFree());

    // Open "ファイル"; once the menu is open, Up takes its last item, "終了".
    if (keyboard)
        xdotool({ "key", "--clearmodifiers", "F10" });
    else
        xdotool({ "mousemove", "--window", window, "20", "8", "click", "1" });
    QTRY_COMPARE(visibleWindowsOfTheTool(), 2);
    xdotool({ "key", "--clearmodifiers", "Up", "Return" });

    QVERIFY(m_quillon.waitForFinished(10000));
    QCOMPARE(m_quillon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_quillon.exitCode(), 0);
    QVERIFY(portIsFree());
}

void tst_RealWindow::sendKeyStartsThePattern()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, kPeerPort));
    startTool();
    const QString window = waitForWindow();
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());

    // Focus starts in the dump pane; Tab reaches "送信", space presses it. The first datagram
    // leaves at once, the second a default period later.
    xdotool({ "key", "--clearmodifiers", "Tab", "space" });
    QList<QPair<qint64, QByteArray>> arrivals;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(QTest::qWaitFor(
        [&] {
            while (peer.hasPendingDatagrams())
                arrivals.append({ clock.elapsed(), peer.receiveDatagram().data() });
            return arrivals.size() >= 2;
        },
        10000));
    for (int i = 0; i < arrivals.size(); ++i)
        QCOMPARE(arrivals[i].second, QByteArray(4, char(i)) + QByteArray(12, '\0'));
    const qint64 period = arrivals[1].first - arrivals[0].first;
    QVERIFY2(period > 350 && period < 650, QByteArray::number(period));
}
void tst_RealWindow::statusPaneCopiesToClipboard()
{
    QTemporaryDir scratch;
    const QString logPath = scratch.filePath("status.log");
    startTool({ "--log", logPath });
    const QString window = waitForWindow();
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());

    QUdpSocket sender;
    for (const int size : { 0, 5, 16 })
        sender.writeDatagram(QByteArray(size, 'q'), QHostAddress::LocalHost, kLocalPort);
    // The log file has every line the pane has: wait until all three are there.
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QTRY_COMPARE((log.seek(0), log.readAll().count('\n')), 3);

    // Tab twice reaches the status pane; select all and copy with the keyboard.
    xdotool({ "key", "--clearmodifiers", "Tab", "Tab", "ctrl+a", "ctrl+c" });
    QByteArray copied;
    QVERIFY(QTest::qWaitFor(
        [&] {
            copied = tool("xclip", { "-o", "-selection", "clipboard" });
            return copied.count('\n') >= 2;
        },
        10000));
    const QList<QByteArray> lines = copied.split('\n');
    QCOMPARE(lines.size(), 3); // trimmed: the last line end is gone
    QVERIFY2(lines[0].startsWith("Receive 0 ") && lines[0].endsWith('\r'), lines[0]);
    QVERIFY2(lines[1].startsWith("Receive 5 ") && lines[1].endsWith('\r'), lines[1]);
    QVERIFY2(lines[2].startsWith("Receive 16 "), lines[2]);
}

void tst_RealWindow::fatalBoxNamesTheCauseAndFails_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<QByteArrayList>("said");
    QTest::newRow("port taken") << QStringList() << true
                                << QByteArrayList { "98", "Address already in use", "*:20320" };
    QTest::newRow("host unknown") << QStringList { "--peer", "nonexistent.invalid:20319" } << false
                                  << QByteArrayList { "nonexistent.invalid", "getaddrinfo" };
}

void tst_RealWindow::fatalBoxNamesTheCauseAndFails()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, portTaken);
    QFETCH(QByteArrayList, said);
    QUdpSocket holder;
    if (portTaken)
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, kLocalPort));
    startTool(arguments);
    // The box has a title of its own, so it is not taken for the window.
    const QString box = waitForWindow(kErrorCaption);
    if (box.isEmpty())
        QFAIL(whyNoWindow().constData());
    xdotool({ "key", "--clearmodifiers", "Return" });
    QVERIFY(m_quillon.waitForFinished(10000));
    QCOMPARE(m_quillon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_quillon.exitCode(), 1);
    const QByteArray errors = m_quillon.readAllStandardError();
    for (const QByteArray &part : said)
        QVERIFY2(errors.contains(part), errors);
}

void tst_RealWindow::terminationSignalClosesCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("flood");
    QTest::newRow("SIGTERM, sending, during a flood") << SIGTERM << true;
    QTest::newRow("SIGINT, sending") << SIGINT << false;
}

void tst_RealWindow::terminationSignalClosesCleanly()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, flood);
    QTemporaryDir scratch;
    const QString logPath = scratch.filePath("status.log");
    startTool({ "--log", logPath });
    if (waitForWindow().isEmpty())
        QFAIL(whyNoWindow().constData());
    xdotool({ "key", "--clearmodifiers", "Tab", "space" });
    std::optional<Flood> flooding;
    if (flood)
        flooding.emplace();
    // The signal comes while the tool sends and, with the flood, receives.
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            log.seek(0);
            const QByteArray logged = log.readAll();
            return logged.contains("Send 16 ") && (!flood || logged.contains("Receive 16 "));
        }(),
        10000);
    QVERIFY(m_quillon.state() == QProcess::Running);

    ::kill(pid_t(m_quillon.processId()), signalNumber);
    QVERIFY(m_quillon.waitForFinished(10000));
    QCOMPARE(m_quillon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_quillon.exitCode(), 0);
    flooding.reset();
    QVERIFY(portIsFree());
}

void tst_RealWindow::selectHoldAndDragWhileLinesArrive()
{
    QTemporaryDir scratch;
    const QString logPath = scratch.filePath("status.log");
    startTool({ "--period", "10", "--send", "--log", logPath });
    const QString window = waitForWindow();
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QTRY_VERIFY(log.size() > 0);
    // Lines are "Send 16 <tick>\r\n", at least 11 bytes; the file has them all.
    constexpr qint64 kShortestLine = 11;
    const auto linesArrive = [&log](int count) {
        const qint64 from = log.size();
        return QTest::qWaitFor([&] { return log.size() >= from + count * kShortestLine; }, 10000);
    };

    // Ctrl+A in the status pane takes what it holds then; after 50 more lines Ctrl+C copies
    // exactly that.
    xdotool({ "key", "--clearmodifiers", "Tab", "Tab" });
    const qint64 before = log.size();
    xdotool({ "key", "--clearmodifiers", "ctrl+a" });
    const qint64 after = log.size();
    QVERIFY(linesArrive(50));
    xdotool({ "key", "--clearmodifiers", "ctrl+c" });
    QByteArray copied;
    QTRY_VERIFY((copied = clipboard()).size() > 0);
    log.seek(0);
    const QByteArray logged = log.readAll();
    // The file lags the pane by at most its hand-over delay: a few lines at this period.
    constexpr qint64 kSlack = 5 * 20;
    QVERIFY2(copied.size() >= before - kSlack && copied.size() <= after + kSlack,
        QByteArray::number(copied.size()) + " copied, " + QByteArray::number(before) + " to "
            + QByteArray::number(after) + " logged around Ctrl+A");
    // xclip's output was trimmed of the last line end.
    QVERIFY(logged.startsWith(copied + "\r\n"));
    QVERIFY(logged.size() > copied.size() + 40 * kShortestLine);
    QCOMPARE(clipboard("primary"), copied);

    // Ctrl+Home holds the view while lines arrive; Ctrl+End follows again. The view is held
    // once two screenshots in a row agree: following, it changes between any two.
    xdotool({ "key", "--clearmodifiers", "ctrl+Home" });
    QImage held;
    QVERIFY(QTest::qWaitFor([&] {
        const QImage previous = std::exchange(held, statusPaneImage(window));
        return held == previous;
    }));
    QVERIFY(linesArrive(50));
    QCOMPARE(statusPaneImage(window), held);
    xdotool({ "key", "--clearmodifiers", "ctrl+End" });
    QTRY_VERIFY(statusPaneImage(window) != held);

    // A mouse drag across three rows in the middle of the pane holds it and survives 50 more
    // lines; it is offered as the primary selection too.
    const QByteArray geometry = xdotool({ "getwindowgeometry", window });
    const int height = geometry.mid(geometry.lastIndexOf('x') + 1).toInt();
    xdotool({ "mousemove", "--window", window, "10", QString::number(height - 150), "mousedown",
        "1", "mousemove", "--window", window, "60", QString::number(height - 130), "mousemove",
        "--window", window, "120", QString::number(height - 110), "mouseup", "1" });
    QVERIFY(linesArrive(50));
    xdotool({ "key", "--clearmodifiers", "ctrl+c" });
    QByteArray dragged;
    QTRY_VERIFY((dragged = clipboard()) != copied);
    QVERIFY2(dragged.count('\n') >= 2 && dragged.size() < 200, dragged);
    log.seek(0);
    QVERIFY(log.readAll().contains(dragged));
    QCOMPARE(clipboard("primary"), dragged);
    QVERIFY(linesArrive(20));
    xdotool({ "key", "--clearmodifiers", "ctrl+c" });
    QCOMPARE(clipboard(), dragged);
}

void tst_RealWindow::twoCopiesAsAPair()
{
    // A default copy and its counterpart, each sending to the other.
    QTemporaryDir scratch;
    const QString firstLog = scratch.filePath("first.log");
    const QString secondLog = scratch.filePath("second.log");
    startTool({ "--period", "20", "--send", "--log", firstLog });
    m_partner.setProcessEnvironment(m_environment);
    m_partner.start(QStringLiteral(QUILLON_BINARY),
        { "--bind", "20319", "--peer", "localhost:20320", "--period", "20", "--send", "--log",
            secondLog });
    QVERIFY(m_partner.waitForStarted());
    // The second window's title tells it apart.
    QVERIFY2(!waitForWindow("^Quillon2-1\\(UDP\\) \\*:20319 → localhost:20320$").isEmpty(),
        m_partner.readAllStandardError());
    const auto received = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count("Receive 16 ") : 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(received(firstLog) >= 10 && received(secondLog) >= 10, 10000);
    for (QProcess *process : { &m_quillon, &m_partner }) {
        ::kill(pid_t(process->processId()), SIGTERM);
        QVERIFY(process->waitForFinished(10000));
        QCOMPARE(process->exitCode(), 0);
    }
}

void tst_RealWindow::windowDestroyedByAnotherProgramEndsTheRun()
{
    startTool({ "--send" });
    const QString window = waitForWindow();
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());
    // Destroys the X window without asking the program first.
    xdotool({ "windowclose", window });
    QVERIFY(m_quillon.waitForFinished(10000));
    QCOMPARE(m_quillon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_quillon.exitCode(), 0);
    QVERIFY(portIsFree());
}

void tst_RealWindow::givenUpLogGrowsTheWindow_data()
{
    QTest::addColumn<int>("scale");
    QTest::newRow("scale 1") << 1;
    QTest::newRow("scale 2") << 2;
}

// A log file given up mid-run is said below the figures: the window grows by the notice and the
// client area keeps every pixel, down to the status pane's bottom frame.
void tst_RealWindow::givenUpLogGrowsTheWindow()
{
    QFETCH(int, scale);
    TinyFileSystem disk;
    if (!disk.isMounted()) {
        const QByteArray why = "a tmpfs of " + QByteArray(kTinyFileSystem)
            + " for the log to fill could not be mounted (this takes root): "
            + disk.error().toLocal8Bit();
        QSKIP(why.constData());
    }
    // A long path, so that the notice is wider than the window.
    const QString folder = disk.path() + '/' + QString(150, 'd');
    QVERIFY(QDir().mkdir(folder));
    QProcessEnvironment environment = m_environment;
    environment.insert("QT_SCALE_FACTOR", QString::number(scale));
    m_quillon.setProcessEnvironment(environment);
    startTool({ "--log", folder + "/status-log-of-a-long-run.log" });
    const QString window = waitForWindow();
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());
    // The tool opened its log before it showed the window.
    disk.detach();

    // The rows from the status pane's bottom frame down to the client area's end, left of the
    // pane's scroll bar, from the panes' white inside: the status pane is the lower one.
    const QImage before = screenshot(window);
    const int column = 200 * scale;
    const int paneEnd = lastWhiteRow(before, column) + 1;
    QVERIFY2(paneEnd > 0, "no status pane in the screenshot");
    const QRect frame(0, paneEnd, column, 4 * scale);

    // Lines until the file system is full and the notice shows.
    QUdpSocket sender;
    QImage after;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     for (int i = 0; i < 200; ++i)
                         sender.writeDatagram(
                             QByteArray(16, 'n'), QHostAddress::LocalHost, kLocalPort);
                     after = screenshot(window);
                     return !redArea(after).isEmpty();
                 },
                 20000),
        "no notice; the tool's stderr: " + m_quillon.readAllStandardError());
    // The window takes the notice in: it grows, then holds still. When it does not grow, this
    // waits in vain.
    (void)QTest::qWaitFor([&] {
        const QImage previous = std::exchange(after, screenshot(window));
        return after.height() != before.height() && after.size() == previous.size()
            && redArea(after) == redArea(previous);
    });
    const QRect notice = redArea(after);
    const QByteArray sizes = QByteArray::number(before.height())
        + " pixels high before the notice, " + QByteArray::number(after.height())
        + " after; the notice's red spans " + QByteArray::number(notice.height()) + " rows";
    QVERIFY2(after.copy(frame) == before.copy(frame),
        "the status pane's bottom frame changed (rows " + QByteArray::number(frame.top()) + " to "
            + QByteArray::number(frame.bottom()) + "); " + sizes);
    QVERIFY2(after.height() - before.height() >= notice.height(), sizes);
    // Cut off, the notice would run into the window's edge.
    QVERIFY2(notice.right() < after.width() - 1 && notice.bottom() < after.height() - 1,
        "the notice is cut off at the window's edge: its red reaches column "
            + QByteArray::number(notice.right()) + " and row " + QByteArray::number(notice.bottom())
            + " of a window " + QByteArray::number(after.width()) + " by "
            + QByteArray::number(after.height()));
}

// The real binary's figures for an echo across a real link that the bridge impairs as netem
// would: the round-trip time against the configured delay, the lost and duplicated datagrams
// against what the tool's own dump log shows came back.
void tst_RealWindow::echoAcrossAnImpairedLink()
{
    const LinkNamespaces link;
    if (!link.error().isEmpty())
        QSKIP(qPrintable("no network namespaces could be made (this takes root): " + link.error()));
    QProcess bridge;
    QProcess echo;
    QVERIFY2(startInside(bridge, link.bridge(),
                 { "bridge", "qbt", "qbe", QString::number(kLinkDelayMs),
                     QString::number(kLinkJitterMs), QString::number(kLinkLossPercent),
                     QString::number(kLinkDuplicatePercent), QString::number(kLinkSeed) }),
        bridge.readAllStandardError());
    QVERIFY2(startInside(echo, link.echo(), { "echo", kEchoAddress, QString::number(kPeerPort) }),
        echo.readAllStandardError());

    QTemporaryDir scratch;
    const QString statusLog = scratch.filePath("status.log");
    const QString dumpLog = scratch.filePath("dump.log");
    const QString echoEndpoint = QStringLiteral("%1:%2").arg(kEchoAddress).arg(kPeerPort);
    m_quillon.setProgram("ip");
    startTool({ "netns", "exec", link.tool(), QUILLON_BINARY, "--bind",
        QStringLiteral("%1:%2").arg(kToolAddress).arg(kLocalPort), "--peer", echoEndpoint,
        "--period", QString::number(kLinkPeriodMs), "--send", "--dump", "--log", statusLog,
        "--dump-log", dumpLog });
    const QString window = waitForWindow(kLinkCaption);
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());
    QTRY_VERIFY_WITH_TIMEOUT(readFile(statusLog).count("Send ") >= kLinkSends, 60000);

    // 停止: the focus starts in the dump pane, and Tab reaches the button.
    xdotool({ "key", "--clearmodifiers", "Tab", "space" });
    qsizetype logged = -1;
    QElapsedTimer still;
    still.start();
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     if (const qsizetype size = QFileInfo(statusLog).size(); size != logged) {
                         logged = size;
                         still.restart();
                     }
                     return still.elapsed() > kLinkDrainMs;
                 },
                 20000),
        "the sender did not stop");
    // 統計をコピー, the third item of ファイル.
    xdotool({ "key", "--clearmodifiers", "F10" });
    QTRY_COMPARE(visibleWindowsOfTheTool(), 2);
    xdotool({ "key", "--clearmodifiers", "Up", "Up", "Return" });
    CopiedStream copied;
    QTRY_VERIFY((copied = copiedStream(clipboard(), echoEndpoint)).rttMedianMs >= 0);

    // The log files are complete once the tool has ended.
    m_quillon.terminate();
    QVERIFY(m_quillon.waitForFinished(10000));
    bridge.terminate();
    QVERIFY(bridge.waitForFinished(10000));
    qInfo("bridge: %s", bridge.readAllStandardOutput().replace('\n', "; ").constData());
    echo.terminate();
    QVERIFY(echo.waitForFinished(10000));
    const std::optional<LinkTruth> truth = truthOf(readFile(statusLog), readFile(dumpLog));
    QVERIFY2(truth, "the status and dump logs do not pair up");
    qInfo("truth: %lld sent, %lld lost, %lld duplicated; the tool: %lld lost, %lld duplicated, "
          "RTT median %.2f ms",
        truth->sent, truth->lost, truth->duplicates, copied.lost, copied.duplicates,
        copied.rttMedianMs);
    QVERIFY2(truth->lost > 0 && truth->duplicates > 0, "the bridge impaired nothing");

    QVERIFY(qAbs(copied.rttMedianMs - 2 * kLinkDelayMs) <= kRttToleranceMs);
    const auto near = [](qint64 measured, qint64 truth) {
        return qAbs(measured - truth) <= std::max<qint64>(2, truth * 2 / 100);
    };
    QVERIFY(near(copied.lost, truth->lost));
    QVERIFY(near(copied.duplicates, truth->duplicates));
}

// --graph opens the graph beside the window; with an echo peer it draws the peer's stream and
// moves on as intervals close.
void tst_RealWindow::graphFollowsTheLink()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, kPeerPort));
    connect(&peer, &QUdpSocket::readyRead, &peer, [&peer] {
        while (peer.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = peer.receiveDatagram();
            peer.writeDatagram(datagram.makeReply(datagram.data()));
        }
    });
    startTool({ "--graph", "--send", "--period", "50" });
    const QString graph = waitForWindow(kGraphCaption);
    if (graph.isEmpty())
        QFAIL(whyNoWindow().constData());
    QTRY_COMPARE(visibleWindowsOfTheTool(), 2);
    // Away from the main window, which would cover part of it.
    xdotool({ "windowmove", "--sync", graph, "500", "0" });

    // The peer's line is the first sender's colour, Okabe and Ito's blue.
    const auto peerLine = [](const QImage &image) {
        int pixels = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                pixels += image.pixel(x, y) == qRgb(0x00, 0x72, 0xB2);
        }
        return pixels;
    };
    QImage drawn;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     drawn = screenshot(graph);
                     return peerLine(drawn) > 100;
                 },
                 10000),
        "no line of the peer's stream; the tool's stderr: " + m_quillon.readAllStandardError());
    QTRY_VERIFY_WITH_TIMEOUT(screenshot(graph) != drawn, 10000);
}

QTEST_GUILESS_MAIN(tst_RealWindow)
#include "tst_realwindow.moc"
