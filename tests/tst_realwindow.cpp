// SPDX-License-Identifier: MIT
// Starts the real binary in a real X server and drives it with real input events.
#include <QNetworkDatagram>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr quint16 kLocalPort = 20320;
constexpr quint16 kPeerPort = 20319;
// xdotool takes a regular expression: the caption is "Quillon2-1(UDP)".
constexpr char kCaption[] = "^Quillon2-1\\(UDP\\)$";
constexpr char kErrorCaption[] = "^Quillon2-1\\(UDP\\) エラー$";

// A child process that sends 16-byte datagrams to the tool as fast as it can until killed.
class Flood
{
public:
    Flood()
    {
        m_pid = ::fork();
        if (m_pid != 0)
            return;
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(kLocalPort);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const char payload[16] = {};
        for (;;)
            ::sendto(
                fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    ~Flood()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Flood(const Flood &) = delete;
    Flood &operator=(const Flood &) = delete;

private:
    pid_t m_pid = -1;
};

} // namespace

class tst_RealWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void exitThroughFileMenu();
    void sendKeyStartsThePattern();
    void statusPaneCopiesToClipboard();
    void takenPortShowsBoxAndFails();
    void terminationSignalClosesCleanly_data();
    void terminationSignalClosesCleanly();

private:
    QByteArray tool(const QString &program, const QStringList &arguments);
    QByteArray xdotool(const QStringList &arguments) { return tool("xdotool", arguments); }
    QString waitForWindow(const char *caption = kCaption);
    QByteArray whyNoWindow();
    void startTool();
    bool portIsFree();

    QProcess m_xvfb;
    QProcessEnvironment m_environment;
    QProcess m_quillon;
};

void tst_RealWindow::initTestCase()
{
    // Xvfb picks a free display and prints its number on the descriptor we give it.
    // -noreset: by default the server resets when its last client leaves, and a tool started
    // at that moment cannot connect.
    m_xvfb.start("Xvfb",
        { "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset" });
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
    if (m_quillon.state() != QProcess::NotRunning) {
        m_quillon.kill();
        m_quillon.waitForFinished();
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
    if (!window.isEmpty()) {
        xdotool({ "windowfocus", "--sync", window });
        QTest::qWait(300);
    }
    return window;
}

// Reads the tool's stderr, so only for a test that has already failed.
QByteArray tst_RealWindow::whyNoWindow()
{
    const bool running = m_quillon.state() == QProcess::Running;
    return "no window appeared; the tool " + QByteArray(running ? "runs" : "has ended")
        + ", stderr: " + m_quillon.readAllStandardError();
}

void tst_RealWindow::startTool()
{
    m_quillon.start();
    QVERIFY(m_quillon.waitForStarted());
}

bool tst_RealWindow::portIsFree()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::Any, kLocalPort);
}

void tst_RealWindow::exitThroughFileMenu()
{
    startTool();
    const QString window = waitForWindow();
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());
    QVERIFY(!portIsFree());

    // Click "ファイル" in the menu bar; Up then takes the last item, "終了".
    xdotool({ "mousemove", "--window", window, "20", "8", "click", "1" });
    QTest::qWait(500);
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

    // Focus starts in the dump pane; Tab reaches "送信", space presses it.
    xdotool({ "key", "--clearmodifiers", "Tab", "space" });
    QList<QPair<qint64, QByteArray>> arrivals;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(QTest::qWaitFor(
        [&] {
            while (peer.hasPendingDatagrams())
                arrivals.append({ clock.elapsed(), peer.receiveDatagram().data() });
            return arrivals.size() >= 4;
        },
        10000));
    for (int i = 0; i < arrivals.size(); ++i)
        QCOMPARE(arrivals[i].second, QByteArray(4, char(i)) + QByteArray(12, '\0'));
    for (int i = 1; i < arrivals.size(); ++i) {
        const qint64 period = arrivals[i].first - arrivals[i - 1].first;
        QVERIFY2(period > 350 && period < 650, QByteArray::number(period));
    }
}

void tst_RealWindow::statusPaneCopiesToClipboard()
{
    startTool();
    const QString window = waitForWindow();
    if (window.isEmpty())
        QFAIL(whyNoWindow().constData());

    QUdpSocket sender;
    for (const int size : { 0, 5, 16 })
        sender.writeDatagram(QByteArray(size, 'q'), QHostAddress::LocalHost, kLocalPort);
    QTest::qWait(300);

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

void tst_RealWindow::takenPortShowsBoxAndFails()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, kLocalPort));
    startTool();
    // The box has a title of its own, so it is not taken for the window.
    const QString box = waitForWindow(kErrorCaption);
    if (box.isEmpty())
        QFAIL(whyNoWindow().constData());
    xdotool({ "key", "--clearmodifiers", "Return" });
    QVERIFY(m_quillon.waitForFinished(10000));
    QVERIFY(m_quillon.exitCode() != 0);
    const QByteArray errors = m_quillon.readAllStandardError();
    QVERIFY2(errors.contains("98") && errors.contains("Address already in use")
            && errors.contains("*:20320"),
        errors);
}

void tst_RealWindow::terminationSignalClosesCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("flood");
    QTest::newRow("SIGTERM, sending, during a flood") << int(SIGTERM) << true;
    QTest::newRow("SIGINT, sending") << int(SIGINT) << false;
}

void tst_RealWindow::terminationSignalClosesCleanly()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, flood);
    startTool();
    if (waitForWindow().isEmpty())
        QFAIL(whyNoWindow().constData());
    xdotool({ "key", "--clearmodifiers", "Tab", "space" });
    std::optional<Flood> flooding;
    if (flood)
        flooding.emplace();
    QTest::qWait(1000);
    QVERIFY(m_quillon.state() == QProcess::Running);

    ::kill(pid_t(m_quillon.processId()), signalNumber);
    QVERIFY(m_quillon.waitForFinished(10000));
    QCOMPARE(m_quillon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_quillon.exitCode(), 0);
    flooding.reset();
    QVERIFY(portIsFree());
}

QTEST_GUILESS_MAIN(tst_RealWindow)
#include "tst_realwindow.moc"
